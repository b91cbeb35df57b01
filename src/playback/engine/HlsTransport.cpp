// HLS on a stream's transport thread: the media playlist's segments fetched
// one after another (on the same connection where the server keeps it) into
// the one download buffer, so the decoder sees one continuous stream; the
// live playlist fetched again at its own pace on a second handle; and the
// end of a stream whose playlist ended, or stopped bringing segments.

#include "StreamImpl.h"

#include "Text.h"

#include <algorithm>

namespace tolvane::engine {

namespace {

// Segments in a row that may fail (a live one can leave the server's window
// before it is fetched) before the stream ends.
constexpr int kMaxSegmentFailures = 3;
// A live playlist that brings nothing new for this many target durations
// (and at least the read time-out) has stopped.
constexpr int kStaleTargets = 3;

} // namespace

void StreamImpl::setHls(const HlsMediaPlaylist& playlist) {
    hls_ = std::make_unique<HlsQueue>(playlist);
}

void StreamImpl::startSegment(const std::string& url) {
    segmentUrl_ = url;
    curl_easy_setopt(easy_, CURLOPT_URL, segmentUrl_.c_str());
    if (phase_ == Phase::Audio)
        phase_ = Phase::Segment;
    abortError_ = ERROR_OK;
    curl_multi_add_handle(multi_, easy_);
    segmentActive_ = true;
    const auto now = Clock::now();
    lastByte_ = now;
    windowStart_ = now;
    windowBytes_ = 0;
}

bool StreamImpl::onSegmentHeader(std::string_view line) {
    switch (collector_.addLine(line)) {
    case HeaderCollector::Result::More:
        return true;
    case HeaderCollector::Result::TooLarge:
    case HeaderCollector::Result::Invalid:
        abortError_ = ERROR_FILEFORM;
        return false;
    case HeaderCollector::Result::Complete:
        break;
    }
    const ResponseHead& head = collector_.head();
    if ((head.status >= 100 && head.status < 200) || head.isRedirect())
        return true; // the real answer follows
    if (head.status < 200 || head.status > 299) {
        abortError_ = ERROR_FILEOPEN;
        return false;
    }
    phase_ = Phase::Audio;
    return true;
}

bool StreamImpl::segmentDone(CURLcode rc, int& error) {
    curl_multi_remove_handle(multi_, easy_);
    segmentActive_ = false;
    if (phase_ == Phase::Segment)
        phase_ = Phase::Audio; // its head never came whole
    if (rc == CURLE_OK) {
        segmentFailures_ = 0;
        return true;
    }
    error = abortError_ ? abortError_ : errorFor(rc);
    if (++segmentFailures_ >= kMaxSegmentFailures)
        return false;
    // Skipped; the next one is fetched afresh.
    if (phase_ == Phase::Head)
        collector_ = HeaderCollector{config_.decodeText};
    return true;
}

StreamImpl::HlsStep StreamImpl::hlsStep(Clock::time_point now, int& error) {
    if (!segmentActive_) {
        if (auto next = hls_->next())
            startSegment(next->url);
        else if (hls_->finished())
            return HlsStep::Finished;
    }
    if (hls_->live() && !reloading_ && now >= nextReload_)
        startReload();
    const auto stale = std::max<std::chrono::milliseconds>(
        readLimit(), std::chrono::milliseconds(static_cast<long long>(
                         kStaleTargets * std::max(hls_->targetSeconds(), 1.0) * 1000)));
    if (!segmentActive_ && hls_->empty() && hls_->live() && now - lastNews_ > stale) {
        error = ERROR_TIMEOUT;
        return HlsStep::Failed;
    }
    return HlsStep::Go;
}

void StreamImpl::startReload() {
    if (!reloadEasy_) {
        reloadEasy_ = curl_easy_init();
        if (!reloadEasy_) {
            nextReload_ = Clock::now() + std::chrono::milliseconds(hls_->reloadDelayMs(false));
            return;
        }
        setupEasy(reloadEasy_, url_);
        curl_easy_setopt(reloadEasy_, CURLOPT_FAILONERROR, 1L);
        curl_easy_setopt(reloadEasy_, CURLOPT_WRITEFUNCTION, &StreamImpl::reloadThunk);
        curl_easy_setopt(reloadEasy_, CURLOPT_WRITEDATA, this);
    }
    reloadBody_.clear();
    curl_multi_add_handle(multi_, reloadEasy_);
    reloading_ = true;
}

std::size_t StreamImpl::onReloadBody(const char* data, std::size_t size) {
    if (stop_ || reloadBody_.size() + size > kMaxPlaylistBytes)
        return 0;
    reloadBody_.append(data, size);
    return size;
}

void StreamImpl::reloadDone(CURLcode rc) {
    curl_multi_remove_handle(multi_, reloadEasy_);
    reloading_ = false;
    bool changed = false;
    if (rc == CURLE_OK) {
        char* effective = nullptr;
        curl_easy_getinfo(reloadEasy_, CURLINFO_EFFECTIVE_URL, &effective);
        if (auto playlist = parseHlsMedia(reloadBody_, effective ? effective : url_))
            changed = hls_->update(*playlist);
    }
    const auto now = Clock::now();
    if (changed)
        lastNews_ = now;
    nextReload_ = now + std::chrono::milliseconds(hls_->reloadDelayMs(changed));
}

// Segment servers often say no more than application/octet-stream: then the
// address's extension tells, or the MPEG-TS sync byte.
Codec StreamImpl::hlsCodec(Codec fromType) const {
    if (fromType != Codec::Probe)
        return fromType;
    std::string_view path = segmentUrl_;
    path = path.substr(0, path.find_first_of("?#"));
    const std::string lower =
        asciiLower(path.substr(path.size() - std::min<std::size_t>(path.size(), 5)));
    if (lower.ends_with(".aac"))
        return Codec::Aac;
    if (lower.ends_with(".ts"))
        return Codec::Ts;
    if (lower.ends_with(".mp4") || lower.ends_with(".m4s") || lower.ends_with(".m4a"))
        return Codec::Mp4;
    if (lower.ends_with(".mp3"))
        return Codec::Mp3;
    if (!sniff_.empty() && sniff_.front() == 0x47)
        return Codec::Ts;
    return Codec::Probe;
}

} // namespace tolvane::engine
