// Watching a playing stream and reconnecting it when it drops or stalls.

#include "PlayerControls.h"
#include "StreamOpenerShared.h"

#include <algorithm>
#include <chrono>

namespace tolvane::playback {

using engine::DWORD;
using engine::HSTREAM;
using namespace opener_detail;

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
        bool silent = false; // nothing plays, since silentSince
        Clock::time_point silentSince;
    };
    Seen seen;
    // Looks at the stream once: whether its download has ended, and whether
    // it has ended or stalled.
    auto look = [&]() {
        const auto now = Clock::now();
        const DWORD active = engine.ChannelIsActive(handle);
        if (active == engine::ACTIVE_PLAYING) {
            seen.silent = false;
        } else if (!seen.silent) {
            seen.silent = true;
            seen.silentSince = now;
        }
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
        const qint64 silentMs = seen.silent ? std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  Clock::now() - seen.silentSince)
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

} // namespace tolvane::playback
