#pragma once
// The master volume as the window drives it, without ever waiting for the
// sound server: every request goes to the mixer's own thread, which owns
// the MasterVolume and sends the requests in order. Volume and balance
// moves made while the thread is busy (a drag of the bar against a slow
// server) are coalesced: only the latest pair is written.
//
// All calls are made from one thread (the user-interface thread) and return
// at once.

#include "playback/mixer/MasterVolume.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace tolvane::playback {

class MixerThread {
public:
    // Starts the thread, which opens the mixer (MasterVolume::open) first.
    MixerThread();
    // Ends the thread. Waits at most kStopWaitMs for a request under way;
    // one that takes longer finishes alone and its thread ends by itself.
    ~MixerThread();
    MixerThread(const MixerThread&) = delete;
    MixerThread& operator=(const MixerThread&) = delete;

    void setMute(bool muted);
    // Ignored unless 0 <= volume <= 100; otherwise kept and sent.
    void setVolume(int volume);
    // Ignored unless -100 <= balance <= 100; otherwise kept and sent.
    void setBalance(int balance);

    int volume() const { return volume_; }
    int balance() const { return balance_; }

    // Waits until every request made so far has been handled, at most
    // `timeoutMs`; true when they have.
    bool waitForIdle(int timeoutMs);

    static constexpr int kStopWaitMs = 300;

    struct State;

private:
    // Hands the latest volume and balance to the mixer's thread.
    void sendChannels();

    std::shared_ptr<State> state_;
    std::thread thread_;
    // The values as the window set them (user-interface thread).
    int volume_ = 0;
    int balance_ = 0;
};

} // namespace tolvane::playback
