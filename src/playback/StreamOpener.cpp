#include "StreamOpener.h"

#include "NowPlaying.h"
#include "PlayerControls.h"
#include "StationHeaders.h"
#include "common/ThreadHandoff.h"

#include <QByteArray>
#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace tolvane::playback {

using engine::DWORD;
using engine::HSTREAM;

namespace {

// A metadata text holds at most 255 x 16 bytes; anything longer is cut.
constexpr std::size_t MaxMetadataBytes = std::size_t{16} * 1024;
constexpr std::size_t MaxStatusLineBytes = 1024;
// Pause between two passes of the buffering loop when the fill has not
// moved, so that a slow server does not keep two threads spinning.
constexpr auto BufferingPause = std::chrono::milliseconds(10);

} // namespace

// One window action handed from a worker or callback to the user-interface
// thread. Guarded by Shared::mutex.
struct WindowCall {
    enum State { Pending, Running, Done, Dropped };
    std::function<bool()> action;
    State state = Pending;
    bool result = false;
};

struct StreamOpener::Shared : std::enable_shared_from_this<Shared> {
    Shared(engine::Engine& e, std::atomic<std::uint32_t>& current, QObject* w, WindowActions a)
        : engine(e), currentStream(current), window(w), actions(std::move(a)) {}

    engine::Engine& engine;
    // The window's CurrentStream; written only under `mutex` by the worker of
    // the newest generation, never after closing.
    std::atomic<std::uint32_t>& currentStream;
    // Target of the posted window actions; used only while not closing.
    QObject* const window;
    const WindowActions actions;

    mutable std::mutex mutex;
    std::condition_variable changed;
    // --- guarded by mutex ---
    bool closing = false;
    std::uint64_t generation = 0;
    int running = 0;  // workers opening
    int watching = 0; // workers watching a playing stream
    ReconnectTiming timing;
    // Streams opened here and not yet freed, with their callback tokens.
    std::map<DWORD, std::uintptr_t> live;
    QList<std::uint32_t> opened;

    bool isCurrent(std::uint64_t gen) const {
        std::lock_guard lock(mutex);
        return !closing && gen == generation;
    }

    // Runs `step` only while `gen` is the newest generation, atomically with
    // that check, so a stale worker can never pause, resume or play.
    template <typename F> bool whileCurrent(std::uint64_t gen, F&& step) {
        std::lock_guard lock(mutex);
        if (closing || gen != generation)
            return false;
        step();
        return true;
    }

    // Runs `action` on the user-interface thread and waits until it has run.
    // std::nullopt when it did not run: the generation is stale or the
    // opener is closing (then the wait ends at once). A call the window has
    // not begun is dropped as soon as a newer generation starts, so a stale
    // worker never waits for the window; one it has begun is waited for.
    std::optional<bool> onWindow(std::uint64_t gen, std::function<bool()> action) {
        auto call = std::make_shared<WindowCall>();
        call->action = std::move(action);
        std::unique_lock lock(mutex);
        if (closing || gen != generation)
            return std::nullopt;
        QueueOnThreadOf(window,
                        [self = shared_from_this(), call, gen] { self->runOnWindow(*call, gen); });
        changed.wait(lock, [&] {
            return call->state == WindowCall::Done || call->state == WindowCall::Dropped ||
                   closing || (call->state == WindowCall::Pending && gen != generation);
        });
        if (call->state == WindowCall::Done)
            return call->result;
        if (call->state == WindowCall::Pending)
            call->state = WindowCall::Dropped;
        return std::nullopt;
    }

    // User-interface thread.
    void runOnWindow(WindowCall& call, std::uint64_t gen) {
        {
            std::lock_guard lock(mutex);
            if (call.state != WindowCall::Pending)
                return;
            if (closing || gen != generation) {
                call.state = WindowCall::Dropped;
                changed.notify_all();
                return;
            }
            call.state = WindowCall::Running;
        }
        bool result = false;
        try {
            result = call.action();
        } catch (...) {
            // The window's actions report their own failures; an escaped
            // one must not leave the worker waiting.
        }
        {
            std::lock_guard lock(mutex);
            call.state = WindowCall::Done;
            call.result = result;
        }
        changed.notify_all();
    }

    bool status(std::uint64_t gen, int code, qint64 number, const QString& text = QString()) {
        return onWindow(gen,
                        [this, code, number, text] {
                            actions.status(code, number, text);
                            return true;
                        })
            .has_value();
    }

    bool invoke(std::uint64_t gen, const QString& command) {
        return onWindow(gen,
                        [this, command] {
                            actions.invoke(command);
                            return true;
                        })
            .has_value();
    }

    // Copies of a stream's tags, taken while the stream is surely alive:
    // nobody frees a stream of `live` while the mutex is held.
    std::optional<QList<QByteArray>> headerLines(DWORD handle, DWORD kind) {
        std::lock_guard lock(mutex);
        if (closing || !live.contains(handle))
            return std::nullopt;
        const char* block = engine.ChannelGetTags(handle, kind);
        if (!block)
            return std::nullopt;
        return tagLines(block);
    }

    std::optional<QByteArray> metadata(DWORD handle) {
        std::lock_guard lock(mutex);
        if (closing || !live.contains(handle))
            return std::nullopt;
        const char* text = engine.ChannelGetTags(handle, engine::TAG_META);
        if (!text)
            return std::nullopt;
        return QByteArray(text, static_cast<qsizetype>(strnlen(text, MaxMetadataBytes)));
    }

    // The title read: the stream's metadata text, its title, status 7.
    // False when the generation went stale on the way.
    bool readTitle(std::uint64_t gen, DWORD handle) {
        const std::optional<QByteArray> text = metadata(handle);
        if (!text)
            return isCurrent(gen);
        const std::optional<QString> title = parseStreamTitle(decodeTagText(*text));
        if (!title)
            return isCurrent(gen);
        return status(gen, 7, 0, *title);
    }

    // Takes a stream out of `live` and frees it. Never frees after closing:
    // the engine has been released then.
    void freeStream(DWORD handle);

    // What one worker thread is counted as.
    struct Tally {
        bool watching = false;
    };
    // The opening is over and the stream plays: the worker goes on watching.
    void beginWatching(Tally& tally) {
        std::lock_guard lock(mutex);
        --running;
        ++watching;
        tally.watching = true;
        changed.notify_all();
    }

    // Waits up to `ms`; false when the generation went stale meanwhile.
    bool pause(std::uint64_t gen, int ms) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::milliseconds(std::max(ms, 1)),
                         [&] { return closing || gen != generation; });
        return !closing && gen == generation;
    }

    void work(std::uint64_t gen, const QByteArray& url, const engine::TextDecoder& decodeText,
              bool reconnect, ReconnectTiming timing, Tally& tally);
    // Buffering, headers, first title and playback; false when the
    // generation went stale (the stream is freed then).
    bool workOpened(std::uint64_t gen, HSTREAM handle, std::uintptr_t token);
    // The header walk: the station's name (status 3) and bitrate (status 4).
    bool reportHeaders(std::uint64_t gen, HSTREAM handle);
    // Watches the playing stream until the generation goes stale, or (without
    // reconnecting) until it has ended and played out.
    void watch(std::uint64_t gen, const QByteArray& url, const engine::TextDecoder& decodeText,
               HSTREAM handle, bool reconnect, const ReconnectTiming& timing);
    // Opens `url` again and buffers it without a word to the window; 0 when
    // it failed or the generation went stale. The stream is live, not current.
    HSTREAM reopen(std::uint64_t gen, const QByteArray& url, const engine::TextDecoder& decodeText);
    // Makes `next` the current stream in place of `previous` and plays it.
    bool replace(std::uint64_t gen, HSTREAM previous, HSTREAM next, qint64 silentMs);
};

// --- Callback tokens ------------------------------------------------------
//
// The engine's callbacks get a token as their user value rather than a
// pointer: a callback that comes late (its stream being freed, its opener
// gone) finds no token and does nothing.

namespace {

struct CallbackTarget {
    std::weak_ptr<StreamOpener::Shared> shared;
    std::uint64_t generation = 0;
    DWORD handle = 0;
};

std::mutex registryMutex;
std::map<std::uintptr_t, CallbackTarget> registry;
std::uintptr_t nextToken = 1;

std::uintptr_t registerTarget(const std::shared_ptr<StreamOpener::Shared>& shared,
                              std::uint64_t gen) {
    std::lock_guard lock(registryMutex);
    const std::uintptr_t token = nextToken++;
    registry.emplace(token, CallbackTarget{shared, gen, 0});
    return token;
}

void setTargetHandle(std::uintptr_t token, DWORD handle) {
    std::lock_guard lock(registryMutex);
    if (auto it = registry.find(token); it != registry.end())
        it->second.handle = handle;
}

void unregisterTarget(std::uintptr_t token) {
    std::lock_guard lock(registryMutex);
    registry.erase(token);
}

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

// The token travels through the engine as a callback's user value and comes
// back only as a key of the registry; it is never dereferenced.
void* tokenValue(std::uintptr_t token) {
    return reinterpret_cast<void*>(token); // NOLINT(performance-no-int-to-ptr)
}

// Download callback, on the stream's transport thread: the response head
// arrives with length 0; its first line, the status line, goes to the
// bitrate label (status 8).
void downloadProc(const void* buffer, DWORD length, void* user) {
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
    shared->status(target->generation, 8, 0, line);
}

// Metadata callback, on an engine thread at each title change: the title
// read for the stream it was set on.
void metadataProc(engine::HSYNC, DWORD, DWORD, void* user) {
    const std::optional<CallbackTarget> target = findTarget(user);
    if (!target || target->handle == 0)
        return;
    if (const std::shared_ptr<StreamOpener::Shared> shared = target->shared.lock())
        shared->readTitle(target->generation, target->handle);
}

} // namespace

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

// The worker procedure, one per opening.
void StreamOpener::Shared::work(std::uint64_t gen, const QByteArray& url,
                                const engine::TextDecoder& decodeText, bool reconnect,
                                ReconnectTiming timing, Tally& tally) {
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
    const std::uintptr_t token = registerTarget(shared_from_this(), gen);
    const HSTREAM handle = engine.StreamCreateURL(url.constData(), 0, engine::STREAM_STATUS,
                                                  &downloadProc, tokenValue(token), decodeText);
    const int error = engine.ErrorGetCode();

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

// --- Watching and reconnecting ----------------------------------------------

void StreamOpener::Shared::watch(std::uint64_t gen, const QByteArray& url,
                                 const engine::TextDecoder& decodeText, HSTREAM handle,
                                 bool reconnect, const ReconnectTiming& timing) {
    using Clock = std::chrono::steady_clock;
    constexpr engine::QWORD Unknown = ~engine::QWORD{0};
    const auto stallTime = std::chrono::milliseconds(timing.stallMs);

    // What the stream did last: its download's progress, and since when
    // nothing has been heard of it.
    struct Seen {
        engine::QWORD download = 0;
        Clock::time_point moved = Clock::now();
        std::optional<Clock::time_point> silentSince;
    };
    Seen seen;
    // Looks at the stream once: whether its download has ended, and whether
    // it has ended or stalled.
    auto look = [&]() {
        const auto now = Clock::now();
        const DWORD active = engine.ChannelIsActive(handle);
        if (active == engine::ACTIVE_PLAYING)
            seen.silentSince.reset();
        else if (!seen.silentSince)
            seen.silentSince = now;
        const engine::QWORD download =
            engine.StreamGetFilePosition(handle, engine::FILEPOS_DOWNLOAD);
        if (download != seen.download) {
            seen.download = download;
            seen.moved = now;
        }
        // The buffer's length cannot be had once the download is over.
        const bool ended = engine.StreamGetFilePosition(handle, engine::FILEPOS_END) == Unknown;
        const bool stalled = active != engine::ACTIVE_PLAYING && now - seen.moved >= stallTime;
        return std::pair{ended, ended || stalled};
    };

    for (;;) {
        if (!pause(gen, timing.watchMs))
            return;
        const auto [ended, dropped] = look();
        if (!reconnect) {
            // Today's stream is over once it has ended and played out.
            if (ended && engine.ChannelIsActive(handle) == engine::ACTIVE_STOPPED) {
                status(gen, StatusEnded, 0);
                return;
            }
            continue;
        }
        if (!dropped)
            continue;

        // Reconnecting: attempts after 1 s, 2 s, 4 s, ... up to the longest
        // delay; at once when the network comes back.
        int delayMs = timing.firstDelayMs;
        HSTREAM next = 0;
        for (int attempt = 1; next == 0; ++attempt) {
            if (!status(gen, StatusReconnecting, attempt))
                return;
            // Wait for the attempt's time, running the connection test now
            // and then every networkCheckMs: once it has said "offline", the
            // attempt follows as soon as it says "online" again.
            const auto due = Clock::now() + std::chrono::milliseconds(delayMs);
            auto nextCheck = Clock::now();
            bool wasOffline = false;
            for (;;) {
                auto now = Clock::now();
                if (now >= nextCheck || now >= due) {
                    const std::optional<bool> online =
                        onWindow(gen, [this] { return actions.isConnected(); });
                    if (!online)
                        return;
                    now = Clock::now();
                    nextCheck = now + std::chrono::milliseconds(timing.networkCheckMs);
                    if (!*online)
                        wasOffline = true;
                    else if (wasOffline || now >= due)
                        break;
                }
                const auto wake = wasOffline ? nextCheck : std::min(due, nextCheck);
                const auto sleepMs =
                    std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count();
                if (!pause(gen,
                           static_cast<int>(std::clamp<long long>(sleepMs, 1, timing.watchMs))))
                    return;
                look(); // the old stream plays out meanwhile
            }
            next = reopen(gen, url, decodeText);
            if (next == 0) {
                if (!isCurrent(gen))
                    return;
                delayMs = std::min(delayMs * 2, timing.maxDelayMs);
            }
        }
        look();
        const qint64 silentMs = seen.silentSince
                                    ? std::chrono::duration_cast<std::chrono::milliseconds>(
                                          Clock::now() - *seen.silentSince)
                                          .count()
                                    : 0;
        if (!replace(gen, handle, next, silentMs))
            return;
        handle = next;
        seen = Seen{};
    }
}

HSTREAM StreamOpener::Shared::reopen(std::uint64_t gen, const QByteArray& url,
                                     const engine::TextDecoder& decodeText) {
    const std::uintptr_t token = registerTarget(shared_from_this(), gen);
    const HSTREAM handle = engine.StreamCreateURL(url.constData(), 0, engine::STREAM_STATUS,
                                                  &downloadProc, tokenValue(token), decodeText);
    if (handle == 0) {
        unregisterTarget(token);
        return 0;
    }
    setTargetHandle(token, handle);
    {
        std::unique_lock lock(mutex);
        if (closing) {
            lock.unlock();
            unregisterTarget(token);
            return 0;
        }
        if (gen != generation) {
            lock.unlock();
            engine.StreamFree(handle);
            unregisterTarget(token);
            return 0;
        }
        live.emplace(handle, token);
        opened.append(handle);
    }
    // Buffered as an opening is, but quietly: the status keeps saying
    // "reconnecting...", and the output is not paused, so what is left of
    // the old stream plays on meanwhile.
    for (;;) {
        const std::optional<std::int64_t> percent =
            bufferingPercent(engine.StreamGetFilePosition(handle, engine::FILEPOS_END),
                             engine.StreamGetFilePosition(handle, engine::FILEPOS_DOWNLOAD),
                             engine.StreamGetFilePosition(handle, engine::FILEPOS_CURRENT));
        if (!percent || *percent > BufferedPercent)
            break;
        if (!pause(gen, 20)) {
            freeStream(handle);
            return 0;
        }
    }
    return handle;
}

bool StreamOpener::Shared::replace(std::uint64_t gen, HSTREAM previous, HSTREAM next,
                                   qint64 silentMs) {
    // The new stream becomes current now, so the window's commands (the
    // recorder above all) act on it from here on; like any current stream,
    // a newer opening frees it.
    if (!whileCurrent(gen, [&] { currentStream.store(next); })) {
        freeStream(next);
        return false;
    }
    // Going stale from here, the old stream is nobody's: it goes, unless a
    // recording still runs on it (its file is the user's).
    auto dropPrevious = [&] {
        if (engine.Encode_IsActive(previous) != engine::ACTIVE_PLAYING)
            freeStream(previous);
        return false;
    };
    if (!status(gen, StatusReconnected, 0) || !reportHeaders(gen, next) || !readTitle(gen, next))
        return dropPrevious();
    const bool handedOver = onWindow(gen, [this, previous, next, silentMs] {
                                if (actions.streamReplaced)
                                    actions.streamReplaced(previous, next, silentMs);
                                return true;
                            }).has_value();
    if (!handedOver)
        return dropPrevious();
    freeStream(previous);
    const std::uintptr_t token = [&] {
        std::lock_guard lock(mutex);
        auto found = live.find(next);
        return found == live.end() ? std::uintptr_t{0} : found->second;
    }();
    engine.ChannelSetSync(next, engine::SYNC_META, 0, &metadataProc, tokenValue(token));
    return whileCurrent(gen, [&] { engine.ChannelPlay(next, false); });
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

void StreamOpener::open(const QString& url, bool reconnect, const QString& charset) {
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
        worker->thread =
            std::thread([shared = shared_, gen, url = url.toUtf8(),
                         decodeText = stationTextDecoder(charset), reconnect, timing, finished] {
                Shared::Tally tally;
                shared->work(gen, url, decodeText, reconnect, timing, tally);
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
