#include "NowPlaying.h"

#include "common/Paths.h"

#include <QStringDecoder>

namespace tolvane::playback {

QString decodeTagText(QByteArrayView bytes) {
    return decodeUtf8OrLatin1(bytes);
}

engine::TextDecoder stationTextDecoder(const QString& charset) {
    const QByteArray name = charset.trimmed().toLatin1();
    if (name.isEmpty() || !QStringDecoder(name.constData()).isValid())
        return {};
    return [name](std::string_view raw) {
        // A decoder of its own for each text: this runs on engine threads.
        QStringDecoder decode(name.constData(), QStringDecoder::Flag::Stateless);
        const QString text = decode(QByteArrayView(raw.data(), static_cast<qsizetype>(raw.size())));
        return text.toStdString();
    };
}

std::optional<QString> parseStreamTitle(const QString& metadata) {
    const qsizetype first = metadata.indexOf(QLatin1String("StreamTitle="));
    if (first < 0)
        return std::nullopt;
    const qsizetype p = first + 1;                  // 1-based
    const qsizetype q = metadata.indexOf(u';') + 1; // 1-based, 0 when none
    const qsizetype start = p + 13;                 // 1-based
    const qsizetype length = q - p - 14;
    if (length <= 0 || start > metadata.size())
        return QString();
    return metadata.mid(start - 1, length);
}

ArtistSong splitArtistSong(const QString& title) {
    const qsizetype dash = title.lastIndexOf(u'-');
    if (dash < 0)
        return {QString(), title};
    return {title.left(dash), title.mid(dash + 1)};
}

} // namespace tolvane::playback
