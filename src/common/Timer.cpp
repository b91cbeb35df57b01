#include "Timer.h"

namespace tolvane {

Timer::Timer(const QString& name, int intervalMs, QObject* parent)
    : QObject(parent), interval_(intervalMs) {
    setObjectName(name);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &Timer::fire);
}

void Timer::setInterval(int ms) {
    if (ms == interval_)
        return;
    interval_ = ms;
    update();
}

void Timer::setEnabled(bool on) {
    if (on == enabled_)
        return;
    enabled_ = on;
    update();
}

void Timer::update() {
    timer_.stop();
    if (enabled_ && interval_ > 0)
        timer_.start(interval_);
}

void Timer::fire() {
    if (OnTimer)
        OnTimer();
}

} // namespace tolvane
