#pragma once
// Pictures that came from outside (the song picture, banners) decoded within
// bounds: a file of at most a few megabytes whose header announces a size
// the player is willing to hold, read into memory and decoded there, off the
// window's thread.

#include <QByteArray>
#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>

#include <functional>

namespace tolvane {

struct PictureLimits {
    qint64 maxBytes = qint64{2} * 1024 * 1024;
    QSize maxSize{4096, 4096};
};

// The picture in the plain file at path, in format (empty: the one its bytes
// show), or a null image when it is no plain file (a folder, a FIFO, a
// device), is larger than limits.maxBytes, announces more pixels than
// limits.maxSize, or does not decode. Safe on any thread.
QImage ReadBoundedPicture(const QString& path, const QByteArray& format,
                          const PictureLimits& limits = PictureLimits{});

// ReadBoundedPicture on a thread of its own while the calling thread handles
// its events; a null image once abandon() says true.
QImage ReadPictureOffThread(const QString& path, const QByteArray& format,
                            const std::function<bool()>& abandon = {},
                            const PictureLimits& limits = PictureLimits{});

// Limits of the program's own pictures (Images/): icons, the default
// station picture, the update window's loader.
inline const PictureLimits kProgramPictureLimits{qint64{1024} * 1024, QSize{1024, 1024}};

// A picture of the program folder by its name there (as ProgramPath takes
// it). An update may replace the folder's pictures, so they are read within
// kProgramPictureLimits like any picture from outside: a null pixmap when the
// file is missing, no plain file, too large or broken, and never a wait on a
// FIFO or a decode of a giant. Window thread.
QPixmap ProgramPicture(const QString& name, const QByteArray& format = {});

} // namespace tolvane
