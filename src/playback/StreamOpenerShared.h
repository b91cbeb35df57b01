#pragma once
// Inside the stream opener: the state its workers, the engine's callbacks
// and the window share (StreamOpener::Shared), and the tokens the engine's
// callbacks carry. The opening itself is in StreamOpener.cpp; watching a
// playing stream and reconnecting it are in StreamReconnect.cpp.

#include "NowPlaying.h"
#include "StationHeaders.h"
#include "StreamOpener.h"
#include "common/ThreadHandoff.h"

#include <QByteArray>

#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace tolvane::playback {

namespace opener_detail {
// A metadata text holds at most 255 x 16 bytes; anything longer is cut.
inline constexpr std::size_t MaxMetadataBytes = std::size_t{16} * 1024;
} // namespace opener_detail

// One window action handed from a worker or callback to the user-interface
// thread. Guarded by Shared::mutex.
struct WindowCall {
    enum State { Pending, Running, Done, Dropped };
    std::function<bool()> action;
    State state = Pending;
    bool result = false;
};

struct StreamOpener::Shared : std::enable_shared_from_this<Shared> {
    using DWORD = engine::DWORD;
    using HSTREAM = engine::HSTREAM;

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
        return QByteArray(text,
                          static_cast<qsizetype>(strnlen(text, opener_detail::MaxMetadataBytes)));
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
              bool reconnect, bool connectEarly, ReconnectTiming timing, Tally& tally);
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

// --- Callback tokens (StreamOpener.cpp) -------------------------------------
//
// The engine's callbacks get a token as their user value rather than a
// pointer: a callback that comes late (its stream being freed, its opener
// gone) finds no token and does nothing.
namespace opener_detail {

// Holds back the status line of an opening that connects before the window
// has shown "connecting...": the download callback leaves it here until the
// worker's first steps are done, and the worker then reports it, so the
// window sees the same messages in the same order as without the head start.
struct HeadGate {
    std::mutex mutex;
    enum State { Held, Open, Dropped } state = Held; // guarded by mutex
    std::optional<QString> statusLine;               // guarded by mutex
};

std::uintptr_t registerTarget(const std::shared_ptr<StreamOpener::Shared>& shared,
                              std::uint64_t gen, std::shared_ptr<HeadGate> gate = nullptr);
void setTargetHandle(std::uintptr_t token, engine::DWORD handle);
void unregisterTarget(std::uintptr_t token);
// The token as a callback's user value.
void* tokenValue(std::uintptr_t token);
// Download callback: the response head's status line goes to the bitrate
// label (status 8).
void downloadProc(const void* buffer, engine::DWORD length, void* user);
// Metadata callback: the title read for the stream it was set on.
void metadataProc(engine::HSYNC sync, engine::DWORD channel, engine::DWORD data, void* user);

} // namespace opener_detail

} // namespace tolvane::playback
