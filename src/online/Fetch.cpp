#include "Fetch.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <memory>

namespace tolvane {

FetchResult FetchToFile(const QString& url, const QString& path,
                        const std::function<bool()>& abandon, const DownloadLimits& limits) {
    // Shared with the transfer thread, which may outlive nothing here: it is
    // always joined before this function returns.
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto ok = std::make_shared<std::atomic<bool>>(false);
    DownloadLimits bounded = limits;
    bounded.cancel = cancel.get();

    std::unique_ptr<QThread> thread(QThread::create([=] {
        ok->store(DownloadToFile(url, path, bounded));
        done->store(true);
    }));
    thread->start();

    // Handle events until the transfer ends, looking every few milliseconds.
    // (A nested QEventLoop would end at once once the application was told
    // to quit, so the events are handled here.)
    bool interrupted = false;
    while (!done->load()) {
        if (abandon && abandon()) {
            interrupted = true;
            cancel->store(true);
            break;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (!done->load())
            QThread::msleep(5);
    }
    thread->wait();
    if (interrupted)
        return FetchResult::Interrupted;
    return ok->load() ? FetchResult::Done : FetchResult::Failed;
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
