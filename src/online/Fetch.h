#pragma once
// Downloads that keep the windows alive: the transfer runs on a thread of
// its own while the calling (user-interface) thread goes on handling its
// events, so redraws, the clock and the level meter carry on. The caller
// still waits for the result, in order, as with DownloadToFile.

#include "WebService.h"

#include <QString>

#include <atomic>
#include <functional>
#include <thread>

namespace tolvane {

enum class FetchResult {
    Done,        // the file was replaced by the whole download
    Failed,      // any failure; the old file is untouched
    Interrupted, // the caller gave up (see below); the old file is untouched
};

// Fetches url to path like DownloadToFile, handling the calling thread's
// events meanwhile. Other handlers (timers, clicks) may therefore run
// before this returns. `abandon` is asked while waiting; once it says true
// the transfer is stopped and the result is Interrupted (for example when
// the program is quitting).
FetchResult FetchToFile(const QString& url, const QString& path,
                        const std::function<bool()>& abandon = {},
                        const DownloadLimits& limits = DownloadLimits{});

// Runs job on a thread of its own while the calling thread handles its
// events, and returns once it has ended. job is handed a flag that turns
// true once `abandon` says so; it should then end soon. Returns false when
// abandoned (the job has ended all the same).
bool RunWhileHandlingEvents(const std::function<void(const std::atomic<bool>& cancel)>& job,
                            const std::function<bool()>& abandon);

// A GET sent off on a thread of its own, its reply dropped (FetchAndDrop).
// Destroying the object stops a transfer still under way (libcurl looks at
// least once a second) and waits for its thread, so nothing outlives the
// owner.
class BackgroundGet {
public:
    explicit BackgroundGet(const QString& url, const DownloadLimits& limits = DownloadLimits{});
    ~BackgroundGet();
    BackgroundGet(const BackgroundGet&) = delete;
    BackgroundGet& operator=(const BackgroundGet&) = delete;

private:
    std::atomic<bool> cancel_{false};
    std::thread thread_; // last: it uses cancel_
};

// A query value as it goes into an address: every byte but letters,
// digits and "-._~" percent-encoded, so blanks, "&", "#" and "+" in a title
// or a name reach the service as part of the value.
QString EncodeQueryValue(const QString& value);

} // namespace tolvane
