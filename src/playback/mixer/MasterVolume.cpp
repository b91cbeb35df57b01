#include "playback/mixer/MasterVolume.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <functional>

namespace tolvane::playback {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kFullChannel = 65535;

enum class Side { Left, Right, Both };

// Which of the window's two channels drives a speaker position; centre,
// LFE and the like follow the louder side, so a mono or surround sink still
// gets the volume.
Side sideOf(pa_channel_position_t position) {
    switch (position) {
    case PA_CHANNEL_POSITION_FRONT_LEFT:
    case PA_CHANNEL_POSITION_REAR_LEFT:
    case PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER:
    case PA_CHANNEL_POSITION_SIDE_LEFT:
    case PA_CHANNEL_POSITION_TOP_FRONT_LEFT:
    case PA_CHANNEL_POSITION_TOP_REAR_LEFT:
        return Side::Left;
    case PA_CHANNEL_POSITION_FRONT_RIGHT:
    case PA_CHANNEL_POSITION_REAR_RIGHT:
    case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER:
    case PA_CHANNEL_POSITION_SIDE_RIGHT:
    case PA_CHANNEL_POSITION_TOP_FRONT_RIGHT:
    case PA_CHANNEL_POSITION_TOP_REAR_RIGHT:
        return Side::Right;
    default:
        return Side::Both;
    }
}

// The window's values go to the server unchanged (see the header).
pa_volume_t toPulse(std::uint32_t channel) {
    return static_cast<pa_volume_t>(channel);
}

pa_cvolume volumeFor(const pa_channel_map& map, ChannelValues values) {
    pa_cvolume volume;
    pa_cvolume_init(&volume);
    volume.channels = map.channels;
    for (unsigned i = 0; i < map.channels; ++i) {
        switch (sideOf(map.map[i])) {
        case Side::Left:
            volume.values[i] = toPulse(values.left);
            break;
        case Side::Right:
            volume.values[i] = toPulse(values.right);
            break;
        case Side::Both:
            volume.values[i] = toPulse(std::max(values.left, values.right));
            break;
        }
    }
    return volume;
}

// The window's (left, right) as the sink holds them now, each capped at
// the window's full scale.
ChannelValues valuesFrom(const pa_channel_map& map, const pa_cvolume& volume) {
    std::uint32_t left = 0;
    std::uint32_t right = 0;
    bool sawLeft = false;
    bool sawRight = false;
    std::uint32_t loudest = 0;
    for (unsigned i = 0; i < volume.channels && i < map.channels; ++i) {
        const std::uint32_t v = std::min<std::uint32_t>(volume.values[i], kFullChannel);
        loudest = std::max(loudest, v);
        if (sideOf(map.map[i]) == Side::Left) {
            left = std::max(left, v);
            sawLeft = true;
        } else if (sideOf(map.map[i]) == Side::Right) {
            right = std::max(right, v);
            sawRight = true;
        }
    }
    return {sawLeft ? left : loudest, sawRight ? right : loudest};
}

} // namespace

ChannelValues channelValues(int volume, int balance) {
    const std::uint32_t value = static_cast<std::uint32_t>(volume) * kFullChannel / 100;
    if (balance < 0)
        return {value, value * static_cast<std::uint32_t>(balance + 100) / 100};
    return {value * static_cast<std::uint32_t>(100 - balance) / 100, value};
}

// One connection to the sound server on a private, non-threaded main loop
// that is only turned while a request waits, each wait bounded by a
// deadline. Nothing runs in the background.
struct MasterVolume::Connection {
    pa_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    std::string sink;
    pa_channel_map map{};
    pa_cvolume volume{};
    bool muted = false;
    bool ready = false;
    bool attempted = false;
    Clock::time_point lastAttempt{};

    ~Connection() { close(); }

    void close() {
        if (context) {
            pa_context_disconnect(context);
            pa_context_unref(context);
            context = nullptr;
        }
        if (loop) {
            pa_mainloop_free(loop);
            loop = nullptr;
        }
        ready = false;
    }

    bool alive() const { return context && PA_CONTEXT_IS_GOOD(pa_context_get_state(context)); }

    // Turns the loop until done() or the deadline; false on time-out or when
    // the connection breaks.
    bool run(const std::function<bool()>& done, Clock::time_point deadline) {
        while (!done()) {
            if (!alive())
                return false;
            const auto now = Clock::now();
            if (now >= deadline)
                return false;
            const auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count();
            if (pa_mainloop_prepare(loop, static_cast<int>(std::max<long long>(1, left))) < 0 ||
                pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0)
                return false;
        }
        return true;
    }

    // Waits for a request to finish; a request that does not is cancelled.
    bool finish(pa_operation* op, Clock::time_point deadline) {
        if (!op)
            return false;
        const bool done =
            run([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, deadline);
        if (!done)
            pa_operation_cancel(op);
        pa_operation_unref(op);
        return done;
    }

    bool connect(Clock::time_point deadline) {
        close();
        attempted = true;
        lastAttempt = Clock::now();
        loop = pa_mainloop_new();
        if (!loop)
            return false;
        context = pa_context_new(pa_mainloop_get_api(loop), "Tolvane");
        if (!context)
            return false;
        // Never start a sound server of our own: the user's one or none.
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return false;
        return run([this] { return pa_context_get_state(context) == PA_CONTEXT_READY; }, deadline);
    }

    bool findDefaultSink(Clock::time_point deadline) {
        struct ServerQuery {
            bool done = false;
            std::string defaultSink;
        } server;
        pa_operation* op = pa_context_get_server_info(
            context,
            [](pa_context*, const pa_server_info* info, void* user) {
                auto* q = static_cast<ServerQuery*>(user);
                if (info && info->default_sink_name)
                    q->defaultSink = info->default_sink_name;
                q->done = true;
            },
            &server);
        if (!finish(op, deadline) || server.defaultSink.empty())
            return false;

        struct SinkQuery {
            bool found = false;
            std::string name;
            pa_channel_map map{};
            pa_cvolume volume{};
            bool muted = false;
        } query;
        op = pa_context_get_sink_info_by_name(
            context, server.defaultSink.c_str(),
            [](pa_context*, const pa_sink_info* info, int eol, void* user) {
                auto* q = static_cast<SinkQuery*>(user);
                if (eol || !info)
                    return;
                q->found = true;
                q->name = info->name;
                q->map = info->channel_map;
                q->volume = info->volume;
                q->muted = info->mute != 0;
            },
            &query);
        if (!finish(op, deadline) || !query.found || query.map.channels == 0)
            return false;
        sink = query.name;
        map = query.map;
        volume = query.volume;
        muted = query.muted;
        return true;
    }

    bool open(Clock::time_point deadline) {
        ready = connect(deadline) && findDefaultSink(deadline);
        if (!ready)
            close();
        return ready;
    }

    // Sends one request made by start(success callback, user data) and
    // waits for the server's answer; a failure or silence drops the
    // connection so the next write finds the server (and its default sink)
    // anew.
    bool request(const std::function<pa_operation*(pa_context_success_cb_t, void*)>& start) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(kTimeoutMs);
        int success = 0;
        const bool answered = finish(
            start([](pa_context*, int ok, void* user) { *static_cast<int*>(user) = ok; }, &success),
            deadline);
        if (!answered || !success) {
            close();
            // Counts as an attempt: the next writes do not wait on it again.
            lastAttempt = Clock::now();
            return false;
        }
        return true;
    }
};

MasterVolume::MasterVolume() : connection_(std::make_unique<Connection>()) {}

MasterVolume::~MasterVolume() = default;

bool MasterVolume::open() {
    Connection& c = *connection_;
    if (!c.open(Clock::now() + std::chrono::milliseconds(kTimeoutMs)))
        return false;
    setMute(false);
    if (!c.ready)
        return false;
    // Take over what the sink holds now; the window then sets its own.
    const ChannelValues now = valuesFrom(c.map, c.volume);
    const std::uint32_t loudest = std::max(now.left, now.right);
    volume_ = static_cast<int>((loudest * 100 + kFullChannel / 2) / kFullChannel);
    if (now.left == now.right || loudest == 0)
        balance_ = 0;
    else if (now.left > now.right)
        balance_ = static_cast<int>((now.right * 100 + now.left / 2) / now.left) - 100;
    else
        balance_ = 100 - static_cast<int>((now.left * 100 + now.right / 2) / now.right);
    return true;
}

bool MasterVolume::isOpen() const {
    return connection_->ready;
}

std::string MasterVolume::sinkName() const {
    return connection_->ready ? connection_->sink : std::string();
}

bool MasterVolume::ensureConnected() {
    Connection& c = *connection_;
    if (c.ready && c.alive())
        return true;
    c.close();
    // A server that is gone is asked again only now and then, so dragging
    // the bar without one stays smooth.
    if (c.attempted && Clock::now() - c.lastAttempt < std::chrono::milliseconds(kRetryMs))
        return false;
    return c.open(Clock::now() + std::chrono::milliseconds(kTimeoutMs));
}

void MasterVolume::setMute(bool muted) {
    if (!ensureConnected())
        return;
    Connection& c = *connection_;
    c.request([&](pa_context_success_cb_t done, void* user) {
        return pa_context_set_sink_mute_by_name(c.context, c.sink.c_str(), muted ? 1 : 0, done,
                                                user);
    });
}

void MasterVolume::setVolume(int volume) {
    if (volume < 0 || volume > 100)
        return;
    volume_ = volume;
    writeChannels();
}

void MasterVolume::setBalance(int balance) {
    if (balance < -100 || balance > 100)
        return;
    balance_ = balance;
    writeChannels();
}

void MasterVolume::writeChannels() {
    if (!ensureConnected())
        return;
    Connection& c = *connection_;
    // Both channels in one request, so the server never holds a half-made
    // pair.
    const pa_cvolume target = volumeFor(c.map, channelValues(volume_, balance_));
    c.request([&](pa_context_success_cb_t done, void* user) {
        return pa_context_set_sink_volume_by_name(c.context, c.sink.c_str(), &target, done, user);
    });
}

} // namespace tolvane::playback
