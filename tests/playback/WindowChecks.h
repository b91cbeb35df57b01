#pragma once
// Checks of the real window that several playback tests share: how long the
// window takes to answer a user's command while something else goes on, and
// what the process holds in threads and descriptors.

#include "common/ThreadHandoff.h"

#include <QAbstractSlider>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QInputDevice>
#include <QKeyEvent>
#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tolvane::test {

// Answer times of the window, measured from a thread of its own: every
// `periodMs` it posts a key press to a slider of the window (Down, then Up,
// as a user changing the volume with the keyboard does) and waits until the
// slider's value has changed, which happens only when the window's event
// loop has handled the key. So every moment the loop is kept from running
// shows up in some sample, whatever the test's own thread does meanwhile.
class AnswerProbe {
public:
    explicit AnswerProbe(QAbstractSlider* slider, int periodMs = 40) : slider_(slider) {
        // The key events made on the probe's thread name the keyboard, which
        // Qt makes on first use: here, on the window's thread.
        QInputDevice::primaryKeyboard();
        connection_ = QObject::connect(
            slider, &QAbstractSlider::valueChanged, slider,
            [this] {
                {
                    std::lock_guard lock(mutex_);
                    ++answers_;
                }
                answered_.notify_all();
            },
            Qt::DirectConnection);
        thread_ = std::thread([this, periodMs] { run(periodMs); });
    }
    ~AnswerProbe() { stop(); }
    AnswerProbe(const AnswerProbe&) = delete;
    AnswerProbe& operator=(const AnswerProbe&) = delete;

    // Ends the sampling; a sample under way is waited for (at most its
    // time-out).
    void stop() {
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
            stopping_ = true;
        }
        answered_.notify_all();
        // The sample under way needs the event loop to finish.
        while (!finished_.load())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        thread_.join();
        QObject::disconnect(connection_);
    }

    qint64 longestMs() const {
        std::lock_guard lock(mutex_);
        return longestMs_;
    }
    int samples() const {
        std::lock_guard lock(mutex_);
        return samples_;
    }
    // Samples that got no answer within the time-out.
    int unanswered() const {
        std::lock_guard lock(mutex_);
        return unanswered_;
    }

private:
    static constexpr auto AnswerTimeout = std::chrono::seconds(10);

    void run(int periodMs) {
        bool down = true;
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            const int before = answers_;
            QElapsedTimer clock;
            clock.start();
            const Qt::Key key = down ? Qt::Key_Down : Qt::Key_Up;
            down = !down;
            // The key is pressed from the window's event loop: when the loop
            // is stuck, no answer comes.
            QueueOnThreadOf(slider_, [slider = slider_, key] {
                QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
                QCoreApplication::sendEvent(slider, &press);
                QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
                QCoreApplication::sendEvent(slider, &release);
            });
            const bool answered =
                answered_.wait_for(lock, AnswerTimeout, [&] { return answers_ != before; });
            ++samples_;
            if (!answered)
                ++unanswered_;
            longestMs_ = std::max(longestMs_, clock.elapsed());
            answered_.wait_for(lock, std::chrono::milliseconds(periodMs),
                               [&] { return stopping_; });
        }
        finished_.store(true);
    }

    QAbstractSlider* slider_;
    QMetaObject::Connection connection_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
    mutable std::mutex mutex_;
    std::condition_variable answered_;
    // --- guarded by mutex_ ---
    bool stopping_ = false;
    int answers_ = 0;
    int samples_ = 0;
    int unanswered_ = 0;
    qint64 longestMs_ = 0;
};

// Threads and open descriptors of this process.
struct ProcessCounts {
    int threads = 0;
    int descriptors = 0;

    static ProcessCounts now() {
        const auto entries = [](const char* folder) {
            return static_cast<int>(QDir(QString::fromLatin1(folder))
                                        .entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                   QDir::System | QDir::Hidden)
                                        .size());
        };
        return {entries("/proc/self/task"), entries("/proc/self/fd")};
    }
};

} // namespace tolvane::test
