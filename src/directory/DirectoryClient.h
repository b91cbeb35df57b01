#pragma once
// Talks to the station directory off the window's thread. One worker thread
// of the client's own does every request in turn, each bounded (connect and
// total time-outs, a reply size limit); the results come back as signals on
// the thread that made the client. The mirrors are tried in turn when one
// fails. A newer search cancels an older one still under way, and the older
// one's results are never delivered. Destroying the client stops the
// transfer under way (libcurl looks at least once a second) and waits for
// the worker.

#include "Directory.h"

#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace tolvane::directory {

struct DirectoryLimits {
    int connectTimeoutMs = 5'000;
    int totalTimeoutMs = 15'000;
    qint64 maxBytes = MaxReplyBytes;
    // How many mirrors one request tries before it gives up.
    int maxAttempts = 4;
};

// One GET of a directory address into memory, within limits. `httpsOnly`
// refuses plain http, also on redirects. The error is empty on success;
// `refused` tells a reply that came but cannot be used (too big) from a
// server that could not be reached. Blocking: call it off the window's
// thread. `cancelled` is asked at least once a second.
struct FetchOutcome {
    QByteArray body;
    QString error;
    bool refused = false;
};
FetchOutcome fetchDirectory(const QString& url, bool httpsOnly, const DirectoryLimits& limits,
                            const std::function<bool()>& cancelled);

// The window's texts for a request that failed.
QString unreachableText(const QString& reason);
QString refusedText(const QString& reason);

enum class ListKind { Tags, Countries, Languages };

class DirectoryClient : public QObject {
    Q_OBJECT
public:
    // `servicesValue` is the services file's `directory` value (see
    // directoryAddresses).
    explicit DirectoryClient(const QString& servicesValue, DirectoryLimits limits = {},
                             QObject* parent = nullptr);
    ~DirectoryClient() override;

    // Asks for a page of results; returns the request's number. Only the
    // newest search's page is delivered.
    quint64 search(const StationQuery& query, int offset, int limit = PageSize);
    // Asks for the three lists of the filter boxes (after any search).
    void fetchLists();
    // Tells the directory a station was played; the reply is dropped.
    void reportClick(const QString& uuid);

    // Whether a request is queued or under way, and when the last reply of
    // a search arrived whole (for tests and benchmarks).
    bool busy() const;
    std::chrono::steady_clock::time_point lastReplyReceived() const {
        return std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(lastReplyReceived_.load()));
    }

signals:
    // `asked` is how many results were asked for: fewer means the last page.
    void stationsArrived(quint64 request, int offset, const QVector<DirectoryStation>& stations,
                         int asked);
    void searchFailed(quint64 request, const QString& message);
    void listArrived(ListKind kind, const QVector<ListEntry>& entries);
    // A click report was answered (or failed); for tests.
    void clickSent(const QString& uuid, bool ok);

private:
    struct SearchJob {
        quint64 id = 0;
        QString path;
        int offset = 0;
        int limit = 0;
    };
    void run();
    void runSearch(const SearchJob& job);
    void runLists();
    void runClick(const QString& uuid);
    // Fetches path from the mirrors in turn until one gives a reply that
    // `accept` takes (it returns an empty text then, or why it refused).
    QString fetchFromMirrors(const QString& path, const std::function<bool()>& cancelled,
                             const std::function<QString(const QByteArray&)>& accept);
    void findMirrors(const std::function<bool()>& cancelled);

    const DirectoryAddresses addresses_;
    const DirectoryLimits limits_;

    // Worker thread only.
    MirrorRotation rotation_;
    bool mirrorsFound_ = false;

    mutable std::mutex mutex_; // guards the queue below and busy_
    std::condition_variable wake_;
    std::optional<SearchJob> pendingSearch_;
    bool pendingLists_ = false;
    std::deque<QString> pendingClicks_;
    bool busy_ = false;
    bool stop_ = false;

    std::atomic<quint64> latestSearch_{0}; // written by the window's thread
    std::atomic<std::chrono::steady_clock::rep> lastReplyReceived_{0}; // by the worker
    std::atomic<bool> stopping_{false};
    std::thread worker_; // last: it uses everything above
};

} // namespace tolvane::directory
