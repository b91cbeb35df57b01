#include "FfmpegApi.h"

#include <dlfcn.h>

#include <mutex>
#include <string>

namespace tolvane::engine {
namespace {

std::mutex gMutex;
FfmpegApi gApi; // filled under gMutex, read-only once a level is loaded
bool gUtilTried = false;
bool gFormatsTried = false;

void* openLibrary(const char* base, int major) {
    const std::string soname = std::string(base) + ".so." + std::to_string(major);
    return dlopen(soname.c_str(), RTLD_NOW | RTLD_LOCAL);
}

template <typename T> bool resolve(void* lib1, void* lib2, const char* name, T& out) {
    void* sym = lib1 ? dlsym(lib1, name) : nullptr;
    if (!sym && lib2)
        sym = dlsym(lib2, name);
    out = reinterpret_cast<T>(sym);
    return sym != nullptr;
}

bool loadUtil() {
    void* util = openLibrary("libavutil", LIBAVUTIL_VERSION_MAJOR);
    void* swr = openLibrary("libswresample", LIBSWRESAMPLE_VERSION_MAJOR);
    if (!util || !swr)
        return false;
    bool ok = true;
#define TOLVANE_FFMPEG_RESOLVE(name) ok = resolve(util, swr, #name, gApi.name) && ok;
    TOLVANE_FFMPEG_UTIL_FUNCTIONS(TOLVANE_FFMPEG_RESOLVE)
#undef TOLVANE_FFMPEG_RESOLVE
    if (ok)
        gApi.av_log_set_level(AV_LOG_QUIET);
    return ok;
}

bool loadFormats() {
    void* format = openLibrary("libavformat", LIBAVFORMAT_VERSION_MAJOR);
    void* codec = openLibrary("libavcodec", LIBAVCODEC_VERSION_MAJOR);
    if (!format || !codec)
        return false;
    bool ok = true;
#define TOLVANE_FFMPEG_RESOLVE(name) ok = resolve(format, codec, #name, gApi.name) && ok;
    TOLVANE_FFMPEG_FORMAT_FUNCTIONS(TOLVANE_FFMPEG_RESOLVE)
#undef TOLVANE_FFMPEG_RESOLVE
    return ok;
}

} // namespace

const FfmpegApi* ffmpegResampler() {
    std::lock_guard lock(gMutex);
    if (!gUtilTried) {
        gUtilTried = true;
        gApi.utilLoaded = loadUtil();
    }
    return gApi.utilLoaded ? &gApi : nullptr;
}

const FfmpegApi* ffmpegFormats() {
    if (!ffmpegResampler())
        return nullptr;
    std::lock_guard lock(gMutex);
    if (!gFormatsTried) {
        gFormatsTried = true;
        gApi.formatsLoaded = loadFormats();
    }
    return gApi.formatsLoaded ? &gApi : nullptr;
}

} // namespace tolvane::engine
