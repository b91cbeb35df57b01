#include "WriteGate.h"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <optional>

#include <unistd.h>

namespace tolvane {

namespace {

struct GateHooks {
    std::mutex mutex; // guards everything below
    std::optional<WriteFault> fault;
    qint64 pieceBytes = 0;
    std::function<void()> pace;
};

GateHooks& hooks() {
    static GateHooks h;
    return h;
}

} // namespace

void injectWriteFault(const WriteFault& fault) {
    std::lock_guard lock(hooks().mutex);
    hooks().fault = fault;
}

void clearWriteFault() {
    std::lock_guard lock(hooks().mutex);
    hooks().fault.reset();
}

void setWritePacer(qint64 pieceBytes, std::function<void()> pace) {
    std::lock_guard lock(hooks().mutex);
    hooks().pieceBytes = pace ? std::max<qint64>(pieceBytes, 1) : 0;
    hooks().pace = std::move(pace);
}

WriteGate::WriteGate(const QString& path, qint64 totalBytes) {
    GateHooks& h = hooks();
    std::lock_guard lock(h.mutex);
    pieceBytes_ = h.pieceBytes;
    pace_ = h.pace;
    if (!h.fault || h.fault->files == 0)
        return;
    const WriteFault& f = *h.fault;
    if (!f.pathContains.isEmpty() && !path.contains(f.pathContains))
        return;
    if (f.fromEnd && totalBytes < 0)
        return; // the fault needs a size this file does not know
    allowed_ = f.fromEnd ? std::max<qint64>(totalBytes - f.bytes, 0) : f.bytes;
    faultError_ = f.error;
    if (f.files > 0 && --h.fault->files == 0)
        h.fault.reset();
}

bool WriteGate::write(const char* data, qint64 size,
                      const std::function<qint64(const char*, qint64)>& sink) {
    if (error_ != 0)
        return false;
    while (size > 0) {
        qint64 piece = size;
        if (pieceBytes_ > 0) {
            piece = std::min(piece, pieceBytes_);
            pace_();
        }
        if (allowed_ >= 0) {
            if (allowed_ == 0) {
                error_ = faultError_;
                return false;
            }
            piece = std::min(piece, allowed_);
        }
        errno = 0;
        const qint64 n = sink(data, piece);
        if (n <= 0) {
            error_ = errno != 0 ? errno : EIO;
            return false;
        }
        if (allowed_ >= 0)
            allowed_ -= n;
        data += n;
        size -= n;
    }
    return true;
}

bool WriteGate::writeToFd(int fd, const char* data, qint64 size) {
    return write(data, size, [fd](const char* piece, qint64 length) -> qint64 {
        for (;;) {
            const ssize_t n = ::write(fd, piece, static_cast<size_t>(length));
            if (n < 0 && errno == EINTR)
                continue;
            return n;
        }
    });
}

} // namespace tolvane
