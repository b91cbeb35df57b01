#include "Fetch.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <memory>

namespace tolvane {

bool RunWhileHandlingEvents(const std::function<void(const std::atomic<bool>& cancel)>& job,
                            const std::function<bool()>& abandon) {
    // Shared with the job's thread, which is always joined before this
    // function returns.
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    std::unique_ptr<QThread> thread(QThread::create([&] {
        job(cancel);
        done.store(true);
    }));
    thread->start();

    // Handle events until the job ends, looking every few milliseconds.
    // (A nested QEventLoop would end at once once the application was told
    // to quit, so the events are handled here.)
    bool interrupted = false;
    while (!done.load()) {
        if (abandon && abandon()) {
            interrupted = true;
            cancel.store(true);
            break;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (!done.load())
            QThread::msleep(5);
    }
    thread->wait();
    return !interrupted;
}

FetchResult FetchToFile(const QString& url, const QString& path,
                        const std::function<bool()>& abandon, const DownloadLimits& limits) {
    bool ok = false;
    const bool finished = RunWhileHandlingEvents(
        [&](const std::atomic<bool>& cancel) {
            DownloadLimits bounded = limits;
            bounded.cancel = &cancel;
            ok = DownloadToFile(url, path, bounded);
        },
        abandon);
    if (!finished)
        return FetchResult::Interrupted;
    return ok ? FetchResult::Done : FetchResult::Failed;
}

BackgroundGet::BackgroundGet(const QString& url, const DownloadLimits& limits)
    : thread_([this, url, limits] {
          DownloadLimits bounded = limits;
          bounded.cancel = &cancel_;
          FetchAndDrop(url, bounded);
      }) {}

BackgroundGet::~BackgroundGet() {
    cancel_.store(true);
    thread_.join();
}

QString EncodeQueryValue(const QString& value) {
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

} // namespace tolvane
