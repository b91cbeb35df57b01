#include "ByteRing.h"

#include <algorithm>
#include <cstring>

namespace tolvane::engine {

ByteRing::ByteRing(std::size_t capacity)
    : buffer_(std::max<std::size_t>(capacity, 64)), limit_(buffer_.size()) {}

std::size_t ByteRing::room() const {
    return limit_ > size_ ? limit_ - size_ : 0;
}

void ByteRing::setLimit(std::size_t bytes) {
    std::function<void()> wake;
    {
        std::lock_guard lock(mutex_);
        limit_ = std::clamp<std::size_t>(bytes, 1, buffer_.size());
        if (wake_ && room() >= wakeAt_)
            wake.swap(wake_);
    }
    // A raised limit may give a waiting writer its room.
    spaceReady_.notify_all();
    if (wake)
        wake();
}

std::size_t ByteRing::limit() const {
    std::lock_guard lock(mutex_);
    return limit_;
}

std::size_t ByteRing::capacity() const {
    std::lock_guard lock(mutex_);
    return buffer_.size();
}

void ByteRing::grow(std::size_t capacity) {
    std::lock_guard lock(mutex_);
    const std::size_t cap = buffer_.size();
    if (capacity <= cap)
        return;
    // Unwrap what is held to the start of the larger buffer.
    std::vector<std::uint8_t> larger(capacity);
    const std::size_t first = std::min(size_, cap - head_);
    std::memcpy(larger.data(), buffer_.data() + head_, first);
    std::memcpy(larger.data() + first, buffer_.data(), size_ - first);
    buffer_.swap(larger);
    head_ = 0;
}

std::size_t ByteRing::write(const std::uint8_t* data, std::size_t size) {
    std::unique_lock lock(mutex_);
    if (cancelled_ || finished_)
        return 0;
    const std::size_t cap = buffer_.size();
    const std::size_t n = std::min(size, room());
    if (n == 0)
        return 0;
    const std::size_t tail = (head_ + size_) % cap;
    const std::size_t first = std::min(n, cap - tail);
    std::memcpy(buffer_.data() + tail, data, first);
    std::memcpy(buffer_.data(), data + first, n - first);
    size_ += n;
    written_ += n;
    const bool wakeReader = readerWaiting_;
    lock.unlock();
    if (wakeReader)
        dataReady_.notify_one();
    return n;
}

bool ByteRing::writeAll(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const std::size_t n = write(data, size);
        data += n;
        size -= n;
        if (size == 0)
            break;
        std::unique_lock lock(mutex_);
        // Wait for a good share of room, not a few bytes: fewer wake-ups.
        writerWaiting_ = true;
        spaceReady_.wait(lock, [&] {
            const std::size_t want = std::min({size, lowWater_, limit_});
            return cancelled_ || finished_ || room() >= std::max<std::size_t>(want, 1);
        });
        writerWaiting_ = false;
        if (cancelled_ || finished_)
            return false;
    }
    return true;
}

std::size_t ByteRing::read(std::uint8_t* data, std::size_t size, bool wait) {
    std::unique_lock lock(mutex_);
    if (wait && size_ == 0 && !finished_ && !cancelled_) {
        readerWaiting_ = true;
        dataReady_.wait(lock, [&] { return size_ > 0 || finished_ || cancelled_; });
        readerWaiting_ = false;
    }
    if (cancelled_)
        return 0;
    const std::size_t cap = buffer_.size();
    const std::size_t n = std::min(size, size_);
    if (n == 0)
        return 0;
    const std::size_t first = std::min(n, cap - head_);
    std::memcpy(data, buffer_.data() + head_, first);
    std::memcpy(data + first, buffer_.data(), n - first);
    head_ = (head_ + n) % cap;
    size_ -= n;
    read_ += n;
    const std::size_t freeNow = room();
    const bool wakeWriter = writerWaiting_ && freeNow >= std::min(lowWater_, limit_);
    std::function<void()> wake;
    if (wake_ && freeNow >= wakeAt_)
        wake.swap(wake_);
    lock.unlock();
    if (wakeWriter)
        spaceReady_.notify_one();
    if (wake)
        wake();
    return n;
}

void ByteRing::finish() {
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    dataReady_.notify_all();
    spaceReady_.notify_all();
}

void ByteRing::cancel() {
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        wake_ = nullptr;
    }
    dataReady_.notify_all();
    spaceReady_.notify_all();
}

std::size_t ByteRing::fill() const {
    std::lock_guard lock(mutex_);
    return size_;
}

void ByteRing::notifyWhenFree(std::size_t bytes, std::function<void()> wake) {
    std::unique_lock lock(mutex_);
    if (cancelled_)
        return;
    if (room() >= bytes) {
        lock.unlock();
        wake();
        return;
    }
    wakeAt_ = bytes;
    wake_ = std::move(wake);
}

} // namespace tolvane::engine
