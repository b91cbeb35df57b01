// PulseAudio output (also PipeWire's pulse server) through the asynchronous
// API: the server asks for audio on the threaded main loop and the write
// callback renders exactly what it asks for. Pausing corks the stream, so it
// takes effect at once and resumes where it stopped.

#include "Engine.h"
#include "Output.h"
#include "common/LaunchTrace.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace tolvane::engine {
namespace {

// Buffer kept at the server. Playback starts with a short one, so the first
// sound comes soon after a channel starts; once it has played for a moment
// the buffer grows, so that a busy machine does not run it dry and the
// process wakes up less often. Pausing corks the stream, so its length never
// delays a pause.
// 120 ms is the shortest start buffer that ran without an underrun with
// both cores busy, in the sanitizer build too (60 to 100 ms ran dry now and
// then, and an underrun at the start is a gap the listener hears).
constexpr int kStartTargetMs = 120;
constexpr int kStartRequestMs = 40;
constexpr int kSteadyTargetMs = 500;
constexpr int kSteadyRequestMs = 125;
constexpr int kStartPhaseMs = 1500;
constexpr auto kConnectWait = std::chrono::seconds(5);

class PulseOutput final : public OutputDriver {
public:
    ~PulseOutput() override { close(); }

    int open(RenderFn render) override {
        close();
        render_ = std::move(render);
        loop_ = pa_threaded_mainloop_new();
        if (!loop_)
            return ERROR_MEM;
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Tolvane");
        pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
        context_ = pa_context_new_with_proplist(api, "Tolvane", props);
        pa_proplist_free(props);
        if (!context_) {
            close();
            return ERROR_MEM;
        }
        pa_context_set_state_callback(context_, &PulseOutput::contextState, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            pa_threaded_mainloop_start(loop_) < 0) {
            close();
            return ERROR_DEVICE;
        }
        pa_threaded_mainloop_lock(loop_);
        const auto deadline = std::chrono::steady_clock::now() + kConnectWait;
        bool ready = false;
        for (;;) {
            const pa_context_state_t st = pa_context_get_state(context_);
            if (st == PA_CONTEXT_READY) {
                ready = true;
                break;
            }
            if (!PA_CONTEXT_IS_GOOD(st) || std::chrono::steady_clock::now() > deadline)
                break;
            waitLocked(deadline);
        }
        if (!ready) {
            pa_threaded_mainloop_unlock(loop_);
            close();
            return ERROR_DEVICE;
        }
        TOLVANE_TRACE_ONCE("engine: sound server connected");
        const pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<uint32_t>(kOutputRate),
                                    static_cast<uint8_t>(kOutputChannels)};
        stream_ = pa_stream_new(context_, "Tolvane", &format, nullptr);
        if (!stream_) {
            pa_threaded_mainloop_unlock(loop_);
            close();
            return ERROR_INIT;
        }
        pa_stream_set_state_callback(stream_, &PulseOutput::streamState, this);
        pa_stream_set_write_callback(stream_, &PulseOutput::streamWrite, this);
        if (launchTraceOn())
            pa_stream_set_underflow_callback(stream_, &PulseOutput::streamUnderflow, this);
        const pa_buffer_attr attr = bufferAttr(kStartTargetMs, kStartRequestMs);
        steady_ = false;
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
            PA_STREAM_AUTO_TIMING_UPDATE);
        corked_ = true;
        if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
            pa_threaded_mainloop_unlock(loop_);
            close();
            return ERROR_INIT;
        }
        ready = false;
        for (;;) {
            const pa_stream_state_t st = pa_stream_get_state(stream_);
            if (st == PA_STREAM_READY) {
                ready = true;
                break;
            }
            if (!PA_STREAM_IS_GOOD(st) || std::chrono::steady_clock::now() > deadline)
                break;
            waitLocked(deadline);
        }
        pa_threaded_mainloop_unlock(loop_);
        if (!ready) {
            close();
            return ERROR_INIT;
        }
        TOLVANE_TRACE_ONCE("engine: output stream ready");
        return ERROR_OK;
    }

    void close() override {
        if (!loop_)
            return;
        pa_threaded_mainloop_lock(loop_);
        if (retry_) {
            pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
            api->time_free(retry_);
            retry_ = nullptr;
        }
        if (stream_) {
            pa_stream_set_write_callback(stream_, nullptr, nullptr);
            pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        if (context_) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
        pa_threaded_mainloop_unlock(loop_);
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }

    void setActive(bool active) override {
        if (!loop_)
            return;
        pa_threaded_mainloop_lock(loop_);
        corkLocked(!active);
        pa_threaded_mainloop_unlock(loop_);
    }

private:
    static pa_buffer_attr bufferAttr(int targetMs, int requestMs) {
        pa_buffer_attr attr{};
        const std::uint32_t bytesPerMs = kOutputRate / 1000 * kBytesPerFrame;
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(targetMs) * bytesPerMs;
        attr.prebuf = static_cast<std::uint32_t>(-1);
        attr.minreq = static_cast<std::uint32_t>(requestMs) * bytesPerMs;
        attr.fragsize = static_cast<std::uint32_t>(-1);
        return attr;
    }

    // Short buffer again for the next start (called with the loop locked).
    void restartPhaseLocked() {
        playedBytes_ = 0;
        if (!steady_ || !stream_)
            return;
        steady_ = false;
        const pa_buffer_attr attr = bufferAttr(kStartTargetMs, kStartRequestMs);
        if (pa_operation* op = pa_stream_set_buffer_attr(stream_, &attr, nullptr, nullptr))
            pa_operation_unref(op);
    }

    // Waits for a signal from a callback, at most until the deadline. Called
    // with the main loop locked; PulseAudio's wait has no time-out, so a
    // timer event on the loop bounds it.
    void waitLocked(std::chrono::steady_clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return;
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        timeval tv{};
        pa_gettimeofday(&tv);
        pa_timeval_add(&tv, static_cast<pa_usec_t>(left.count()));
        pa_time_event* ev = api->time_new(api, &tv, &PulseOutput::timerFired, this);
        pa_threaded_mainloop_wait(loop_);
        api->time_free(ev);
    }

    void corkLocked(bool cork, bool idle = false) {
        if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY || cork == corked_)
            return;
        corked_ = cork;
        if (idle) {
            // Nothing plays any more: what is still queued is only the tail
            // of silence written meanwhile.
            if (pa_operation* op = pa_stream_flush(stream_, nullptr, nullptr))
                pa_operation_unref(op);
            restartPhaseLocked();
        }
        if (pa_operation* op = pa_stream_cork(stream_, cork ? 1 : 0, nullptr, nullptr))
            pa_operation_unref(op);
        if (!cork) {
            // Ask for a full buffer now rather than at the next request.
            if (pa_operation* op = pa_stream_trigger(stream_, nullptr, nullptr))
                pa_operation_unref(op);
        }
    }

    static void contextState(pa_context*, void* self) {
        pa_threaded_mainloop_signal(static_cast<PulseOutput*>(self)->loop_, 0);
    }
    static void streamState(pa_stream*, void* self) {
        pa_threaded_mainloop_signal(static_cast<PulseOutput*>(self)->loop_, 0);
    }
    // Traced only: the server ran out of audio while the stream played. The
    // one that comes as the buffer grows is the server's notice of the new
    // length, not a gap.
    static void streamUnderflow(pa_stream*, void* self) {
        traceStep(static_cast<PulseOutput*>(self)->steady_
                      ? "engine: output underrun, long buffer"
                      : "engine: output underrun, start buffer");
    }
    static void timerFired(pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
        pa_threaded_mainloop_signal(static_cast<PulseOutput*>(self)->loop_, 0);
    }

    // On the main loop thread: one retry of the write in 20 ms.
    void retryLater() {
        if (retry_)
            return;
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        timeval tv{};
        pa_gettimeofday(&tv);
        pa_timeval_add(&tv, 20000);
        retry_ = api->time_new(api, &tv, &PulseOutput::retryFired, this);
    }
    static void retryFired(pa_mainloop_api* api, pa_time_event* ev, const timeval*,
                           void* userdata) {
        auto* self = static_cast<PulseOutput*>(userdata);
        api->time_free(ev);
        self->retry_ = nullptr;
        if (!self->stream_ || self->corked_ ||
            pa_stream_get_state(self->stream_) != PA_STREAM_READY)
            return;
        const std::size_t want = pa_stream_writable_size(self->stream_);
        if (want != static_cast<std::size_t>(-1) && want > 0)
            streamWrite(self->stream_, want, self);
    }

    static void streamWrite(pa_stream* s, size_t nbytes, void* userdata) {
        auto* self = static_cast<PulseOutput*>(userdata);
        while (nbytes >= static_cast<size_t>(kBytesPerFrame)) {
            void* data = nullptr;
            size_t size = nbytes;
            if (pa_stream_begin_write(s, &data, &size) < 0 || !data)
                return;
            size -= size % kBytesPerFrame;
            if (size == 0) {
                pa_stream_cancel_write(s);
                return;
            }
            bool playing = false;
            const std::size_t frames = self->render_(
                static_cast<std::int16_t*>(data), size / kBytesPerFrame, playing, self->ahead(s));
            if (playing && frames == 0) {
                // The decoder is a moment behind (or the stream stalls):
                // write nothing rather than a gap, and look again shortly,
                // since a server whose buffer ran dry asks no more.
                pa_stream_cancel_write(s);
                self->retryLater();
                return;
            }
            if (playing)
                size = frames * kBytesPerFrame;
            else if (frames * kBytesPerFrame < size)
                std::memset(static_cast<char*>(data) + frames * kBytesPerFrame, 0,
                            size - frames * kBytesPerFrame);
            pa_stream_write(s, data, size, nullptr, 0, PA_SEEK_RELATIVE);
            nbytes -= std::min(nbytes, size);
            if (playing) {
                TOLVANE_TRACE_ONCE("first sound written to the sound server");
                self->idleBytes_ = 0;
                self->playedBytes_ += size;
                if (!self->steady_ &&
                    self->playedBytes_ > static_cast<std::uint64_t>(kStartPhaseMs) * 176) {
                    self->steady_ = true;
                    const pa_buffer_attr attr = bufferAttr(kSteadyTargetMs, kSteadyRequestMs);
                    if (pa_operation* op = pa_stream_set_buffer_attr(s, &attr, nullptr, nullptr))
                        pa_operation_unref(op);
                }
            } else {
                // Let the last real audio play out (the buffer's length of
                // silence after it), then go quiet.
                self->idleBytes_ += size;
                if (self->idleBytes_ >= static_cast<std::uint64_t>(kSteadyTargetMs) * 176 + 17640) {
                    self->corkLocked(true, true);
                    return;
                }
            }
        }
    }

    // How long until audio written now is heard: what the server holds of
    // this stream and its sink's own latency.
    static std::chrono::microseconds ahead(pa_stream* s) {
        pa_usec_t usec = 0;
        int negative = 0;
        if (pa_stream_get_latency(s, &usec, &negative) < 0 || negative)
            return std::chrono::microseconds(0);
        return std::chrono::microseconds(static_cast<std::int64_t>(usec));
    }

    RenderFn render_;
    // All below are touched with the main loop locked (or before it runs).
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    bool corked_ = true;
    pa_time_event* retry_ = nullptr; // a pending retry of the write
    bool steady_ = false;            // the long buffer is in use
    std::uint64_t playedBytes_ = 0;  // since the last start from idle
    std::uint64_t idleBytes_ = 0;    // silence written since anything played
};

} // namespace

std::unique_ptr<OutputDriver> makePulseOutput() {
    return std::make_unique<PulseOutput>();
}

} // namespace tolvane::engine
