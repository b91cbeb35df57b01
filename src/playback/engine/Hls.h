#pragma once
// HTTP Live Streaming playlists: a master playlist names variants of one
// station at several bitrates; a media playlist names the segments that,
// fetched in order, make one continuous stream. A live media playlist slides
// on: it is fetched again as its target duration says and names newer
// segments each time. Pure: the transport fetches, this decides.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::engine {

enum class HlsKind {
    None,   // an ordinary list of streams
    Master, // #EXT-X-STREAM-INF: variants
    Media,  // #EXT-X-TARGETDURATION: segments
};

HlsKind hlsKindOf(std::string_view body);

struct HlsVariant {
    std::string url;
    long bandwidth = 0; // bit/s, 0 when not given
};

// Variants in the order listed, relative addresses resolved.
std::vector<HlsVariant> parseHlsMaster(std::string_view body, std::string_view baseUrl);
// The variant whose bandwidth is nearest to `bitsPerSecond` (the first of
// equals); nullopt for none.
std::optional<HlsVariant> nearestVariant(const std::vector<HlsVariant>& variants,
                                         long bitsPerSecond);

struct HlsSegment {
    std::string url;
    double seconds = 0;
    std::int64_t sequence = 0;
};

struct HlsMediaPlaylist {
    double targetSeconds = 0;
    std::int64_t firstSequence = 0;
    bool endList = false; // no more segments will come
    // Something this engine does not play: encrypted segments, or segments
    // that are byte ranges of a file.
    bool unsupported = false;
    // Fragmented MP4 segments: the address of their initialisation section
    // (#EXT-X-MAP), which goes before them; empty for AAC and MPEG-TS.
    std::string mapUrl;
    std::vector<HlsSegment> segments;
};

// nullopt when the body is no media playlist. At most kMaxHlsSegments
// segments are kept (the newest).
std::optional<HlsMediaPlaylist> parseHlsMedia(std::string_view body, std::string_view baseUrl);

inline constexpr std::size_t kMaxHlsSegments = 1000;
// A live stream starts this many segments before the newest, as the format
// asks of players; they come at once and fill the buffer.
inline constexpr std::size_t kHlsLiveStartSegments = 3;

// Which segment comes next, across reloads of a live playlist.
class HlsQueue {
public:
    // The first playlist: a live one starts a few segments before its end,
    // one that has ended at its beginning.
    explicit HlsQueue(const HlsMediaPlaylist& playlist);

    // A reloaded playlist: its segments newer than the last one queued join
    // the queue. When the queue has fallen behind the playlist's window, it
    // goes on from the oldest segment still listed. Returns true when
    // something new came.
    bool update(const HlsMediaPlaylist& playlist);

    // The next segment to fetch, taken from the queue; fragmented MP4's
    // initialisation section first, and again whenever it changes.
    std::optional<HlsSegment> next();
    bool empty() const { return queue_.empty() && pendingMap_.empty(); }
    // The playlist said it has ended and every segment was taken.
    bool finished() const { return endList_ && empty(); }
    bool live() const { return !endList_; }

    // Milliseconds until the playlist should be fetched again: its target
    // duration after a reload that brought something new, half of it after
    // one that did not.
    int reloadDelayMs(bool changed) const;
    double targetSeconds() const { return targetSeconds_; }

private:
    std::vector<HlsSegment> queue_;
    std::string map_;        // the initialisation section in use
    std::string pendingMap_; // ... still to be fetched
    std::int64_t lastQueued_ = -1;
    double targetSeconds_ = 0;
    bool endList_ = false;
};

} // namespace tolvane::engine
