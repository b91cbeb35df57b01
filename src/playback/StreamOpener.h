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

    // Starts a worker that opens `url`; earlier workers become stale.
    void open(const QString& url);
    // Makes every running worker stale without opening anything (stop).
    void supersede();
    // Closing: see above. shutdown() closes first when close() has not run,
    // then waits at most `timeoutMs` for the workers.
    void close();
    void shutdown(int timeoutMs = 5000);

    bool closing() const;
    // Workers that have not ended yet.
    int runningWorkers() const;
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
