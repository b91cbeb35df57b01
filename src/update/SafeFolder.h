#pragma once
// Writing inside the program folder without following a link anywhere: each
// folder on the way to a file is opened from the one above it with
// O_NOFOLLOW, a file is made with O_EXCL | O_NOFOLLOW and put in place with
// renameat. A link planted in the folder (at a file or at a folder on the
// way) therefore never sends a write elsewhere: such a target is refused.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tolvane::update {

// An open folder descriptor, closed with the object.
class FolderFd {
public:
    FolderFd() = default;
    explicit FolderFd(int fd) : fd_(fd) {}
    ~FolderFd();
    FolderFd(FolderFd&& other) noexcept : fd_(other.release()) {}
    FolderFd& operator=(FolderFd&& other) noexcept;
    FolderFd(const FolderFd&) = delete;
    FolderFd& operator=(const FolderFd&) = delete;

    // Opens a folder by its path (the program folder).
    static FolderFd open(const QString& path);

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};

enum class PathState {
    Ok,     // every folder on the way is a folder (or missing), the file a file (or missing)
    Link,   // a link (or something other than a folder or a file) on the way or at the end
    Failed, // the file system refused (permissions, I/O)
};

// Whether the file named by parts (folders, then the file's name) below root
// could be written without following a link. Creates nothing.
PathState checkPath(const FolderFd& root, const QStringList& parts);

// Opens (making missing ones, mode 0755) the folders parts[0 .. n-2] below
// root, never through a link; state says why it failed.
FolderFd openFolders(const FolderFd& root, const QStringList& parts, PathState* state);

// Makes a new file name in folder (it must not exist), mode 0644; -1 on
// failure. The caller closes it.
int createFile(const FolderFd& folder, const QString& name);

// Replaces to (in toFolder) by from (in fromFolder), refusing when to is a
// link or no plain file; a link swapped in meanwhile is replaced itself,
// never followed.
PathState replaceFile(const FolderFd& fromFolder, const QString& from, const FolderFd& toFolder,
                      const QString& to);

// Removes the plain files in folder `name` below root and the folder itself;
// a link of that name is removed, never followed. True when it is gone.
bool removeFolderOfFiles(const FolderFd& root, const QString& name);

} // namespace tolvane::update
