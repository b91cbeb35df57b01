#include "playback/mixer/MixerThread.h"

#include <chrono>
#include <utility>

namespace tolvane::playback {

// Shared by the window's thread and the mixer's; guarded by `mutex`. The
// mixer's thread keeps it alive for as long as it runs.
struct MixerThread::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    bool stopping = false;
    bool busy = false;
    bool finished = false;
    // Requests not yet taken by the mixer's thread.
    std::optional<bool> mute;
    std::optional<std::pair<int, int>> channels; // volume, balance

    bool pending() const { return mute || channels; }

    // The mixer's thread: opens the mixer, then sends what is asked, the
    // mute switch before the channels (the order in which the window sets
    // them at start).
    void run() {
        MasterVolume mixer;
        mixer.open();
        std::unique_lock lock(mutex);
        for (;;) {
            busy = false;
            idle.notify_all();
            wake.wait(lock, [this] { return stopping || pending(); });
            if (stopping)
                break;
            busy = true;
            const std::optional<bool> muteNow = std::exchange(mute, std::nullopt);
            const auto channelsNow = std::exchange(channels, std::nullopt);
            lock.unlock();
            if (muteNow)
                mixer.setMute(*muteNow);
            if (channelsNow) {
                // The balance is set once at start; later moves are the volume's.
                if (channelsNow->second != mixer.balance())
                    mixer.setBalance(channelsNow->second);
                mixer.setVolume(channelsNow->first);
            }
            lock.lock();
        }
        finished = true;
        idle.notify_all();
    }
};

MixerThread::MixerThread() : state_(std::make_shared<State>()) {
    state_->busy = true; // until the mixer is open
    thread_ = std::thread([state = state_] { state->run(); });
}

MixerThread::~MixerThread() {
    std::unique_lock lock(state_->mutex);
    state_->stopping = true;
    state_->wake.notify_all();
    const bool ended = state_->idle.wait_for(lock, std::chrono::milliseconds(kStopWaitMs),
                                             [this] { return state_->finished; });
    lock.unlock();
    // A request stuck on the server ends within its own time-out; the thread
    // holds the state it needs until then.
    if (ended)
        thread_.join();
    else
        thread_.detach();
}

void MixerThread::setMute(bool muted) {
    std::lock_guard lock(state_->mutex);
    state_->mute = muted;
    state_->wake.notify_all();
}

void MixerThread::setVolume(int volume) {
    if (volume < 0 || volume > 100)
        return;
    volume_ = volume;
    sendChannels();
}

void MixerThread::setBalance(int balance) {
    if (balance < -100 || balance > 100)
        return;
    balance_ = balance;
    sendChannels();
}

void MixerThread::sendChannels() {
    std::lock_guard lock(state_->mutex);
    state_->channels = std::make_pair(volume_, balance_);
    state_->wake.notify_all();
}

bool MixerThread::waitForIdle(int timeoutMs) {
    std::unique_lock lock(state_->mutex);
    return state_->idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
        return state_->finished || (!state_->busy && !state_->pending());
    });
}

} // namespace tolvane::playback
