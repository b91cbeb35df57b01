#pragma once
// Every file the player writes itself passes its bytes through a WriteGate:
// settings and station files, the working catalog, downloads and a
// recording copied to another disk. In the program the gate only hands the
// bytes on. Tests use it to make writes fail part-way (a full disk, an I/O
// error), which works for any user, root included, where taking away
// permissions would not; and to slow writes down so that a kill lands in
// the middle of one.

#include <QString>

#include <cerrno>
#include <functional>

namespace tolvane {

// A write failure to simulate. The files it applies to take `bytes` bytes,
// then their next write fails with `error`.
struct WriteFault {
    qint64 bytes = 0;
    // Count `bytes` back from the end of the file (0: the whole file goes
    // through and the fault never fires; 1: all but the last byte), where
    // the file's size is known before it is written.
    bool fromEnd = false;
    int error = ENOSPC;
    // Only files whose path holds this text; empty: every file.
    QString pathContains;
    // How many files it fails before it is spent; negative: no limit.
    int files = -1;
};

// Test hooks, process-wide and safe to call from any thread. A fault
// applies to files opened after it is set.
void injectWriteFault(const WriteFault& fault);
void clearWriteFault();
// Writes go in pieces of at most pieceBytes, with pace() called before each
// piece; an empty pace removes the pacer.
void setWritePacer(qint64 pieceBytes, std::function<void()> pace);

// One file's writing. Not shared between threads.
class WriteGate {
public:
    // `totalBytes`: the size the file will have, or negative when unknown.
    explicit WriteGate(const QString& path, qint64 totalBytes = -1);

    // Hands data to sink (which writes what it is given and returns how
    // much it wrote, or a negative value on an error) until all of it is
    // written. False when the sink or an injected fault failed; error()
    // then tells why.
    bool write(const char* data, qint64 size,
               const std::function<qint64(const char*, qint64)>& sink);

    // write() into the open file descriptor `fd`, retrying interrupted
    // writes.
    bool writeToFd(int fd, const char* data, qint64 size);

    // The errno value of the failure, 0 while none happened.
    int error() const { return error_; }

private:
    qint64 allowed_ = -1; // bytes still allowed before the fault; negative: no fault
    int faultError_ = 0;
    int error_ = 0;
    qint64 pieceBytes_ = 0;
    std::function<void()> pace_;
};

} // namespace tolvane
