// The engine's calls on open streams (facts, tags, syncs, playing and level)
// and on the encoders that record them.

#include "EngineImpl.h"

#include "ByteHistory.h"
#include "OggPages.h"

#include <algorithm>
#include <cstring>

namespace tolvane::engine {
namespace {

constexpr DWORD kBadLevel = 0xFFFFFFFFu;

// The bytes of an Ogg stream go on to a file from `from` (encodersMutex
// held): the headers in force there and where the stream stands come
// first, as the pages just before `from` say.
void resumeOgg(Stream& stream, EncoderFeed& feed, std::uint64_t from) {
    const ogg::HeaderTracker* ogg = stream.oggHeaders();
    if (!ogg || !feed.raw())
        return;
    const ByteHistory& history = *stream.history();
    std::vector<std::uint8_t> before;
    const std::uint64_t back = std::uint64_t{2} * ogg::kMaxPageBytes;
    history.copy(std::max(history.begin(), from > back ? from - back : 0), from, before);
    feed.preloadBytes(ogg->resume(from, before));
}

// Gives a started encoder its handle and the stream's audio.
DWORD addEncoder(EngineImpl& impl, DWORD handle, Stream& stream,
                 const std::shared_ptr<EncoderFeed>& feed, DWORD flags) {
    std::unique_lock lock(impl.mutex_);
    if (impl.streams_.find(handle) == impl.streams_.end()) {
        lock.unlock();
        feed->stop(0, 1000);
        return fail(ERROR_HANDLE, DWORD{0});
    }
    feed->handle = impl.newHandle();
    impl.encoders_.emplace(feed->handle, std::make_pair(handle, feed));
    // Under the mixer's lock: the song so far and then the audio as it
    // plays, not a frame lost or doubled between them.
    std::lock_guard el(stream.encodersMutex);
    if (feed->raw()) {
        ByteHistory& history = *stream.history();
        const std::uint64_t from = (flags & ENCODE_FROMSTART)
                                       ? std::max(stream.songByte, history.begin())
                                       : stream.heardByte;
        resumeOgg(stream, *feed, from);
        feed->preloadBytes(history, from, stream.heardByte);
        feed->nextByte = stream.heardByte;
    } else if (flags & ENCODE_FROMSTART) {
        for (const auto& block : stream.song)
            feed->preload(block.data(), block.size() / 2);
    }
    stream.encoders.push_back(feed);
    return ok(DWORD{feed->handle});
}

} // namespace

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
    // A copy per thread: the stream may change its texts (a title a
    // moment later) while the caller reads this one.
    thread_local std::string copy;
    std::optional<std::string> text = stream->tags(tags);
    if (!text)
        return fail(ERROR_NOTAVAIL, static_cast<const char*>(nullptr));
    copy = std::move(*text);
    return ok(copy.c_str());
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
    // Encoders always end with their stream, ENCODE_AUTOFREE or not.
    (void)proc;
    (void)user;
    auto stream = impl->findStream(handle);
    if (!stream)
        return fail(ERROR_HANDLE, DWORD{0});
    if (!cmdline || !*cmdline)
        return fail(ERROR_ILLPARAM, DWORD{0});
    std::shared_ptr<EncoderFeed> feed;
    const bool songs = (flags & ENCODE_SONGS) != 0;
    const int rc = EncoderFeed::start(std::string(cmdline, strnlen(cmdline, 4096)), feed, songs,
                                      songs ? stream->tags(TAG_META).value_or("") : "");
    if (rc != ERROR_OK)
        return fail(rc, DWORD{0});
    return addEncoder(*impl, handle, *stream, feed, flags);
}

DWORD Engine::Encode_StartFile(DWORD handle, const char* path, DWORD flags) {
    const std::shared_ptr<EngineImpl> impl = impl_; // see Engine.h
    auto stream = impl->findStream(handle);
    if (!stream)
        return fail(ERROR_HANDLE, DWORD{0});
    if (!path || !*path)
        return fail(ERROR_ILLPARAM, DWORD{0});
    if (!stream->history())
        return fail(ERROR_NOTAVAIL, DWORD{0});
    // Of Ogg, the codecs whose headers a file can begin with.
    const std::string codec = stream->info().codec;
    if (stream->oggHeaders() && codec != "Vorbis" && codec != "Opus" && codec != "FLAC")
        return fail(ERROR_NOTAVAIL, DWORD{0});
    std::shared_ptr<EncoderFeed> feed;
    const bool songs = (flags & ENCODE_SONGS) != 0;
    const int rc =
        EncoderFeed::startFile(std::string(path, strnlen(path, 4096)), stream->ownCodec(), feed,
                               songs, songs ? stream->tags(TAG_META).value_or("") : "");
    if (rc != ERROR_OK)
        return fail(rc, DWORD{0});
    return addEncoder(*impl, handle, *stream, feed, flags);
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
    impl->keepParts(taken);
    return ok(1);
}

std::vector<EncoderPart> Engine::Encode_TakeParts(DWORD handle) {
    std::shared_ptr<EncoderFeed> feed = impl_->findEncoder(handle);
    if (!feed || feed->handle != handle) {
        std::lock_guard lock(impl_->mutex_);
        auto it = impl_->endedParts_.find(handle);
        if (it == impl_->endedParts_.end())
            return {};
        feed = it->second;
        impl_->endedParts_.erase(it);
    }
    return feed->takeParts();
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
    // A file of the station's own audio goes on only with frames like its own.
    if (feed->raw() && (!to->second->history() || to->second->ownCodec() != feed->codec()))
        return fail(ERROR_NOTAVAIL, 0);
    // Out of the old stream's list and into the new one's under the engine's
    // lock, so freeing either stream meanwhile sees the encoder in exactly
    // one of them.
    if (auto from = impl_->streams_.find(enc->second.first); from != impl_->streams_.end()) {
        std::lock_guard el(from->second->encodersMutex);
        std::erase(from->second->encoders, feed);
    }
    {
        std::lock_guard el(to->second->encodersMutex);
        // The station's own bytes go on from what the new stream plays.
        feed->nextByte = to->second->heardByte;
        resumeOgg(*to->second, *feed, feed->nextByte);
        to->second->encoders.push_back(feed);
    }
    enc->second.first = channel;
    return ok(1);
}

} // namespace tolvane::engine
