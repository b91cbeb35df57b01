#pragma once
// Feeds a stream's audio to an external encoder program on its standard
// input: a WAV header for 44100 Hz stereo 16-bit of unknown length, then the
// samples as they play. The program runs without a shell, in the current
// directory, with its output and error output discarded.
//
// push() runs on the output thread and never blocks: a bounded queue sits
// between it and a writer thread, and what does not fit is dropped and
// counted, so a slow or stuck encoder never stalls playback.

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tolvane::engine {

// Splits a command line into program and arguments on blanks; a part in
// double quotes may hold blanks. Pure.
std::vector<std::string> splitCommandLine(const std::string& cmdline);

// The 44-byte WAV header for 44100 Hz stereo 16-bit with unknown length.
std::vector<std::uint8_t> wavHeaderUnknownLength();

class EncoderFeed {
public:
    // Bytes the queue may hold (about three seconds of audio).
    static constexpr std::size_t kQueueLimit = std::size_t{3} * 44100 * 4;

    // Starts the program; returns an engine error code (0 = started).
    static int start(const std::string& cmdline, std::shared_ptr<EncoderFeed>& out);
    ~EncoderFeed();

    // Queues audio for the encoder; drops it (counted) when the queue is full
    // or the program has gone. Never blocks for long.
    void push(const std::int16_t* frames, std::size_t count);
    // Closes the program's input and waits for it to exit: at most
    // `drainMs` for the queue to empty, then `exitMs` for the program to end,
    // after which it is killed. Idempotent.
    void stop(int drainMs = 4000, int exitMs = 4000);

    bool active() const;
    std::uint64_t bytesIn() const;      // bytes written to the program (header included)
    std::uint64_t bytesQueued() const;  // bytes waiting in the queue
    std::uint64_t bytesDropped() const; // bytes dropped because the queue was full

    std::uint32_t handle = 0;

private:
    EncoderFeed() = default;
    void writerLoop();

    pid_t pid_ = -1;
    int fd_ = -1;
    std::thread writer_;

    mutable std::mutex mutex_; // guards everything below
    std::condition_variable changed_;
    std::deque<std::vector<std::uint8_t>> queue_;
    std::size_t queued_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t dropped_ = 0;
    bool closing_ = false; // no more input will come
    bool writerDone_ = false;
    bool broken_ = false; // the program stopped reading (pipe closed)
    bool stopped_ = false;
};

} // namespace tolvane::engine
