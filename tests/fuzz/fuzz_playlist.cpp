// Playlists that stations publish (PLS, M3U, ASX), as the stream opener
// parses them. The first byte picks the kind the address or content type
// claimed and the playlist's own address; the rest is the body. Properties:
// entries are bounded in number and length and are all http(s) addresses;
// the kind found from an address or content type is decided without fault.

#include "FuzzCheck.h"

#include "Playlist.h"
#include "Text.h"

#include <cstdint>
#include <string_view>

using namespace tolvane::engine;

namespace {

bool isHttp(std::string_view url) {
    return startsWithNoCase(url, "http://") || startsWithNoCase(url, "https://");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    static constexpr PlaylistKind kinds[] = {PlaylistKind::None, PlaylistKind::Pls,
                                             PlaylistKind::M3u, PlaylistKind::Asx};
    static constexpr std::string_view bases[] = {
        "http://radio.example.net:8000/listen.pls", "https://example.org/a/b/list.m3u?x=1#f",
        "http://example.com", "https://example.com/live.asx"};
    const PlaylistKind kind = kinds[data[0] & 3];
    const std::string_view base = bases[(data[0] >> 2) & 3];
    const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);

    for (const std::string& url : parsePlaylist(kind, body, base)) {
        FUZZ_CHECK(!url.empty() && url.size() <= 4096);
        FUZZ_CHECK(isHttp(url));
    }
    FUZZ_CHECK(parsePlaylist(kind, body, base).size() <= kMaxPlaylistEntries);

    // The body's first line as an address and its second as a content type.
    const auto lf = body.find('\n');
    const std::string_view url = body.substr(0, lf);
    const std::string_view type =
        lf == std::string_view::npos ? std::string_view() : body.substr(lf + 1, 64);
    const PlaylistKind claimed = playlistKindFor(url, type);
    if (isAudioContentType(type))
        FUZZ_CHECK(claimed == PlaylistKind::None);
    sniffPlaylist(body);

    // A reference resolved against an http(s) address stays http(s).
    const std::string resolved = resolveUrl(base, url);
    FUZZ_CHECK(isHttp(resolved));
    return 0;
}
