#include "TestSupport.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QThread>

namespace tolvane::test {

TestFolder::TestFolder() : previous_(QDir::currentPath()) {
    if (!dir_.isValid())
        qFatal("cannot make a temporary folder");
    QDir::setCurrent(dir_.path());
}

TestFolder::~TestFolder() {
    QDir::setCurrent(previous_);
}

QString TestFolder::file(const QString& relative) const {
    return dir_.filePath(relative);
}

void TestFolder::write(const QString& relative, const QByteArray& bytes) const {
    const QString p = file(relative);
    QDir().mkpath(QFileInfo(p).absolutePath());
    QFile f(p);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(p));
    f.write(bytes);
}

QByteArray TestFolder::read(const QString& relative) const {
    QFile f(file(relative));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool TestFolder::exists(const QString& relative) const {
    return QFileInfo::exists(file(relative));
}

bool waitFor(const std::function<bool()>& pred, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

QString sourceDir() {
    const QByteArray env = qgetenv("TOLVANE_SOURCE_DIR");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    return QStringLiteral(TOLVANE_SOURCE_DIR_FALLBACK);
}

QByteArray solidJpeg(QColor colour, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes;
}

} // namespace tolvane::test
