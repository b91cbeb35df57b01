#pragma once
// The three platform operations the windows share for the publisher's web
// service (downloading a URL to a file, the connection test and the
// installation identifier), and the host addresses of the outside services
// read from settings/services.dat.
//
// Everything here is QtCore and libcurl only; no window is involved.

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace tolvane {

// Bounds of one download. Everything that comes from outside gets a limit:
// a server that never answers, answers forever or sends without end must
// not keep the caller waiting or fill the disk.
struct DownloadLimits {
    int connectTimeoutMs = 10'000;
    int totalTimeoutMs = 60'000;
    int maxRedirects = 5;
    qint64 maxBytes = qint64{64} * 1024 * 1024;
    // When set and it turns true, the transfer ends soon after as a failure
    // (checked at least once a second while it runs).
    const std::atomic<bool>* cancel = nullptr;
    // Only https, for the address and for every redirect.
    bool httpsOnly = false;
    // A certificate authority file to trust instead of the system's (tests
    // trust an authority of their own this way); empty: the system's.
    QString caFile;
};

// How a transfer into a writer ended.
enum class Transfer {
    Done,     // a 2xx reply arrived whole
    Failed,   // anything else the network or the writer did
    Insecure, // the address or a redirect left https while httpsOnly asked for it
};

// A GET of url whose body goes to write (pieces in order; false from write
// ends the transfer as Failed), with the same address rules and bounds as
// DownloadToFile.
Transfer DownloadToWriter(const QString& url, const std::function<bool(const char*, qint64)>& write,
                          const DownloadLimits& limits);

// Fetches url (http or https) synchronously on the calling thread and
// replaces the file at path with the body. The body is written to a
// temporary file in the same folder and renamed over the target only once
// it arrived whole, so a failed download leaves the old file untouched.
// Returns false for any failure: no connection, time-out, HTTP status 400 or
// above, a body cut short or over the size limit, too many redirects, a
// folder that cannot be written. Callers build addresses by joining texts,
// so characters that may not appear in a URL (blanks, non-ASCII letters)
// are percent-encoded before sending; everything else is sent as given.
bool DownloadToFile(const QString& url, const QString& path);
bool DownloadToFile(const QString& url, const QString& path, const DownloadLimits& limits);

// A plain GET whose reply is read and dropped (at most limits.maxBytes of
// it), with the same address rules and bounds as DownloadToFile. True when
// the server answered with a 2xx status.
bool FetchAndDrop(const QString& url, const DownloadLimits& limits = DownloadLimits{});

// One address of one network interface, as getifaddrs reports it.
struct InterfaceAddress {
    unsigned int flags = 0; // IFF_* of the interface
    int family = 0;         // AF_INET, AF_INET6 or another
    QByteArray address;     // 4 or 16 address bytes for AF_INET / AF_INET6
};

// The decision behind IsConnected: true when an interface other than
// loopback is up and running with an IPv4 or IPv6 address that is neither
// loopback nor link-local (a link-local address alone means no network
// handed us an address).
bool HasUsableInterface(const std::vector<InterfaceAddress>& addresses);

// True when this machine has a usable network interface (see above).
// Safe to call from any thread.
bool IsConnected();

// The installation identifier: the first eight hexadecimal digits of the
// machine's identifier, upper case; "00000000" when it cannot be read or
// does not start with eight hexadecimal digits. The one-argument form reads
// the given file; the other reads /etc/machine-id, then
// /var/lib/dbus/machine-id.
QString InstallationId();
QString InstallationId(const QString& machineIdPath);

// Host addresses of the outside services: scheme and host (and port), no
// trailing "/"; the two page entries are whole addresses.
struct Services {
    QString main;         // the publisher's main site: installation ping
    QString radio;        // the radio site: song-picture lookup and picture
    QString site;         // the radio site's other name: forum, home page
    QString lyrics;       // the lyrics service
    QString facebook;     // share page host
    QString twitter;      // share page host
    QString facebookPage; // the publisher's Facebook page
    QString twitterPage;  // the publisher's Twitter page
    // The public station directory: its mirror pool, or addresses of its
    // servers (blanks or commas between them) used as written.
    QString directory;

    // The built-in addresses, used for a missing file or key.
    static Services Defaults();
    // Reads section [services] of the given file. A missing or unreadable
    // file, or a missing or empty key, gives the built-in address; trailing
    // "/" are dropped so that paths can be joined on.
    static Services Load(const QString& absolutePath);
    // Load of "settings/services.dat" in the program folder (the current
    // directory), named at the moment of the call.
    static Services FromProgramFolder();
};

} // namespace tolvane
