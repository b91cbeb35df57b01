#pragma once
// Helpers shared by the engine's tests.

#include "Engine.h"
#include "Output.h"

#include <QByteArray>
#include <QTest>

#include <algorithm>
#include <cstring>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tolvane::test {

// Polls without an event loop (engine callbacks run on engine threads).
inline bool pollUntil(const std::function<bool()>& pred, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Collects what the engine's callbacks report.
struct CallbackLog {
    std::mutex mutex;
    std::vector<std::string> headerCalls; // tag blocks given with length 0
    std::atomic<int> dataCalls{0};
    std::atomic<std::uint64_t> dataBytes{0};
    std::atomic<int> endCalls{0};
    std::atomic<int> syncCalls{0};
    std::chrono::steady_clock::time_point headAt; // when the head came (under mutex)

    static void download(const void* buffer, engine::DWORD length, void* user) {
        auto* self = static_cast<CallbackLog*>(user);
        if (!buffer) {
            ++self->endCalls;
        } else if (length == 0) {
            std::string block;
            const char* p = static_cast<const char*>(buffer);
            while (*p) {
                block += p;
                block += '\n';
                p += std::strlen(p) + 1;
            }
            std::lock_guard lock(self->mutex);
            self->headerCalls.push_back(block);
            self->headAt = std::chrono::steady_clock::now();
        } else {
            ++self->dataCalls;
            self->dataBytes += length;
        }
    }
    static void sync(engine::HSYNC, engine::DWORD, engine::DWORD, void* user) {
        ++static_cast<CallbackLog*>(user)->syncCalls;
    }
};

// Everything the null output renders, as interleaved 16-bit stereo PCM.
class PcmCapture {
public:
    explicit PcmCapture(engine::NullOutputControl& output) : output_(output) {
        output.setCapture([this](const std::int16_t* p, std::size_t frames) {
            std::lock_guard lock(mutex_);
            pcm_.append(reinterpret_cast<const char*>(p), static_cast<qsizetype>(frames * 4));
        });
    }
    ~PcmCapture() { output_.setCapture(nullptr); }
    QByteArray pcm() const {
        std::lock_guard lock(mutex_);
        return pcm_;
    }

private:
    engine::NullOutputControl& output_;
    mutable std::mutex mutex_;
    QByteArray pcm_;
};

// The left channel's frequency over `lengthMs` from `startMs`, by its
// rising zero crossings.
inline int toneHz(const QByteArray& pcm, qint64 startMs, qint64 lengthMs) {
    const auto* samples = reinterpret_cast<const std::int16_t*>(pcm.constData());
    const qint64 frames = pcm.size() / 4;
    const qint64 first = startMs * 44100 / 1000;
    const qint64 last = std::min(frames, first + lengthMs * 44100 / 1000);
    int crossings = 0;
    for (qint64 i = first + 1; i < last; ++i)
        if (samples[2 * (i - 1)] < 0 && samples[2 * i] >= 0)
            ++crossings;
    return last > first ? static_cast<int>(crossings * 1000 / lengthMs) : 0;
}

// Tag block (NUL-separated lines ending with an empty one) as a list.
inline std::vector<std::string> tagLines(const char* block) {
    std::vector<std::string> lines;
    if (!block)
        return lines;
    while (*block) {
        lines.emplace_back(block);
        block += lines.back().size() + 1;
    }
    return lines;
}

// The title the player reads from a metadata text.
inline std::string streamTitle(const char* meta) {
    if (!meta)
        return {};
    std::string s(meta);
    const auto p = s.find("StreamTitle='");
    if (p == std::string::npos)
        return {};
    const auto q = s.find("';", p + 13);
    return s.substr(p + 13, q == std::string::npos ? std::string::npos : q - p - 13);
}

// The opener's buffering loop: returns the number of passes, or -1 when END
// failed (which also ends the loop).
inline int bufferLikeThePlayer(engine::Engine& e, engine::HSTREAM h, int maxPasses,
                               int* lastPercent = nullptr) {
    for (int pass = 1; pass <= maxPasses; ++pass) {
        const engine::QWORD end = e.StreamGetFilePosition(h, engine::FILEPOS_END);
        if (end == static_cast<engine::QWORD>(-1))
            return -1;
        const engine::QWORD down = e.StreamGetFilePosition(h, engine::FILEPOS_DOWNLOAD);
        const engine::QWORD cur = e.StreamGetFilePosition(h, engine::FILEPOS_CURRENT);
        const long long pct = end ? static_cast<long long>((down - cur) * 100 / end) : 0;
        if (lastPercent)
            *lastPercent = static_cast<int>(pct);
        e.Stop();
        if (pct > 60)
            return pass;
        std::this_thread::sleep_for(
            std::chrono::milliseconds(2)); // the status message's round trip
    }
    return 0;
}

} // namespace tolvane::test
