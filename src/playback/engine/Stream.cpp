// A stream's opening and decoding: StreamCreateURL's wait for the outcome,
// the decision between playlist and audio, the decoding thread filling the
// PCM buffer, tags and titles, and teardown; and the Stream the engine
// holds, which forwards to it.
//
// The way of the audio: transport thread (StreamTransport.cpp) -> ICY
// demultiplexer -> download buffer -> decoding thread -> PCM buffer -> the
// mixer on the output thread.

#include "StreamImpl.h"

#include "PartWriter.h"

#include "EncoderFeed.h"
#include "Output.h"
#include "Text.h"

#include <algorithm>

namespace tolvane::engine {

namespace {

// Decoded audio kept ready for the mixer (half a second).
constexpr std::size_t kPcmBytes = std::size_t{44100} / 2 * 4;
// Bounds of the download buffer, however low or high a stream's rate.
constexpr std::size_t kMinBufferBytes = std::size_t{8} * 1024;
constexpr std::size_t kMaxBufferBytes = std::size_t{4} * 1024 * 1024;
// The longest title text taken from a stream's own tags.
constexpr std::size_t kMaxTitleBytes = 1024;
// Titles kept on their way to the ear, per stage. A station that sends more
// changes than that within a buffer's length loses the ones in between: the
// last mark kept takes the newest text.
constexpr std::size_t kMaxMarks = 32;
constexpr std::uint64_t kFrameBytes = 4;
// How long teardown waits for a thread (stuck in a caller's callback) before
// leaving it to finish by itself.
constexpr auto kJoinWait = std::chrono::seconds(3);

} // namespace

StreamImpl::~StreamImpl() {
    shutdown();
    if (multi_ && easy_)
        curl_multi_remove_handle(multi_, easy_);
    if (easy_)
        curl_easy_cleanup(easy_);
    if (multi_ && reloadEasy_)
        curl_multi_remove_handle(multi_, reloadEasy_);
    if (reloadEasy_)
        curl_easy_cleanup(reloadEasy_);
    if (multi_)
        curl_multi_cleanup(multi_);
    if (aliases_)
        curl_slist_free_all(aliases_);
    if (requestHeaders_)
        curl_slist_free_all(requestHeaders_);
}

// Waits for the outcome of the opening. Bounded: the transport ends by
// itself within its time-outs, and the whole opening has a deadline.
StreamImpl::OpenState StreamImpl::waitOpen(const std::atomic<bool>& cancel, int& error) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(config_.connectTimeoutMs) +
                          readLimit() + std::chrono::seconds(1);
    std::unique_lock lock(openMutex_);
    while (openState_ == OpenState::Pending) {
        if (cancel || Clock::now() > deadline) {
            error = cancel ? ERROR_UNKNOWN : ERROR_TIMEOUT;
            return OpenState::Failed;
        }
        openCv_.wait_for(lock, std::chrono::milliseconds(50));
    }
    error = openError_;
    return openState_;
}

// With a pre-buffer percentage set, waits until the buffer holds that
// much or the download has ended.
void StreamImpl::waitPrebuffer(const std::atomic<bool>& cancel) {
    if (config_.prebufPercent <= 0 || !ring_)
        return;
    const std::size_t want = ring_->limit() * static_cast<std::size_t>(config_.prebufPercent) / 100;
    const auto deadline = Clock::now() + readLimit();
    while (!cancel && !downloadEnded_ && ring_->fill() < want && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void StreamImpl::shutdown() {
    stop_ = true;
    { std::lock_guard lock(marksMutex_); }
    marksCv_.notify_all();
    {
        std::lock_guard lock(ringMutex_);
        if (ring_)
            ring_->cancel();
        if (pcm_)
            pcm_->cancel();
    }
    if (multi_)
        curl_multi_wakeup(multi_);
    transport_.join(kJoinWait);
    decoder_.join(kJoinWait);
    titles_.join(kJoinWait);
    preload_.join(kJoinWait);
}

std::optional<QWORD> StreamImpl::filePosition(DWORD mode, int& error) const {
    if (!ring_) {
        error = ERROR_NOTAVAIL;
        return std::nullopt;
    }
    switch (mode) {
    case FILEPOS_CURRENT:
        return ring_->totalRead();
    case FILEPOS_DOWNLOAD:
        return ring_->totalWritten();
    case FILEPOS_END:
        // Once the download is over there is nothing left to buffer.
        if (downloadEnded_) {
            error = ERROR_NOTAVAIL;
            return std::nullopt;
        }
        // A limit lowered under what the buffer already holds never makes
        // the fill pass 100 %.
        return std::max(ring_->limit(), ring_->fill());
    default:
        error = ERROR_ILLTYPE;
        return std::nullopt;
    }
}

std::optional<std::string> StreamImpl::tags(DWORD kind) {
    std::lock_guard lock(tagMutex_);
    switch (kind) {
    case TAG_ICY:
        if (head_.icy && !tagBlock_.empty())
            return tagBlock_;
        return std::nullopt;
    case TAG_HTTP:
        if (!head_.icy && !tagBlock_.empty())
            return tagBlock_;
        return std::nullopt;
    case TAG_META:
        if (anyTitle_)
            return heard_;
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

StreamInfo StreamImpl::info() {
    StreamInfo out;
    {
        std::lock_guard lock(tagMutex_);
        out.headerKbps = head_.bitrateKbps();
        // HLS segments carry no ICY metadata, whatever their server says.
        out.icyMetadata = !hls_ && head_.metaint().has_value();
    }
    {
        // An HLS stream is its media playlist; its segments come and go.
        std::lock_guard lock(openMutex_);
        out.url = hls_ || effectiveUrl_.empty() ? url_ : effectiveUrl_;
    }
    out.encrypted = asciiLower(out.url.substr(0, 8)) == "https://";
    {
        std::lock_guard lock(formatMutex_);
        out.codec = format_.codec;
        out.container = format_.container;
        out.codecKbps = format_.bitrateKbps;
        out.sampleRate = format_.sampleRate;
        out.channels = format_.channels;
    }
    out.measuredKbps = measuredKbps_;
    out.tagTitles = tagTitles_;
    return out;
}

void StreamImpl::setOpen(OpenState state, int error) {
    {
        std::lock_guard lock(openMutex_);
        if (openState_ != OpenState::Pending)
            return;
        openState_ = state;
        openError_ = error;
    }
    openCv_.notify_all();
}

// The first body bytes have come: a playlist in disguise, or audio.
void StreamImpl::decideFromSniff() {
    const std::string_view first(reinterpret_cast<const char*>(sniff_.data()), sniff_.size());
    const bool icyMeta = head_.metaint().has_value();
    const PlaylistKind kind =
        config_.followPlaylists && !icyMeta && !hls_ ? sniffPlaylist(first) : PlaylistKind::None;
    if (kind != PlaylistKind::None) {
        playlistKind_ = kind;
        phase_ = Phase::Playlist;
        std::lock_guard lock(openMutex_);
        playlistBody_.assign(first);
        return;
    }
    startAudio();
    std::vector<std::uint8_t> first8;
    first8.swap(sniff_);
    demux_->feed(first8.data(), first8.size(), *this);
}

void StreamImpl::startAudio() {
    phase_ = Phase::Audio;
    const int kbps = head_.bitrateKbps() > 0 ? head_.bitrateKbps() : kDefaultKbps;
    kbps_ = kbps;
    const std::size_t capacity = std::clamp<std::size_t>(
        static_cast<std::size_t>(config_.bufferMs) * static_cast<std::size_t>(kbps) / 8,
        std::size_t{32} * 1024, std::size_t{4} * 1024 * 1024);
    {
        std::lock_guard lock(ringMutex_);
        ring_ = std::make_unique<ByteRing>(capacity);
        pcm_ = std::make_unique<ByteRing>(kPcmBytes);
        pcm_->setLowWater(kPcmBytes / 2);
        if (stop_) {
            ring_->cancel();
            pcm_->cancel();
        }
    }
    // HLS segments carry no ICY metadata, whatever their server says.
    const std::size_t metaint = hls_ ? 0 : head_.metaint().value_or(0);
    demux_ = std::make_unique<IcyDemuxer>(metaint, config_.decodeText);
    {
        std::lock_guard lock(tagMutex_);
        tagBlock_ = head_.tagBlock();
    }
    if (proc_ && (flags_ & STREAM_STATUS) && !stop_)
        proc_(tagBlock_.data(), 0, user_);
    Codec codec = codecForContentType(head_.contentType());
    if (hls_)
        codec = hlsCodec(codec);
    const bool icyTitles = metaint > 0;
    // A stream whose own frames can be recorded as they are keeps its bytes
    // from the one heard (or the song's first, for a recording from the
    // song's start) to the end of the download.
    if (keptAsIs(codec)) {
        history_ = std::make_unique<ByteHistory>(Stream::kSongBytes + kMaxBufferBytes);
        ownCodec_ = codec;
    }
    // A file of an Ogg stream begins with the headers of its logical stream.
    if (codec == Codec::Ogg)
        oggHeaders_ = std::make_unique<ogg::HeaderTracker>();
    auto self = shared_from_this();
    titles_.start([self] { self->titleLoop(); });
    decoder_.start([self, codec, icyTitles] { self->decodeLoop(codec, icyTitles); });
}

// IcyDemuxer::Sink, on the transport thread. One chunk of the download
// may hold several pieces of audio and titles; freeing can begin between
// any two of them, and then no callback follows.
void StreamImpl::audio(const std::uint8_t* data, std::size_t size) {
    if (stop_)
        return;
    audioBytes_ += size;
    if (history_)
        history_->append(data, size);
    if (oggHeaders_)
        oggHeaders_->feed(data, size);
    if (proc_)
        proc_(data, static_cast<DWORD>(size), user_);
    std::size_t taken = 0;
    if (spill_.empty())
        taken = ring_->write(data, size);
    if (taken < size)
        spill_.insert(spill_.end(), data + taken, data + size);
}

void StreamImpl::metadata(const std::string& text) {
    queueTitle(text, audioBytes_, true);
}

void StreamImpl::queueTitle(const std::string& text, std::uint64_t at, bool atByte) {
    std::vector<Sync> syncs;
    {
        std::lock_guard tagLock(tagMutex_);
        std::lock_guard lock(marksMutex_);
        if (anyTitle_ && text == lastQueued_)
            return;
        lastQueued_ = text;
        if (anyTitle_) {
            std::deque<Mark>& queue = atByte ? byteMarks_ : pcmMarks_;
            if (queue.size() < kMaxMarks)
                queue.push_back({at, text});
            else
                queue.back().text = text;
            if (!atByte)
                pcmMarksWaiting_ = true;
            return;
        }
        // The first title names what starts playing: in force at once.
        anyTitle_ = true;
        heard_ = text;
        syncs = syncs_;
    }
    callSyncs(syncs);
}

// The decoder is about to hand over the audio of the frame that began at
// `inputByte`: ICY titles before that byte belong to the PCM from here.
void StreamImpl::decodedFrom(std::uint64_t inputByte) {
    std::lock_guard lock(marksMutex_);
    const std::uint64_t frame = pcm_->totalWritten() / kFrameBytes;
    if (history_) {
        // Half a second of PCM holds a few dozen frames; the bound only
        // matters while nothing plays.
        if (frameStarts_.size() >= 1024)
            frameStarts_.pop_front();
        frameStarts_.push_back({frame, inputByte});
    }
    if (byteMarks_.empty())
        return;
    while (!byteMarks_.empty() && byteMarks_.front().at <= inputByte) {
        if (pcmMarks_.size() < kMaxMarks)
            pcmMarks_.push_back({frame, std::move(byteMarks_.front().text)});
        else
            pcmMarks_.back().text = std::move(byteMarks_.front().text);
        byteMarks_.pop_front();
    }
    pcmMarksWaiting_ = !pcmMarks_.empty();
}

std::size_t StreamImpl::readPcm(std::int16_t* out, std::size_t frames,
                                std::chrono::microseconds ahead, std::vector<PcmCut>* cuts,
                                std::vector<FrameByte>* starts) {
    if (!pcm_)
        return 0;
    const std::uint64_t first = pcm_->totalRead() / kFrameBytes;
    const std::size_t got =
        pcm_->read(reinterpret_cast<std::uint8_t*>(out), frames * kFrameBytes, false) / kFrameBytes;
    if (got > 0 && pcmMarksWaiting_)
        markHeard(first, got, ahead, cuts);
    if (got > 0 && history_) {
        std::lock_guard lock(marksMutex_);
        while (!frameStarts_.empty() && frameStarts_.front().frame < first + got) {
            const std::uint64_t at = frameStarts_.front().frame;
            if (starts)
                starts->push_back({static_cast<std::size_t>(at > first ? at - first : 0),
                                   frameStarts_.front().byte});
            frameStarts_.pop_front();
        }
    }
    return got;
}

// Output thread: the frames [first, first + frames) go to the output now and
// are heard `ahead` from now; the titles marked in them are due then.
void StreamImpl::markHeard(std::uint64_t first, std::size_t frames, std::chrono::microseconds ahead,
                           std::vector<PcmCut>* cuts) {
    const auto now = Clock::now();
    std::lock_guard lock(marksMutex_);
    bool any = false;
    while (!pcmMarks_.empty() && pcmMarks_.front().at < first + frames) {
        const std::uint64_t into = pcmMarks_.front().at > first ? pcmMarks_.front().at - first : 0;
        const auto offset = std::chrono::microseconds(
            static_cast<std::int64_t>(into * 1000000 / static_cast<std::uint64_t>(kOutputRate)));
        if (cuts)
            cuts->push_back({static_cast<std::size_t>(into), pcmMarks_.front().text});
        if (due_.size() < kMaxMarks)
            due_.push_back({now + ahead + offset, std::move(pcmMarks_.front().text)});
        else
            due_.back().text = std::move(pcmMarks_.front().text);
        pcmMarks_.pop_front();
        any = true;
    }
    pcmMarksWaiting_ = !pcmMarks_.empty();
    if (any)
        marksCv_.notify_all();
}

// The title thread: waits for each title's moment and brings it into force.
void StreamImpl::titleLoop() {
    std::unique_lock lock(marksMutex_);
    while (!stop_) {
        if (due_.empty()) {
            marksCv_.wait(lock, [this] { return stop_ || !due_.empty(); });
            continue;
        }
        const Clock::time_point at = due_.front().at;
        if (Clock::now() < at) {
            marksCv_.wait_until(lock, at);
            continue;
        }
        std::string text = std::move(due_.front().text);
        due_.pop_front();
        lock.unlock();
        bringIntoForce(text);
        lock.lock();
    }
}

void StreamImpl::bringIntoForce(const std::string& text) {
    std::vector<Sync> syncs;
    {
        std::lock_guard lock(tagMutex_);
        if (heard_ == text)
            return;
        heard_ = text;
        syncs = syncs_;
    }
    callSyncs(syncs);
}

void StreamImpl::callSyncs(const std::vector<Sync>& syncs) {
    for (const Sync& s : syncs) {
        if (stop_)
            return;
        s.proc(s.sync, handle.load(), 0, s.user);
    }
}

// The decoder's measure of the stream's real rate sizes the buffer: the
// same seconds of audio whatever the nominal bitrate said.
void StreamImpl::byteRate(double bytesPerSecond) {
    const double perSecond = std::max(bytesPerSecond, 1.0);
    measuredKbps_ = std::max(1, static_cast<int>(perSecond * 8 / 1000));
    const auto want =
        std::clamp<std::size_t>(static_cast<std::size_t>(config_.bufferMs * perSecond / 1000),
                                kMinBufferBytes, kMaxBufferBytes);
    ring_->grow(want);
    ring_->setLimit(want);
}

// A title from the stream's own tags; the station's ICY titles, where it
// sends them, are the ones that count.
void StreamImpl::streamTitle(const std::string& title) {
    std::string text = toUtf8(title.substr(0, kMaxTitleBytes));
    tagTitles_ = true;
    queueTitle("StreamTitle='" + text + "';", pcm_->totalWritten() / kFrameBytes, false);
}

void StreamImpl::decodeLoop(Codec codec, bool icyTitles) {
    DecoderReports reports;
    reports.byteRate = [this](double bytesPerSecond) { byteRate(bytesPerSecond); };
    if (!icyTitles)
        reports.title = [this](const std::string& title) { streamTitle(title); };
    if (icyTitles || history_)
        reports.position = [this](std::uint64_t inputByte) { decodedFrom(inputByte); };
    auto decoder = makeDecoder(
        codec, *ring_,
        [this](const std::int16_t* frames, std::size_t count) {
            return pcm_->writeAll(reinterpret_cast<const std::uint8_t*>(frames), count * 4);
        },
        stop_, std::move(reports));
    const int rc = decoder->open();
    if (rc != ERROR_OK) {
        decodeEnded_ = true;
        pcm_->finish();
        setOpen(OpenState::Failed, rc == ERROR_UNKNOWN && stop_ ? ERROR_UNKNOWN : rc);
        // Nothing will read the download any more: let the transport go.
        stop_ = true;
        ring_->cancel();
        curl_multi_wakeup(multi_);
        return;
    }
    {
        std::lock_guard lock(formatMutex_);
        format_ = decoder->format();
        decoderKbps_ = format_.bitrateKbps;
    }
    setOpen(OpenState::Audio, ERROR_OK);
    while (!stop_ && decoder->decode()) {
    }
    decodeEnded_ = true;
    pcm_->finish();
}

// ---------------------------------------------------------------- Stream

Stream::Stream() = default;

Stream::~Stream() {
    shutdown();
}

void Stream::setHandle(DWORD handle) {
    impl_->handle = handle;
}

void Stream::shutdown() {
    if (impl_)
        impl_->shutdown();
}

std::optional<QWORD> Stream::filePosition(DWORD mode, int& error) const {
    return impl_->filePosition(mode, error);
}

std::optional<std::string> Stream::tags(DWORD kind) {
    return impl_->tags(kind);
}

StreamInfo Stream::info() const {
    return impl_->info();
}

bool Stream::addSync(HSYNC sync, DWORD type, SYNCPROC proc, void* user) {
    if (type != SYNC_META || !proc)
        return false;
    impl_->addSync(sync, proc, user);
    return true;
}

void Stream::keepSong(const std::int16_t* pcm, std::size_t frames, bool fresh) {
    // Blocks of a second, so that dropping the oldest frees memory steadily.
    constexpr std::size_t kBlockFrames = 44100;
    if (fresh) {
        song.clear();
        songFrames = 0;
    }
    while (frames > 0) {
        if (song.empty() || song.back().size() >= kBlockFrames * 2) {
            song.emplace_back();
            song.back().reserve(kBlockFrames * 2);
        }
        std::vector<std::int16_t>& block = song.back();
        const std::size_t take = std::min(frames, kBlockFrames - block.size() / 2);
        block.insert(block.end(), pcm, pcm + take * 2);
        pcm += take * 2;
        frames -= take;
        songFrames += take;
    }
    while (song.size() > 1 && (songFrames * 4 > kSongBytes || songFrames > kSongFrames)) {
        songFrames -= song.front().size() / 2;
        song.pop_front();
    }
}

std::size_t Stream::readPcm(std::int16_t* out, std::size_t frames, std::chrono::microseconds ahead,
                            std::vector<PcmCut>* cuts, std::vector<FrameByte>* starts) {
    return impl_->readPcm(out, frames, ahead, cuts, starts);
}

ByteHistory* Stream::history() const {
    return impl_->history();
}

Codec Stream::ownCodec() const {
    return impl_->ownCodec();
}

const ogg::HeaderTracker* Stream::oggHeaders() const {
    return impl_->oggHeaders();
}

bool Stream::drained() const {
    return impl_->drained();
}

bool Stream::hasPcm() const {
    return impl_->hasPcm();
}

} // namespace tolvane::engine
