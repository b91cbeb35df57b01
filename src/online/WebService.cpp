#include "WebService.h"

#include "common/CurlGlobal.h"
#include "common/Errors.h"
#include "common/IniFile.h"
#include "common/Paths.h"
#include "common/Version.h"
#include "common/WriteGate.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

#include <curl/curl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <mutex>

namespace tolvane {

namespace {

const std::string UserAgent = std::string("Tolvane/") + TolvaneVersion;

// Where the body goes while it arrives (nowhere without a file), and why a
// transfer was cut short.
struct BodySink {
    QSaveFile* file = nullptr;
    WriteGate* gate = nullptr; // with file
    qint64 written = 0;
    qint64 maxBytes = 0;
    const std::function<bool(const char*, qint64)>* writer = nullptr; // instead of file
};

// libcurl write callback: a return value other than the size given aborts
// the transfer, which is how the size limit and a failed write end it.
size_t writeBody(char* data, size_t size, size_t count, void* userData) {
    auto* sink = static_cast<BodySink*>(userData);
    const qint64 length = static_cast<qint64>(size) * static_cast<qint64>(count);
    if (sink->written + length > sink->maxBytes)
        return 0;
    if (sink->file && !sink->gate->write(data, length, [&](const char* piece, qint64 size) {
            return sink->file->write(piece, size);
        }))
        return 0;
    if (sink->writer && !(*sink->writer)(data, length))
        return 0;
    sink->written += length;
    return size * count;
}

// libcurl progress callback: a nonzero return ends the transfer, which is
// how a caller that gives up on a download stops it.
int checkCancel(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* cancel = static_cast<const std::atomic<bool>*>(userData);
    return cancel && cancel->load() ? 1 : 0;
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Addresses are built by joining texts, so a song title may bring blanks,
// "%" signs or non-ASCII letters into the path or query. libcurl refuses
// such a URL. Encode exactly the bytes a URL cannot carry (controls, blanks,
// non-ASCII, a "%" that starts no escape, and the few characters that are
// never allowed) and keep everything else as given: delimiters such as "&"
// keep their meaning and escapes already present are not encoded twice.
QByteArray encodeUnsafeBytes(const QByteArray& bytes) {
    static const QByteArray neverAllowed = QByteArrayLiteral("\"<>\\^`{|}");
    QByteArray out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const bool escape = c == '%' && i + 2 < bytes.size() && isHexDigit(bytes[i + 1]) &&
                            isHexDigit(bytes[i + 2]);
        if (c <= 0x20 || c >= 0x7f || neverAllowed.contains(static_cast<char>(c)) ||
            (c == '%' && !escape)) {
            out += '%';
            out += QByteArray::number(c, 16).rightJustified(2, '0').toUpper();
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// The URL as it is sent, or empty when it is not an http or https address
// with a host. Only the part after the host is encoded; the host is sent
// as given.
QByteArray encodeForTransfer(const QString& url) {
    const QByteArray text = url.trimmed().toUtf8();
    const qsizetype schemeEnd = text.indexOf("://");
    if (schemeEnd <= 0)
        return {};
    qsizetype hostEnd = text.size();
    for (const char delimiter : {'/', '?', '#'}) {
        const qsizetype at = text.indexOf(delimiter, schemeEnd + 3);
        if (at >= 0 && at < hostEnd)
            hostEnd = at;
    }
    QByteArray encoded = text.left(hostEnd) + encodeUnsafeBytes(text.mid(hostEnd));
    const QUrl parsed = QUrl::fromEncoded(encoded, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || (scheme != u"http" && scheme != u"https") || parsed.host().isEmpty())
        return {};
    return encoded;
}

struct CurlHandle {
    CURL* handle = curl_easy_init();
    ~CurlHandle() {
        if (handle)
            curl_easy_cleanup(handle);
    }
};

bool isLinkLocalOrLoopback(int family, const QByteArray& address) {
    const auto* b = reinterpret_cast<const unsigned char*>(address.constData());
    if (family == AF_INET && address.size() == 4) {
        if (b[0] == 127)
            return true;                   // 127.0.0.0/8
        return b[0] == 169 && b[1] == 254; // 169.254.0.0/16
    }
    if (family == AF_INET6 && address.size() == 16) {
        static const unsigned char loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
        if (std::equal(b, b + 16, loopback))
            return true;
        return b[0] == 0xfe && (b[1] & 0xc0) == 0x80; // fe80::/10
    }
    return true; // no usable address
}

QString normalisedHost(const QString& value, const QString& fallback) {
    QString v = value.trimmed();
    while (v.endsWith(u'/'))
        v.chop(1);
    return v.isEmpty() ? fallback : v;
}

} // namespace

bool DownloadToFile(const QString& url, const QString& path) {
    return DownloadToFile(url, path, DownloadLimits{});
}

namespace {

bool isHttps(const QByteArray& encoded) {
    return encoded.left(8).toLower() == "https://";
}

// One GET of an encoded address into sink, within limits.
Transfer performGet(const QByteArray& encoded, BodySink& sink, const DownloadLimits& limits) {
    if (limits.httpsOnly && !isHttps(encoded))
        return Transfer::Insecure;
    ensureCurlGlobalInit();
    CurlHandle curl;
    if (!curl.handle)
        return Transfer::Failed;

    CURL* h = curl.handle;
    const char* protocols = limits.httpsOnly ? "https" : "http,https";
    curl_easy_setopt(h, CURLOPT_URL, encoded.constData());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    const QByteArray caFile = limits.caFile.toLocal8Bit();
    if (!caFile.isEmpty())
        curl_easy_setopt(h, CURLOPT_CAINFO, caFile.constData());
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, static_cast<long>(limits.maxRedirects));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeoutMs));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.totalTimeoutMs));
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBytes));
    curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L); // also called off the main thread
    curl_easy_setopt(h, CURLOPT_USERAGENT, UserAgent.c_str());
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, ""); // whatever libcurl can decode
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &writeBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    if (limits.cancel) {
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &checkCancel);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(limits.cancel));
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    }

    const CURLcode code = curl_easy_perform(h);
    // A redirect to a scheme the transfer may not use.
    if (code == CURLE_UNSUPPORTED_PROTOCOL)
        return limits.httpsOnly ? Transfer::Insecure : Transfer::Failed;
    if (code != CURLE_OK)
        return Transfer::Failed;

    // Success means the resource itself: a final 3xx (a redirect we could
    // not follow) is as much a failure as a 4xx or 5xx.
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    return status >= 200 && status <= 299 ? Transfer::Done : Transfer::Failed;
}

} // namespace

bool DownloadToFile(const QString& url, const QString& path, const DownloadLimits& limits) {
    const QByteArray encoded = encodeForTransfer(url);
    if (encoded.isEmpty() || path.isEmpty() || QFileInfo(path).isDir())
        return false;

    // The temporary file sits beside the target and replaces it at commit;
    // dropping the QSaveFile without commit removes it again.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return false;

    WriteGate gate(path);
    BodySink sink{&file, &gate, 0, limits.maxBytes};
    return performGet(encoded, sink, limits) == Transfer::Done && file.commit();
}

Transfer DownloadToWriter(const QString& url, const std::function<bool(const char*, qint64)>& write,
                          const DownloadLimits& limits) {
    const QByteArray encoded = encodeForTransfer(url);
    if (encoded.isEmpty())
        return limits.httpsOnly ? Transfer::Insecure : Transfer::Failed;
    BodySink sink{nullptr, nullptr, 0, limits.maxBytes, &write};
    return performGet(encoded, sink, limits);
}

bool FetchAndDrop(const QString& url, const DownloadLimits& limits) {
    const QByteArray encoded = encodeForTransfer(url);
    if (encoded.isEmpty())
        return false;
    BodySink sink{nullptr, nullptr, 0, limits.maxBytes};
    return performGet(encoded, sink, limits) == Transfer::Done;
}

bool HasUsableInterface(const std::vector<InterfaceAddress>& addresses) {
    for (const InterfaceAddress& a : addresses) {
        if (a.flags & IFF_LOOPBACK)
            continue;
        if (!(a.flags & IFF_UP) || !(a.flags & IFF_RUNNING))
            continue;
        if (a.family != AF_INET && a.family != AF_INET6)
            continue;
        if (!isLinkLocalOrLoopback(a.family, a.address))
            return true;
    }
    return false;
}

bool IsConnected() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    std::vector<InterfaceAddress> addresses;
    for (const ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr)
            continue;
        InterfaceAddress a;
        a.flags = i->ifa_flags;
        a.family = i->ifa_addr->sa_family;
        if (a.family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
            a.address = QByteArray(reinterpret_cast<const char*>(&in->sin_addr), 4);
        } else if (a.family == AF_INET6) {
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(i->ifa_addr);
            a.address = QByteArray(reinterpret_cast<const char*>(&in6->sin6_addr), 16);
        }
        addresses.push_back(a);
    }
    freeifaddrs(list);
    return HasUsableInterface(addresses);
}

QString InstallationId(const QString& machineIdPath) {
    QString unknown = QStringLiteral("00000000");
    QFile file(machineIdPath);
    if (!file.open(QIODevice::ReadOnly))
        return unknown;
    // The identifier is 32 hexadecimal digits on one line; a few bytes more
    // than the eight we use are plenty.
    const QByteArray head = file.read(64).trimmed();
    if (head.size() < 8)
        return unknown;
    const QByteArray digits = head.left(8);
    for (char c : digits) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex)
            return unknown;
    }
    return QString::fromLatin1(digits).toUpper();
}

QString InstallationId() {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        if (QFileInfo::exists(QString::fromLatin1(path)))
            return InstallationId(QString::fromLatin1(path));
    }
    return QStringLiteral("00000000");
}

Services Services::Defaults() {
    Services s;
    s.main = QStringLiteral("https://www.tolvane.org");
    s.radio = QStringLiteral("https://radio.tolvane.org");
    s.site = QStringLiteral("https://www.radio.tolvane.org");
    s.lyrics = QStringLiteral("https://www.lyrics.com");
    s.facebook = QStringLiteral("https://www.facebook.com");
    s.twitter = QStringLiteral("https://twitter.com");
    s.facebookPage = QStringLiteral("https://www.facebook.com/groups/tolvane");
    s.twitterPage = QStringLiteral("https://twitter.com/tolvane");
    s.directory = QStringLiteral("https://all.api.radio-browser.info");
    return s;
}

Services Services::Load(const QString& absolutePath) {
    Services d = Defaults();
    IniDocument doc;
    try {
        IniFile ini(absolutePath);
        doc = ini.document();
    } catch (const UserError&) {
        // An unreadable file is treated like a missing one: the services
        // still have somewhere to go.
        return d;
    }
    const QString section = QStringLiteral("services");
    auto read = [&](const char* key, const QString& fallback) {
        return normalisedHost(doc.value(section, QString::fromLatin1(key)), fallback);
    };
    Services s;
    s.main = read("main", d.main);
    s.radio = read("radio", d.radio);
    s.site = read("site", d.site);
    s.lyrics = read("lyrics", d.lyrics);
    s.facebook = read("facebook", d.facebook);
    s.twitter = read("twitter", d.twitter);
    s.facebookPage = read("facebookpage", d.facebookPage);
    s.twitterPage = read("twitterpage", d.twitterPage);
    s.directory = read("directory", d.directory);
    return s;
}

Services Services::FromProgramFolder() {
    return Load(ProgramPath(QStringLiteral("settings/services.dat")));
}

} // namespace tolvane
