// Preloaded into a player to make the system look as if FFmpeg were not
// installed: opening any of its libraries fails, everything else is opened
// as usual.
#include <dlfcn.h>

#include <cstring>
#include <initializer_list>

extern "C" void* dlopen(const char* file, int mode) {
    using Open = void* (*)(const char*, int);
    static const auto next = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "dlopen"));
    for (const char* lib : {"libavformat", "libavcodec", "libavutil", "libswresample"}) {
        if (file && std::strstr(file, lib))
            return nullptr;
    }
    return next(file, mode);
}
