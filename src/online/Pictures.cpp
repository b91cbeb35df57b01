#include "Pictures.h"

#include "Fetch.h"
#include "common/Paths.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane {

QImage ReadBoundedPicture(const QString& path, const QByteArray& format,
                          const PictureLimits& limits) {
    // O_NONBLOCK: a FIFO planted under the picture's name must not hold the
    // reader; it is refused below as no plain file.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat st {};
    QByteArray bytes;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= limits.maxBytes) {
        QFile file;
        if (file.open(fd, QIODevice::ReadOnly))
            bytes = file.read(limits.maxBytes + 1);
    }
    ::close(fd);
    if (bytes.isEmpty() || bytes.size() > limits.maxBytes)
        return {};

    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    // Whatever the header says, the decoder allocates no more than a picture
    // of the largest size takes (in MB, at four bytes a pixel).
    const qint64 pixels = qint64{limits.maxSize.width()} * limits.maxSize.height();
    reader.setAllocationLimit(static_cast<int>(pixels * 4 / (1024 * 1024)) + 1);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > limits.maxSize.width() ||
        size.height() > limits.maxSize.height())
        return {};
    return reader.read();
}

QImage ReadPictureOffThread(const QString& path, const QByteArray& format,
                            const std::function<bool()>& abandon, const PictureLimits& limits) {
    QImage image;
    const bool finished = RunWhileHandlingEvents(
        [&](const std::atomic<bool>&) { image = ReadBoundedPicture(path, format, limits); },
        abandon);
    return finished ? image : QImage();
}

QPixmap ProgramPicture(const QString& name, const QByteArray& format) {
    return QPixmap::fromImage(ReadBoundedPicture(ProgramPath(name), format, kProgramPictureLimits));
}

} // namespace tolvane
