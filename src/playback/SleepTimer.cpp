#include "SleepTimer.h"

#include <QElapsedTimer>

#include <algorithm>

namespace tolvane::playback {

namespace {

constexpr qint64 MinuteMs = 60 * 1000;
// The remaining time is shown in minutes; a look at the clock every second
// ends playback at most a second late.
constexpr int TickMs = 1000;

qint64 monotonicMs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer c;
        c.start();
        return c;
    }();
    return clock.elapsed();
}

} // namespace

QString sleepTimeText(qint64 remainingMs) {
    const qint64 minutes = (std::max<qint64>(remainingMs, 1) + MinuteMs - 1) / MinuteMs;
    return minutes == 1 ? QStringLiteral("Sleep timer: playback stops in 1 minute")
                        : QStringLiteral("Sleep timer: playback stops in %1 minutes").arg(minutes);
}

SleepTimer::SleepTimer(QObject* parent)
    : clock_(monotonicMs), ticker_(QStringLiteral("SleepTimer"), TickMs, parent) {
    ticker_.OnTimer = [this] { tick(); };
}

void SleepTimer::start(int minutes) {
    active_ = true;
    deadline_ = clock_() + qint64{minutes} * MinuteMs;
    ticker_.start();
    shown_ = remainingText();
    if (OnChange)
        OnChange();
}

void SleepTimer::cancel() {
    if (!active_)
        return;
    active_ = false;
    ticker_.stop();
    shown_.clear();
    if (OnChange)
        OnChange();
}

qint64 SleepTimer::remainingMs() const {
    return active_ ? std::max<qint64>(deadline_ - clock_(), 0) : 0;
}

QString SleepTimer::remainingText() const {
    return active_ ? sleepTimeText(remainingMs()) : QString();
}

void SleepTimer::tick() {
    if (!active_)
        return;
    if (remainingMs() == 0) {
        cancel();
        if (OnExpire)
            OnExpire();
        return;
    }
    if (const QString text = remainingText(); text != shown_) {
        shown_ = text;
        if (OnChange)
            OnChange();
    }
}

} // namespace tolvane::playback
