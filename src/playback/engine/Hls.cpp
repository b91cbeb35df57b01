#include "Hls.h"

#include "Playlist.h"
#include "Text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace tolvane::engine {
namespace {

std::vector<std::string_view> linesOf(std::string_view body) {
    if (body.starts_with("\xEF\xBB\xBF"))
        body.remove_prefix(3);
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= body.size(); ++i) {
        if (i == body.size() || body[i] == '\n' || body[i] == '\r') {
            const std::string_view line = trim(body.substr(start, i - start));
            if (!line.empty())
                lines.push_back(line);
            start = i + 1;
        }
    }
    return lines;
}

// The value after "#TAG:" when the line is that tag.
std::optional<std::string_view> tagValue(std::string_view line, std::string_view tag) {
    if (!startsWithNoCase(line, tag))
        return std::nullopt;
    line.remove_prefix(tag.size());
    if (line.empty())
        return line;
    if (line.front() != ':')
        return std::nullopt; // a longer tag that starts the same
    return line.substr(1);
}

template <typename T> std::optional<T> number(std::string_view text) {
    text = trim(text);
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data())
        return std::nullopt;
    return value;
}

// Seconds as "#EXTINF" and "#EXT-X-TARGETDURATION" give them ("9.96", "10").
std::optional<double> seconds(std::string_view text) {
    // from_chars reads "9.96" alike in every locale; strtod would follow the
    // user's decimal comma and read 9.
    const std::optional<double> value = number<double>(text.substr(0, text.find(',')));
    if (!value || !std::isfinite(*value) || *value < 0 || *value > 24 * 3600)
        return std::nullopt;
    return value;
}

// One attribute of an attribute list (NAME=value,NAME="quoted, value").
std::optional<std::string_view> attribute(std::string_view list, std::string_view name) {
    std::size_t pos = 0;
    while (pos < list.size()) {
        const auto eq = list.find('=', pos);
        if (eq == std::string_view::npos)
            return std::nullopt;
        const std::string_view key = trim(list.substr(pos, eq - pos));
        std::size_t valueStart = eq + 1;
        std::size_t valueEnd;
        std::size_t next;
        if (valueStart < list.size() && list[valueStart] == '"') {
            ++valueStart;
            valueEnd = list.find('"', valueStart);
            if (valueEnd == std::string_view::npos)
                valueEnd = list.size();
            next = list.find(',', valueEnd);
        } else {
            valueEnd = list.find(',', valueStart);
            if (valueEnd == std::string_view::npos)
                valueEnd = list.size();
            next = valueEnd;
        }
        if (asciiLower(key) == asciiLower(name))
            return list.substr(valueStart, valueEnd - valueStart);
        if (next == std::string_view::npos)
            return std::nullopt;
        pos = next + 1;
    }
    return std::nullopt;
}

// A segment or variant address: http(s), or relative to the playlist.
std::optional<std::string> entryUrl(std::string_view ref, std::string_view baseUrl) {
    const std::string lower = asciiLower(ref.substr(0, std::min<std::size_t>(ref.size(), 8)));
    std::string url;
    if (lower.starts_with("http://") || lower.starts_with("https://"))
        url = std::string(ref);
    else if (ref.find("://") != std::string_view::npos)
        return std::nullopt;
    else
        url = resolveUrl(baseUrl, ref);
    if (url.empty() || url.size() > 4096)
        return std::nullopt;
    return url;
}

} // namespace

HlsKind hlsKindOf(std::string_view body) {
    for (std::string_view line : linesOf(body)) {
        if (tagValue(line, "#EXT-X-STREAM-INF"))
            return HlsKind::Master;
        if (tagValue(line, "#EXT-X-TARGETDURATION"))
            return HlsKind::Media;
    }
    return HlsKind::None;
}

std::vector<HlsVariant> parseHlsMaster(std::string_view body, std::string_view baseUrl) {
    std::vector<HlsVariant> variants;
    // The bandwidth of the STREAM-INF awaiting its address.
    bool pending = false;
    long bandwidth = 0;
    for (std::string_view line : linesOf(body)) {
        if (auto info = tagValue(line, "#EXT-X-STREAM-INF")) {
            bandwidth = number<long>(attribute(*info, "BANDWIDTH").value_or("")).value_or(0);
            pending = true;
            continue;
        }
        if (line.front() == '#' || !pending)
            continue;
        if (auto url = entryUrl(line, baseUrl); url && variants.size() < kMaxPlaylistEntries)
            variants.push_back({*url, bandwidth});
        pending = false;
    }
    return variants;
}

std::optional<HlsVariant> nearestVariant(const std::vector<HlsVariant>& variants,
                                         long bitsPerSecond) {
    // The distance in the unsigned type: a bandwidth as large or as negative
    // as a playlist may write cannot overflow it.
    const auto distance = [bitsPerSecond](long bandwidth) {
        const auto a = static_cast<unsigned long>(bandwidth);
        const auto b = static_cast<unsigned long>(bitsPerSecond);
        return bandwidth > bitsPerSecond ? a - b : b - a;
    };
    const HlsVariant* best = nullptr;
    for (const HlsVariant& v : variants) {
        if (!best || distance(v.bandwidth) < distance(best->bandwidth))
            best = &v;
    }
    if (!best)
        return std::nullopt;
    return *best;
}

std::optional<HlsMediaPlaylist> parseHlsMedia(std::string_view body, std::string_view baseUrl) {
    HlsMediaPlaylist playlist;
    bool target = false;
    double pending = 0; // the duration of the #EXTINF awaiting its address
    std::int64_t sequence = 0;
    bool sequenceKnown = false;
    for (std::string_view line : linesOf(body)) {
        if (auto v = tagValue(line, "#EXT-X-TARGETDURATION")) {
            if (auto s = seconds(*v)) {
                playlist.targetSeconds = *s;
                target = true;
            }
        } else if (auto v = tagValue(line, "#EXT-X-MEDIA-SEQUENCE")) {
            if (!sequenceKnown && playlist.segments.empty()) {
                sequence = number<std::int64_t>(*v).value_or(0);
                sequenceKnown = true;
            }
        } else if (tagValue(line, "#EXT-X-ENDLIST")) {
            playlist.endList = true;
        } else if (auto v = tagValue(line, "#EXT-X-KEY")) {
            const std::string method = asciiLower(attribute(*v, "METHOD").value_or("NONE"));
            if (method != "none")
                playlist.unsupported = true;
        } else if (auto v = tagValue(line, "#EXT-X-MAP")) {
            const auto uri = attribute(*v, "URI");
            const auto url = uri ? entryUrl(*uri, baseUrl) : std::nullopt;
            if (!url || attribute(*v, "BYTERANGE"))
                playlist.unsupported = true;
            else
                playlist.mapUrl = *url;
        } else if (tagValue(line, "#EXT-X-BYTERANGE")) {
            playlist.unsupported = true;
        } else if (auto v = tagValue(line, "#EXTINF")) {
            pending = seconds(*v).value_or(0);
        } else if (line.front() != '#') {
            if (auto url = entryUrl(line, baseUrl))
                playlist.segments.push_back({*url, pending, sequence});
            // No segment can follow the largest number in order.
            if (sequence == std::numeric_limits<std::int64_t>::max())
                break;
            ++sequence;
            pending = 0;
        }
    }
    if (!target)
        return std::nullopt;
    if (playlist.segments.size() > kMaxHlsSegments)
        playlist.segments.erase(playlist.segments.begin(),
                                playlist.segments.end() -
                                    static_cast<std::ptrdiff_t>(kMaxHlsSegments));
    playlist.firstSequence =
        playlist.segments.empty() ? sequence : playlist.segments.front().sequence;
    return playlist;
}

HlsQueue::HlsQueue(const HlsMediaPlaylist& playlist)
    : map_(playlist.mapUrl), pendingMap_(playlist.mapUrl), targetSeconds_(playlist.targetSeconds),
      endList_(playlist.endList) {
    const auto& all = playlist.segments;
    std::size_t start = 0;
    if (!playlist.endList && all.size() > kHlsLiveStartSegments)
        start = all.size() - kHlsLiveStartSegments;
    queue_.assign(all.begin() + static_cast<std::ptrdiff_t>(start), all.end());
    if (!all.empty())
        lastQueued_ = all.back().sequence;
}

bool HlsQueue::update(const HlsMediaPlaylist& playlist) {
    if (playlist.targetSeconds > 0)
        targetSeconds_ = playlist.targetSeconds;
    const bool ended = playlist.endList && !endList_;
    endList_ = endList_ || playlist.endList;
    if (playlist.mapUrl != map_) {
        map_ = playlist.mapUrl;
        pendingMap_ = map_;
    }
    // Fallen behind the window (the download was held back for long): what
    // the playlist no longer lists is gone from the server; go on from what
    // is still there.
    if (!playlist.segments.empty()) {
        const std::int64_t oldest = playlist.segments.front().sequence;
        std::erase_if(queue_, [&](const HlsSegment& s) { return s.sequence < oldest; });
    }
    bool added = false;
    for (const HlsSegment& segment : playlist.segments) {
        if (segment.sequence <= lastQueued_)
            continue;
        queue_.push_back(segment);
        lastQueued_ = segment.sequence;
        added = true;
    }
    if (queue_.size() > kMaxHlsSegments)
        queue_.erase(queue_.begin(), queue_.end() - static_cast<std::ptrdiff_t>(kMaxHlsSegments));
    return added || ended;
}

std::optional<HlsSegment> HlsQueue::next() {
    if (!pendingMap_.empty()) {
        HlsSegment map{std::move(pendingMap_), 0, -1};
        pendingMap_.clear();
        return map;
    }
    if (queue_.empty())
        return std::nullopt;
    HlsSegment segment = std::move(queue_.front());
    queue_.erase(queue_.begin());
    return segment;
}

int HlsQueue::reloadDelayMs(bool changed) const {
    // A playlist without a sane target duration is asked again every few
    // seconds, never in a tight loop.
    const double target = targetSeconds_ >= 0.5 && targetSeconds_ <= 60 ? targetSeconds_ : 5;
    return static_cast<int>(std::lround((changed ? target : target / 2) * 1000));
}

} // namespace tolvane::engine
