// The null output: a real driver that keeps time with the steady clock and
// throws the audio away (after showing it to a test's capture, if any).

#include "Engine.h"
#include "Output.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <thread>
#include <vector>

namespace tolvane::engine {
namespace {

class NullOutput final : public OutputDriver {
public:
    explicit NullOutput(std::shared_ptr<NullOutputControl> control)
        : control_(std::move(control)) {}
    ~NullOutput() override { close(); }

    int open(RenderFn render) override {
        if (control_->failOpen.exchange(false))
            return ERROR_DEVICE;
        close();
        render_ = std::move(render);
        quit_ = false;
        thread_ = std::thread([this] { run(); });
        return ERROR_OK;
    }

    void close() override {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

    void setActive(bool active) override {
        {
            std::lock_guard lock(mutex_);
            active_ = active;
            ++activations_;
        }
        wake_.notify_all();
    }

private:
    // 20 ms blocks: the level meter's pace.
    static constexpr std::size_t kBlockFrames = 882;

    // Like a sound server, the output holds `latencyMs` of audio rendered
    // ahead of the clock: a block is rendered that long before it is heard
    // (shown to the capture). Nothing playing, it plays out what it holds
    // and goes quiet.
    void run() {
        using clock = std::chrono::steady_clock;
        constexpr auto kBlock = std::chrono::microseconds(kBlockFrames * 1000000 / kOutputRate);
        std::deque<std::vector<std::int16_t>> held;
        auto next = clock::now();
        bool idle = false;        // nothing plays: no more rendering until a start
        std::uint64_t idleAt = 0; // the starts counted when it went idle
        std::unique_lock lock(mutex_);
        while (!quit_) {
            if (!active_) {
                wake_.wait(lock, [this] { return quit_ || active_; });
                next = clock::now();
                idle = false;
                continue;
            }
            if (control_->stalled) {
                wake_.wait_for(lock, std::chrono::milliseconds(10));
                next = clock::now();
                continue;
            }
            if (idle && activations_ != idleAt)
                idle = false; // a channel started meanwhile
            const std::uint64_t activations = activations_;
            lock.unlock();
            const std::size_t hold =
                static_cast<std::size_t>(std::max(0, control_->latencyMs.load())) * kOutputRate /
                1000 / kBlockFrames;
            bool playing = true;
            while (!idle && held.size() <= hold) {
                std::vector<std::int16_t> block(kBlockFrames * kOutputChannels, 0);
                const std::size_t got =
                    render_(block.data(), kBlockFrames, playing,
                            std::chrono::duration_cast<std::chrono::microseconds>(
                                kBlock * static_cast<long long>(held.size())));
                // A clocked device plays silence where audio is missing.
                std::fill(block.begin() + static_cast<std::ptrdiff_t>(got * kOutputChannels),
                          block.end(), std::int16_t{0});
                control_->framesRendered += kBlockFrames;
                if (!playing) {
                    idle = true;
                    idleAt = activations;
                    break;
                }
                control_->framesPlayed += kBlockFrames;
                held.push_back(std::move(block));
            }
            if (!held.empty()) {
                control_->deliver(held.front().data(), kBlockFrames);
                held.pop_front();
            } else {
                std::vector<std::int16_t> silence(kBlockFrames * kOutputChannels, 0);
                control_->deliver(silence.data(), kBlockFrames);
            }
            lock.lock();
            if (idle && held.empty()) {
                // Nothing plays: sleep until a channel starts, as a corked
                // sound-server stream would (unless one started meanwhile).
                if (idleAt == activations_)
                    active_ = false;
                else
                    idle = false;
                continue;
            }
            double speed = control_->speed;
            if (speed <= 0.01)
                speed = 0.01;
            next += std::chrono::microseconds(
                static_cast<long long>(kBlockFrames * 1e6 / kOutputRate / speed));
            const auto now = clock::now();
            if (next < now - std::chrono::milliseconds(200))
                next = now; // far behind (the machine was busy): do not rush to catch up
            wake_.wait_until(lock, next, [this] { return quit_; });
        }
    }

    std::shared_ptr<NullOutputControl> control_;
    RenderFn render_;
    std::thread thread_;
    std::mutex mutex_; // guards active_ and quit_
    std::condition_variable wake_;
    bool active_ = false;
    bool quit_ = false;
    std::uint64_t activations_ = 0;
};

} // namespace

std::unique_ptr<OutputDriver> makeNullOutput(std::shared_ptr<NullOutputControl> control) {
    return std::make_unique<NullOutput>(std::move(control));
}

} // namespace tolvane::engine
