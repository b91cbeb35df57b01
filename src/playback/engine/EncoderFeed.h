#pragma once
// Feeds a stream's audio to an external encoder program on its standard
// input: a WAV header for 44100 Hz stereo 16-bit of unknown length, then the
// samples as they play. The program runs without a shell, in the current
// directory, with its output and error output discarded.
//
// push() runs on the output thread and never blocks: a bounded queue sits
// between it and a writer thread, and what does not fit is dropped and
// counted, so a slow or stuck encoder never stalls playback.
//
// Split into songs, the feed's audio is cut into parts: cut() (output
// thread) ends the part being written before the next frame pushed; the
// writer closes the program's input, waits for it to finish its file, and
// starts the program again for the next part, whose command line has its
// number for "%n".

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ByteHistory.h"
#include "Engine.h"
#include "PartWriter.h"

namespace tolvane::engine {

// Splits a command line into program and arguments on blanks; a part in
// double quotes may hold blanks. Pure.
std::vector<std::string> splitCommandLine(const std::string& cmdline);

// The 44-byte WAV header for 44100 Hz stereo 16-bit with unknown length.
std::vector<std::uint8_t> wavHeaderUnknownLength();

class EncoderFeed {
public:
    // Bytes the queue may hold (about three seconds of audio).
    static constexpr std::size_t kQueueLimit = std::size_t{3} * 44100 * 4;

    // Starts the program; returns an engine error code (0 = started). With
    // `songParts`, the first part is titled `firstTitle`.
    static int start(const std::string& cmdline, std::shared_ptr<EncoderFeed>& out,
                     bool songParts = false, const std::string& firstTitle = {});
    // The station's own audio instead: its bytes, as a stream of `codec`
    // brings them, into the file `path` ("%n" the part's number when split
    // into songs), made anew, in that codec's container (PartWriter.h).
    // ERROR_NOTAVAIL when `codec` is not kept as it is.
    static int startFile(const std::string& path, Codec codec, std::shared_ptr<EncoderFeed>& out,
                         bool songParts, const std::string& firstTitle);
    bool raw() const { return raw_; }
    Codec codec() const { return codec_; }
    // A file of the station's own audio: the stream's next byte to write
    // (output thread, under the stream's encoder lock). pushBytes queues
    // what `history` holds up to `upTo`; preloadBytes the song so far.
    std::uint64_t nextByte = 0;
    void pushBytes(const ByteHistory& history, std::uint64_t upTo);
    void preloadBytes(const ByteHistory& history, std::uint64_t from, std::uint64_t to);
    void preloadBytes(std::vector<std::uint8_t> bytes);
    ~EncoderFeed();

    // Queues audio for the encoder; drops it (counted) when the queue is full
    // or the program has gone. Never blocks for long.
    void push(const std::int16_t* frames, std::size_t count);
    // Queues audio that came before what push() brings (the song so far),
    // beyond the queue's limit. Before the first push().
    void preload(const std::int16_t* frames, std::size_t count);
    // Split into songs: the audio pushed from now on is the next part,
    // titled `title`. Never blocks; ignored otherwise.
    void cut(const std::string& title);
    bool splitsSongs() const { return songParts_; }
    // The parts whose program has finished, each once, in order (the last
    // one once the feed has stopped).
    std::vector<EncoderPart> takeParts();
    // Closes the program's input and waits for it to exit: at most
    // `drainMs` for the queue to empty, then `exitMs` for the program to end,
    // after which it is killed. Idempotent.
    void stop(int drainMs = 4000, int exitMs = 4000);

    bool active() const;
    std::uint64_t bytesIn() const;      // bytes written to the program (header included)
    std::uint64_t bytesQueued() const;  // bytes waiting in the queue
    std::uint64_t bytesDropped() const; // bytes dropped because the queue was full

    std::uint32_t handle = 0;

private:
    struct Item {
        std::vector<std::uint8_t> bytes;
        bool cut = false; // ends the part; `title` names the next one
        std::string title;
        bool backlog = false; // preloaded
    };

    EncoderFeed() = default;
    void writerLoop();
    // The next part: its program started and the WAV header queued first.
    bool nextPart(const std::string& title);
    bool nextFile(const std::string& title);

    std::string cmdline_; // or the file's path
    bool raw_ = false;
    Codec codec_{};
    // The part's file of the station's own audio: the writer thread's (and
    // stop()'s once the writer has ended).
    std::unique_ptr<PartWriter> file_;
    bool songParts_ = false;
    std::thread writer_;

    mutable std::mutex mutex_; // guards everything below
    pid_t pid_ = -1;           // changed by the writer between parts
    int fd_ = -1;
    int part_ = 1;
    bool partOpen_ = true; // a part's program or file is open
    std::string partTitle_;
    std::vector<EncoderPart> finished_;
    std::condition_variable changed_;
    std::deque<Item> queue_;
    std::size_t queued_ = 0;
    std::size_t backlog_ = 0; // preloaded bytes still queued
    std::uint64_t written_ = 0;
    std::uint64_t dropped_ = 0;
    bool closing_ = false; // no more input will come
    bool writerDone_ = false;
    bool broken_ = false; // the program stopped reading (pipe closed)
    bool stopped_ = false;
};

} // namespace tolvane::engine
