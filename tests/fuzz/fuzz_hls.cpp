// HLS master and media playlists, and the segment queue a live stream keeps
// across reloads. The input holds two playlists (split at the first NUL):
// the first is parsed as master and as media and starts the queue, the
// second is the reload. Properties: variants and segments bounded and
// http(s); segment numbers strictly rising; durations finite; the queue
// hands out each segment once, in order; reload delays stay sane.

#include "FuzzCheck.h"

#include "Hls.h"
#include "Playlist.h"
#include "Text.h"

#include <cmath>
#include <cstdint>
#include <string_view>

using namespace tolvane::engine;

namespace {

constexpr std::string_view Base = "https://cdn.example.net/live/station/index.m3u8";

bool isHttp(std::string_view url) {
    return startsWithNoCase(url, "http://") || startsWithNoCase(url, "https://");
}

void checkMedia(const HlsMediaPlaylist& playlist) {
    FUZZ_CHECK(std::isfinite(playlist.targetSeconds) && playlist.targetSeconds >= 0);
    FUZZ_CHECK(playlist.segments.size() <= kMaxHlsSegments);
    for (std::size_t i = 0; i < playlist.segments.size(); ++i) {
        const HlsSegment& s = playlist.segments[i];
        FUZZ_CHECK(isHttp(s.url) && s.url.size() <= 4096);
        FUZZ_CHECK(std::isfinite(s.seconds) && s.seconds >= 0);
        if (i > 0)
            FUZZ_CHECK(s.sequence > playlist.segments[i - 1].sequence);
    }
    if (!playlist.segments.empty())
        FUZZ_CHECK(playlist.firstSequence == playlist.segments.front().sequence);
    if (!playlist.mapUrl.empty())
        FUZZ_CHECK(isHttp(playlist.mapUrl));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto nul = input.find('\0');
    const std::string_view first = input.substr(0, nul);
    const std::string_view second =
        nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

    hlsKindOf(first);
    const auto variants = parseHlsMaster(first, Base);
    FUZZ_CHECK(variants.size() <= kMaxPlaylistEntries);
    for (const HlsVariant& v : variants)
        FUZZ_CHECK(isHttp(v.url));
    if (const auto nearest = nearestVariant(variants, 128000))
        FUZZ_CHECK(!variants.empty());

    const auto media = parseHlsMedia(first, Base);
    if (!media)
        return 0;
    checkMedia(*media);
    HlsQueue queue(*media);
    const auto reload = parseHlsMedia(second, Base);
    if (reload) {
        checkMedia(*reload);
        queue.update(*reload);
    }
    for (bool changed : {false, true}) {
        const int delay = queue.reloadDelayMs(changed);
        FUZZ_CHECK(delay >= 250 && delay <= 60000);
    }
    // Segments come out in order, each once; -1 marks an initialisation section.
    bool any = false;
    std::int64_t last = 0;
    std::size_t taken = 0;
    while (const auto segment = queue.next()) {
        FUZZ_CHECK(++taken <= 2 * kMaxHlsSegments + 2);
        if (segment->sequence == -1 && segment->seconds == 0)
            continue;
        FUZZ_CHECK(!any || segment->sequence > last);
        any = true;
        last = segment->sequence;
    }
    FUZZ_CHECK(queue.empty());
    return 0;
}
