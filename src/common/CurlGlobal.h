#pragma once
// libcurl's global set-up, done once for the whole program by whichever part
// needs the network first (the engine's streams, the web service's
// downloads). Header-only so the engine, which has no Qt, shares it.

#include <curl/curl.h>

#include <mutex>

namespace tolvane {

inline void ensureCurlGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace tolvane
