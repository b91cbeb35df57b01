#include "StreamFacts.h"

#include <QStringList>

namespace tolvane::playback {

namespace {

QString kbps(int value) {
    return QStringLiteral("%1 kbit/s").arg(value);
}

// 44100 -> "44.1 kHz", 48000 -> "48 kHz", 22050 -> "22.05 kHz".
QString sampleRateText(int hz) {
    QString khz = QString::number(hz / 1000.0, 'f', 3);
    while (khz.endsWith(u'0'))
        khz.chop(1);
    if (khz.endsWith(u'.'))
        khz.chop(1);
    return khz + QStringLiteral(" kHz");
}

QString channelsText(int channels) {
    if (channels == 1)
        return QStringLiteral("mono");
    if (channels == 2)
        return QStringLiteral("stereo");
    return QStringLiteral("%1 channels").arg(channels);
}

QString urlText(const std::string& url) {
    QString text = QString::fromUtf8(url.data(), static_cast<qsizetype>(url.size()));
    if (text.size() > MaxFactsUrlLength) {
        const qsizetype keep = (MaxFactsUrlLength - 1) / 2;
        text = text.left(keep) + QChar(0x2026) + text.right(keep);
    }
    return text;
}

} // namespace

QString streamFactsText(const engine::StreamInfo& info) {
    QStringList parts;
    if (!info.codec.empty()) {
        const QString codec = QString::fromStdString(info.codec);
        // Ogg says what the codec travels in; the other containers go
        // without saying (ASF is WMA's, ADTS is AAC's).
        parts << (info.container == "Ogg" ? QStringLiteral("Ogg ") + codec : codec);
    }
    if (info.headerKbps > 0)
        parts << kbps(info.headerKbps);
    else if (info.codecKbps > 0)
        parts << kbps(info.codecKbps);
    else if (info.measuredKbps > 0)
        parts << QStringLiteral("about %1 (measured)").arg(kbps(info.measuredKbps));
    if (info.sampleRate > 0)
        parts << sampleRateText(info.sampleRate);
    if (info.channels > 0)
        parts << channelsText(info.channels);
    parts << (info.icyMetadata || info.tagTitles ? QStringLiteral("titles in stream")
                                                 : QStringLiteral("no titles in stream"));
    if (!info.url.empty()) {
        parts << urlText(info.url) + (info.encrypted ? QStringLiteral(" (encrypted)")
                                                     : QStringLiteral(" (not encrypted)"));
    }
    return parts.join(QStringLiteral(" \u00b7 "));
}

} // namespace tolvane::playback
