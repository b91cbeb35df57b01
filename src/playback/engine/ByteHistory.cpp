#include "ByteHistory.h"

#include <algorithm>

namespace tolvane::engine {

void ByteHistory::append(const std::uint8_t* data, std::size_t size) {
    std::lock_guard lock(mutex_);
    while (size > 0) {
        if (blocks_.empty() || blocks_.back().size() == kBlock) {
            blocks_.emplace_back();
            blocks_.back().reserve(kBlock);
        }
        std::vector<std::uint8_t>& block = blocks_.back();
        const std::size_t take = std::min(size, kBlock - block.size());
        block.insert(block.end(), data, data + take);
        data += take;
        size -= take;
        end_ += take;
    }
    if (end_ - begin_ > limit_ + kBlock)
        trimLocked(end_ - limit_);
}

bool ByteHistory::copy(std::uint64_t from, std::uint64_t to, std::vector<std::uint8_t>& out) const {
    std::lock_guard lock(mutex_);
    if (from < begin_ || to > end_ || from > to)
        return false;
    std::uint64_t at = begin_;
    for (const auto& block : blocks_) {
        const std::uint64_t blockEnd = at + block.size();
        if (blockEnd > from && at < to) {
            const std::size_t first = static_cast<std::size_t>(std::max(from, at) - at);
            const std::size_t last = static_cast<std::size_t>(std::min(to, blockEnd) - at);
            out.insert(out.end(), block.begin() + static_cast<std::ptrdiff_t>(first),
                       block.begin() + static_cast<std::ptrdiff_t>(last));
        }
        at = blockEnd;
        if (at >= to)
            break;
    }
    return true;
}

void ByteHistory::dropBefore(std::uint64_t offset) {
    std::lock_guard lock(mutex_);
    trimLocked(offset);
}

void ByteHistory::trimLocked(std::uint64_t offset) {
    while (blocks_.size() > 1 && begin_ + blocks_.front().size() <= offset) {
        begin_ += blocks_.front().size();
        blocks_.pop_front();
    }
}

std::uint64_t ByteHistory::begin() const {
    std::lock_guard lock(mutex_);
    return begin_;
}

std::uint64_t ByteHistory::end() const {
    std::lock_guard lock(mutex_);
    return end_;
}

std::uint64_t SongTimeBound::earliest(std::size_t frames, bool newFrame, std::uint64_t heardByte) {
    constexpr std::uint64_t kMarkEvery = 44100;
    heard_ += frames;
    if (newFrame && (marks_.empty() || heard_ - marks_.back().frame >= kMarkEvery))
        marks_.push_back({heard_, heardByte});
    // Once the oldest mark is beyond the limit, the song begins at the
    // oldest one within it.
    bool beyond = false;
    while (!marks_.empty() && heard_ - marks_.front().frame > limit_) {
        marks_.pop_front();
        beyond = true;
    }
    if (beyond && !marks_.empty())
        earliest_ = std::max(earliest_, marks_.front().byte);
    return earliest_;
}

} // namespace tolvane::engine
