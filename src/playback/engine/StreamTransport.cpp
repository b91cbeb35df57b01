// A stream's transport thread: libcurl's multi loop, the response head, the
// first body bytes, the ICY split into the download buffer, back-pressure
// and the time-outs. Limits on everything the server controls keep the
// thread and its memory bounded.

#include "StreamImpl.h"

#include "FfmpegApi.h"
#include "common/CurlGlobal.h"
#include "common/LaunchTrace.h"

#include <algorithm>

namespace tolvane::engine {

namespace {

// Bytes of body looked at before deciding between playlist and audio.
constexpr std::size_t kSniffBytes = 16;
// A stream must deliver at least this share of its bitrate over each
// read-time-out window while the engine wants data.
constexpr int kMinRateDivisor = 8;

} // namespace

void StreamImpl::setupEasy(CURL* e, const std::string& url) {
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(config_.connectTimeoutMs));
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_TCP_KEEPALIVE, 1L);
    if (!config_.agent.empty())
        curl_easy_setopt(e, CURLOPT_USERAGENT, config_.agent.c_str());
    if (config_.proxy)
        curl_easy_setopt(e, CURLOPT_PROXY, config_.proxy->c_str());
    // https is checked against the system's store unless told otherwise;
    // a server that does not prove who it is is refused.
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    if (config_.caFile) {
        curl_easy_setopt(e, CURLOPT_CAINFO, config_.caFile->c_str());
        curl_easy_setopt(e, CURLOPT_CAPATH, nullptr);
    }
}

int StreamImpl::start() {
    ensureCurlGlobalInit();
    easy_ = curl_easy_init();
    multi_ = curl_multi_init();
    if (!easy_ || !multi_)
        return ERROR_MEM;
    aliases_ = curl_slist_append(nullptr, "ICY 200 OK");
    requestHeaders_ = curl_slist_append(nullptr, "Icy-MetaData: 1");
    CURL* e = easy_;
    setupEasy(e, url_);
    curl_easy_setopt(e, CURLOPT_HTTP200ALIASES, aliases_);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, requestHeaders_);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &StreamImpl::headerThunk);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &StreamImpl::writeThunk);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    if (hls_) {
        // The first segment is fetched now; the playlist again later.
        lastNews_ = Clock::now();
        nextReload_ = lastNews_ + std::chrono::milliseconds(hls_->reloadDelayMs(true));
        if (auto first = hls_->next())
            startSegment(first->url);
    } else {
        curl_multi_add_handle(multi_, easy_);
    }
    auto self = shared_from_this();
    transport_.start([self] { self->transportLoop(); });
    return ERROR_OK;
}

std::size_t StreamImpl::onHeader(const char* data, std::size_t size) {
    lastByte_ = Clock::now();
    if (phase_ == Phase::Segment) {
        return onSegmentHeader(std::string_view(data, size)) ? size : 0;
    }
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
    playlistKind_ = config_.followPlaylists && !hls_
                        ? playlistKindFor(effectiveUrl_, head.contentType())
                        : PlaylistKind::None;
    phase_ = playlistKind_ != PlaylistKind::None ? Phase::Playlist : Phase::Sniff;
    if (phase_ == Phase::Sniff && needsFfmpegFormats(codecForContentType(head.contentType()),
                                                     head.metaint().value_or(0) > 0)) {
        // FFmpeg will be needed: load it while the server gets the body
        // going (Icecast takes a good tenth of a second for that).
        preload_.start([] { ffmpegFormats(); });
    }
    return size;
}

std::size_t StreamImpl::onBody(const std::uint8_t* data, std::size_t size) {
    if (stop_)
        return 0;
    TOLVANE_TRACE_ONCE("engine: first bytes from the station");
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
    case Phase::Segment:
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

void StreamImpl::countBytes(std::size_t size) {
    lastByte_ = Clock::now();
    windowBytes_ += size;
}

bool StreamImpl::flushSpill() {
    if (spill_.empty())
        return true;
    const std::size_t n = ring_->write(spill_.data(), spill_.size());
    spill_.erase(spill_.begin(), spill_.begin() + static_cast<std::ptrdiff_t>(n));
    return spill_.empty();
}

void StreamImpl::armWake() {
    // Wake the transport when a quarter of the buffer is free (or the
    // leftover fits): fewer, larger refills.
    // Never more than the limit, or a leftover larger than it would wait forever.
    const std::size_t limit = ring_->limit();
    const std::size_t want = std::min(std::max(spill_.size(), limit / 4), limit);
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

void StreamImpl::transportLoop() {
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
            const CURLcode rc = msg->data.result;
            if (msg->easy_handle == reloadEasy_) {
                reloadDone(rc);
                continue;
            }
            if (hls_) {
                // One segment ended; the stream goes on with the next.
                done = done || !segmentDone(rc, error);
                continue;
            }
            done = true;
            if (rc == CURLE_OK) {
                finishedOk = true;
            } else {
                error = abortError_ ? abortError_ : errorFor(rc);
            }
        }
        if (done)
            break;
        const auto now = Clock::now();
        if (hls_) {
            const HlsStep step = hlsStep(now, error);
            if (step != HlsStep::Go) {
                finishedOk = step == HlsStep::Finished;
                break;
            }
        }
        if (timedOut(now, started)) {
            error = ERROR_TIMEOUT;
            break;
        }
        // The time-outs are counted in seconds: no need to wake more often.
        int waitMs = paused_ ? 1000 : 500;
        if (hls_ && !reloading_ && hls_->live()) {
            const auto untilReload =
                std::chrono::duration_cast<std::chrono::milliseconds>(nextReload_ - now).count();
            waitMs = static_cast<int>(std::clamp<long long>(untilReload, 0, waitMs));
        }
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
bool StreamImpl::timedOut(Clock::time_point now, Clock::time_point started) {
    // Between two HLS segments nothing is due: the playlist's own pace
    // (hlsStep) bounds that wait.
    const bool waitingForRoom = paused_ || !spill_.empty() || (hls_ && !segmentActive_);
    const auto silence = std::chrono::milliseconds(config_.readTimeoutMs);
    if (phase_ == Phase::Head) {
        const auto headLimit = std::chrono::milliseconds(config_.connectTimeoutMs) + readLimit();
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
        const int kbps = measuredKbps_ > 0  ? measuredKbps_.load()
                         : decoderKbps_ > 0 ? decoderKbps_.load()
                                            : kbps_;
        const double seconds = std::chrono::duration<double>(now - windowStart_).count();
        const double minimum = kbps * 1000.0 / 8.0 / kMinRateDivisor * seconds;
        if (static_cast<double>(windowBytes_) < minimum)
            return true;
        windowStart_ = now;
        windowBytes_ = 0;
    }
    return false;
}

int StreamImpl::errorFor(CURLcode rc) {
    switch (rc) {
    case CURLE_OPERATION_TIMEDOUT:
        return ERROR_TIMEOUT;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return ERROR_PROTOCOL;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
        return ERROR_SSL;
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

void StreamImpl::endTransport(bool finishedOk, int error) {
    if (phase_ == Phase::Sniff && finishedOk && !sniff_.empty() && !stop_) {
        // A body shorter than the sniffing window.
        decideFromSniff();
    }
    // A later HLS segment's head that did not come is no matter now.
    const Phase phase = phase_ == Phase::Segment ? Phase::Audio : phase_;
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
}

} // namespace tolvane::engine
