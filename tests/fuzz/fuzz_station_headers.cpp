// A station's header lines as the engine hands them over (NUL-terminated,
// an empty line ending them; the input's first two bytes set the line and
// byte limits) and the walk for its name and bitrate. Properties: the lines
// are the block's up to the empty one, within both limits (the line at the
// byte limit cut there), and each report comes from one "icy-name:" or
// "icy-br:" line, in order.

#include "FuzzCheck.h"

#include "playback/NowPlaying.h"
#include "playback/StationHeaders.h"

#include <cstdint>

using namespace tolvane::playback;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const int maxLines = data[0] % 16 + 1;
    const qsizetype maxBytes = data[1] % 128 + 1;
    // The engine always ends a block with an empty line.
    QByteArray block(reinterpret_cast<const char*>(data + 2), static_cast<qsizetype>(size - 2));
    block.append('\0').append('\0');

    const QList<QByteArray> lines = tagLines(block.constData(), maxLines, maxBytes);
    QList<QByteArray> expected;
    qsizetype used = 0;
    for (const QByteArray& line : block.split('\0')) {
        if (line.isEmpty() || expected.size() == maxLines || used >= maxBytes)
            break;
        if (line.size() >= maxBytes - used) {
            expected.append(line.left(maxBytes - used));
            break;
        }
        expected.append(line);
        used += line.size() + 1;
    }
    FUZZ_CHECK(lines == expected);

    const QList<HeaderReport> reports = headerWalk(lines);
    qsizetype next = 0;
    for (const QByteArray& line : lines) {
        const bool name = line.startsWith("icy-name:");
        if (!name && !line.startsWith("icy-br:"))
            continue;
        FUZZ_CHECK(next < reports.size());
        const HeaderReport& r = reports[next++];
        FUZZ_CHECK(r.kind == (name ? HeaderReport::StationName : HeaderReport::Bitrate));
        FUZZ_CHECK(r.text == decodeTagText(line.mid(name ? 9 : 7)));
    }
    FUZZ_CHECK(next == reports.size());
    return 0;
}
