#pragma once
// The sleep timer: playback ends after a chosen number of minutes. It counts
// on a monotonic clock, not in ticks, so a late or skipped tick never
// stretches the time; the tick only looks at the clock. Both the clock and
// the tick's interval can be replaced, so a test passes minutes at once.

#include "common/Timer.h"

#include <QString>

#include <functional>

namespace tolvane::playback {

// "Sleep timer: playback stops in 15 minutes" for the time left, in whole
// minutes rounded up ("in 1 minute" for the last minute).
QString sleepTimeText(qint64 remainingMs);

class SleepTimer {
public:
    // Milliseconds on a clock that never goes back.
    using Clock = std::function<qint64()>;

    explicit SleepTimer(QObject* parent = nullptr);

    // Ends playback `minutes` from now; a time set before is replaced.
    void start(int minutes);
    void cancel();
    bool active() const { return active_; }
    // Milliseconds left, 0 while not active.
    qint64 remainingMs() const;
    // sleepTimeText of the time left; empty while not active.
    QString remainingText() const;

    void setClock(Clock clock) { clock_ = std::move(clock); }
    // The timer that looks at the clock (about once a second).
    tolvane::Timer& ticker() { return ticker_; }

    // After a start, a cancel, the end, and whenever remainingText() changes.
    std::function<void()> OnChange;
    // When the time is up (after OnChange); the timer is no longer active.
    std::function<void()> OnExpire;

private:
    void tick();

    Clock clock_;
    tolvane::Timer ticker_;
    bool active_ = false;
    qint64 deadline_ = 0;
    QString shown_;
};

} // namespace tolvane::playback
