#pragma once
// The station's name and bitrate from the response header lines of an
// opened stream.

#include <QByteArray>
#include <QList>
#include <QString>

namespace tolvane::playback {

// Limits on a header block taken from the engine: a server cannot make the
// player copy or walk more than this.
inline constexpr int MaxHeaderLines = 256;
inline constexpr qsizetype MaxHeaderBytes = qsizetype{64} * 1024;

// The lines of an engine tag block: NUL-terminated lines, the empty one
// ending them. Stops at that empty line or at the limits; a null block gives
// no lines.
QList<QByteArray> tagLines(const char* block, int maxLines = MaxHeaderLines,
                           qsizetype maxBytes = MaxHeaderBytes);

// What one header line reports to the window.
struct HeaderReport {
    enum Kind {
        StationName, // "icy-name:" line: the status label shows `text`
        Bitrate,     // "icy-br:" line: `text` is the bitrate as sent
    };
    Kind kind;
    QString text;

    bool operator==(const HeaderReport&) const = default;
};

// Walks the header lines in order: a line whose first 9 characters are
// exactly "icy-name:" reports the rest of the line unchanged (a leading
// blank stays); one whose first 7 are exactly "icy-br:" reports the rest as
// the bitrate. Other lines are ignored; every matching line is reported, so
// the last one wins on the window.
QList<HeaderReport> headerWalk(const QList<QByteArray>& lines);

// The bitrate label's text for a bitrate: "bitrate: " and the text.
QString bitrateLabelText(const QString& bitrate);
// The Add-station dialog's bitrate field for a bitrate: the text, or "n"
// when the station sent an empty one.
QString dialogBitrateText(const QString& bitrate);

} // namespace tolvane::playback
