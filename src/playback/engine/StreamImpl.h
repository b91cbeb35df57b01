#pragma once
// Inside one stream: the state its transport thread, its decoding thread and
// the engine's calls share. The transport is in StreamTransport.cpp (its HLS
// part in HlsTransport.cpp), the opening and decoding in Stream.cpp, the
// playlist follower in PlaylistFollower.cpp. The states are tabled in
// Stream.h.

#include "ByteHistory.h"
#include "ByteRing.h"
#include "Decoder.h"
#include "Hls.h"
#include "HttpHead.h"
#include "IcyDemuxer.h"
#include "OggPages.h"
#include "Playlist.h"
#include "Stream.h"

#include <curl/curl.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <thread>

namespace tolvane::engine {

using Clock = std::chrono::steady_clock;

// The bitrate assumed for a stream that does not say (kbit/s).
inline constexpr int kDefaultKbps = 128;

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

class StreamImpl : public IcyDemuxer::Sink, public std::enable_shared_from_this<StreamImpl> {
public:
    enum class OpenState { Pending, Audio, Playlist, Failed };

    StreamImpl(std::string url, const NetConfig& config, DWORD flags, DOWNLOADPROC proc, void* user)
        : url_(std::move(url)), config_(config), flags_(flags), proc_(proc), user_(user),
          collector_(config.decodeText) {}

    ~StreamImpl() override;

    // ------------------------------------------------------------ opening

    // Makes this an HLS stream: instead of one endless body, the segments
    // of the media playlist at `url` are fetched one after another into the
    // same buffer, and the playlist is fetched again while it is live.
    // Before start().
    void setHls(const HlsMediaPlaylist& playlist);

    int start();

    // Waits for the outcome of the opening. Bounded: the transport ends by
    // itself within its time-outs, and the whole opening has a deadline.
    OpenState waitOpen(const std::atomic<bool>& cancel, int& error);

    // With a pre-buffer percentage set, waits until the buffer holds that
    // much or the download has ended.
    void waitPrebuffer(const std::atomic<bool>& cancel);

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

    void shutdown();

    // ------------------------------------------------------------ queries

    std::optional<QWORD> filePosition(DWORD mode, int& error) const;

    // A copy of the tag block or the title in force, taken under the lock.
    std::optional<std::string> tags(DWORD kind);

    // What the stream turned out to be; any thread.
    StreamInfo info();

    void addSync(HSYNC sync, SYNCPROC proc, void* user) {
        std::lock_guard lock(tagMutex_);
        syncs_.push_back({sync, proc, user});
    }

    // Mixer side: `ahead` is how long until the first frame read is heard.
    std::size_t readPcm(std::int16_t* out, std::size_t frames, std::chrono::microseconds ahead,
                        std::vector<PcmCut>* cuts, std::vector<FrameByte>* starts);

    bool drained() const { return decodeEnded_ && (!pcm_ || pcm_->fill() == 0); }
    // The station's own bytes, for a stream whose frames can be kept as
    // they are (MP3); nullptr otherwise. Set before the opening succeeds.
    ByteHistory* history() const { return history_.get(); }
    Codec ownCodec() const { return ownCodec_; }
    // An Ogg stream's headers, kept with its bytes; nullptr otherwise.
    const ogg::HeaderTracker* oggHeaders() const { return oggHeaders_.get(); }
    bool hasPcm() const { return pcm_ && pcm_->fill() > 0; }

    std::atomic<DWORD> handle{0};

private:
    struct Sync {
        HSYNC sync;
        SYNCPROC proc;
        void* user;
    };
    enum class Phase { Head, Sniff, Playlist, Audio, Segment, Done };
    enum class HlsStep { Go, Finished, Failed };

    void setOpen(OpenState state, int error);

    // ------------------------------------------------------------ transport thread

    static std::size_t headerThunk(char* data, std::size_t size, std::size_t n, void* self) {
        return static_cast<StreamImpl*>(self)->onHeader(data, size * n);
    }
    static std::size_t writeThunk(char* data, std::size_t size, std::size_t n, void* self) {
        return static_cast<StreamImpl*>(self)->onBody(reinterpret_cast<std::uint8_t*>(data),
                                                      size * n);
    }
    static std::size_t reloadThunk(char* data, std::size_t size, std::size_t n, void* self) {
        return static_cast<StreamImpl*>(self)->onReloadBody(data, size * n);
    }

    // The options every request of this stream shares.
    void setupEasy(CURL* easy, const std::string& url);

    std::size_t onHeader(const char* data, std::size_t size);

    std::size_t onBody(const std::uint8_t* data, std::size_t size);

    void countBytes(std::size_t size);

    // The first body bytes have come: a playlist in disguise, or audio.
    void decideFromSniff();

    void startAudio();

    // IcyDemuxer::Sink, on the transport thread. One chunk of the download
    // may hold several pieces of audio and titles; freeing can begin between
    // any two of them, and then no callback follows.
    void audio(const std::uint8_t* data, std::size_t size) override;

    void metadata(const std::string& text) override;

    bool flushSpill();

    void armWake();

    void transportLoop();

    // The read time-out: nothing for that long, or far less than the stream
    // needs over that long, while the engine wants data. Before the head is
    // complete the connect time-out is added.
    bool timedOut(Clock::time_point now, Clock::time_point started);

    static int errorFor(CURLcode rc);

    // HLS (HlsTransport.cpp), on the transport thread.
    void startSegment(const std::string& url);
    // A segment's transfer ended; false when the stream ends with `error`.
    bool segmentDone(CURLcode rc, int& error);
    HlsStep hlsStep(Clock::time_point now, int& error);
    void startReload();
    void reloadDone(CURLcode rc);
    std::size_t onReloadBody(const char* data, std::size_t size);
    // A later segment's head, line by line; false to refuse the segment.
    bool onSegmentHeader(std::string_view line);
    Codec hlsCodec(Codec fromType) const;

    void endTransport(bool finishedOk, int error);

    // ------------------------------------------------------------ decoding thread

    void decodeLoop(Codec codec, bool icyTitles);
    void byteRate(double bytesPerSecond);
    void streamTitle(const std::string& title);

    // ------------------------------------------------------------ titles in time
    //
    // A title comes into force when the audio that follows it is heard. An
    // ICY title is marked at the audio byte it precedes (transport thread);
    // the decoder says where each frame's input began, which turns the mark
    // into the first PCM frame after it (decoding thread); a title from the
    // stream's own tags is marked at the PCM frame decoded next. The mixer
    // turns a PCM mark into the moment its frame is heard (output thread),
    // and the title thread brings it into force then and calls the syncs.
    // The stream's first title is in force at once: it names what starts
    // playing.

    void queueTitle(const std::string& text, std::uint64_t at, bool atByte);
    void decodedFrom(std::uint64_t inputByte);
    void markHeard(std::uint64_t firstFrame, std::size_t frames, std::chrono::microseconds ahead,
                   std::vector<PcmCut>* cuts);
    void titleLoop();
    void bringIntoForce(const std::string& text);
    void callSyncs(const std::vector<Sync>& syncs);

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
    BoundedThread titles_;  // brings titles into force when heard
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

    // HLS: set by setHls, then the transport thread's only.
    std::unique_ptr<HlsQueue> hls_;
    std::string segmentUrl_;     // the segment being fetched
    bool segmentActive_ = false; // a segment's transfer is under way
    int segmentFailures_ = 0;    // in a row
    CURL* reloadEasy_ = nullptr; // the playlist's reloads
    std::string reloadBody_;
    bool reloading_ = false;
    Clock::time_point nextReload_;
    Clock::time_point lastNews_; // a reload last brought a segment

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
    std::atomic<int> measuredKbps_{0};   // the rate the decoder measured, 0 until then
    std::atomic<bool> tagTitles_{false}; // a title came from the stream's own tags

    // The decoder's findings: written on the decoding thread once it has
    // opened, read by info() on any thread. Guarded by formatMutex_.
    std::mutex formatMutex_;
    AudioFormat format_;

    // Guarded by tagMutex_.
    std::mutex tagMutex_;
    ResponseHead head_;
    std::string tagBlock_;
    std::string heard_; // the metadata text in force where the listener is
    bool anyTitle_ = false;
    std::vector<Sync> syncs_;

    // Titles on their way to the ear. Guarded by marksMutex_ (taken after
    // tagMutex_ where both are, never around a callback).
    struct Mark {
        std::uint64_t at; // audio byte (byteMarks_) or PCM frame (pcmMarks_)
        std::string text;
    };
    struct DueTitle {
        Clock::time_point at;
        std::string text;
    };
    std::mutex marksMutex_;
    std::condition_variable marksCv_;
    std::deque<Mark> byteMarks_;
    std::deque<Mark> pcmMarks_;
    std::deque<DueTitle> due_;
    std::string lastQueued_;
    std::atomic<bool> pcmMarksWaiting_{false}; // lets the mixer skip the lock
    // Where each decoded MP3 frame begins: its first PCM frame and its byte.
    struct Start {
        std::uint64_t frame;
        std::uint64_t byte;
    };
    std::deque<Start> frameStarts_;
    std::unique_ptr<ByteHistory> history_;
    Codec ownCodec_ = Codec::Probe;                  // the codec history_ holds the frames of
    std::unique_ptr<ogg::HeaderTracker> oggHeaders_; // fed on the transport thread
    std::uint64_t audioBytes_ = 0;                   // transport thread: audio bytes so far

    // Guarded by openMutex_.
    std::mutex openMutex_;
    std::condition_variable openCv_;
    OpenState openState_ = OpenState::Pending;
    int openError_ = ERROR_OK;
    std::string playlistBody_;
    std::string effectiveUrl_;
};

} // namespace tolvane::engine
