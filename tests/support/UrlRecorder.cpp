#include "UrlRecorder.h"

#include <QDesktopServices>

namespace tolvane::test {

namespace {
const char* const Schemes[] = {"http", "https", "file", "ftp"};
}

UrlRecorder::UrlRecorder() {
    for (const char* scheme : Schemes)
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
}

UrlRecorder::~UrlRecorder() {
    for (const char* scheme : Schemes)
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}

QStringList UrlRecorder::openedText() const {
    QStringList text;
    for (const QUrl& url : opened)
        text << url.toString(QUrl::FullyEncoded);
    return text;
}

} // namespace tolvane::test
