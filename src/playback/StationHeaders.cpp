#include "StationHeaders.h"

#include "NowPlaying.h"

#include <cstring>

namespace tolvane::playback {

QList<QByteArray> tagLines(const char* block, int maxLines, qsizetype maxBytes) {
    QList<QByteArray> lines;
    if (!block)
        return lines;
    qsizetype used = 0;
    while (lines.size() < maxLines && used < maxBytes) {
        const qsizetype length = static_cast<qsizetype>(strnlen(block, maxBytes - used));
        if (length == 0)
            break; // the empty line that ends the block
        lines.append(QByteArray(block, length));
        used += length + 1;
        if (used > maxBytes)
            break; // the line was cut at the limit: nothing follows it safely
        block += length + 1;
    }
    return lines;
}

QList<HeaderReport> headerWalk(const QList<QByteArray>& lines) {
    static const QByteArray name = "icy-name:";
    static const QByteArray bitrate = "icy-br:";
    QList<HeaderReport> reports;
    for (const QByteArray& line : lines) {
        if (line.startsWith(name))
            reports.append({HeaderReport::StationName, decodeTagText(line.mid(name.size()))});
        else if (line.startsWith(bitrate))
            reports.append({HeaderReport::Bitrate, decodeTagText(line.mid(bitrate.size()))});
    }
    return reports;
}

QString bitrateLabelText(const QString& bitrate) {
    return QStringLiteral("bitrate: ") + bitrate;
}

QString dialogBitrateText(const QString& bitrate) {
    return bitrate.isEmpty() ? QStringLiteral("n") : bitrate;
}

} // namespace tolvane::playback
