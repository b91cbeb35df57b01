#pragma once
// Where the time from launch to the first sound goes. With TOLVANE_TRACE set
// in the environment, each step of the start-up and of the first opening
// writes one line to standard error:
//
//   trace <ms since the process started> <monotonic clock in ms> <step>
//
// and nothing else changes. The process's start is read from the kernel, so
// the first figure counts the loading of the program and its libraries
// too; the second lets a benchmark line the steps up with what it measured
// itself (the first sample at the sound server). Plain C++ without Qt: the
// engine traces its steps too. Any thread.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

namespace tolvane {

namespace trace_detail {

inline double clockMs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

// The process's start on the boot-time clock, in ms (field 22 of
// /proc/self/stat, in clock ticks since boot); a negative value when unknown.
inline double processStartMs() {
    std::FILE* f = std::fopen("/proc/self/stat", "r");
    if (!f)
        return -1;
    char buffer[1024] = {};
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
    std::fclose(f);
    buffer[n] = '\0';
    // The command name in parentheses may hold spaces: count after its end.
    const char* p = nullptr;
    for (const char* c = buffer; *c; ++c)
        if (*c == ')')
            p = c;
    if (!p)
        return -1;
    int field = 2;
    unsigned long long start = 0;
    for (const char* c = p + 1; *c; ++c) {
        if (*c == ' ' && ++field == 22) {
            start = std::strtoull(c + 1, nullptr, 10);
            break;
        }
    }
    const long ticks = sysconf(_SC_CLK_TCK);
    return start && ticks > 0 ? double(start) * 1000.0 / double(ticks) : -1;
}

struct State {
    bool on = false;
    double startMs = -1;      // on the boot-time clock
    double bootMinusMono = 0; // boot-time clock less the monotonic one
};

inline const State& state() {
    static const State s = [] {
        State st;
        const char* v = std::getenv("TOLVANE_TRACE");
        st.on = v && *v;
        if (st.on) {
            st.startMs = processStartMs();
            st.bootMinusMono = clockMs(CLOCK_BOOTTIME) - clockMs(CLOCK_MONOTONIC);
        }
        return st;
    }();
    return s;
}

} // namespace trace_detail

inline bool launchTraceOn() {
    return trace_detail::state().on;
}

inline void traceStep(const char* step) {
    const trace_detail::State& s = trace_detail::state();
    if (!s.on)
        return;
    const double mono = trace_detail::clockMs(CLOCK_MONOTONIC);
    const double sinceStart = s.startMs < 0 ? -1 : mono + s.bootMinusMono - s.startMs;
    std::fprintf(stderr, "trace %8.1f %.3f %s\n", sinceStart, mono, step);
}

// Traces `step` the first time only (the first byte, the first sound).
#define TOLVANE_TRACE_ONCE(step)                                                                   \
    do {                                                                                           \
        if (::tolvane::launchTraceOn()) {                                                          \
            static std::atomic<bool> traced_{false};                                               \
            if (!traced_.exchange(true))                                                           \
                ::tolvane::traceStep(step);                                                        \
        }                                                                                          \
    } while (0)

} // namespace tolvane
