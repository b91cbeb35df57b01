#pragma once
// The song title a station sends inside its stream, and its split into
// artist and song for the lyrics window.

#include "playback/engine/Text.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace tolvane::playback {

// Tag text as servers send it: UTF-8 when the bytes are valid UTF-8,
// otherwise ISO-8859-1 (what most stations still send).
QString decodeTagText(QByteArrayView bytes);

// The decoder for a station record's `charset` key (a character set name
// as Qt knows it: "windows-1251", "ISO-8859-2", "KOI8-R", ...), for the
// engine to decode the station's titles and header texts with. Empty, and
// so the guess above, for an empty or unknown name.
engine::TextDecoder stationTextDecoder(const QString& charset);

// The title in a metadata text of the form StreamTitle='...';...
//
// With p the 1-based position of the first "StreamTitle=" and q that of the
// first ";" anywhere in the text (0 when there is none), the title is the
// q - p - 14 characters from position p + 13: the opening quote and the
// quote before the first ";" are dropped. A length of 0 or less gives the
// empty title, so a ";" inside the title cuts it short ('AB;C' gives "A").
// std::nullopt when the text holds no "StreamTitle=" (nothing to publish).
std::optional<QString> parseStreamTitle(const QString& metadata);

// A title split at its last "-": the characters before it and after it,
// blanks kept. Without a dash the artist is empty and the song is the
// whole title.
struct ArtistSong {
    QString artist;
    QString song;
};
ArtistSong splitArtistSong(const QString& title);

} // namespace tolvane::playback
