#include "Directory.h"

#include "online/Fetch.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace tolvane::directory {

namespace {

// Tags a station may carry before the rest are dropped: enough for the
// column and the genre, not a way to fill memory.
constexpr int MaxTags = 32;

QString param(const char* key, const QString& value) {
    return u'&' + QString::fromLatin1(key) + u'=' + EncodeQueryValue(value);
}

// Control characters (line breaks, tabs) become blanks: a name goes into a
// one-line list and a section header.
QString oneLine(const QString& text) {
    // Most texts are clean already: keep them as they are, without a copy.
    bool clean = text.isEmpty() || (!text.front().isSpace() && !text.back().isSpace());
    for (qsizetype i = 0; clean && i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        clean = c >= 0x20 && c != 0x7f && !(c == u' ' && i > 0 && text[i - 1] == u' ');
    }
    if (clean)
        return text;
    QString out = text;
    for (QChar& c : out) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u' ';
    }
    return out.simplified();
}

// Reads one object's fields; the first field of a wrong type refuses the
// whole reply.
class FieldReader {
public:
    explicit FieldReader(const QJsonObject& object) : object_(object) {}

    // A text field; a missing or null one reads empty.
    QString text(const char* key, bool required = false) {
        const QJsonValue v = object_.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull()) {
            if (required)
                fail(QStringLiteral("a station has no %1").arg(QLatin1String(key)));
            return {};
        }
        if (!v.isString()) {
            fail(QStringLiteral("%1 is not a text").arg(QLatin1String(key)));
            return {};
        }
        QString s = v.toString();
        if (s.size() > MaxFieldLength) {
            fail(QStringLiteral("%1 is too long").arg(QLatin1String(key)));
            return {};
        }
        return s;
    }

    // A whole number 0 or more; a missing or null one reads 0.
    qint64 number(const char* key) {
        const QJsonValue v = object_.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull())
            return 0;
        const double d = v.toDouble(-1);
        if (!v.isDouble() || !std::isfinite(d) || d < 0 || d > 1e15 || d != std::floor(d)) {
            fail(QStringLiteral("%1 is not a whole number").arg(QLatin1String(key)));
            return 0;
        }
        return static_cast<qint64>(d);
    }

    // A flag sent as 0 or 1 (or true and false); missing reads `missing`.
    bool flag(const char* key, bool missing) {
        const QJsonValue v = object_.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull())
            return missing;
        if (v.isBool())
            return v.toBool();
        if (v.isDouble() && (v.toDouble() == 0 || v.toDouble() == 1))
            return v.toDouble() == 1;
        fail(QStringLiteral("%1 is not 0 or 1").arg(QLatin1String(key)));
        return missing;
    }

    const QString& error() const { return error_; }

private:
    void fail(const QString& why) {
        if (error_.isEmpty())
            error_ = why;
    }
    const QJsonObject& object_;
    QString error_;
};

// The reply as a JSON array, or why it is none.
std::optional<QJsonArray> jsonArray(const QByteArray& reply, QString& error) {
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(reply, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = QStringLiteral("not JSON (%1 at byte %2)")
                    .arg(parseError.errorString())
                    .arg(parseError.offset);
        return std::nullopt;
    }
    if (!doc.isArray()) {
        error = QStringLiteral("not a list");
        return std::nullopt;
    }
    return doc.array();
}

// One copy of each of the texts that repeat from station to station
// (countries, languages, codecs, tags): a long list then holds a few
// thousand strings instead of tens of thousands.
class TextPool {
public:
    QString operator()(const QString& text) {
        if (text.isEmpty())
            return text;
        const auto it = pool_.constFind(text);
        if (it != pool_.cend())
            return *it;
        pool_.insert(text);
        return text;
    }

private:
    QSet<QString> pool_;
};

QStringList splitTags(const QString& text, TextPool* pool = nullptr) {
    QStringList tags;
    for (const QString& part : text.split(u',')) {
        const QString tag = oneLine(part);
        if (!tag.isEmpty() && !tags.contains(tag, Qt::CaseInsensitive))
            tags.append(pool ? (*pool)(tag) : tag);
        if (tags.size() == MaxTags)
            break;
    }
    return tags;
}

// The entry of `list` that equals `value`, letter case ignored.
std::optional<QString> listEntry(const QStringList& list, const QString& value) {
    for (const QString& entry : list) {
        if (entry.trimmed().compare(value, Qt::CaseInsensitive) == 0)
            return entry.trimmed();
    }
    return std::nullopt;
}

} // namespace

QString searchPath(const StationQuery& q, int offset, int limit) {
    QString path = QStringLiteral("/json/stations/search?order=votes&reverse=true");
    if (!q.name.trimmed().isEmpty())
        path += param("name", q.name.trimmed());
    if (!q.tag.trimmed().isEmpty())
        path += param("tag", q.tag.trimmed());
    // A country picked from the list is asked for by its code, which
    // matches exactly; a typed one by its name.
    if (!q.countryCode.trimmed().isEmpty())
        path += param("countrycode", q.countryCode.trimmed());
    else if (!q.country.trimmed().isEmpty())
        path += param("country", q.country.trimmed());
    if (!q.language.trimmed().isEmpty())
        path += param("language", q.language.trimmed());
    if (!q.codec.trimmed().isEmpty())
        path += param("codec", q.codec.trimmed());
    if (q.bitrateMin > 0)
        path += param("bitrateMin", QString::number(q.bitrateMin));
    path += param("hidebroken", q.showBroken ? QStringLiteral("false") : QStringLiteral("true"));
    path += param("offset", QString::number(std::max(0, offset)));
    path += param("limit", QString::number(std::clamp(limit, 1, MaxResults)));
    return path;
}

namespace {
QString listPath(const char* list) {
    return QStringLiteral("/json/%1?order=stationcount&reverse=true&hidebroken=true&limit=%2")
        .arg(QLatin1String(list))
        .arg(MaxListEntries);
}
} // namespace

QString tagsPath() {
    return listPath("tags");
}

QString countriesPath() {
    return listPath("countries");
}

QString languagesPath() {
    return listPath("languages");
}

QString clickPath(const QString& uuid) {
    return QStringLiteral("/json/url/") + EncodeQueryValue(uuid);
}

QString serversPath() {
    return QStringLiteral("/json/servers");
}

Parsed<QVector<DirectoryStation>> parseStations(const QByteArray& reply, int limit) {
    Parsed<QVector<DirectoryStation>> result;
    const std::optional<QJsonArray> array = jsonArray(reply, result.error);
    if (!array)
        return result;
    if (array->size() > limit) {
        result.error = QStringLiteral("%1 stations where at most %2 were asked for")
                           .arg(array->size())
                           .arg(limit);
        return result;
    }
    QVector<DirectoryStation>& stations = result.value;
    stations.reserve(array->size());
    TextPool pool;
    for (const QJsonValue& item : *array) {
        if (!item.isObject()) {
            result.error = QStringLiteral("a station is not an object");
            break;
        }
        const QJsonObject object = item.toObject();
        FieldReader read(object);
        DirectoryStation s;
        s.uuid = read.text("stationuuid", true);
        s.name = oneLine(read.text("name", true));
        s.url = read.text("url", true).trimmed();
        s.urlResolved = read.text("url_resolved").trimmed();
        s.homepage = read.text("homepage").trimmed();
        // A homepage is opened on a click: a web page or nothing.
        if (!s.homepage.startsWith(u"http://", Qt::CaseInsensitive) &&
            !s.homepage.startsWith(u"https://", Qt::CaseInsensitive))
            s.homepage.clear();
        s.favicon = read.text("favicon").trimmed();
        s.tags = splitTags(read.text("tags"), &pool);
        s.country = pool(oneLine(read.text("country")));
        s.countryCode = pool(oneLine(read.text("countrycode")));
        s.language = pool(oneLine(read.text("language")));
        s.codec = pool(oneLine(read.text("codec")));
        s.bitrate = static_cast<int>(std::min<qint64>(read.number("bitrate"), 100'000));
        s.votes = read.number("votes");
        s.clicks = read.number("clickcount");
        s.lastCheckOk = read.flag("lastcheckok", true);
        s.hls = read.flag("hls", false);
        if (!read.error().isEmpty()) {
            result.error = read.error();
            break;
        }
        if (s.uuid.trimmed().isEmpty()) {
            result.error = QStringLiteral("a station has an empty stationuuid");
            break;
        }
        stations.append(std::move(s));
    }
    if (!result.ok()) {
        stations.clear();
        return result;
    }
    std::stable_sort(stations.begin(), stations.end(), [](const auto& a, const auto& b) {
        return a.votes != b.votes ? a.votes > b.votes : a.clicks > b.clicks;
    });
    return result;
}

Parsed<QVector<ListEntry>> parseList(const QByteArray& reply, const QString& codeKey) {
    Parsed<QVector<ListEntry>> result;
    const std::optional<QJsonArray> array = jsonArray(reply, result.error);
    if (!array)
        return result;
    if (array->size() > MaxListEntries) {
        result.error = QStringLiteral("%1 entries where at most %2 were asked for")
                           .arg(array->size())
                           .arg(MaxListEntries);
        return result;
    }
    const QByteArray code = codeKey.toLatin1();
    for (const QJsonValue& item : *array) {
        if (!item.isObject()) {
            result.error = QStringLiteral("an entry is not an object");
            break;
        }
        const QJsonObject object = item.toObject();
        FieldReader read(object);
        ListEntry e;
        e.name = oneLine(read.text("name", true));
        if (!code.isEmpty())
            e.code = oneLine(read.text(code.constData()));
        e.stationCount = read.number("stationcount");
        if (!read.error().isEmpty()) {
            result.error = read.error();
            break;
        }
        if (!e.name.isEmpty())
            result.value.append(std::move(e));
    }
    if (!result.ok())
        result.value.clear();
    return result;
}

Parsed<QStringList> parseServers(const QByteArray& reply) {
    Parsed<QStringList> result;
    const std::optional<QJsonArray> array = jsonArray(reply, result.error);
    if (!array)
        return result;
    static const QRegularExpression hostName(
        QStringLiteral("^([a-z0-9]([a-z0-9-]{0,61}[a-z0-9])?\\.)+radio-browser\\.info$"));
    for (const QJsonValue& item : *array) {
        if (!item.isObject()) {
            result.error = QStringLiteral("a server is not an object");
            break;
        }
        const QJsonObject object = item.toObject();
        FieldReader read(object);
        const QString name = read.text("name", true).trimmed().toLower();
        if (!read.error().isEmpty()) {
            result.error = read.error();
            break;
        }
        const QString address = QStringLiteral("https://") + name;
        if (hostName.match(name).hasMatch() && !result.value.contains(address))
            result.value.append(address);
        if (result.value.size() == 64)
            break;
    }
    if (result.ok() && result.value.isEmpty())
        result.error = QStringLiteral("no server of the directory listed");
    if (!result.ok())
        result.value.clear();
    return result;
}

DirectoryAddresses directoryAddresses(const QString& value) {
    DirectoryAddresses a;
    static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
    for (QString server : value.split(separators, Qt::SkipEmptyParts)) {
        while (server.endsWith(u'/'))
            server.chop(1);
        if (!server.isEmpty() && !a.servers.contains(server))
            a.servers.append(server);
    }
    if (a.servers.isEmpty() ||
        (a.servers.size() == 1 && a.servers[0].compare(PoolAddress, Qt::CaseInsensitive) == 0)) {
        a.servers = {PoolAddress};
        return a;
    }
    a.pool = false;
    return a;
}

void MirrorRotation::setServers(const QStringList& servers) {
    servers_ = servers;
    first_ = 0;
}

QStringList MirrorRotation::attemptOrder() const {
    QStringList order;
    for (qsizetype i = 0; i < servers_.size(); ++i)
        order.append(servers_[(first_ + i) % servers_.size()]);
    return order;
}

void MirrorRotation::answered(const QString& server) {
    const qsizetype at = servers_.indexOf(server);
    if (at >= 0)
        first_ = at;
}

catalog::NewStation stationRecord(const DirectoryStation& s, const QStringList& genres,
                                  const QStringList& languages) {
    catalog::NewStation r;
    r.name = s.name;
    r.streaming = s.streamUrl();
    r.website = s.homepage;
    r.bitrate = s.bitrate > 0 ? QString::number(s.bitrate) : QString();
    for (const QString& tag : s.tags) {
        if (const auto genre = listEntry(genres, tag)) {
            r.genre = *genre;
            break;
        }
    }
    if (r.genre.isEmpty() && !s.tags.isEmpty())
        r.genre = s.tags.first();
    const QStringList spoken = splitTags(s.language);
    for (const QString& language : spoken) {
        if (const auto entry = listEntry(languages, language)) {
            r.language = *entry;
            break;
        }
    }
    if (r.language.isEmpty() && !spoken.isEmpty())
        r.language = spoken.first();
    return r;
}

QStringList rememberedKeys() {
    return {QStringLiteral("name"),        QStringLiteral("tag"),      QStringLiteral("country"),
            QStringLiteral("countrycode"), QStringLiteral("language"), QStringLiteral("codec"),
            QStringLiteral("bitrate"),     QStringLiteral("broken")};
}

QList<std::pair<QString, QString>> rememberedEntries(const StationQuery& q) {
    const QStringList values{oneLine(q.name),
                             oneLine(q.tag),
                             oneLine(q.country),
                             oneLine(q.countryCode),
                             oneLine(q.language),
                             oneLine(q.codec),
                             q.bitrateMin > 0 ? QString::number(q.bitrateMin) : QString(),
                             q.showBroken ? QStringLiteral("true") : QStringLiteral("false")};
    QList<std::pair<QString, QString>> entries;
    const QStringList keys = rememberedKeys();
    for (qsizetype i = 0; i < keys.size(); ++i)
        entries.append({keys[i], values[i]});
    return entries;
}

StationQuery rememberedQuery(const QStringList& v) {
    StationQuery q;
    if (v.size() != rememberedKeys().size())
        return q;
    q.name = v[0];
    q.tag = v[1];
    q.country = v[2];
    q.countryCode = v[3];
    q.language = v[4];
    q.codec = v[5];
    // A bitrate that is no whole number in range is no filter.
    bool ok = false;
    const int bitrate = v[6].toInt(&ok);
    q.bitrateMin = ok && bitrate > 0 && bitrate <= 100'000 ? bitrate : 0;
    q.showBroken = v[7] == u"true";
    return q;
}

QString tagsText(const DirectoryStation& station) {
    return station.tags.join(QStringLiteral(", "));
}

} // namespace tolvane::directory
