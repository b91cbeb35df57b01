// An internet stream: transport thread (libcurl multi loop) -> ICY
// demultiplexer -> download buffer -> decoding thread -> PCM buffer -> the
// mixer on the output thread.
//
// Opening: StreamCreateURL's thread waits while the transport connects and
// reads the head; the first body bytes decide between a playlist (its body
// is read whole and its entries are opened in turn, depth at most 3) and
// audio (the decoder starts, and the opening succeeds once it has decoded
// audio). Limits on everything the server controls keep both threads and
// memory bounded.

#include "Stream.h"

#include "ByteRing.h"
#include "Decoder.h"
#include "EncoderFeed.h"
#include "FfmpegApi.h"
#include "HttpHead.h"
#include "IcyDemuxer.h"
#include "Playlist.h"
#include "Text.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <set>
#include <thread>

namespace tolvane::engine {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes of body looked at before deciding between playlist and audio.
constexpr std::size_t kSniffBytes = 16;
// Decoded audio kept ready for the mixer (half a second).
constexpr std::size_t kPcmBytes = 44100 / 2 * 4;
// A stream must deliver at least this share of its bitrate over each
// read-time-out window while the engine wants data.
constexpr int kMinRateDivisor = 8;
constexpr int kDefaultKbps = 128;
// Playlist entries tried in all, across every level of nesting.
constexpr int kMaxEntriesTried = 16;
// How long teardown waits for a thread (stuck in a caller's callback) before
// leaving it to finish by itself.
constexpr auto kJoinWait = std::chrono::seconds(3);

void curlGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// A thread that can be joined with a time limit; detached when the limit
// passes (it keeps what it needs alive through its own shared pointers).
class BoundedThread {
public:
    template <typename F> void start(F&& body) {
        done_ = std::make_shared<Done>();
        thread_ = std::thread([done = done_, body = std::forward<F>(body)]() mutable {
            body();
            std::lock_guard lock(done->mutex);
            done->flag = true;
            done->cv.notify_all();
        });
    }
    bool isCurrent() const { return thread_.get_id() == std::this_thread::get_id(); }
    void join(std::chrono::milliseconds wait) {
        if (!thread_.joinable())
            return;
        if (isCurrent()) {
            thread_.detach();
            return;
        }
        std::unique_lock lock(done_->mutex);
        if (done_->cv.wait_for(lock, wait, [&] { return done_->flag; })) {
            lock.unlock();
            thread_.join();
        } else {
            lock.unlock();
            thread_.detach();
        }
    }

private:
    struct Done {
        std::mutex mutex;
        std::condition_variable cv;
        bool flag = false;
    };
    std::shared_ptr<Done> done_;
    std::thread thread_;
};

} // namespace

class StreamImpl : public IcyDemuxer::Sink, public std::enable_shared_from_this<StreamImpl> {
public:
    enum class OpenState { Pending, Audio, Playlist, Failed };

    StreamImpl(std::string url, const NetConfig& config, DWORD flags, DOWNLOADPROC proc, void* user)
        : url_(std::move(url)), config_(config), flags_(flags), proc_(proc), user_(user) {}

    ~StreamImpl() override {
        shutdown();
        if (multi_ && easy_)
            curl_multi_remove_handle(multi_, easy_);
        if (easy_)
            curl_easy_cleanup(easy_);
        if (multi_)
            curl_multi_cleanup(multi_);
        if (aliases_)
            curl_slist_free_all(aliases_);
        if (requestHeaders_)
            curl_slist_free_all(requestHeaders_);
    }

    // ------------------------------------------------------------ opening

    int start() {
        curlGlobalInit();
        easy_ = curl_easy_init();
        multi_ = curl_multi_init();
        if (!easy_ || !multi_)
            return ERROR_MEM;
        aliases_ = curl_slist_append(nullptr, "ICY 200 OK");
        requestHeaders_ = curl_slist_append(nullptr, "Icy-MetaData: 1");
        CURL* e = easy_;
        curl_easy_setopt(e, CURLOPT_URL, url_.c_str());
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(e, CURLOPT_MAXREDIRS, 5L);
        curl_easy_setopt(e, CURLOPT_HTTP200ALIASES, aliases_);
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, requestHeaders_);
        curl_easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(config_.connectTimeoutMs));
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_TCP_KEEPALIVE, 1L);
        if (!config_.agent.empty())
            curl_easy_setopt(e, CURLOPT_USERAGENT, config_.agent.c_str());
        if (config_.proxy)
            curl_easy_setopt(e, CURLOPT_PROXY, config_.proxy->c_str());
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &StreamImpl::headerThunk);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &StreamImpl::writeThunk);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
        curl_multi_add_handle(multi_, easy_);
        auto self = shared_from_this();
        transport_.start([self] { self->transportLoop(); });
        return ERROR_OK;
    }

    // Waits for the outcome of the opening. Bounded: the transport ends by
    // itself within its time-outs, and the whole opening has a deadline.
    OpenState waitOpen(const std::atomic<bool>& cancel, int& error) {
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
    void waitPrebuffer(const std::atomic<bool>& cancel) {
        if (config_.prebufPercent <= 0 || !ring_)
            return;
        const std::size_t want =
            ring_->capacity() * static_cast<std::size_t>(config_.prebufPercent) / 100;
        const auto deadline = Clock::now() + readLimit();
        while (!cancel && !downloadEnded_ && ring_->fill() < want && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    std::string playlistBody() {
        std::lock_guard lock(openMutex_);
        return playlistBody_;
    }
    PlaylistKind playlistKind() const { return playlistKind_; }
    std::string effectiveUrl() {
        std::lock_guard lock(openMutex_);
        return effectiveUrl_;
    }

    // The read time-out, or 15 s where it is off, bounds every wait for a server.
    std::chrono::milliseconds readLimit() const {
        return std::chrono::milliseconds(config_.readTimeoutMs > 0 ? config_.readTimeoutMs : 15000);
    }

    // ------------------------------------------------------------ teardown

    void shutdown() {
        stop_ = true;
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
        preload_.join(kJoinWait);
    }

    // ------------------------------------------------------------ queries

    std::optional<QWORD> filePosition(DWORD mode, int& error) const {
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
            return ring_->capacity();
        default:
            error = ERROR_ILLTYPE;
            return std::nullopt;
        }
    }

    const char* tags(DWORD kind) {
        std::lock_guard lock(tagMutex_);
        switch (kind) {
        case TAG_ICY:
            return head_.icy && !tagBlock_.empty() ? tagBlock_.data() : nullptr;
        case TAG_HTTP:
            return !head_.icy && !tagBlock_.empty() ? tagBlock_.data() : nullptr;
        case TAG_META:
            return metas_.empty() ? nullptr : metas_.back().c_str();
        default:
            return nullptr;
        }
    }

    void addSync(HSYNC sync, SYNCPROC proc, void* user) {
        std::lock_guard lock(tagMutex_);
        syncs_.push_back({sync, proc, user});
    }

    std::size_t readPcm(std::int16_t* out, std::size_t frames) {
        if (!pcm_)
            return 0;
        return pcm_->read(reinterpret_cast<std::uint8_t*>(out), frames * 4, false) / 4;
    }

    bool drained() const { return decodeEnded_ && (!pcm_ || pcm_->fill() == 0); }

    std::atomic<DWORD> handle{0};

private:
    struct Sync {
        HSYNC sync;
        SYNCPROC proc;
        void* user;
    };
    enum class Phase { Head, Sniff, Playlist, Audio, Done };

    void setOpen(OpenState state, int error) {
        {
            std::lock_guard lock(openMutex_);
            if (openState_ != OpenState::Pending)
                return;
            openState_ = state;
            openError_ = error;
        }
        openCv_.notify_all();
    }

    // ------------------------------------------------------------ transport thread

    static std::size_t headerThunk(char* data, std::size_t size, std::size_t n, void* self) {
        return static_cast<StreamImpl*>(self)->onHeader(data, size * n);
    }
    static std::size_t writeThunk(char* data, std::size_t size, std::size_t n, void* self) {
        return static_cast<StreamImpl*>(self)->onBody(reinterpret_cast<std::uint8_t*>(data),
                                                      size * n);
    }

    std::size_t onHeader(const char* data, std::size_t size) {
        lastByte_ = Clock::now();
        if (phase_ != Phase::Head)
            return size; // trailers and the like
        switch (collector_.addLine(std::string_view(data, size))) {
        case HeaderCollector::Result::More:
            return size;
        case HeaderCollector::Result::TooLarge:
        case HeaderCollector::Result::Invalid:
            abortError_ = ERROR_FILEFORM;
            return 0;
        case HeaderCollector::Result::Complete:
            break;
        }
        const ResponseHead& head = collector_.head();
        if (head.status >= 100 && head.status < 200)
            return size; // an interim reply; the real one follows
        if (head.isRedirect())
            return size; // libcurl follows it (at most 5 times)
        if (head.status < 200 || head.status > 299) {
            abortError_ = ERROR_FILEOPEN;
            return 0;
        }
        {
            std::lock_guard lock(tagMutex_);
            head_ = head;
        }
        char* effective = nullptr;
        curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &effective);
        {
            std::lock_guard lock(openMutex_);
            effectiveUrl_ = effective ? effective : url_;
        }
        playlistKind_ = config_.followPlaylists ? playlistKindFor(effectiveUrl_, head.contentType())
                                                : PlaylistKind::None;
        phase_ = playlistKind_ != PlaylistKind::None ? Phase::Playlist : Phase::Sniff;
        if (phase_ == Phase::Sniff && codecForContentType(head.contentType()) != Codec::Mp3) {
            // FFmpeg will be needed: load it while the server gets the body
            // going (Icecast takes a good tenth of a second for that).
            preload_.start([] { ffmpegFormats(); });
        }
        return size;
    }

    std::size_t onBody(const std::uint8_t* data, std::size_t size) {
        if (stop_)
            return 0;
        switch (phase_) {
        case Phase::Head:
            // A body before any head (HTTP/0.9): not a stream server.
            abortError_ = ERROR_FILEFORM;
            return 0;
        case Phase::Playlist: {
            countBytes(size);
            std::lock_guard lock(openMutex_);
            if (playlistBody_.size() + size > kMaxPlaylistBytes) {
                abortError_ = ERROR_FILEFORM;
                return 0;
            }
            playlistBody_.append(reinterpret_cast<const char*>(data), size);
            return size;
        }
        case Phase::Sniff: {
            countBytes(size);
            sniff_.insert(sniff_.end(), data, data + size);
            if (sniff_.size() < kSniffBytes)
                return size;
            decideFromSniff();
            return stop_ ? 0 : size;
        }
        case Phase::Audio:
            break;
        case Phase::Done:
            return 0;
        }
        // Bytes left over from the last chunk go first; while they do not
        // fit, libcurl holds this chunk back (and reads no more from the
        // socket), which is what bounds the download.
        if (!flushSpill()) {
            paused_ = true;
            armWake();
            return CURL_WRITEFUNC_PAUSE;
        }
        countBytes(size);
        demux_->feed(data, size, *this);
        return size;
    }

    void countBytes(std::size_t size) {
        lastByte_ = Clock::now();
        windowBytes_ += size;
    }

    // The first body bytes have come: a playlist in disguise, or audio.
    void decideFromSniff() {
        const std::string_view first(reinterpret_cast<const char*>(sniff_.data()), sniff_.size());
        const bool icyMeta = head_.metaint().has_value();
        const PlaylistKind kind =
            config_.followPlaylists && !icyMeta ? sniffPlaylist(first) : PlaylistKind::None;
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

    void startAudio() {
        phase_ = Phase::Audio;
        const int kbps = head_.bitrateKbps() > 0 ? head_.bitrateKbps() : kDefaultKbps;
        kbps_ = kbps;
        const std::size_t capacity = std::clamp<std::size_t>(
            static_cast<std::size_t>(config_.bufferMs) * static_cast<std::size_t>(kbps) / 8,
            32 * 1024, 4 * 1024 * 1024);
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
        demux_ = std::make_unique<IcyDemuxer>(head_.metaint().value_or(0));
        {
            std::lock_guard lock(tagMutex_);
            tagBlock_ = head_.tagBlock();
        }
        if (proc_ && (flags_ & STREAM_STATUS) && !stop_)
            proc_(tagBlock_.data(), 0, user_);
        const Codec codec = codecForContentType(head_.contentType());
        auto self = shared_from_this();
        decoder_.start([self, codec] { self->decodeLoop(codec); });
    }

    // IcyDemuxer::Sink, on the transport thread. One chunk of the download
    // may hold several pieces of audio and titles; freeing can begin between
    // any two of them, and then no callback follows.
    void audio(const std::uint8_t* data, std::size_t size) override {
        if (stop_)
            return;
        if (proc_)
            proc_(data, static_cast<DWORD>(size), user_);
        std::size_t taken = 0;
        if (spill_.empty())
            taken = ring_->write(data, size);
        if (taken < size)
            spill_.insert(spill_.end(), data + taken, data + size);
    }

    void metadata(const std::string& text) override {
        std::vector<Sync> syncs;
        {
            std::lock_guard lock(tagMutex_);
            if (!metas_.empty() && metas_.back() == text)
                return;
            // Earlier texts stay readable for a while: a caller may still hold them.
            metas_.push_back(text);
            if (metas_.size() > 4)
                metas_.pop_front();
            syncs = syncs_;
        }
        for (const Sync& s : syncs) {
            if (stop_)
                return;
            s.proc(s.sync, handle.load(), 0, s.user);
        }
    }

    bool flushSpill() {
        if (spill_.empty())
            return true;
        const std::size_t n = ring_->write(spill_.data(), spill_.size());
        spill_.erase(spill_.begin(), spill_.begin() + static_cast<std::ptrdiff_t>(n));
        return spill_.empty();
    }

    void armWake() {
        // Wake the transport when a quarter of the buffer is free (or the
        // leftover fits): fewer, larger refills.
        const std::size_t want = std::max(spill_.size(), ring_->capacity() / 4);
        spaceFreed_ = false;
        CURLM* multi = multi_;
        std::weak_ptr<StreamImpl> weak = weak_from_this();
        ring_->notifyWhenFree(want, [this, multi, weak] {
            if (auto self = weak.lock()) {
                spaceFreed_ = true;
                curl_multi_wakeup(multi);
            }
        });
    }

    void transportLoop() {
        const auto started = Clock::now();
        lastByte_ = started;
        windowStart_ = started;
        int error = ERROR_OK;
        bool finishedOk = false;
        while (!stop_) {
            if (paused_ && spaceFreed_) {
                if (flushSpill()) {
                    paused_ = false;
                    curl_easy_pause(easy_, CURLPAUSE_CONT);
                } else {
                    armWake();
                }
            }
            int running = 0;
            const CURLMcode mc = curl_multi_perform(multi_, &running);
            if (mc != CURLM_OK) {
                error = ERROR_UNKNOWN;
                break;
            }
            int queued = 0;
            bool done = false;
            while (CURLMsg* msg = curl_multi_info_read(multi_, &queued)) {
                if (msg->msg != CURLMSG_DONE)
                    continue;
                done = true;
                const CURLcode rc = msg->data.result;
                if (rc == CURLE_OK) {
                    finishedOk = true;
                } else {
                    error = abortError_ ? abortError_ : errorFor(rc);
                }
            }
            if (done)
                break;
            const auto now = Clock::now();
            if (timedOut(now, started)) {
                error = ERROR_TIMEOUT;
                break;
            }
            // The time-outs are counted in seconds: no need to wake more often.
            int waitMs = paused_ ? 1000 : 500;
            long curlWait = -1;
            curl_multi_timeout(multi_, &curlWait);
            if (curlWait >= 0 && curlWait < waitMs)
                waitMs = static_cast<int>(curlWait);
            curl_multi_poll(multi_, nullptr, 0, waitMs, nullptr);
        }
        endTransport(finishedOk, error);
    }

    // The read time-out: nothing for that long, or far less than the stream
    // needs over that long, while the engine wants data. Before the head is
    // complete the connect time-out is added.
    bool timedOut(Clock::time_point now, Clock::time_point started) {
        const bool waitingForRoom = paused_ || !spill_.empty();
        const auto silence = std::chrono::milliseconds(config_.readTimeoutMs);
        if (phase_ == Phase::Head) {
            const auto headLimit =
                std::chrono::milliseconds(config_.connectTimeoutMs) + readLimit();
            return now - started > headLimit;
        }
        if (config_.readTimeoutMs <= 0)
            return false;
        if (waitingForRoom) {
            lastByte_ = now;
            windowStart_ = now;
            windowBytes_ = 0;
            return false;
        }
        if (now - lastByte_ > silence)
            return true;
        if (phase_ == Phase::Audio && now - windowStart_ >= silence) {
            const int kbps = decoderKbps_ > 0 ? decoderKbps_.load() : kbps_;
            const double seconds = std::chrono::duration<double>(now - windowStart_).count();
            const double minimum = kbps * 1000.0 / 8.0 / kMinRateDivisor * seconds;
            if (static_cast<double>(windowBytes_) < minimum)
                return true;
            windowStart_ = now;
            windowBytes_ = 0;
        }
        return false;
    }

    static int errorFor(CURLcode rc) {
        switch (rc) {
        case CURLE_OPERATION_TIMEDOUT:
            return ERROR_TIMEOUT;
        case CURLE_UNSUPPORTED_PROTOCOL:
            return ERROR_PROTOCOL;
        case CURLE_OUT_OF_MEMORY:
            return ERROR_MEM;
        case CURLE_TOO_MANY_REDIRECTS:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
        case CURLE_URL_MALFORMAT:
        case CURLE_HTTP_RETURNED_ERROR:
        default:
            return ERROR_FILEOPEN;
        }
    }

    void endTransport(bool finishedOk, int error) {
        if (phase_ == Phase::Sniff && finishedOk && !sniff_.empty() && !stop_) {
            // A body shorter than the sniffing window.
            decideFromSniff();
        }
        const Phase phase = phase_;
        phase_ = Phase::Done;
        downloadEnded_ = true;
        if (phase == Phase::Audio) {
            // What is left over still belongs to the stream.
            if (!spill_.empty() && !stop_)
                ring_->writeAll(spill_.data(), spill_.size());
            spill_.clear();
            ring_->finish();
            // The end of the download is told, unless the stream is being
            // freed: no callback comes once freeing has begun.
            if (proc_ && !stop_)
                proc_(nullptr, 0, user_);
        } else if (phase == Phase::Playlist && finishedOk) {
            setOpen(OpenState::Playlist, ERROR_OK);
        } else if (phase == Phase::Playlist && error == ERROR_OK) {
            setOpen(OpenState::Failed, ERROR_FILEFORM);
        } else {
            setOpen(OpenState::Failed, error != ERROR_OK ? error : ERROR_FILEFORM);
        }
        downloadError_ = error;
    }

    // ------------------------------------------------------------ decoding thread

    void decodeLoop(Codec codec) {
        auto decoder = makeDecoder(
            codec, *ring_,
            [this](const std::int16_t* frames, std::size_t count) {
                return pcm_->writeAll(reinterpret_cast<const std::uint8_t*>(frames), count * 4);
            },
            stop_);
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
        decoderKbps_ = decoder->bitrateKbps();
        setOpen(OpenState::Audio, ERROR_OK);
        while (!stop_ && decoder->decode()) {
        }
        decodeEnded_ = true;
        pcm_->finish();
    }

    // Fixed at creation.
    const std::string url_;
    const NetConfig config_;
    const DWORD flags_;
    const DOWNLOADPROC proc_;
    void* const user_;

    // libcurl handles: made before the transport thread starts, used only by
    // it (curl_multi_wakeup excepted), freed after it has ended.
    CURL* easy_ = nullptr;
    CURLM* multi_ = nullptr;
    curl_slist* aliases_ = nullptr;
    curl_slist* requestHeaders_ = nullptr;

    std::atomic<bool> stop_{false};
    BoundedThread transport_;
    BoundedThread decoder_;
    BoundedThread preload_; // loads FFmpeg ahead of the decoder

    // Transport thread only.
    Phase phase_ = Phase::Head;
    HeaderCollector collector_;
    std::vector<std::uint8_t> sniff_;
    std::vector<std::uint8_t> spill_;
    std::unique_ptr<IcyDemuxer> demux_;
    PlaylistKind playlistKind_ = PlaylistKind::None;
    int abortError_ = ERROR_OK;
    bool paused_ = false;
    int kbps_ = kDefaultKbps;
    Clock::time_point lastByte_;
    Clock::time_point windowStart_;
    std::uint64_t windowBytes_ = 0;
    int downloadError_ = ERROR_OK;

    // Set by the transport thread (under ringMutex_, which shutdown takes)
    // before the opening succeeds; read-only afterwards. The rings
    // themselves are thread-safe.
    std::mutex ringMutex_;
    std::unique_ptr<ByteRing> ring_;
    std::unique_ptr<ByteRing> pcm_;
    std::atomic<bool> spaceFreed_{false};
    std::atomic<bool> downloadEnded_{false};
    std::atomic<bool> decodeEnded_{false};
    std::atomic<int> decoderKbps_{0};

    // Guarded by tagMutex_.
    std::mutex tagMutex_;
    ResponseHead head_;
    std::string tagBlock_;
    std::deque<std::string> metas_;
    std::vector<Sync> syncs_;

    // Guarded by openMutex_.
    std::mutex openMutex_;
    std::condition_variable openCv_;
    OpenState openState_ = OpenState::Pending;
    int openError_ = ERROR_OK;
    std::string playlistBody_;
    std::string effectiveUrl_;
};

// ---------------------------------------------------------------- Stream

namespace {

struct OpenContext {
    const NetConfig& config;
    DWORD flags;
    DOWNLOADPROC proc;
    void* user;
    const std::atomic<bool>& cancel;
    std::set<std::string> visited;
    int tried = 0;
};

int openAt(const std::string& url, int depth, OpenContext& ctx, std::shared_ptr<StreamImpl>& out) {
    if (ctx.cancel)
        return ERROR_UNKNOWN;
    ctx.visited.insert(url);
    ++ctx.tried;
    auto impl = std::make_shared<StreamImpl>(url, ctx.config, ctx.flags, ctx.proc, ctx.user);
    int rc = impl->start();
    if (rc != ERROR_OK)
        return rc;
    int error = ERROR_OK;
    const auto state = impl->waitOpen(ctx.cancel, error);
    if (state == StreamImpl::OpenState::Audio) {
        impl->waitPrebuffer(ctx.cancel);
        out = std::move(impl);
        return ERROR_OK;
    }
    if (state == StreamImpl::OpenState::Failed) {
        impl->shutdown();
        return error != ERROR_OK ? error : ERROR_FILEOPEN;
    }
    // A playlist: its entries in turn, the first that opens wins.
    const std::string body = impl->playlistBody();
    const std::string base = impl->effectiveUrl();
    const PlaylistKind kind = impl->playlistKind();
    impl->shutdown();
    impl.reset();
    if (depth >= kMaxPlaylistDepth)
        return ERROR_FILEFORM;
    const auto entries = parsePlaylist(kind, body, base);
    if (entries.empty())
        return ERROR_FILEFORM;
    int last = ERROR_FILEFORM;
    for (const auto& entry : entries) {
        if (ctx.visited.count(entry))
            continue; // a playlist that names itself
        if (ctx.tried >= kMaxEntriesTried || ctx.cancel)
            break;
        last = openAt(entry, depth + 1, ctx, out);
        if (last == ERROR_OK)
            return ERROR_OK;
    }
    return last;
}

} // namespace

Stream::Stream() = default;

Stream::~Stream() {
    shutdown();
}

int Stream::open(const std::string& url, const NetConfig& config, DWORD flags, DOWNLOADPROC proc,
                 void* user, const std::atomic<bool>& cancel, std::shared_ptr<Stream>& out) {
    const std::string lower = asciiLower(url.substr(0, 8));
    if (!lower.starts_with("http://") && !lower.starts_with("https://"))
        return ERROR_FILEOPEN;
    OpenContext ctx{config, flags, proc, user, cancel, {}, 0};
    std::shared_ptr<StreamImpl> impl;
    const int rc = openAt(url, 0, ctx, impl);
    if (rc != ERROR_OK)
        return rc;
    std::shared_ptr<Stream> stream(new Stream());
    stream->impl_ = std::move(impl);
    out = std::move(stream);
    return ERROR_OK;
}

void Stream::setHandle(DWORD handle) {
    impl_->handle = handle;
}
DWORD Stream::handle() const {
    return impl_->handle;
}

void Stream::shutdown() {
    if (impl_)
        impl_->shutdown();
}

std::optional<QWORD> Stream::filePosition(DWORD mode, int& error) const {
    return impl_->filePosition(mode, error);
}

const char* Stream::tags(DWORD kind) {
    return impl_->tags(kind);
}

bool Stream::addSync(HSYNC sync, DWORD type, SYNCPROC proc, void* user) {
    if (type != SYNC_META || !proc)
        return false;
    impl_->addSync(sync, proc, user);
    return true;
}

std::size_t Stream::readPcm(std::int16_t* out, std::size_t frames) {
    return impl_->readPcm(out, frames);
}

bool Stream::drained() const {
    return impl_->drained();
}

} // namespace tolvane::engine
