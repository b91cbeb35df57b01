#include "Addresses.h"

#include "Fetch.h"

#include <QUrl>

namespace tolvane {

namespace {

// Blanks and control characters at both ends go.
QString trimmed(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 0x20)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 0x20)
        --end;
    return text.sliced(begin, end - begin);
}

} // namespace

QString PictureLookupUrl(const QString& radioHost, const QString& songTitle) {
    return radioHost + QStringLiteral("/Download/getimage/getimage.php?name=") +
           EncodeQueryValue(songTitle);
}

QString PictureUrl(const QString& radioHost, const QString& reference) {
    return radioHost +
           QStringLiteral("/Download/getimage/imgsize.php?w=100&h=100&constrain=1&img=") +
           EncodeQueryValue(reference);
}

QString PictureReference(const QStringList& lines) {
    QString text;
    for (const QString& line : lines)
        text += line + QStringLiteral("\r\n");
    return text;
}

QString LyricsUrl(const QString& lyricsHost, const QString& artist, const QString& title) {
    return lyricsHost + QStringLiteral("/winamp03/plugin/?artist=") +
           EncodeQueryValue(trimmed(artist)) + QStringLiteral("&title=") +
           EncodeQueryValue(trimmed(title));
}

QString FacebookShareUrl(const QString& facebookHost, const QString& name, const QString& website) {
    if (name.isEmpty() || website.isEmpty())
        return {};
    return facebookHost + QStringLiteral("/sharer.php?u=") + EncodeQueryValue(website) +
           QStringLiteral("&t=") + EncodeQueryValue(QStringLiteral("listen to ") + name);
}

QString TwitterShareUrl(const QString& twitterHost, const QString& name, const QString& website) {
    if (name.isEmpty() || website.isEmpty())
        return {};
    return twitterHost + QStringLiteral("/home?status=") +
           EncodeQueryValue(QStringLiteral("Listen to ") + name + u'(' + website +
                            QStringLiteral(") through Tolvane-free internet radio player"));
}

bool IsWebAddress(const QString& address) {
    if (address.trimmed().isEmpty())
        return false;
    const QUrl url = QUrl::fromUserInput(address.trimmed());
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

} // namespace tolvane
