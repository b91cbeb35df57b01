#pragma once
// Opens the stations' streams: one worker thread per opening, which frees
// the previous stream, connects, buffers while reporting its progress,
// reports the station's name and bitrate, reads the first title and starts
// playback. The engine's download and metadata callbacks report through the
// same path.
//
// Threads. open(), supersede(), close() and shutdown() run on the user-interface
// thread (the thread of `window`). Workers and engine callbacks never touch
// a window: every window action is a call of one of the WindowActions,
// posted to the user-interface thread while the worker waits for it.
//
// Generations. Every open() and supersede() starts a new generation; a
// worker or callback of an older one is stale and stops acting: it reports
// nothing more, never writes the current stream, never pauses or resumes the
// output, and frees the stream it opened itself. So of many quick openings
// only the last one plays.
//
// Reconnecting. An opening made with `reconnect` keeps its worker after
// playback has started: it watches the stream, and when the download ends
// (the server closed, the engine's read time-out) or stalls (no byte for
// ReconnectTiming::stall while nothing is left to play), it opens the same
// address again after a growing delay, at once when the connection test
// turns true again after having been false. Meanwhile the window hears
// status 9 with the attempt; once the new stream is buffered, status 10,
// the station's headers and title, and WindowActions::streamReplaced, and
// only then is the old stream freed and the new one played. Without
// `reconnect` the worker watches only for the end: when the stream has
// ended and played out, status 11 ("not playing").
//
// Shutdown. close() raises the closing flag: waiting workers and callbacks
// return at once, without their window action, and nothing touches the
// engine's streams any more. The engine's owner then frees the engine, which
// ends the connections under way, and shutdown() joins the workers with a
// bound. A worker still inside the engine after that is left to finish
// alone: the engine keeps its state alive for it.

#include "playback/engine/Engine.h"

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace tolvane::playback {

// The window actions a worker needs, each run on the user-interface thread.
struct WindowActions {
    // The connection test.
    std::function<bool()> isConnected;
    // "No internet connection!"
    std::function<void()> noConnection;
    // Invokes one of the window's hidden commands ("Button12", "Button11").
    std::function<void(const QString& command)> invoke;
    // The status message: code with a number (1, 2) or a text (3, 4, 7, 8).
    std::function<void(int code, qint64 number, const QString& text)> status;
    // The Add-station dialog's bitrate field.
    std::function<void(const QString& text)> dialogBitrate;
    // The stream plays (after ChannelPlay): the window may look at what it
    // turned out to be. Optional.
    std::function<void(engine::HSTREAM handle)> playing;
    // A reconnect replaced stream `from` (still alive) by `to`, which is the
    // current stream now and plays right after this; nothing was played
    // for `silentMs` milliseconds before. The window moves or files a
    // recording of `from` here.
    std::function<void(std::uint32_t from, std::uint32_t to, qint64 silentMs)> streamReplaced;
};

// Status codes beyond the opening's own (0 to 8).
inline constexpr int StatusReconnecting = 9; // number: the attempt, from 1
inline constexpr int StatusReconnected = 10;
inline constexpr int StatusEnded = 11; // the stream ended and played out

// The reconnect's pace; tests shorten it.
struct ReconnectTiming {
    int firstDelayMs = 1000; // before the first attempt; doubled after each failure
    int maxDelayMs = 60000;
    int stallMs = 10000;       // no byte for this long, nothing to play: stalled
    int watchMs = 250;         // how often a playing stream is looked at
    int networkCheckMs = 1000; // how often the connection test runs while waiting
};

class StreamOpener {
public:
    // `currentStream` is the window's CurrentStream: written here by the
    // worker of the newest opening, read by the window.
    StreamOpener(engine::Engine& engine, std::atomic<std::uint32_t>& currentStream, QObject* window,
                 WindowActions actions);
    // Shuts down when shutdown() has not run.
    ~StreamOpener();
    StreamOpener(const StreamOpener&) = delete;
    StreamOpener& operator=(const StreamOpener&) = delete;

    // Starts a worker that opens `url`; earlier workers become stale. With
    // `reconnect` the stream is opened again when it drops (above). The
    // station's `charset` (empty or unknown: the guess) decodes its titles
    // and header texts. With `connectEarly` the connection is made at once,
    // beside the worker's first window steps (the connection test, the
    // clock's reset, "connecting..."), rather than after them; what the
    // window is told, and in which order, stays the same, and a failed
    // connection test drops the connection unheard. For an opening while
    // nothing plays: the previous stream is freed only at its step.
    void open(const QString& url, bool reconnect = false, const QString& charset = QString(),
              bool connectEarly = false);
    // For the openings that follow.
    void setReconnectTiming(const ReconnectTiming& timing);
    // Makes every running worker stale without opening anything (stop).
    void supersede();
    // Closing: see above. shutdown() closes first when close() has not run,
    // then waits at most `timeoutMs` for the workers.
    void close();
    void shutdown(int timeoutMs = 5000);

    bool closing() const;
    // Workers still opening (not those watching a playing stream).
    int runningWorkers() const;
    // Workers watching a playing stream (reconnecting included).
    int watchingWorkers() const;
    // Every stream handle a worker opened, in order (freed ones included).
    QList<std::uint32_t> openedStreams() const;

    struct Shared;

private:
    void reapFinishedWorkers();

    std::shared_ptr<Shared> shared_;
    struct Worker;
    std::vector<std::unique_ptr<Worker>> workers_;
    bool shutDown_ = false;
};

} // namespace tolvane::playback
