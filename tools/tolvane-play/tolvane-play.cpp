// tolvane-play: plays an internet-radio stream through the engine the way
// the player opens it (buffer past 60 %, start, play) and prints the
// station's head and every title as it changes.
//
//   tolvane-play [--null] [--seconds N] [--quiet] [--timing] [--cafile PEM] URL
//
// --null plays to the null output; --seconds stops after N seconds of play
// (default: until interrupted); --timing prints when each step was done, in
// milliseconds from the start of main(), after a first line "clock <ms>"
// that gives that start on the monotonic clock (so that a benchmark can
// add the time before main); --cafile checks https servers against the
// certificate authorities in that PEM file instead of the system's store (a
// station or test server with a private authority). Exit status 0 when it
// played, 1 otherwise.

#include "Engine.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <time.h>

using namespace tolvane::engine;

namespace {

std::atomic<bool> gQuit{false};
Engine* gEngine = nullptr;
std::atomic<HSTREAM> gStream{0};
bool gQuiet = false;
bool gTiming = false;
const auto gStart = std::chrono::steady_clock::now();

void mark(const char* what) {
    if (!gTiming)
        return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - gStart)
                        .count();
    std::fprintf(stderr, "%6lld ms  %s\n", static_cast<long long>(ms), what);
}

std::string titleOf(const char* meta) {
    if (!meta)
        return {};
    const char* p = std::strstr(meta, "StreamTitle=");
    if (!p)
        return {};
    const char* q = std::strchr(meta, ';');
    const long len = q ? (q - p) - 14 : -1;
    if (len <= 0)
        return {};
    return std::string(p + 13, static_cast<std::size_t>(len));
}

void printTitle() {
    static std::string last;
    static std::atomic_flag busy = ATOMIC_FLAG_INIT;
    while (busy.test_and_set()) {
    }
    const std::string t = titleOf(gEngine->ChannelGetTags(gStream, TAG_META));
    if (t != last) {
        last = t;
        std::printf("title: %s\n", t.c_str());
        std::fflush(stdout);
    }
    busy.clear();
}

void onMeta(HSYNC, DWORD, DWORD, void*) {
    printTitle();
}

void onDownload(const void* buffer, DWORD length, void*) {
    static std::atomic<bool> seenData{false};
    if (buffer && length == 0)
        mark("response head");
    else if (buffer && !seenData.exchange(true))
        mark("first audio bytes");
    if (buffer && length == 0 && !gQuiet) {
        std::printf("status: %s\n", static_cast<const char*>(buffer));
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char** argv) {
    bool useNull = false;
    double seconds = 0;
    const char* url = nullptr;
    const char* caFile = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--null"))
            useNull = true;
        else if (!std::strcmp(argv[i], "--quiet"))
            gQuiet = true;
        else if (!std::strcmp(argv[i], "--timing"))
            gTiming = true;
        else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--cafile") && i + 1 < argc)
            caFile = argv[++i];
        else
            url = argv[i];
    }
    if (!url) {
        std::fprintf(stderr,
                     "usage: tolvane-play [--null] [--seconds N] [--quiet] [--timing] [--cafile "
                     "PEM] URL\n");
        return 2;
    }
    if (gTiming) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const double elapsed =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - gStart)
                .count();
        std::fprintf(stderr, "clock %.3f\n", now.tv_sec * 1000.0 + now.tv_nsec / 1e6 - elapsed);
    }
    std::signal(SIGINT, [](int) { gQuit = true; });
    std::signal(SIGTERM, [](int) { gQuit = true; });

    Engine engine(useNull ? OutputKind::Null : OutputKind::PulseAudio);
    gEngine = &engine;
    if (!engine.Init(-1, 44100, 0, nullptr, nullptr)) {
        std::fprintf(stderr, "Can't initialize device (error code: %d)\n", engine.ErrorGetCode());
        return 1;
    }
    engine.SetConfig(CONFIG_NET_PLAYLIST, 1);
    engine.SetConfig(CONFIG_NET_PREBUF, 0);
    if (caFile)
        engine.SetConfigPtr(CONFIG_NET_CAFILE, caFile);
    static const char noProxy[] = "";
    engine.SetConfigPtr(CONFIG_NET_PROXY, noProxy);

    mark("initialised");
    const HSTREAM h = engine.StreamCreateURL(url, 0, STREAM_STATUS, &onDownload, nullptr);
    mark("opened");
    if (!h) {
        const int code = engine.ErrorGetCode();
        std::fprintf(stderr, "Service Unavailable%s (error code: %d)\n",
                     code == ERROR_SSL ? ": the station's certificate is not trusted" : "", code);
        return 1;
    }
    gStream = h;
    for (;;) {
        const QWORD end = engine.StreamGetFilePosition(h, FILEPOS_END);
        if (end == static_cast<QWORD>(-1) || end == 0)
            break;
        const QWORD pct = (engine.StreamGetFilePosition(h, FILEPOS_DOWNLOAD) -
                           engine.StreamGetFilePosition(h, FILEPOS_CURRENT)) *
                          100 / end;
        engine.Stop();
        if (pct > 60 || gQuit)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    mark("buffered");
    engine.Start();
    if (!gQuiet) {
        const char* tags = engine.ChannelGetTags(h, TAG_ICY);
        if (!tags)
            tags = engine.ChannelGetTags(h, TAG_HTTP);
        for (const char* line = tags; line && *line; line += std::strlen(line) + 1)
            if (!std::strncmp(line, "icy-name:", 9) || !std::strncmp(line, "icy-br:", 7))
                std::printf("%s\n", line);
    }
    printTitle();
    engine.ChannelSetSync(h, SYNC_META, 0, &onMeta, nullptr);
    engine.ChannelPlay(h, 0);
    mark("playing");

    const auto started = std::chrono::steady_clock::now();
    bool played = false;
    while (!gQuit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const DWORD level = engine.ChannelGetLevel(h);
        if (level != 0xFFFFFFFFu)
            played = true;
        else if (played)
            break; // the stream ended
        if (seconds > 0 &&
            std::chrono::steady_clock::now() - started > std::chrono::duration<double>(seconds))
            break;
    }
    engine.Free();
    if (!gQuiet)
        std::printf("stopped\n");
    return played ? 0 : 1;
}
