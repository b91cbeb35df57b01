// A station's title text as the now-playing line takes it: the tag bytes
// decoded, the title found in StreamTitle='...';, and split into artist and
// song for the lyrics window. Properties: valid UTF-8 decodes to the same
// bytes (less a byte-order mark), anything else to one character per byte; the title is a part of
// the text; the split loses nothing but the dash.

#include "FuzzCheck.h"

#include "playback/NowPlaying.h"

#include <QByteArray>

#include <cstdint>

using namespace tolvane::playback;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));
    const QString text = decodeTagText(bytes);
    const QByteArray utf8 = text.toUtf8();
    // A byte-order mark before UTF-8 is dropped.
    const QByteArrayView body = bytes.startsWith("\xEF\xBB\xBF") ? bytes.sliced(3) : bytes;
    FUZZ_CHECK(utf8 == body || text.size() == static_cast<qsizetype>(size));

    const std::optional<QString> title = parseStreamTitle(text);
    FUZZ_CHECK(title.has_value() == text.contains(QLatin1String("StreamTitle=")));
    if (!title)
        return 0;
    FUZZ_CHECK(title->size() < text.size());
    FUZZ_CHECK(text.contains(*title));

    const ArtistSong parts = splitArtistSong(*title);
    if (title->contains(u'-'))
        FUZZ_CHECK(parts.artist + u'-' + parts.song == *title && !parts.song.contains(u'-'));
    else
        FUZZ_CHECK(parts.artist.isEmpty() && parts.song == *title);
    return 0;
}
