#pragma once
// The engine's state behind its handles, shared by the files of the Engine
// class: handle tables, network settings, the mixer's channel list, and the
// per-thread error code every call sets.

#include "Engine.h"

#include "EncoderFeed.h"
#include "Output.h"
#include "Stream.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace tolvane::engine {

inline thread_local int tlsError = ERROR_OK;

template <typename T> T fail(int code, T value) {
    tlsError = code;
    return value;
}
template <typename T> T ok(T value) {
    tlsError = ERROR_OK;
    return value;
}

constexpr QWORD kBadPosition = static_cast<QWORD>(-1);

class EngineImpl {
public:
    explicit EngineImpl(OutputKind kind) : kind_(kind) {
        if (kind == OutputKind::Null)
            nullControl_ = std::make_shared<NullOutputControl>();
    }

    const OutputKind kind_;
    std::shared_ptr<NullOutputControl> nullControl_;

    // Guards the state below (not the mixer list).
    std::mutex mutex_;
    bool initialised_ = false;
    // Init is opening the output (outside the lock).
    bool initialising_ = false;
    bool started_ = true;
    std::unique_ptr<OutputDriver> output_;
    NetConfig net_;
    DWORD nextHandle_ = 0x10000;
    std::map<DWORD, std::shared_ptr<Stream>> streams_;
    // Encoder handle -> (its stream's handle, the encoder).
    std::map<DWORD, std::pair<DWORD, std::shared_ptr<EncoderFeed>>> encoders_;
    // CONFIG_SONG_BUFFER: the mixer keeps each stream's song.
    std::atomic<DWORD> songBuffer_{0};
    // Stopped encoders whose last song parts are not taken yet (a few).
    std::map<DWORD, std::shared_ptr<EncoderFeed>> endedParts_;
    // Cancel flags of openings in progress, raised by Free().
    std::vector<std::shared_ptr<std::atomic<bool>>> pending_;

    // The mixer: channels that play. Guarded by mixMutex_; the output
    // thread takes it for each block.
    std::mutex mixMutex_;
    std::vector<std::shared_ptr<Stream>> mix_;
    std::vector<std::int16_t> scratch_;
    std::vector<std::int32_t> sum_;
    std::vector<PcmCut> cuts_;
    std::vector<FrameByte> starts_;

    DWORD newHandle() { return nextHandle_++; }

    std::shared_ptr<Stream> findStream(DWORD handle) {
        std::lock_guard lock(mutex_);
        auto it = streams_.find(handle);
        return it == streams_.end() ? nullptr : it->second;
    }

    bool anyPlaying() {
        std::lock_guard lock(mixMutex_);
        return !mix_.empty();
    }

    // Output thread: mixes every playing channel into `out`. With one
    // channel, returns only the frames it has decoded; with several, fills
    // the block and lets a channel that is behind be silent. `ahead`: how
    // long until the block is heard.
    std::size_t render(std::int16_t* out, std::size_t frames, bool& playing,
                       std::chrono::microseconds ahead);

    // Takes what the channel has decoded (up to `frames`) and notes its
    // level and feeds its encoders.
    std::size_t mixOne(Stream& s, std::int16_t* out, std::size_t frames,
                       std::chrono::microseconds ahead);

    void updateOutput() {
        // Called with mutex_ held.
        if (output_)
            output_->setActive(started_ && anyPlaying());
    }

    // The encoder named by its own handle, or the first one of a stream.
    std::shared_ptr<EncoderFeed> findEncoder(DWORD handle) {
        std::lock_guard lock(mutex_);
        if (auto it = encoders_.find(handle); it != encoders_.end())
            return it->second.second;
        for (auto& [h, e] : encoders_) {
            if (e.first == handle)
                return e.second;
        }
        return nullptr;
    }

    // Forgets the encoders of one stream (or one encoder) and hands them to
    // the caller to stop.
    std::vector<std::shared_ptr<EncoderFeed>> takeEncoders(DWORD handle) {
        std::lock_guard lock(mutex_);
        return takeEncodersLocked(handle);
    }

    // The same with mutex_ held.
    std::vector<std::shared_ptr<EncoderFeed>> takeEncodersLocked(DWORD handle) {
        std::vector<std::shared_ptr<EncoderFeed>> taken;
        auto one = encoders_.find(handle);
        if (one != encoders_.end()) {
            taken.push_back(one->second.second);
            auto s = streams_.find(one->second.first);
            encoders_.erase(one);
            if (s != streams_.end()) {
                std::lock_guard el(s->second->encodersMutex);
                std::erase(s->second->encoders, taken.front());
            }
            return taken;
        }
        for (auto it = encoders_.begin(); it != encoders_.end();) {
            if (it->second.first == handle) {
                taken.push_back(it->second.second);
                it = encoders_.erase(it);
            } else {
                ++it;
            }
        }
        auto s = streams_.find(handle);
        if (s != streams_.end()) {
            std::lock_guard el(s->second->encodersMutex);
            s->second->encoders.clear();
        }
        return taken;
    }

    // A stopped encoder split into songs keeps its last parts for
    // Encode_TakeParts. Called without mutex_.
    void keepParts(const std::vector<std::shared_ptr<EncoderFeed>>& stopped) {
        std::lock_guard lock(mutex_);
        for (const auto& f : stopped) {
            if (!f->splitsSongs())
                continue;
            endedParts_[f->handle] = f;
            if (endedParts_.size() > 16)
                endedParts_.erase(endedParts_.begin());
        }
    }

    void removeFromMix(const std::shared_ptr<Stream>& s) {
        std::lock_guard lock(mixMutex_);
        std::erase(mix_, s);
    }
};

} // namespace tolvane::engine
