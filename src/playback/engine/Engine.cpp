// The engine's front: start-up and shut-down, configuration, and opening and
// freeing streams. The calls on open streams and their encoders are in
// EngineChannels.cpp, the mixer in EngineMixer.cpp.

#include "EngineImpl.h"

#include <algorithm>
#include <cstring>

namespace tolvane::engine {

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
    const int rc = driver->open([raw = impl.get()](std::int16_t* out, std::size_t frames,
                                                   bool& playing, std::chrono::microseconds ahead) {
        return raw->render(out, frames, playing, ahead);
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
    case CONFIG_SONG_BUFFER:
        impl_->songBuffer_ = std::min<DWORD>(value, SONG_BUFFER_OWN_FORMAT);
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
    impl->keepParts(encoders);
    stream->shutdown();
    return ok(1);
}

int Engine::ErrorGetCode() {
    return tlsError;
}

} // namespace tolvane::engine
