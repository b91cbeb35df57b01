#pragma once
// The public community station directory as plain data: the addresses of
// its JSON calls, its replies read strictly (a reply that is not what the
// directory sends is refused whole, never used in part), the order in which
// its mirrors are tried, and a found station as one of our station records.
// QtCore only; no network and no window here.

#include "catalog/StationEdits.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

namespace tolvane::directory {

// Results asked for at a time, and the most one search holds however far
// the user scrolls (200 pages).
inline constexpr int PageSize = 50;
inline constexpr int MaxResults = 10'000;
// The largest reply read; a longer one is cut off and refused.
inline constexpr qint64 MaxReplyBytes = qint64{16} * 1024 * 1024;
// Entries asked for in a filter box's list (the most used first), and the
// longest text a field of a reply may hold.
inline constexpr int MaxListEntries = 1000;
inline constexpr int MaxFieldLength = 8192;

// The documented pool address: its mirrors are found through its server
// list and tried in turn. https only.
inline const QString PoolAddress = QStringLiteral("https://all.api.radio-browser.info");

// One station of a search reply.
struct DirectoryStation {
    QString uuid, name, url, urlResolved, homepage, favicon;
    QStringList tags;
    QString country, countryCode, language, codec;
    int bitrate = 0;
    qint64 votes = 0, clicks = 0;
    bool lastCheckOk = true;
    bool hls = false;

    // The address to play and to save: the directory's resolved one (no
    // playlist to follow) when it has one.
    QString streamUrl() const { return urlResolved.isEmpty() ? url : urlResolved; }
};

// What the user searches by; an empty text or a zero bitrate does not filter.
struct StationQuery {
    QString name, tag, country, countryCode, language, codec;
    int bitrateMin = 0;
    bool showBroken = false; // also stations that failed the directory's check
    friend bool operator==(const StationQuery&, const StationQuery&) = default;
};

// Paths with their queries, every value percent-encoded. Results come by
// popularity (votes, most first).
QString searchPath(const StationQuery& query, int offset, int limit);
// The filter boxes' lists: the most used first, at most MaxListEntries.
QString tagsPath();
QString countriesPath();
QString languagesPath();
// Tells the directory a station was played (it counts clicks for
// popularity); its reply is not needed.
QString clickPath(const QString& uuid);
QString serversPath();

// A reply read, or why it was refused.
template <typename T> struct Parsed {
    T value{};
    QString error; // empty when the reply was read
    bool ok() const { return error.isEmpty(); }
};

// A search reply: a JSON array of station objects, at most `limit` of them,
// each with stationuuid, name and url and every other field the right type.
// Stations are ordered by votes, then clicks, most first (stable), names
// and tags come without control characters, and a homepage that is no http
// or https address is left out.
Parsed<QVector<DirectoryStation>> parseStations(const QByteArray& reply, int limit);

// An entry of the tags, countries or languages list.
struct ListEntry {
    QString name;
    QString code; // countries: the ISO 3166-1 code; otherwise empty
    qint64 stationCount = 0;
};
// A list reply: a JSON array of objects with name and stationcount (and,
// when codeKey is given, that code), at most MaxListEntries. Entries with an
// empty name are left out; the reply's order is kept.
Parsed<QVector<ListEntry>> parseList(const QByteArray& reply, const QString& codeKey = {});

// The server list's mirrors as https addresses, each once, in the list's
// order. Only host names under radio-browser.info are taken: a list that
// pointed elsewhere would send every search to a stranger.
Parsed<QStringList> parseServers(const QByteArray& reply);

// Where the directory is, from the services file's value: the pool (empty
// value or the pool address), or the addresses written there, separated by
// blanks or commas, used as written and tried in the order given.
struct DirectoryAddresses {
    bool pool = true;
    QStringList servers; // without trailing "/"
};
DirectoryAddresses directoryAddresses(const QString& servicesValue);

// The order in which the mirrors are tried: from the last one that
// answered, round the list. A mirror that answers becomes the first to ask
// next time; one that fails is passed over until the others failed too.
class MirrorRotation {
public:
    void setServers(const QStringList& servers);
    const QStringList& servers() const { return servers_; }
    bool isEmpty() const { return servers_.isEmpty(); }
    QStringList attemptOrder() const;
    void answered(const QString& server);

private:
    QStringList servers_;
    qsizetype first_ = 0;
};

// A found station as one of our station records: genre = the first of its
// tags that the genre list offers (in the list's spelling), else its first
// tag; language = the language list's entry for one of its languages, else
// its first language; website = homepage; streaming = streamUrl(); bitrate
// in kbit/s, empty when unknown. Matching ignores letter case.
catalog::NewStation stationRecord(const DirectoryStation& station, const QStringList& genres,
                                  const QStringList& languages);

// The last search as the settings file keeps it: section [directory],
// keys name, tag, country, countrycode, language, codec, bitrate (kbit/s)
// and broken ("true" or "false").
inline const QString SettingsSection = QStringLiteral("directory");
QList<std::pair<QString, QString>> rememberedEntries(const StationQuery& query);
StationQuery rememberedQuery(const QStringList& values); // in the order of rememberedEntries
QStringList rememberedKeys();

// The Tags column: the tags joined by ", ".
QString tagsText(const DirectoryStation& station);

} // namespace tolvane::directory
