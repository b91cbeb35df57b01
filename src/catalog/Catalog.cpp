#include "Catalog.h"

#include "common/Errors.h"
#include "common/Messages.h"
#include "common/Paths.h"

#include <QCollator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryFile>

#include <algorithm>
#include <cstdio>
#include <numeric>

namespace tolvane::catalog {

namespace {

// A station file larger than this is refused as unreadable rather than
// exhausting memory; a catalog of 50,000 stations takes about 8 MB.
constexpr qint64 StationFileLimit = 64LL * 1024 * 1024;

const QString StreamingKey = QStringLiteral("streaming");
const QString WebsiteKey = QStringLiteral("website");
const QString BitrateKey = QStringLiteral("bitrate");
const QString GenreKey = QStringLiteral("genre");
const QString LanguageKey = QStringLiteral("language");

// Anything that is not a regular file (a folder, a pipe, a device) counts as
// unreadable, so a load can neither hang on a pipe nor read a device forever.
void checkReadable(const QFileInfo& info, const QString& path) {
    if (!info.isFile() || info.size() > StationFileLimit)
        throw FileReadError(path);
}

// The decoded text of a station file; empty when the file is missing.
QString readText(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    checkReadable(info, path);
    return DecodeText(ReadFileBytes(path));
}

// Lines of a list file; an empty list when the file is missing.
QStringList readLines(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    checkReadable(info, path);
    return ReadTextLines(path);
}

// Calls f with each line of a file's text: lines end at LF, a CR before it
// belongs to the line break, and a final line break starts no empty line.
template <typename F> void forEachLine(QStringView text, F f) {
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype lf = text.indexOf(u'\n', pos);
        const qsizetype end = lf < 0 ? text.size() : lf;
        f(text.sliced(pos, end - pos - (end > pos && text[end - 1] == u'\r' ? 1 : 0)));
        if (lf < 0)
            break;
        pos = lf + 1;
    }
}

// A line of the working catalog: every line is ended by CR LF, so a file
// whose last line has no line break never merges with the next file.
void appendCatalogLine(QString& text, QStringView line) {
    text += line;
    text += QLatin1String("\r\n");
}

// Replaces the working catalog atomically. It is not synced to disk:
// temp.dat is a scratch copy that every Load Playlist (start-up included)
// rebuilds, and syncing megabytes on every filter keystroke would cost tens
// of milliseconds for nothing.
void replaceWorkingCatalog(const QString& path, const QByteArray& bytes) {
    WriteFileAtomically(path, bytes, SyncToDisk::No);
}

void notifyUser(const Notify& notify, const QString& text) {
    if (notify)
        notify(text);
    else
        ShowMessage(text);
}

bool isControlOrBlank(QChar c) {
    return c.unicode() <= 32;
}

} // namespace

Filter Filter::fromBoxTexts(const QString& languageBox, const QString& genreBox) {
    auto value = [](const QString& text) { return text == AllEntry ? QString() : text; };
    return {value(languageBox), value(genreBox)};
}

bool Filter::passes(const QString& stationLanguage, const QString& stationGenre) const {
    return (language.isEmpty() || stationLanguage == language) &&
           (genre.isEmpty() || stationGenre == genre);
}

namespace {

std::optional<QString> nameFromHeader(QStringView line) {
    if (!line.startsWith(u'['))
        return std::nullopt;
    // Drop the first and the last character; "[" alone leaves nothing.
    qsizetype begin = 1;
    qsizetype end = std::max<qsizetype>(line.size() - 1, begin);
    while (begin < end && isControlOrBlank(line[begin]))
        ++begin;
    while (end > begin && isControlOrBlank(line[end - 1]))
        --end;
    return line.sliced(begin, end - begin).toString();
}

// The list fill over any sequence of lines: lineAt(i) for i < count.
template <typename LineAt>
QVector<StationRow> listLines(qsizetype count, LineAt lineAt, const IniDocument& lookup,
                              const Filter& filter) {
    QVector<StationRow> rows;
    if (count < 2)
        return rows;
    // The language is read only when it filters.
    const QStringList keys = filter.language.isEmpty()
                                 ? QStringList{BitrateKey, GenreKey}
                                 : QStringList{BitrateKey, GenreKey, LanguageKey};
    for (qsizetype i = 0; i < count; ++i) {
        std::optional<QString> name = nameFromHeader(lineAt(i));
        if (!name)
            continue;
        QStringList values = lookup.values(*name, keys);
        if (!filter.passes(values.value(2), values[1]))
            continue;
        rows.push_back({std::move(*name), std::move(values[0]), std::move(values[1])});
    }
    return rows;
}

// The list fill over a document's own lines.
QVector<StationRow> listDocument(const IniDocument& document, const Filter& filter) {
    return listLines(
        document.lineCount(), [&](qsizetype i) { return document.line(i); }, document, filter);
}

} // namespace

std::optional<QString> stationNameFromHeader(const QString& line) {
    return nameFromHeader(line);
}

namespace {

// The sorting step's order: positions of the rows to keep, in sorted order,
// one for each group of names the collation finds equal (the first of the
// group in list order, as the sort is stable).
std::vector<qsizetype> sortedDistinctOrder(const QVector<StationRow>& rows) {
    std::vector<qsizetype> order(static_cast<size_t>(rows.size()));
    std::iota(order.begin(), order.end(), 0);
    std::vector<char> equalToPrevious(order.size(), 0);

    if (QLocale().language() == QLocale::C) {
        // The C locale's collation sort keys ignore the case setting, so
        // compare case-folded names instead (the order its comparison gives).
        std::vector<QString> folded;
        folded.reserve(order.size());
        for (const StationRow& row : rows)
            folded.push_back(foldCase(row.name));
        std::stable_sort(order.begin(), order.end(),
                         [&](qsizetype a, qsizetype b) { return folded[a] < folded[b]; });
        for (size_t i = 1; i < order.size(); ++i)
            equalToPrevious[i] = folded[order[i]] == folded[order[i - 1]];
    } else {
        QCollator collator{QLocale()};
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        // One sort key per name: cheaper than collating at every comparison.
        std::vector<QCollatorSortKey> keys;
        keys.reserve(order.size());
        for (const StationRow& row : rows)
            keys.push_back(collator.sortKey(row.name));
        std::stable_sort(order.begin(), order.end(),
                         [&](qsizetype a, qsizetype b) { return keys[a].compare(keys[b]) < 0; });
        for (size_t i = 1; i < order.size(); ++i)
            equalToPrevious[i] = keys[order[i]].compare(keys[order[i - 1]]) == 0;
    }

    std::vector<qsizetype> kept;
    kept.reserve(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        if (!equalToPrevious[i])
            kept.push_back(order[i]);
    }
    return kept;
}

// The sorting step for rows that the list fill just read from the same
// document: each row already holds its name's bitrate and genre, so the
// kept rows are taken as they are instead of being looked up again.
QVector<StationRow> sortListedRows(const QVector<StationRow>& rows) {
    if (rows.size() < 2)
        return rows;
    QVector<StationRow> sorted;
    const std::vector<qsizetype> kept = sortedDistinctOrder(rows);
    sorted.reserve(static_cast<qsizetype>(kept.size()));
    for (qsizetype i : kept)
        sorted.push_back(rows[i]);
    return sorted;
}

} // namespace

QVector<StationRow> sortAndDropRepeats(const QVector<StationRow>& rows, const IniDocument& lookup) {
    if (rows.size() < 2)
        return rows;
    QVector<StationRow> sorted;
    const std::vector<qsizetype> kept = sortedDistinctOrder(rows);
    sorted.reserve(static_cast<qsizetype>(kept.size()));
    const QStringList keys{BitrateKey, GenreKey};
    for (qsizetype i : kept) {
        const QString& name = rows[i].name;
        QStringList values = lookup.values(name, keys);
        sorted.push_back({name, std::move(values[0]), std::move(values[1])});
    }
    return sorted;
}

StationLink linkFor(const IniDocument& workingCatalog, const QString& name) {
    return {workingCatalog.value(name, StreamingKey), workingCatalog.value(name, WebsiteKey)};
}

LoadResult loadPlaylist(const Filter& filter, const Notify& notify) {
    const QString radiolistPath = ProgramPath(RadioListFile);
    QString radiolist;
    if (QFileInfo::exists(radiolistPath))
        radiolist = readText(radiolistPath);
    else
        notifyUser(notify, RadioListMissingText);
    QString radiouser = readText(ProgramPath(RadioUserFile));

    QString working;
    working.reserve(radiolist.size() + radiouser.size() +
                    (radiolist.size() + radiouser.size()) / 8);
    for (QString* text : {&radiolist, &radiouser}) {
        forEachLine(*text, [&](QStringView line) { appendCatalogLine(working, line); });
        text->clear();
    }
    replaceWorkingCatalog(ProgramPath(WorkingCatalogFile), working.toUtf8());

    // The working catalog in memory is exactly what temp.dat now holds.
    const IniDocument catalog = IniDocument::fromText(working);
    return {sortListedRows(listDocument(catalog, filter))};
}

LoadResult loadFavorites(const Filter& filter, const Notify& notify) {
    const QString path = ProgramPath(FavoritesFile);
    QString text;
    if (QFileInfo::exists(path))
        text = readText(path);
    else
        notifyUser(notify, NoFavoritesText);
    const IniDocument favorites = IniDocument::fromText(text);
    return {sortListedRows(listDocument(favorites, filter))};
}

std::optional<std::pair<QStringList, QStringList>> readFilterLists() {
    const QString languagePath = ProgramPath(LanguageListFile);
    const QString genrePath = ProgramPath(GenreListFile);
    if (!QFileInfo::exists(languagePath) || !QFileInfo::exists(genrePath))
        return std::nullopt;
    return std::pair{readLines(languagePath), readLines(genrePath)};
}

bool workingCatalogExists() {
    return ProgramFileExists(WorkingCatalogFile);
}

StationLink readStationLink(const QString& name) {
    const QString path = ProgramPath(WorkingCatalogFile);
    return linkFor(IniDocument::fromText(readText(path)), name);
}

std::optional<int> nextStationRow(int selected, int rowCount) {
    const int i = selected < 0 ? 0 : selected + 1;
    if (i >= rowCount)
        return std::nullopt;
    return i;
}

std::optional<int> previousStationRow(int selected, int rowCount) {
    if (selected <= 0 || selected >= rowCount)
        return std::nullopt;
    return selected - 1;
}

QString foldAtoZ(const QString& text) {
    QString folded = text;
    for (QChar& c : folded) {
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - (u'a' - u'A'));
    }
    return folded;
}

std::optional<int> findStationRow(const QStringList& captions, int selected,
                                  const QString& searchText) {
    const QString wanted = foldAtoZ(searchText);
    if (wanted.isEmpty())
        return std::nullopt;
    const int n = static_cast<int>(captions.size());
    for (int i = selected < 0 ? 1 : selected + 1; i <= n - 1; ++i) {
        if (foldAtoZ(captions[i]).contains(wanted))
            return i;
    }
    return std::nullopt;
}

} // namespace tolvane::catalog
