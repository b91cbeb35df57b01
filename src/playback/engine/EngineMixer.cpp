// The mixer the output driver pulls from: sums the playing channels, notes
// each one's level and feeds its encoders.

#include "EngineImpl.h"

#include "ByteHistory.h"
#include "OggPages.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tolvane::engine {
namespace {

// Level is measured over the last 20 ms of a block.
constexpr std::size_t kLevelFrames = 882;

DWORD peakOf(const std::int16_t* pcm, std::size_t frames) {
    if (frames > kLevelFrames) {
        pcm += (frames - kLevelFrames) * 2;
        frames = kLevelFrames;
    }
    int left = 0;
    int right = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        left = std::max(left, std::abs(static_cast<int>(pcm[2 * i])));
        right = std::max(right, std::abs(static_cast<int>(pcm[2 * i + 1])));
    }
    return static_cast<DWORD>(left) | (static_cast<DWORD>(right) << 16);
}

} // namespace

std::size_t EngineImpl::render(std::int16_t* out, std::size_t frames, bool& playing,
                               std::chrono::microseconds ahead) {
    std::lock_guard lock(mixMutex_);
    const std::size_t samples = frames * 2;
    playing = !mix_.empty();
    if (mix_.empty()) {
        std::memset(out, 0, samples * sizeof(std::int16_t));
        return frames;
    }
    std::size_t filled = frames;
    if (mix_.size() == 1) {
        filled = mixOne(*mix_.front(), out, frames, ahead);
    } else {
        sum_.assign(samples, 0);
        scratch_.resize(samples);
        for (auto& s : mix_) {
            const std::size_t got = mixOne(*s, scratch_.data(), frames, ahead);
            std::memset(scratch_.data() + got * 2, 0, (frames - got) * 4);
            for (std::size_t i = 0; i < samples; ++i)
                sum_[i] += scratch_[i];
        }
        for (std::size_t i = 0; i < samples; ++i)
            out[i] = static_cast<std::int16_t>(std::clamp(sum_[i], -32768, 32767));
    }
    std::erase_if(mix_, [](const std::shared_ptr<Stream>& s) {
        if (!s->drained())
            return false;
        s->playing = false;
        // The stream's last frames have no next frame whose start would
        // hand them over to the files of its own audio.
        if (ByteHistory* history = s->history()) {
            std::lock_guard encodersLock(s->encodersMutex);
            for (auto& e : s->encoders)
                if (e->raw())
                    e->pushBytes(*history, history->end());
        }
        return true;
    });
    return filled;
}

std::size_t EngineImpl::mixOne(Stream& s, std::int16_t* out, std::size_t frames,
                               std::chrono::microseconds ahead) {
    cuts_.clear();
    starts_.clear();
    const std::size_t got = s.readPcm(out, frames, ahead, &cuts_, &starts_);
    if (got == 0) {
        // Nothing decoded (stalled or ended): the channel is silent.
        s.level = 0;
        return 0;
    }
    s.level = peakOf(out, got);
    std::lock_guard lock(s.encodersMutex);
    ByteHistory* history = s.history();
    // Where the song heard began: the station's frame at the title's frame.
    for (const PcmCut& cut : cuts_) {
        for (const FrameByte& start : starts_) {
            if (start.frame >= cut.frame) {
                s.songByte = start.byte;
                break;
            }
        }
    }
    if (!starts_.empty())
        s.heardByte = starts_.back().byte;
    if (history)
        s.songByte = std::max(s.songByte, s.songTime.earliest(got, !starts_.empty(), s.heardByte));
    const DWORD songBuffer = songBuffer_;
    std::uint64_t keep = songBuffer != 0 ? s.songByte : s.heardByte;
    for (auto& e : s.encoders) {
        if (e->raw()) {
            // The station's own frames, as they are heard; a part ends
            // before the frame a title begins with.
            if (history) {
                std::size_t c = 0;
                for (const FrameByte& start : starts_) {
                    e->pushBytes(*history, start.byte);
                    for (; c < cuts_.size() && cuts_[c].frame <= start.frame; ++c)
                        e->cut(cuts_[c].title);
                }
                keep = std::min(keep, e->nextByte);
            }
            continue;
        }
        // An encoder split into songs ends a part where a title begins.
        std::size_t from = 0;
        if (e->splitsSongs()) {
            for (const PcmCut& cut : cuts_) {
                e->push(out + from * 2, cut.frame - from);
                e->cut(cut.title);
                from = cut.frame;
            }
        }
        e->push(out + from * 2, got - from);
    }
    // The song heard so far, for a recording that begins with it.
    if (songBuffer == 1 || (songBuffer == SONG_BUFFER_OWN_FORMAT && !history)) {
        const std::size_t from = cuts_.empty() ? 0 : cuts_.back().frame;
        s.keepSong(out + from * 2, got - from, !cuts_.empty());
    } else if (!s.song.empty()) {
        s.song.clear();
        s.songFrames = 0;
    }
    // Two pages more are kept: where an Ogg stream stands before the byte
    // a recording begins with is read from the pages before it.
    const std::uint64_t margin = s.oggHeaders() ? std::uint64_t{2} * ogg::kMaxPageBytes : 0;
    if (history && !starts_.empty())
        history->dropBefore(keep > margin ? keep - margin : 0);
    return got;
}

} // namespace tolvane::engine
