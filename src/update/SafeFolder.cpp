#include "SafeFolder.h"

#include <QFile>
#include <QList>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tolvane::update {

namespace {

QByteArray encoded(const QString& name) {
    return QFile::encodeName(name);
}

int openFolderAt(int at, const QByteArray& name) {
    return ::openat(at, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// What is at name in folder at: 0 (nothing), S_IFREG, S_IFDIR, or another
// type (S_IFLNK for a link); -1 on failure.
int kindAt(int at, const QByteArray& name) {
    struct stat st {};
    if (::fstatat(at, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? 0 : -1;
    return static_cast<int>(st.st_mode & S_IFMT);
}

} // namespace

FolderFd::~FolderFd() {
    if (fd_ >= 0)
        ::close(fd_);
}

FolderFd& FolderFd::operator=(FolderFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

FolderFd FolderFd::open(const QString& path) {
    return FolderFd(::open(encoded(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

PathState checkPath(const FolderFd& root, const QStringList& parts) {
    if (!root.valid() || parts.isEmpty())
        return PathState::Failed;
    FolderFd current;
    int at = root.get();
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QByteArray name = encoded(parts[i]);
        const int kind = kindAt(at, name);
        if (kind < 0)
            return PathState::Failed;
        if (kind == 0)
            return PathState::Ok; // made when it is written
        const bool last = i == parts.size() - 1;
        if (kind != (last ? S_IFREG : S_IFDIR))
            return PathState::Link;
        if (last)
            return PathState::Ok;
        FolderFd next(openFolderAt(at, name));
        if (!next.valid())
            return errno == ELOOP || errno == ENOTDIR ? PathState::Link : PathState::Failed;
        current = std::move(next);
        at = current.get();
    }
    return PathState::Ok;
}

FolderFd openFolders(const FolderFd& root, const QStringList& parts, PathState* state) {
    *state = PathState::Failed;
    if (!root.valid() || parts.isEmpty())
        return {};
    FolderFd current(::fcntl(root.get(), F_DUPFD_CLOEXEC, 0));
    for (qsizetype i = 0; current.valid() && i + 1 < parts.size(); ++i) {
        const QByteArray name = encoded(parts[i]);
        if (::mkdirat(current.get(), name.constData(), 0755) != 0 && errno != EEXIST)
            return {};
        FolderFd next(openFolderAt(current.get(), name));
        if (!next.valid()) {
            if (errno == ELOOP || errno == ENOTDIR)
                *state = PathState::Link;
            return {};
        }
        current = std::move(next);
    }
    if (current.valid())
        *state = PathState::Ok;
    return current;
}

int createFile(const FolderFd& folder, const QString& name) {
    return ::openat(folder.get(), encoded(name).constData(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
}

PathState replaceFile(const FolderFd& fromFolder, const QString& from, const FolderFd& toFolder,
                      const QString& to) {
    const QByteArray target = encoded(to);
    const int kind = kindAt(toFolder.get(), target);
    if (kind < 0)
        return PathState::Failed;
    if (kind != 0 && kind != S_IFREG)
        return PathState::Link;
    return ::renameat(fromFolder.get(), encoded(from).constData(), toFolder.get(),
                      target.constData()) == 0
               ? PathState::Ok
               : PathState::Failed;
}

bool removeFolderOfFiles(const FolderFd& root, const QString& name) {
    const QByteArray folderName = encoded(name);
    const int kind = kindAt(root.get(), folderName);
    if (kind == 0)
        return true;
    if (kind != S_IFDIR)
        return ::unlinkat(root.get(), folderName.constData(), 0) == 0;
    const int fd = openFolderAt(root.get(), folderName);
    if (fd < 0)
        return false;
    DIR* dir = ::fdopendir(fd); // owns fd from here
    if (!dir) {
        ::close(fd);
        return false;
    }
    // Names first: removing entries while reading the folder may skip some.
    QList<QByteArray> names;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray entryName(entry->d_name);
        if (entryName != "." && entryName != "..")
            names << entryName;
    }
    for (const QByteArray& entryName : names)
        ::unlinkat(::dirfd(dir), entryName.constData(), 0);
    ::closedir(dir);
    return ::unlinkat(root.get(), folderName.constData(), AT_REMOVEDIR) == 0;
}

} // namespace tolvane::update
