// The null output: a real driver that keeps time with the steady clock and
// throws the audio away (after showing it to a test's capture, if any).

#include "Engine.h"
#include "Output.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
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

    void run() {
        using clock = std::chrono::steady_clock;
        std::vector<std::int16_t> block(kBlockFrames * kOutputChannels);
        auto next = clock::now();
        std::unique_lock lock(mutex_);
        while (!quit_) {
            if (!active_) {
                wake_.wait(lock, [this] { return quit_ || active_; });
                next = clock::now();
                continue;
            }
            if (control_->stalled) {
                wake_.wait_for(lock, std::chrono::milliseconds(10));
                next = clock::now();
                continue;
            }
            const std::uint64_t activations = activations_;
            lock.unlock();
            bool playing = false;
            const std::size_t got = render_(block.data(), kBlockFrames, playing);
            // A clocked device plays silence where audio is missing.
            std::fill(block.begin() + static_cast<std::ptrdiff_t>(got * kOutputChannels),
                      block.end(), std::int16_t{0});
            control_->framesRendered += kBlockFrames;
            if (playing)
                control_->framesPlayed += kBlockFrames;
            control_->deliver(block.data(), kBlockFrames);
            lock.lock();
            if (!playing) {
                // Nothing plays: sleep until a channel starts, as a corked
                // sound-server stream would (unless one started meanwhile).
                if (activations == activations_)
                    active_ = false;
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
