#include "StreamOpener.h"

#include "NowPlaying.h"
#include "PlayerControls.h"
#include "StreamOpenerShared.h"
#include "common/LaunchTrace.h"

#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>
#include <utility>

namespace tolvane::playback {

using engine::DWORD;
using engine::HSTREAM;
using namespace opener_detail;

namespace {

constexpr std::size_t MaxStatusLineBytes = 1024;
// Pause between two passes of the buffering loop when the fill has not
// moved, so that a slow server does not keep two threads spinning.
constexpr auto BufferingPause = std::chrono::milliseconds(10);

} // namespace

// --- Callback tokens ------------------------------------------------------

namespace {

struct CallbackTarget {
    std::weak_ptr<StreamOpener::Shared> shared;
    std::uint64_t generation = 0;
    DWORD handle = 0;
    std::shared_ptr<HeadGate> gate; // an early connection's, else null
};

std::mutex registryMutex;
std::map<std::uintptr_t, CallbackTarget> registry;
std::uintptr_t nextToken = 1;

void unregisterAll(const StreamOpener::Shared* shared) {
    std::lock_guard lock(registryMutex);
    std::erase_if(registry, [shared](const auto& entry) {
        auto s = entry.second.shared.lock();
        return !s || s.get() == shared;
    });
}

std::optional<CallbackTarget> findTarget(void* user) {
    std::lock_guard lock(registryMutex);
    auto it = registry.find(reinterpret_cast<std::uintptr_t>(user));
    if (it == registry.end())
        return std::nullopt;
    return it->second;
}

} // namespace

std::uintptr_t opener_detail::registerTarget(const std::shared_ptr<StreamOpener::Shared>& shared,
                                             std::uint64_t gen, std::shared_ptr<HeadGate> gate) {
    std::lock_guard lock(registryMutex);
    const std::uintptr_t token = nextToken++;
    registry.emplace(token, CallbackTarget{shared, gen, 0, std::move(gate)});
    return token;
}

void opener_detail::setTargetHandle(std::uintptr_t token, DWORD handle) {
    std::lock_guard lock(registryMutex);
    if (auto it = registry.find(token); it != registry.end())
        it->second.handle = handle;
}

void opener_detail::unregisterTarget(std::uintptr_t token) {
    std::lock_guard lock(registryMutex);
    registry.erase(token);
}

// The token travels through the engine as a callback's user value and comes
// back only as a key of the registry; it is never dereferenced.
void* opener_detail::tokenValue(std::uintptr_t token) {
    return reinterpret_cast<void*>(token); // NOLINT(performance-no-int-to-ptr)
}

// Download callback, on the stream's transport thread: the response head
// arrives with length 0; its first line, the status line, goes to the
// bitrate label (status 8).
void opener_detail::downloadProc(const void* buffer, DWORD length, void* user) {
    if (!buffer || length != 0)
        return;
    const std::optional<CallbackTarget> target = findTarget(user);
    if (!target)
        return;
    const std::shared_ptr<StreamOpener::Shared> shared = target->shared.lock();
    if (!shared)
        return;
    const char* text = static_cast<const char*>(buffer);
    const QString line = decodeTagText(
        QByteArrayView(text, static_cast<qsizetype>(strnlen(text, MaxStatusLineBytes))));
    if (target->gate) {
        std::lock_guard lock(target->gate->mutex);
        if (target->gate->state == HeadGate::Dropped)
            return;
        if (target->gate->state == HeadGate::Held) {
            target->gate->statusLine = line; // the worker reports it after "connecting..."
            return;
        }
    }
    shared->status(target->generation, 8, 0, line);
}

// Metadata callback, on an engine thread at each title change: the title
// read for the stream it was set on.
void opener_detail::metadataProc(engine::HSYNC, DWORD, DWORD, void* user) {
    const std::optional<CallbackTarget> target = findTarget(user);
    if (!target || target->handle == 0)
        return;
    if (const std::shared_ptr<StreamOpener::Shared> shared = target->shared.lock())
        shared->readTitle(target->generation, target->handle);
}

void StreamOpener::Shared::freeStream(DWORD handle) {
    std::uintptr_t token = 0;
    {
        std::lock_guard lock(mutex);
        if (closing)
            return;
        auto it = live.find(handle);
        if (it == live.end())
            return; // 0, or freed already
        token = it->second;
        live.erase(it);
    }
    // Outside the mutex: freeing waits for the stream's callbacks, which may
    // be waiting for the window.
    engine.StreamFree(handle);
    unregisterTarget(token);
}

namespace {

// An opening's connection made beside the worker's first steps: the engine's
// blocking StreamCreateURL on a thread of its own, joined by the worker.
struct EarlyConnection {
    std::shared_ptr<HeadGate> gate = std::make_shared<HeadGate>();
    std::uintptr_t token = 0;
    std::thread thread;
    HSTREAM handle = 0; // written by `thread`, read after the join
    int error = 0;

    bool start(engine::Engine& engine, const std::shared_ptr<StreamOpener::Shared>& shared,
               std::uint64_t gen, const QByteArray& url, const engine::TextDecoder& decodeText) {
        token = registerTarget(shared, gen, gate);
        try {
            thread = std::thread([this, &engine, url, decodeText] {
                TOLVANE_TRACE_ONCE("worker: connecting");
                handle = engine.StreamCreateURL(url.constData(), 0, engine::STREAM_STATUS,
                                                &downloadProc, tokenValue(token), decodeText);
                error = engine.ErrorGetCode();
            });
        } catch (const std::system_error&) {
            unregisterTarget(token); // no thread: the worker connects at its step
            token = 0;
            return false;
        }
        return true;
    }

    // The worker's first steps are done: the held status line, if the head
    // came already, is the worker's to report; later ones go straight on.
    std::optional<QString> release() {
        std::lock_guard lock(gate->mutex);
        gate->state = HeadGate::Open;
        return std::exchange(gate->statusLine, std::nullopt);
    }

    // The worker stops before its connection step: the connection goes
    // unheard and unused (not freed after closing: the engine is released
    // then, and the stream with it).
    void drop(StreamOpener::Shared& shared) {
        {
            std::lock_guard lock(gate->mutex);
            gate->state = HeadGate::Dropped;
        }
        thread.join();
        bool closing = false;
        {
            std::lock_guard lock(shared.mutex);
            closing = shared.closing;
        }
        if (handle && !closing)
            shared.engine.StreamFree(handle);
        unregisterTarget(token);
    }
};

} // namespace

// The worker procedure, one per opening.
void StreamOpener::Shared::work(std::uint64_t gen, const QByteArray& url,
                                const engine::TextDecoder& decodeText, bool reconnect,
                                bool connectEarly, ReconnectTiming timing, Tally& tally) {
    // 5, begun now when asked: the connection's round trips overlap the
    // window's handling of steps 1 to 4.
    std::optional<EarlyConnection> early;
    if (connectEarly) {
        early.emplace();
        if (!early->start(engine, shared_from_this(), gen, url, decodeText))
            early.reset();
    }
    struct DropUnlessUsed {
        std::optional<EarlyConnection>& early;
        Shared& shared;
        ~DropUnlessUsed() {
            if (early)
                early->drop(shared);
        }
    } dropUnlessUsed{early, *this};

    // 1. The connection test; without a connection the playing stream goes on.
    const std::optional<bool> connected = onWindow(gen, [this] { return actions.isConnected(); });
    if (!connected)
        return;
    if (!*connected) {
        onWindow(gen, [this] {
            actions.noConnection();
            return true;
        });
        return;
    }

    // 2. Free the stream opened last.
    {
        DWORD previous = 0;
        if (!whileCurrent(gen, [&] { previous = currentStream.exchange(0); }))
            return;
        freeStream(previous);
    }

    // 3, 4. Reset the clock, "connecting...".
    if (!invoke(gen, QStringLiteral("Button12")) || !status(gen, 0, 0))
        return;

    // 5. Connect; the call returns once connected or failed.
    std::uintptr_t token = 0;
    HSTREAM handle = 0;
    int error = 0;
    if (early) {
        if (const std::optional<QString> line = early->release(); line && !status(gen, 8, 0, *line))
            return;
        early->thread.join();
        token = early->token;
        handle = early->handle;
        error = early->error;
        early.reset();
    } else {
        TOLVANE_TRACE_ONCE("worker: connecting");
        token = registerTarget(shared_from_this(), gen);
        handle = engine.StreamCreateURL(url.constData(), 0, engine::STREAM_STATUS, &downloadProc,
                                        tokenValue(token), decodeText);
        error = engine.ErrorGetCode();
    }
    TOLVANE_TRACE_ONCE("worker: connected, head read");

    // 6. Not opened.
    if (handle == 0) {
        unregisterTarget(token);
        status(gen, 1, error);
        return;
    }
    setTargetHandle(token, handle);
    {
        std::unique_lock lock(mutex);
        if (closing) {
            // The engine has been released, and this stream with it.
            lock.unlock();
            unregisterTarget(token);
            return;
        }
        if (gen != generation) {
            // A newer opening started meanwhile: this stream is nobody's.
            lock.unlock();
            engine.StreamFree(handle);
            unregisterTarget(token);
            return;
        }
        currentStream.store(handle);
        live.emplace(handle, token);
        opened.append(handle);
    }
    if (!workOpened(gen, handle, token))
        return;
    beginWatching(tally);
    watch(gen, url, decodeText, handle, reconnect, timing);
}

bool StreamOpener::Shared::reportHeaders(std::uint64_t gen, HSTREAM handle) {
    std::optional<QList<QByteArray>> lines = headerLines(handle, engine::TAG_ICY);
    if (!lines)
        lines = headerLines(handle, engine::TAG_HTTP);
    for (const HeaderReport& report : headerWalk(lines.value_or(QList<QByteArray>()))) {
        bool reported = false;
        if (report.kind == HeaderReport::StationName) {
            reported = status(gen, 3, 0, report.text);
        } else {
            const QString bitrate = report.text;
            reported = onWindow(gen, [this, bitrate] {
                           actions.status(4, 0, bitrateLabelText(bitrate));
                           actions.dialogBitrate(bitrate);
                           return true;
                       }).has_value();
        }
        if (!reported)
            return false;
    }
    return true;
}

bool StreamOpener::Shared::workOpened(std::uint64_t gen, HSTREAM handle, std::uintptr_t token) {
    // A worker that went stale frees the stream it opened (unless the newer
    // worker did already) and does nothing more.
    auto abandon = [&] {
        freeStream(handle);
        return false;
    };

    // 7. Buffering loop, until the buffer is filled above 60 percent or its
    // fill cannot be computed.
    std::optional<std::int64_t> last;
    for (;;) {
        const std::optional<std::int64_t> percent =
            bufferingPercent(engine.StreamGetFilePosition(handle, engine::FILEPOS_END),
                             engine.StreamGetFilePosition(handle, engine::FILEPOS_DOWNLOAD),
                             engine.StreamGetFilePosition(handle, engine::FILEPOS_CURRENT));
        if (!percent)
            break;
        if (!status(gen, 2, *percent))
            return abandon();
        if (!whileCurrent(gen, [&] { engine.Stop(); }))
            return abandon();
        if (*percent > BufferedPercent)
            break;
        if (last == percent) {
            std::unique_lock lock(mutex);
            changed.wait_for(lock, BufferingPause, [&] { return closing || gen != generation; });
        }
        last = percent;
    }

    TOLVANE_TRACE_ONCE("worker: buffered");
    // 8. Resume the output, start the clock.
    if (!whileCurrent(gen, [&] { engine.Start(); }) || !invoke(gen, QStringLiteral("Button11")))
        return abandon();

    // 9. The header walk: the station's name and bitrate.
    if (!reportHeaders(gen, handle))
        return abandon();

    // 10. The first title, the metadata callback, playback.
    if (!readTitle(gen, handle))
        return abandon();
    engine.ChannelSetSync(handle, engine::SYNC_META, 0, &metadataProc, tokenValue(token));
    if (!whileCurrent(gen, [&] { engine.ChannelPlay(handle, false); }))
        return abandon();
    TOLVANE_TRACE_ONCE("worker: playing");

    // Beyond the steps: the window hears that the stream plays (dropped
    // once a newer opening has begun).
    if (actions.playing) {
        onWindow(gen, [this, handle] {
            actions.playing(handle);
            return true;
        });
    }
    return true;
}

// --- The opener -------------------------------------------------------------

struct StreamOpener::Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
};

StreamOpener::StreamOpener(engine::Engine& engine, std::atomic<std::uint32_t>& currentStream,
                           QObject* window, WindowActions actions)
    : shared_(std::make_shared<Shared>(engine, currentStream, window, std::move(actions))) {}

StreamOpener::~StreamOpener() {
    shutdown();
}

void StreamOpener::reapFinishedWorkers() {
    std::erase_if(workers_, [](const std::unique_ptr<Worker>& w) {
        if (!w->done->load())
            return false;
        w->thread.join();
        return true;
    });
}

void StreamOpener::open(const QString& url, bool reconnect, const QString& charset,
                        bool connectEarly) {
    if (shutDown_)
        return;
    reapFinishedWorkers();
    std::uint64_t gen = 0;
    ReconnectTiming timing;
    {
        std::lock_guard lock(shared_->mutex);
        gen = ++shared_->generation;
        ++shared_->running;
        timing = shared_->timing;
    }
    shared_->changed.notify_all();

    auto worker = std::make_unique<Worker>();
    worker->done = std::make_shared<std::atomic<bool>>(false);
    auto finished = [shared = shared_, done = worker->done](const Shared::Tally& tally) {
        std::lock_guard lock(shared->mutex);
        if (tally.watching)
            --shared->watching;
        else
            --shared->running;
        done->store(true);
        shared->changed.notify_all();
    };
    try {
        worker->thread = std::thread([shared = shared_, gen, url = url.toUtf8(),
                                      decodeText = stationTextDecoder(charset), reconnect,
                                      connectEarly, timing, finished] {
            Shared::Tally tally;
            shared->work(gen, url, decodeText, reconnect, connectEarly, timing, tally);
            finished(tally);
        });
    } catch (const std::system_error&) {
        finished({}); // no thread to be had: nothing opens, as after a failed opening
        return;
    }
    workers_.push_back(std::move(worker));
}

void StreamOpener::setReconnectTiming(const ReconnectTiming& timing) {
    std::lock_guard lock(shared_->mutex);
    shared_->timing = timing;
}

void StreamOpener::supersede() {
    {
        std::lock_guard lock(shared_->mutex);
        ++shared_->generation;
    }
    shared_->changed.notify_all();
}

void StreamOpener::close() {
    std::lock_guard lock(shared_->mutex);
    if (shared_->closing)
        return;
    shared_->closing = true;
    ++shared_->generation;
    shared_->live.clear();
    shared_->changed.notify_all();
}

void StreamOpener::shutdown(int timeoutMs) {
    if (shutDown_)
        return;
    shutDown_ = true;
    close();
    {
        std::unique_lock lock(shared_->mutex);
        shared_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return shared_->running == 0 && shared_->watching == 0; });
    }
    for (auto& w : workers_) {
        if (w->done->load())
            w->thread.join();
        else
            w->thread.detach(); // keeps `shared_` alive; acts on nothing after closing
    }
    workers_.clear();
    unregisterAll(shared_.get());
}

bool StreamOpener::closing() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->closing;
}

int StreamOpener::runningWorkers() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->running;
}

int StreamOpener::watchingWorkers() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->watching;
}

QList<std::uint32_t> StreamOpener::openedStreams() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->opened;
}

} // namespace tolvane::playback
