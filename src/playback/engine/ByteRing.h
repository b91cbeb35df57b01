#pragma once
// A bounded ring of bytes between one writer thread and one reader thread.
// It counts every byte ever written and read, which is what the stream's
// file positions report. It grows only when its owner says so: a full ring
// refuses bytes and the writer waits (or pauses its source).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace tolvane::engine {

class ByteRing {
public:
    explicit ByteRing(std::size_t capacity);

    std::size_t capacity() const;
    // Makes room for `capacity` bytes in all (never shrinks); the limit
    // stays where it was.
    void grow(std::size_t capacity);
    // The fill at which the ring counts as full (at most the capacity): a
    // stream whose real rate is far below its nominal one holds back its
    // download at the same number of seconds as any other.
    void setLimit(std::size_t bytes);
    std::size_t limit() const;

    // Copies as much as fits; returns the bytes taken. Never blocks.
    std::size_t write(const std::uint8_t* data, std::size_t size);
    // Writes everything, waiting for space; false when the ring was closed or
    // cancelled first.
    bool writeAll(const std::uint8_t* data, std::size_t size);
    // Copies up to `size` bytes. With `wait`, blocks until there is at least
    // one byte, the writer has finished, or the ring is cancelled; returns 0
    // then.
    std::size_t read(std::uint8_t* data, std::size_t size, bool wait);

    // The writer has finished; readers drain what is left, then get 0.
    void finish();
    // Wakes and releases every waiter for good (shutdown).
    void cancel();

    std::size_t fill() const;
    std::uint64_t totalWritten() const { return written_.load(); }
    std::uint64_t totalRead() const { return read_.load(); }

    // Calls `wake` once (from the reader's thread, or from setLimit's) when
    // at least `bytes` are free below the limit. The writer's way to learn it may go on without
    // polling.
    void notifyWhenFree(std::size_t bytes, std::function<void()> wake);
    // Writer side of writeAll's hysteresis: wait until this much is free.
    void setLowWater(std::size_t bytes) { lowWater_ = bytes; }

private:
    std::vector<std::uint8_t> buffer_;
    mutable std::mutex mutex_; // guards the fields below and the buffer
    std::condition_variable dataReady_;
    std::condition_variable spaceReady_;
    std::size_t room() const; // below the limit; mutex_ held
    std::size_t head_ = 0;    // next byte to read
    std::size_t size_ = 0;
    std::size_t limit_;
    bool finished_ = false;
    bool cancelled_ = false;
    bool readerWaiting_ = false;
    bool writerWaiting_ = false;
    std::size_t wakeAt_ = 0;
    std::function<void()> wake_;
    std::size_t lowWater_ = 1;
    std::atomic<std::uint64_t> written_{0};
    std::atomic<std::uint64_t> read_{0};
};

} // namespace tolvane::engine
