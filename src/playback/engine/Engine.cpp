// The engine's front: handle tables, configuration, the mixer that the
// output driver pulls from, and the per-thread error code.

#include "Engine.h"

#include "EncoderFeed.h"
#include "Output.h"
#include "Stream.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace tolvane::engine {
namespace {

thread_local int tlsError = ERROR_OK;

template <typename T> T fail(int code, T value) {
    tlsError = code;
    return value;
}
template <typename T> T ok(T value) {
    tlsError = ERROR_OK;
    return value;
}

constexpr QWORD kBadPosition = static_cast<QWORD>(-1);
constexpr DWORD kBadLevel = 0xFFFFFFFFu;
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
    // Cancel flags of openings in progress, raised by Free().
    std::vector<std::shared_ptr<std::atomic<bool>>> pending_;

    // The mixer: channels that play. Guarded by mixMutex_; the output
    // thread takes it for each block.
    std::mutex mixMutex_;
    std::vector<std::shared_ptr<Stream>> mix_;
    std::vector<std::int16_t> scratch_;
    std::vector<std::int32_t> sum_;

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
    // the block and lets a channel that is behind be silent.
    std::size_t render(std::int16_t* out, std::size_t frames, bool& playing) {
        std::lock_guard lock(mixMutex_);
        const std::size_t samples = frames * 2;
        playing = !mix_.empty();
        if (mix_.empty()) {
            std::memset(out, 0, samples * sizeof(std::int16_t));
            return frames;
        }
        std::size_t filled = frames;
        if (mix_.size() == 1) {
            filled = mixOne(*mix_.front(), out, frames);
        } else {
            sum_.assign(samples, 0);
            scratch_.resize(samples);
            for (auto& s : mix_) {
                const std::size_t got = mixOne(*s, scratch_.data(), frames);
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
            return true;
        });
        return filled;
    }

    // Takes what the channel has decoded (up to `frames`) and notes its
    // level and feeds its encoders.
    std::size_t mixOne(Stream& s, std::int16_t* out, std::size_t frames) {
        const std::size_t got = s.readPcm(out, frames);
        if (got == 0) {
            // Nothing decoded (stalled or ended): the channel is silent.
            s.level = 0;
            return 0;
        }
        s.level = peakOf(out, got);
        std::lock_guard lock(s.encodersMutex);
        for (auto& e : s.encoders)
            e->push(out, got);
        return got;
    }

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

    void removeFromMix(const std::shared_ptr<Stream>& s) {
        std::lock_guard lock(mixMutex_);
        std::erase(mix_, s);
    }
};

Engine::Engine(OutputKind output) : impl_(std::make_shared<EngineImpl>(output)) {}

Engine::~Engine() {
    Free();
}

OutputKind Engine::output() const {
    return impl_->kind_;
}

NullOutputControl* Engine::nullOutput() {
    return impl_->nullControl_.get();
}

DWORD Engine::PluginLoad(const char* file, DWORD flags) {
    (void)flags;
    if (!file)
        return fail(ERROR_FILEOPEN, DWORD{0});
    // The formats are built in; each load gets a handle of its own.
    std::lock_guard lock(impl_->mutex_);
    return ok(impl_->newHandle());
}

DWORD Engine::GetVersion() {
    return ok(ENGINE_VERSION);
}

BOOL Engine::Init(int device, DWORD freq, DWORD flags, void* win, void* clsid) {
    (void)freq;
    (void)flags;
    (void)win;
    (void)clsid;
    const std::shared_ptr<EngineImpl> impl = impl_;
    {
        std::lock_guard lock(impl->mutex_);
        if (impl->initialised_ || impl->initialising_)
            return fail(ERROR_ALREADY, 0);
        if (device != -1 && device != 1)
            return fail(ERROR_DEVICE, 0);
        impl->initialising_ = true;
    }
    // The output opens outside the lock: a slow sound server (up to 5 s)
    // must not hold up the calls of other threads meanwhile.
    std::unique_ptr<OutputDriver> driver =
        impl->kind_ == OutputKind::Null ? makeNullOutput(impl->nullControl_) : makePulseOutput();
    const int rc =
        driver->open([raw = impl.get()](std::int16_t* out, std::size_t frames, bool& playing) {
            return raw->render(out, frames, playing);
        });
    std::lock_guard lock(impl->mutex_);
    impl->initialising_ = false;
    if (rc != ERROR_OK)
        return fail(rc, 0);
    impl->output_ = std::move(driver);
    impl->initialised_ = true;
    impl->started_ = true;
    return ok(1);
}

BOOL Engine::SetConfig(DWORD option, DWORD value) {
    std::lock_guard lock(impl_->mutex_);
    NetConfig& net = impl_->net_;
    switch (option) {
    case CONFIG_NET_PLAYLIST:
        net.followPlaylists = value != 0;
        break;
    case CONFIG_NET_PREBUF:
        net.prebufPercent = static_cast<int>(std::min<DWORD>(value, 100));
        break;
    case CONFIG_NET_TIMEOUT:
        net.connectTimeoutMs = static_cast<int>(std::clamp<DWORD>(value, 100, 600000));
        break;
    case CONFIG_NET_READTIMEOUT:
        net.readTimeoutMs = static_cast<int>(std::min<DWORD>(value, 3600000));
        break;
    case CONFIG_NET_BUFFER:
        net.bufferMs = static_cast<int>(std::clamp<DWORD>(value, 1000, 60000));
        break;
    default:
        return fail(ERROR_ILLTYPE, 0);
    }
    return ok(1);
}

BOOL Engine::SetConfigPtr(DWORD option, const void* value) {
    std::lock_guard lock(impl_->mutex_);
    NetConfig& net = impl_->net_;
    // The text is copied now, so the caller's memory need not outlive the call.
    const char* text = static_cast<const char*>(value);
    switch (option) {
    case CONFIG_NET_PROXY:
        if (text)
            net.proxy = std::string(text, strnlen(text, 1024));
        else
            net.proxy.reset();
        break;
    case CONFIG_NET_AGENT:
        net.agent = text ? std::string(text, strnlen(text, 256)) : std::string();
        break;
    case CONFIG_NET_CAFILE:
        if (text)
            net.caFile = std::string(text, strnlen(text, 4096));
        else
            net.caFile.reset();
        break;
    default:
        return fail(ERROR_ILLTYPE, 0);
    }
    return ok(1);
}

BOOL Engine::Free() {
    const std::shared_ptr<EngineImpl> impl = impl_; // see Engine.h
    std::unique_ptr<OutputDriver> output;
    std::map<DWORD, std::shared_ptr<Stream>> streams;
    std::map<DWORD, std::pair<DWORD, std::shared_ptr<EncoderFeed>>> encoders;
    {
        std::lock_guard lock(impl->mutex_);
        if (!impl->initialised_)
            return fail(ERROR_INIT, 0);
        impl->initialised_ = false;
        for (auto& flag : impl->pending_)
            *flag = true;
        impl->pending_.clear();
        output = std::move(impl->output_);
        streams.swap(impl->streams_);
        encoders.swap(impl->encoders_);
    }
    // The output first, so that nothing renders while the streams go.
    if (output)
        output->close();
    {
        std::lock_guard lock(impl->mixMutex_);
        for (auto& s : impl->mix_)
            s->playing = false;
        impl->mix_.clear();
    }
    for (auto& [h, e] : encoders)
        e.second->stop();
    for (auto& [h, s] : streams)
        s->shutdown();
    return ok(1);
}

BOOL Engine::Stop() {
    std::lock_guard lock(impl_->mutex_);
    if (!impl_->initialised_)
        return fail(ERROR_INIT, 0);
    impl_->started_ = false;
    impl_->updateOutput();
    return ok(1);
}

BOOL Engine::Start() {
    std::lock_guard lock(impl_->mutex_);
    if (!impl_->initialised_)
        return fail(ERROR_INIT, 0);
    impl_->started_ = true;
    impl_->updateOutput();
    return ok(1);
}

HSTREAM Engine::StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC proc,
                                void* user) {
    return StreamCreateURL(url, offset, flags, proc, user, TextDecoder());
}

HSTREAM Engine::StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC proc,
                                void* user, TextDecoder decodeText) {
    const std::shared_ptr<EngineImpl> impl = impl_; // see Engine.h
    (void)offset;                                   // live streams cannot start at an offset
    NetConfig config;
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    {
        std::lock_guard lock(impl->mutex_);
        if (!impl->initialised_)
            return fail(ERROR_INIT, HSTREAM{0});
        config = impl->net_;
        impl->pending_.push_back(cancel);
    }
    config.decodeText = std::move(decodeText);
    if (!url || !*url) {
        std::lock_guard lock(impl->mutex_);
        std::erase(impl->pending_, cancel);
        return fail(ERROR_FILEOPEN, HSTREAM{0});
    }
    std::shared_ptr<Stream> stream;
    const int rc = Stream::open(std::string(url, strnlen(url, 8192)), config, flags, proc, user,
                                *cancel, stream);
    std::unique_lock lock(impl->mutex_);
    std::erase(impl->pending_, cancel);
    if (*cancel && rc != ERROR_OK)
        return fail(ERROR_INIT, HSTREAM{0}); // Free() ended the opening
    if (rc != ERROR_OK)
        return fail(rc, HSTREAM{0});
    if (*cancel || !impl->initialised_) {
        // The engine was freed while this opening was under way.
        lock.unlock();
        stream->shutdown();
        return fail(ERROR_INIT, HSTREAM{0});
    }
    const HSTREAM handle = impl->newHandle();
    stream->setHandle(handle);
    impl->streams_.emplace(handle, stream);
    return ok(handle);
}

BOOL Engine::StreamFree(HSTREAM handle) {
    const std::shared_ptr<EngineImpl> impl = impl_; // see Engine.h
    std::shared_ptr<Stream> stream;
    std::vector<std::shared_ptr<EncoderFeed>> encoders;
    {
        // The stream's encoders are taken and the stream forgotten in one
        // step: an Encode_Start racing with this either comes first (and
        // its encoder is taken here) or finds no stream (and stops its
        // encoder itself). No encoder is ever left running unowned.
        std::lock_guard lock(impl->mutex_);
        auto it = impl->streams_.find(handle);
        if (it == impl->streams_.end())
            return fail(ERROR_HANDLE, 0);
        stream = it->second;
        encoders = impl->takeEncodersLocked(handle);
        impl->streams_.erase(it);
        impl->removeFromMix(stream);
        stream->playing = false;
        impl->updateOutput();
    }
    for (auto& e : encoders)
        e->stop();
    stream->shutdown();
    return ok(1);
}

QWORD Engine::StreamGetFilePosition(HSTREAM handle, DWORD mode) {
    auto stream = impl_->findStream(handle);
    if (!stream)
        return fail(ERROR_HANDLE, kBadPosition);
    int error = ERROR_OK;
    const auto pos = stream->filePosition(mode, error);
    if (!pos)
        return fail(error, kBadPosition);
    return ok(*pos);
}

BOOL Engine::StreamGetInfo(HSTREAM handle, StreamInfo* info) {
    auto stream = impl_->findStream(handle);
    if (!stream)
        return fail(ERROR_HANDLE, 0);
    if (!info)
        return fail(ERROR_ILLPARAM, 0);
    *info = stream->info();
    return ok(1);
}

const char* Engine::ChannelGetTags(DWORD handle, DWORD tags) {
    auto stream = impl_->findStream(handle);
    if (!stream)
        return fail(ERROR_HANDLE, static_cast<const char*>(nullptr));
    if (tags != TAG_HTTP && tags != TAG_ICY && tags != TAG_META)
        return fail(ERROR_ILLTYPE, static_cast<const char*>(nullptr));
    const char* text = stream->tags(tags);
    if (!text)
        return fail(ERROR_NOTAVAIL, text);
    return ok(text);
}

HSYNC Engine::ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC proc, void* user) {
    (void)param;
    auto stream = impl_->findStream(handle);
    if (!stream)
        return fail(ERROR_HANDLE, HSYNC{0});
    if (type != SYNC_META)
        return fail(ERROR_ILLTYPE, HSYNC{0});
    if (!proc)
        return fail(ERROR_ILLPARAM, HSYNC{0});
    HSYNC sync;
    {
        std::lock_guard lock(impl_->mutex_);
        sync = impl_->newHandle();
    }
    stream->addSync(sync, type, proc, user);
    return ok(sync);
}

BOOL Engine::ChannelPlay(DWORD handle, BOOL restart) {
    (void)restart; // a live stream goes on from where it is
    std::lock_guard lock(impl_->mutex_);
    auto it = impl_->streams_.find(handle);
    if (it == impl_->streams_.end())
        return fail(ERROR_HANDLE, 0);
    const auto& stream = it->second;
    {
        std::lock_guard mix(impl_->mixMutex_);
        if (!stream->playing) {
            stream->playing = true;
            impl_->mix_.push_back(stream);
        }
    }
    impl_->updateOutput();
    return ok(1);
}

BOOL Engine::ChannelStop(DWORD handle) {
    std::lock_guard lock(impl_->mutex_);
    auto it = impl_->streams_.find(handle);
    if (it == impl_->streams_.end())
        return fail(ERROR_HANDLE, 0);
    impl_->removeFromMix(it->second);
    it->second->playing = false;
    it->second->level = 0;
    impl_->updateOutput();
    return ok(1);
}

DWORD Engine::ChannelGetLevel(DWORD handle) {
    std::lock_guard lock(impl_->mutex_);
    auto it = impl_->streams_.find(handle);
    if (it == impl_->streams_.end())
        return fail(ERROR_HANDLE, kBadLevel);
    if (!it->second->playing || !impl_->started_)
        return fail(ERROR_NOPLAY, kBadLevel);
    return ok(it->second->level.load());
}

DWORD Engine::ChannelIsActive(DWORD handle) {
    std::lock_guard lock(impl_->mutex_);
    auto it = impl_->streams_.find(handle);
    if (it == impl_->streams_.end())
        return fail(ERROR_HANDLE, ACTIVE_STOPPED);
    // The mixer drops a channel that has played out, and clears `playing`.
    const Stream& stream = *it->second;
    if (!stream.playing)
        return ok(ACTIVE_STOPPED);
    return ok(stream.hasPcm() ? ACTIVE_PLAYING : ACTIVE_STALLED);
}

DWORD Engine::Encode_Start(DWORD handle, const char* cmdline, DWORD flags, void* proc, void* user) {
    const std::shared_ptr<EngineImpl> impl = impl_; // see Engine.h
    (void)flags;                                    // encoders always end with their stream
    (void)proc;
    (void)user;
    auto stream = impl->findStream(handle);
    if (!stream)
        return fail(ERROR_HANDLE, DWORD{0});
    if (!cmdline || !*cmdline)
        return fail(ERROR_ILLPARAM, DWORD{0});
    std::shared_ptr<EncoderFeed> feed;
    const int rc = EncoderFeed::start(std::string(cmdline, strnlen(cmdline, 4096)), feed);
    if (rc != ERROR_OK)
        return fail(rc, DWORD{0});
    std::unique_lock lock(impl->mutex_);
    if (impl->streams_.find(handle) == impl->streams_.end()) {
        lock.unlock();
        feed->stop(0, 1000);
        return fail(ERROR_HANDLE, DWORD{0});
    }
    feed->handle = impl->newHandle();
    impl->encoders_.emplace(feed->handle, std::make_pair(handle, feed));
    {
        std::lock_guard el(stream->encodersMutex);
        stream->encoders.push_back(feed);
    }
    return ok(DWORD{feed->handle});
}

BOOL Engine::Encode_Stop(DWORD handle) {
    const std::shared_ptr<EngineImpl> impl = impl_; // see Engine.h
    auto taken = impl->takeEncoders(handle);
    if (taken.empty()) {
        if (!impl->findStream(handle))
            return fail(ERROR_HANDLE, 0);
        return ok(1); // a stream without an encoder: nothing to stop
    }
    for (auto& e : taken)
        e->stop();
    return ok(1);
}

QWORD Engine::Encode_GetCount(DWORD handle, DWORD count) {
    const std::shared_ptr<EncoderFeed> feed = impl_->findEncoder(handle);
    if (!feed)
        return fail(ERROR_HANDLE, kBadPosition);
    switch (count) {
    case ENCODE_COUNT_IN:
        return ok(QWORD{feed->bytesIn()});
    case ENCODE_COUNT_QUEUE:
        return ok(QWORD{feed->bytesQueued()});
    case ENCODE_COUNT_QUEUE_FAIL:
        return ok(QWORD{feed->bytesDropped()});
    default:
        return fail(ERROR_ILLTYPE, kBadPosition);
    }
}

DWORD Engine::Encode_IsActive(DWORD handle) {
    const std::shared_ptr<EncoderFeed> feed = impl_->findEncoder(handle);
    if (!feed)
        return ok(ACTIVE_STOPPED);
    return ok(feed->active() ? ACTIVE_PLAYING : ACTIVE_STOPPED);
}

BOOL Engine::Encode_SetChannel(DWORD handle, DWORD channel) {
    std::lock_guard lock(impl_->mutex_);
    auto enc = impl_->encoders_.find(handle);
    auto to = impl_->streams_.find(channel);
    if (enc == impl_->encoders_.end() || to == impl_->streams_.end())
        return fail(ERROR_HANDLE, 0);
    const std::shared_ptr<EncoderFeed> feed = enc->second.second;
    if (enc->second.first == channel)
        return ok(1);
    // Out of the old stream's list and into the new one's under the engine's
    // lock, so freeing either stream meanwhile sees the encoder in exactly
    // one of them.
    if (auto from = impl_->streams_.find(enc->second.first); from != impl_->streams_.end()) {
        std::lock_guard el(from->second->encodersMutex);
        std::erase(from->second->encoders, feed);
    }
    {
        std::lock_guard el(to->second->encodersMutex);
        to->second->encoders.push_back(feed);
    }
    enc->second.first = channel;
    return ok(1);
}

int Engine::ErrorGetCode() {
    return tlsError;
}

} // namespace tolvane::engine
