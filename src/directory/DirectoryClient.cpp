#include "DirectoryClient.h"

#include "common/CurlGlobal.h"
#include "common/ThreadHandoff.h"
#include "common/Version.h"

#include <QRandomGenerator>

#include <curl/curl.h>
#include <malloc.h>

#include <algorithm>

namespace tolvane::directory {

namespace {

const std::string UserAgent = std::string("Tolvane/") + TolvaneVersion;

struct Sink {
    QByteArray* body;
    qint64 maxBytes;
    bool tooBig = false;
};

size_t writeReply(char* data, size_t size, size_t count, void* userData) {
    auto* sink = static_cast<Sink*>(userData);
    const qint64 length = static_cast<qint64>(size * count);
    if (sink->body->size() + length > sink->maxBytes) {
        sink->tooBig = true;
        return 0; // ends the transfer
    }
    sink->body->append(data, length);
    return size * count;
}

int checkCancelled(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* cancelled = static_cast<const std::function<bool()>*>(userData);
    return (*cancelled)() ? 1 : 0;
}

QString megabytes(qint64 bytes) {
    return QString::number(bytes / (1024 * 1024));
}

} // namespace

QString unreachableText(const QString& reason) {
    return QStringLiteral("The station directory cannot be reached: ") + reason;
}

QString refusedText(const QString& reason) {
    return QStringLiteral("The station directory's reply was refused: ") + reason;
}

FetchOutcome fetchDirectory(const QString& url, bool httpsOnly, const DirectoryLimits& limits,
                            const std::function<bool()>& cancelled) {
    ensureCurlGlobalInit();
    FetchOutcome out;
    CURL* h = curl_easy_init();
    if (!h) {
        out.error = QStringLiteral("the network library could not start");
        return out;
    }
    const QByteArray address = url.toUtf8();
    const char* protocols = httpsOnly ? "https" : "http,https";
    char errorText[CURL_ERROR_SIZE] = {};
    Sink sink{&out.body, limits.maxBytes};
    curl_easy_setopt(h, CURLOPT_URL, address.constData());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 3L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeoutMs));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.totalTimeoutMs));
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBytes));
    curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    // A transfer given up while a name is still being looked up does not
    // wait for the lookup to end (offline, that can take many seconds):
    // closing the window or the player stays quick.
    curl_easy_setopt(h, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, UserAgent.c_str());
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &writeReply);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &checkCancelled);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, const_cast<std::function<bool()>*>(&cancelled));
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    const CURLcode code = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(h);

    if (sink.tooBig || code == CURLE_FILESIZE_EXCEEDED) {
        out.refused = true;
        out.error = QStringLiteral("it is larger than %1 MB").arg(megabytes(limits.maxBytes));
    } else if (code == CURLE_HTTP_RETURNED_ERROR) {
        out.error = QStringLiteral("the server answered with status %1").arg(status);
    } else if (code != CURLE_OK) {
        out.error = QString::fromUtf8(errorText[0] ? errorText : curl_easy_strerror(code));
    } else if (status < 200 || status > 299) {
        out.error = QStringLiteral("the server answered with status %1").arg(status);
    }
    if (!out.error.isEmpty())
        out.body.clear();
    return out;
}

DirectoryClient::DirectoryClient(const QString& servicesValue, DirectoryLimits limits,
                                 QObject* parent)
    : QObject(parent), addresses_(directoryAddresses(servicesValue)), limits_(limits) {
    if (!addresses_.pool) {
        rotation_.setServers(addresses_.servers);
        mirrorsFound_ = true;
    }
    worker_ = std::thread([this] { run(); });
}

DirectoryClient::~DirectoryClient() {
    stopping_ = true;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

quint64 DirectoryClient::search(const StationQuery& query, int offset, int limit) {
    const quint64 id = latestSearch_.load() + 1;
    latestSearch_ = id; // the running search, if any, gives up
    {
        std::lock_guard lock(mutex_);
        pendingSearch_ = SearchJob{id, searchPath(query, offset, limit), offset, limit};
    }
    wake_.notify_all();
    return id;
}

void DirectoryClient::fetchLists() {
    {
        std::lock_guard lock(mutex_);
        pendingLists_ = true;
    }
    wake_.notify_all();
}

void DirectoryClient::reportClick(const QString& uuid) {
    {
        std::lock_guard lock(mutex_);
        if (pendingClicks_.size() < 16)
            pendingClicks_.push_back(uuid);
    }
    wake_.notify_all();
}

bool DirectoryClient::busy() const {
    std::lock_guard lock(mutex_);
    return busy_ || pendingSearch_ || pendingLists_ || !pendingClicks_.empty();
}

void DirectoryClient::run() {
    for (;;) {
        std::optional<SearchJob> search;
        std::optional<QString> click;
        bool lists = false;
        {
            std::unique_lock lock(mutex_);
            busy_ = false;
            wake_.wait(lock, [this] {
                return stop_ || pendingSearch_ || pendingLists_ || !pendingClicks_.empty();
            });
            if (stop_)
                return;
            busy_ = true;
            // What the user waits for first: the results, then the clicks,
            // then the filter boxes' lists.
            if (pendingSearch_) {
                search.swap(pendingSearch_);
            } else if (!pendingClicks_.empty()) {
                click = pendingClicks_.front();
                pendingClicks_.pop_front();
            } else {
                lists = std::exchange(pendingLists_, false);
            }
        }
        if (search)
            runSearch(*search);
        else if (click)
            runClick(*click);
        else if (lists)
            runLists();
    }
}

void DirectoryClient::findMirrors(const std::function<bool()>& cancelled) {
    if (mirrorsFound_)
        return;
    // The pool answers from one of its mirrors and lists them all; each is
    // then asked directly, in a random order so the load spreads.
    const FetchOutcome list = fetchDirectory(PoolAddress + serversPath(), true, limits_, cancelled);
    const Parsed<QStringList> servers =
        list.error.isEmpty() ? parseServers(list.body) : Parsed<QStringList>{};
    if (list.error.isEmpty() && servers.ok()) {
        QStringList shuffled = servers.value;
        std::shuffle(shuffled.begin(), shuffled.end(), *QRandomGenerator::global());
        rotation_.setServers(shuffled);
        mirrorsFound_ = true;
    } else {
        // Without the list the pool itself still reaches a mirror; the list
        // is asked for again next time.
        rotation_.setServers({PoolAddress});
    }
}

QString DirectoryClient::fetchFromMirrors(const QString& path,
                                          const std::function<bool()>& cancelled,
                                          const std::function<QString(const QByteArray&)>& accept) {
    findMirrors(cancelled);
    QString lastError = unreachableText(QStringLiteral("no server is known"));
    int attempts = 0;
    for (const QString& server : rotation_.attemptOrder()) {
        if (cancelled() || attempts++ == limits_.maxAttempts)
            break;
        const FetchOutcome reply =
            fetchDirectory(server + path, addresses_.pool, limits_, cancelled);
        if (cancelled())
            break;
        if (!reply.error.isEmpty()) {
            lastError = reply.refused ? refusedText(reply.error) : unreachableText(reply.error);
            continue;
        }
        const QString refusal = accept(reply.body);
        if (refusal.isEmpty()) {
            rotation_.answered(server);
            return {};
        }
        lastError = refusedText(refusal);
    }
    return lastError;
}

void DirectoryClient::runSearch(const SearchJob& job) {
    auto cancelled = [this, id = job.id] { return stopping_ || latestSearch_.load() != id; };
    QVector<DirectoryStation> stations;
    qsizetype replyBytes = 0;
    const QString error = fetchFromMirrors(job.path, cancelled, [&](const QByteArray& body) {
        lastReplyReceived_ = std::chrono::steady_clock::now().time_since_epoch().count();
        replyBytes = body.size();
        Parsed<QVector<DirectoryStation>> parsed = parseStations(body, job.limit);
        stations = std::move(parsed.value);
        return parsed.error;
    });
    // A large reply and its parse leave freed memory in this thread's heap;
    // give it back rather than keep it for the next one.
    if (replyBytes > 1024 * 1024)
        malloc_trim(0);
    if (cancelled())
        return;
    if (error.isEmpty()) {
        QueueOnThreadOf(this, [this, job, stations = std::move(stations)] {
            emit stationsArrived(job.id, job.offset, stations, job.limit);
        });
    } else {
        QueueOnThreadOf(this, [this, id = job.id, error] { emit searchFailed(id, error); });
    }
}

void DirectoryClient::runLists() {
    auto cancelled = [this] { return stopping_.load(); };
    const struct {
        ListKind kind;
        QString path;
        QString codeKey;
    } lists[] = {
        {ListKind::Tags, tagsPath(), {}},
        {ListKind::Countries, countriesPath(), QStringLiteral("iso_3166_1")},
        {ListKind::Languages, languagesPath(), {}},
    };
    for (const auto& list : lists) {
        QVector<ListEntry> entries;
        const QString error = fetchFromMirrors(list.path, cancelled, [&](const QByteArray& body) {
            Parsed<QVector<ListEntry>> parsed = parseList(body, list.codeKey);
            entries = std::move(parsed.value);
            return parsed.error;
        });
        if (cancelled())
            return;
        // A list that cannot be had leaves its box to typing.
        if (error.isEmpty()) {
            QueueOnThreadOf(this, [this, kind = list.kind, entries = std::move(entries)] {
                emit listArrived(kind, entries);
            });
        }
    }
}

void DirectoryClient::runClick(const QString& uuid) {
    auto cancelled = [this] { return stopping_.load(); };
    const QString error =
        fetchFromMirrors(clickPath(uuid), cancelled, [](const QByteArray&) { return QString(); });
    if (cancelled())
        return;
    QueueOnThreadOf(this, [this, uuid, ok = error.isEmpty()] { emit clickSent(uuid, ok); });
}

} // namespace tolvane::directory
