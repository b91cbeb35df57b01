#pragma once
// One opened internet stream: its transport (download thread and byte
// buffer), its decoder (decoding thread and PCM buffer), its tags, syncs,
// level and encoders. Owned by the engine through shared pointers; the mixer
// holds one while a channel plays.
//
// A stream's states. Its transport thread moves through one phase after
// another (StreamImpl::Phase):
//
//   Phase     while                               next
//   Head      the response head comes in          Playlist: the type or the address says
//                                                   playlist; Sniff: any other 2xx head;
//                                                   Done: an error status, a bad or too
//                                                   large head, a time-out
//   Sniff     the first 16 body bytes come in     Playlist: they start a list; Audio
//   Playlist  the list's body is read whole       Done
//   Audio     audio goes to the download buffer   Done: the server closed, a time-out,
//             and the decoder                       or the stream is freed;
//                                                 Segment: HLS, the next segment is asked for
//   Segment   an HLS segment's head comes in      Audio: a 2xx head, or the segment failed
//                                                   and is skipped
//   Done      nothing more is downloaded          -
//
// An HLS stream fetches its media playlist's segments one after another
// (Head and Sniff for the first) and its live playlist again meanwhile
// (HlsTransport.cpp); it is Done when the playlist has ended and every
// segment came, when it stops bringing segments, or after three failed
// segments in a row.
//
// Its opening, which StreamCreateURL waits for (StreamImpl::OpenState):
//
//   Pending   -> Audio     the decoder has decoded the first audio
//             -> Playlist  a playlist body was read whole; the follower opens
//                          its entries (PlaylistFollower.cpp)
//             -> Failed    with an engine error code
//
// Freeing (shutdown) can come in any state: it raises the stop flag, after
// which no callback is made, and ends both threads.

#include "ByteHistory.h"
#include "Engine.h"
#include "Text.h"
#include "common/Version.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::engine {

class EncoderFeed;

// Network settings, copied when a stream is opened.
struct NetConfig {
    int connectTimeoutMs = 10000;
    // A stream that delivers nothing for this long ends (0 = never).
    int readTimeoutMs = 15000;
    // Length of the download buffer in milliseconds at the stream's bitrate.
    int bufferMs = 5000;
    // Percentage of the buffer filled before StreamCreateURL returns.
    int prebufPercent = 0;
    bool followPlaylists = false;
    // Unset: libcurl's default (environment); empty: no proxy.
    std::optional<std::string> proxy;
    // Unset: the system's certificate store; else the only trusted CAs.
    std::optional<std::string> caFile;
    std::string agent = std::string("Tolvane/") + TolvaneVersion;
    // The station's character set for its titles and header texts; empty:
    // the guess (UTF-8, else ISO-8859-1). Per stream, never engine-wide.
    TextDecoder decodeText;
};

class StreamImpl;

// A title coming into force inside a block the mixer reads: `frame` frames
// into it.
struct PcmCut {
    std::size_t frame;
    std::string title;
};

// A compressed frame of the station's own beginning inside a block the
// mixer reads: `frame` frames into it, at `byte` of the stream's audio.
struct FrameByte {
    std::size_t frame;
    std::uint64_t byte;
};

class ByteHistory;
enum class Codec;
namespace ogg {
class HeaderTracker;
}

class Stream {
public:
    // Opens `url` (following playlists and redirects); blocks until the audio
    // format is known or the opening failed. Returns an engine error code;
    // `out` is set on success. `cancel` aborts a pending opening.
    static int open(const std::string& url, const NetConfig& config, DWORD flags, DOWNLOADPROC proc,
                    void* user, const std::atomic<bool>& cancel, std::shared_ptr<Stream>& out);

    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    void setHandle(DWORD handle);

    // Stops every thread of the stream and its encoders. Bounded in time;
    // safe to call from one of the stream's own callbacks.
    void shutdown();

    // FILEPOS_* byte counts; nullopt with `error` set on failure.
    std::optional<QWORD> filePosition(DWORD mode, int& error) const;
    // A copy of the tag block or the title in force; nullopt when there is none.
    std::optional<std::string> tags(DWORD kind);
    // What the stream turned out to be (Engine.h); any thread.
    StreamInfo info() const;
    bool addSync(HSYNC sync, DWORD type, SYNCPROC proc, void* user);

    // Mixer side (output thread). Copies up to `frames` decoded frames;
    // returns the number copied. Never blocks. `ahead`: how long until the
    // first of them is heard, which times the titles in them.
    // The titles that begin in them go to `cuts` (when given).
    // The station's own frames that begin in them go to `starts`.
    std::size_t readPcm(std::int16_t* out, std::size_t frames, std::chrono::microseconds ahead,
                        std::vector<PcmCut>* cuts = nullptr,
                        std::vector<FrameByte>* starts = nullptr);
    // The station's own bytes (streams kept as they are, PartWriter.h), or
    // nullptr; and their codec.
    ByteHistory* history() const;
    Codec ownCodec() const;
    // An Ogg stream's headers by where each logical stream's audio begins,
    // or nullptr.
    const ogg::HeaderTracker* oggHeaders() const;
    // Mixer side, under encodersMutex: the byte where the frame heard last
    // began, and the one where the song being heard began.
    std::uint64_t heardByte = 0;
    std::uint64_t songByte = 0;
    // True once the download and decoding have ended and no audio is left.
    bool drained() const;
    // Whether decoded audio waits to be played.
    bool hasPcm() const;

    std::atomic<bool> playing{false};
    // Peak of the latest block mixed: left low 16 bits, right high 16.
    std::atomic<DWORD> level{0};

    // Encoders fed with this stream's audio (guarded by encodersMutex).
    std::mutex encodersMutex;
    std::vector<std::shared_ptr<EncoderFeed>> encoders;

    // The song being heard, as the mixer took it (CONFIG_SONG_BUFFER; guarded
    // by encodersMutex): blocks of PCM, the oldest dropped beyond the bounds.
    static constexpr std::size_t kSongBytes = std::size_t{64} * 1024 * 1024;
    static constexpr std::size_t kSongFrames = std::size_t{30} * 60 * 44100;
    std::deque<std::vector<std::int16_t>> song;
    std::size_t songFrames = 0;
    // Adds frames to the song (a new song when `fresh`); encodersMutex held.
    void keepSong(const std::int16_t* pcm, std::size_t frames, bool fresh);
    // The song kept in the station's own frames goes back at most as far.
    SongTimeBound songTime{kSongFrames};

private:
    Stream();
    std::shared_ptr<StreamImpl> impl_;
};

} // namespace tolvane::engine
