#include "StationEdits.h"

#include "common/Errors.h"
#include "common/IniFile.h"
#include "common/Paths.h"

#include <QFileInfo>

namespace tolvane::catalog {

namespace {

const QString GenreKey = QStringLiteral("genre");
const QString LanguageKey = QStringLiteral("language");
const QString WebsiteKey = QStringLiteral("website");
const QString StreamingKey = QStringLiteral("streaming");
const QString BitrateKey = QStringLiteral("bitrate");

// A station file named by its bare name ("radiouser.dat").
QString stationFilePath(const QString& fileName) {
    return ProgramPath(u'\\' + fileName);
}

} // namespace

QStringList recordKeyOrder() {
    return {GenreKey, LanguageKey, WebsiteKey, StreamingKey, BitrateKey};
}

QString addedToFavoritesText(const QString& name) {
    return name + QStringLiteral(" has been added successfully to favorites");
}

QString notInCatalogText(const QString& name) {
    return name + QStringLiteral(" cannot be added to favorites: the station list does not hold "
                                 "it. Reload the list and try again.");
}

bool addFavorite(const QString& name) {
    IniFile working(ProgramPath(WorkingCatalogFile));
    const IniDocument& catalog = working.document();
    if (!catalog.hasSection(name))
        return false;
    const QStringList keys = recordKeyOrder();
    const QStringList values = catalog.values(name, keys);
    QList<std::pair<QString, QString>> entries;
    for (qsizetype i = 0; i < keys.size(); ++i)
        entries.append({keys[i], values[i]});
    // A station's charset goes along, so its titles read right wherever the
    // favorite is played from; a station without one gets no empty key.
    const QString charset = catalog.value(name, CharsetKey);
    if (!charset.isEmpty())
        entries.append({CharsetKey, charset});
    IniFile(ProgramPath(FavoritesFile)).WriteStrings(name, entries);
    return true;
}

QString badNameText(const QString& name) {
    return QStringLiteral("\"%1\" cannot be a radio name: a name must not be blank or hold \"]\" "
                          "or a line break")
        .arg(name);
}

QString stationAddedText(const QString& name) {
    return QStringLiteral("Radio ") + name + QStringLiteral(" has been added successfully");
}

bool isUsableStationName(const QString& name) {
    return !name.trimmed().isEmpty() && !name.contains(u']') && !name.contains(u'\n') &&
           !name.contains(u'\r');
}

QString checkNewStation(const NewStation& s) {
    if (s.name.isEmpty() && s.streaming.isEmpty() && s.genre.isEmpty() && s.language.isEmpty())
        return FillAllText;
    if (s.streaming.isEmpty())
        return UrlEmptyText;
    if (s.name.isEmpty())
        return NameEmptyText;
    if (s.language.isEmpty())
        return LanguageEmptyText;
    if (s.genre.isEmpty())
        return GenreEmptyText;
    if (!isUsableStationName(s.name))
        return badNameText(s.name);
    return {};
}

void saveNewStation(const NewStation& s) {
    IniFile(ProgramPath(RadioUserFile))
        .WriteStrings(s.name, {{GenreKey, s.genre},
                               {LanguageKey, s.language},
                               {WebsiteKey, s.website},
                               {StreamingKey, s.streaming},
                               {BitrateKey, s.bitrate}});
}

bool hasOfferedExtension(const QString& url) {
    const qsizetype at =
        std::max({url.lastIndexOf(u'.'), url.lastIndexOf(u'\\'), url.lastIndexOf(u':')});
    if (at < 0 || url[at] != u'.')
        return false;
    const QString ext = url.mid(at + 1, 3);
    for (const char* offered : {"pls", "m3u", "acc", "wma", "ra"}) {
        if (ext == QLatin1String(offered))
            return true;
    }
    return false;
}

QString urlFromClipboard(const QString& clipboardText) {
    QString line;
    for (QStringView l : QStringView(clipboardText).split(u'\n')) {
        line = l.trimmed().toString();
        if (!line.isEmpty())
            break;
    }
    return hasOfferedExtension(line) ? line : QString();
}

QVector<StationRow> listStationFile(const QString& fileName) {
    const QString path = stationFilePath(fileName);
    QVector<StationRow> rows;
    if (!QFileInfo::exists(path))
        return rows;
    IniFile file(path);
    const IniDocument& doc = file.document();
    for (qsizetype i = 0; i < doc.lineCount(); ++i) {
        std::optional<QString> name = stationNameFromHeader(doc.line(i).toString());
        if (!name)
            continue;
        const QStringList values = doc.values(*name, {BitrateKey, GenreKey});
        rows.push_back({*name, values[0], values[1]});
    }
    return rows;
}

void eraseStation(const QString& fileName, const QString& name) {
    IniFile(stationFilePath(fileName)).EraseSection(name);
}

} // namespace tolvane::catalog
