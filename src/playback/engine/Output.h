#pragma once
// Output drivers: the one small interface between the engine's mixer and a
// sound server (or the null output used by tests).
//
// A driver pulls audio: it calls the render function whenever it needs more,
// on a thread of its own (PulseAudio's main loop thread, the null output's
// clock thread). The render function never blocks. It fills at most the
// frames asked for and returns how many it filled: fewer when a playing
// channel has not decoded enough yet (a sound server then waits for more
// rather than playing a gap; a clocked device fills the rest with silence).
// It sets `playing` to false when no channel plays, and the driver may then
// go quiet until setActive(true). `ahead` is how long until the block's
// first frame is heard: what the driver (and its sound server) hold before
// it, so that what follows the sound (a title) can wait for it.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace tolvane::engine {

inline constexpr int kOutputRate = 44100;
inline constexpr int kOutputChannels = 2;
inline constexpr int kBytesPerFrame = 4; // stereo 16-bit

using RenderFn = std::function<std::size_t(std::int16_t* out, std::size_t frames, bool& playing,
                                           std::chrono::microseconds ahead)>;

class OutputDriver {
public:
    virtual ~OutputDriver() = default;
    // Connects to the sound server. Returns an engine error code (0 = done).
    virtual int open(RenderFn render) = 0;
    // Disconnects; returns within a bounded time.
    virtual void close() = 0;
    // Runs (true) or pauses (false) the output. Pausing is immediate.
    virtual void setActive(bool active) = 0;
};

// Behaviour of the null output that tests can change while it runs.
class NullOutputControl {
public:
    // The clock runs `speed` times real time (1.0 = real time).
    std::atomic<double> speed{1.0};
    // While true the output stops pulling audio without saying so, as a stuck
    // sound server would.
    std::atomic<bool> stalled{false};
    // The next open() fails with ERROR_DEVICE, as if there were no server.
    std::atomic<bool> failOpen{false};
    // Frames rendered so far (silence included).
    std::atomic<std::uint64_t> framesRendered{0};
    // Frames rendered while a channel was playing.
    std::atomic<std::uint64_t> framesPlayed{0};
    // The output keeps this much audio queued before it is heard (and shown
    // to the capture), as a sound server's buffer does. Read when a channel
    // starts from silence.
    std::atomic<int> latencyMs{0};

    // Receives every block on the output thread when it is heard (after the
    // latency); must not block.
    void setCapture(std::function<void(const std::int16_t*, std::size_t)> capture) {
        std::lock_guard lock(mutex_);
        capture_ = std::move(capture);
    }
    void deliver(const std::int16_t* data, std::size_t frames) {
        std::lock_guard lock(mutex_);
        if (capture_)
            capture_(data, frames);
    }

private:
    std::mutex mutex_;
    std::function<void(const std::int16_t*, std::size_t)> capture_;
};

std::unique_ptr<OutputDriver> makeNullOutput(std::shared_ptr<NullOutputControl> control);
std::unique_ptr<OutputDriver> makePulseOutput();

} // namespace tolvane::engine
