#pragma once
// The bytes a stream's download brought (its metadata removed), kept by
// their place in the stream so that a recording in the station's own format
// can take them as they are heard. One writer (the transport thread) adds at
// the end; anyone copies a range; the owner drops what nobody needs. Bounded:
// beyond its limit the oldest bytes go.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace tolvane::engine {

class ByteHistory {
public:
    explicit ByteHistory(std::size_t limit) : limit_(limit) {}

    void append(const std::uint8_t* data, std::size_t size);
    // Appends the bytes [from, to) still kept to `out`; false when some of
    // them are gone (or have not come yet).
    bool copy(std::uint64_t from, std::uint64_t to, std::vector<std::uint8_t>& out) const;
    // Forgets whole blocks before `offset`.
    void dropBefore(std::uint64_t offset);
    std::uint64_t begin() const;
    std::uint64_t end() const;

private:
    static constexpr std::size_t kBlock = 64 * 1024;
    void trimLocked(std::uint64_t offset);

    const std::size_t limit_;
    mutable std::mutex mutex_; // guards everything below
    std::deque<std::vector<std::uint8_t>> blocks_;
    std::uint64_t begin_ = 0; // offset of blocks_.front()'s first byte
    std::uint64_t end_ = 0;
};

// Bounds a song kept in the station's own frames in time, as the decoded
// song is bounded: told of every block the mixer takes, it answers the
// earliest byte the song may begin at, the station's frame heard `limit`
// output frames ago (to within a second). Mixer thread only.
class SongTimeBound {
public:
    explicit SongTimeBound(std::uint64_t limitFrames) : limit_(limitFrames) {}
    // After a block of `frames` output frames in which a station frame
    // beginning at `heardByte` was the last to begin (newFrame: one did).
    std::uint64_t earliest(std::size_t frames, bool newFrame, std::uint64_t heardByte);

private:
    struct Mark {
        std::uint64_t frame;
        std::uint64_t byte;
    };
    const std::uint64_t limit_;
    std::uint64_t heard_ = 0;
    std::uint64_t earliest_ = 0;
    std::deque<Mark> marks_; // about one a second, the oldest first
};

} // namespace tolvane::engine
