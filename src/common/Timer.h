#pragma once
// A window timer with the semantics the windows rely on: an interval of 0
// never ticks; setting the interval it already has changes nothing; enabling
// a running timer changes nothing; a new interval on a running timer starts
// the count anew. The tick runs on the thread that owns the timer.

#include <QObject>
#include <QTimer>

#include <functional>

namespace tolvane {

class Timer : public QObject {
    Q_OBJECT
public:
    explicit Timer(const QString& name, int intervalMs, QObject* parent = nullptr);

    int Interval() const { return interval_; }
    void setInterval(int ms);
    bool Enabled() const { return enabled_; }
    void setEnabled(bool on);
    void start() { setEnabled(true); }
    void stop() { setEnabled(false); }
    // Whether a tick is actually scheduled (enabled with a nonzero interval).
    bool isTicking() const { return timer_.isActive(); }

    // Called at each tick.
    std::function<void()> OnTimer;

    // Runs one tick now, as if the interval had elapsed (used by tests and
    // by code that must act at once).
    void fire();

private:
    void update();

    QTimer timer_;
    int interval_ = 0;
    bool enabled_ = false;
};

} // namespace tolvane
