#include "Catalog.h"

#include "Collation.h"

#include "common/Errors.h"
#include "common/Messages.h"
#include "common/Paths.h"

#include <QCollator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cstring>

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

// The bytes of a station file; empty when the file is missing.
QByteArray readBytes(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    checkReadable(info, path);
    return ReadFileBytes(path);
}

// The decoded text of a station file; empty when the file is missing.
QString readText(const QString& path) {
    return DecodeText(readBytes(path));
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
    const QChar* const end = text.data() + text.size();
    for (const QChar* p = text.data(); p < end;) {
        const QChar* const lf = std::find(p, end, u'\n');
        f(QStringView(p, lf > p && lf[-1] == u'\r' ? lf - 1 : lf));
        if (lf == end)
            break;
        p = lf + 1;
    }
}

// Appends each line of `bytes` ended by CR LF: a file whose last line has no
// line break never merges with the next file. Line breaks are single bytes
// in UTF-8 and in Latin-1 alike.
void appendCatalogLines(QByteArray& out, QByteArrayView bytes) {
    if (bytes.isEmpty())
        return; // an empty file adds no line (and has no data to search)
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    // Each line grows by at most one byte (LF to CR LF), the last by two.
    qsizetype lines = 1;
    for (const char* q = p; (q = static_cast<const char*>(std::memchr(q, '\n', size_t(end - q))));
         ++q)
        ++lines;
    const qsizetype start = out.size();
    out.resize(start + bytes.size() + lines + 1);
    char* to = out.data() + start;
    while (p < end) {
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        const char* lineEnd = lf ? lf : end;
        const size_t length = size_t(lineEnd - p) - (lineEnd > p && lineEnd[-1] == '\r' ? 1 : 0);
        std::memcpy(to, p, length);
        to += length;
        *to++ = '\r';
        *to++ = '\n';
        if (!lf)
            break;
        p = lf + 1;
    }
    out.truncate(to - out.constData());
}

// The working catalog as temp.dat holds it (UTF-8) and as text.
struct WorkingCatalog {
    QByteArray bytes;
    QString text;
};

// The station files joined line by line. Files in UTF-8 (the usual case) are
// joined as bytes and decoded once; a file that is not valid UTF-8 is read
// as Latin-1, each file on its own, as every text file is.
WorkingCatalog joinStationFiles(const QByteArray& radiolist, const QByteArray& radiouser) {
    // What DecodeText drops of a UTF-8 file: its byte-order mark, and one
    // more that the UTF-8 decoder takes as the start of the text.
    auto body = [](const QByteArray& bytes) {
        QByteArrayView v(bytes);
        for (int i = 0; i < 2 && v.startsWith("\xEF\xBB\xBF"); ++i)
            v = v.sliced(3);
        return v;
    };
    WorkingCatalog w;
    const qsizetype size = radiolist.size() + radiouser.size();
    appendCatalogLines(w.bytes, body(radiolist));
    appendCatalogLines(w.bytes, body(radiouser));
    auto toUtf16 =
        QStringDecoder(QStringDecoder::Utf8,
                       QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    w.text = toUtf16(w.bytes);
    if (!toUtf16.hasError())
        return w;

    QString text;
    text.reserve(size + size / 16 + 4);
    for (const QByteArray* file : {&radiolist, &radiouser}) {
        forEachLine(DecodeText(*file), [&](QStringView line) {
            text += line;
            text += QLatin1String("\r\n");
        });
    }
    return {text.toUtf8(), text};
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

bool Filter::passes(QStringView stationLanguage, QStringView stationGenre) const {
    return (language.isEmpty() || stationLanguage == language) &&
           (genre.isEmpty() || stationGenre == genre);
}

namespace {

std::optional<QStringView> nameFromHeader(QStringView line) {
    if (!line.startsWith(u'['))
        return std::nullopt;
    // Drop the first and the last character; "[" alone leaves nothing.
    qsizetype begin = 1;
    qsizetype end = std::max<qsizetype>(line.size() - 1, begin);
    while (begin < end && isControlOrBlank(line[begin]))
        ++begin;
    while (end > begin && isControlOrBlank(line[end - 1]))
        --end;
    return line.sliced(begin, end - begin);
}

// QStringView::trimmed without its call for the usual text: a view whose
// ends are printable ASCII has nothing to trim.
QStringView trimmedView(QStringView v) {
    auto plain = [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x80; };
    if (!v.isEmpty() && plain(v.front()) && plain(v.back()))
        return v;
    return v.trimmed();
}

// A value after the reading rules (cleanIniValue), trimmed as above.
QStringView valueView(QStringView raw) {
    const QStringView v = trimmedView(raw);
    if (v.size() >= 2 && v.front() == u'"' && v.back() == u'"')
        return cleanIniValue(v);
    return v.size() > IniValueLimit ? v.first(IniValueLimit) : v;
}

// Section names to numbers, matched as foldCase matches them, without
// making a folded copy of every name: names are views into the text, folded
// a code unit at a time while hashing and comparing. Only a name holding a
// surrogate is folded whole (as foldCase does it) and kept here.
class FoldedNames {
public:
    // The number stored under the name, or `value` when the name is new.
    int insertOrFind(QStringView name, int value) {
        if (2 * (count_ + 1) > slots_.size())
            grow();
        const QStringView key = keyOf(name);
        const size_t hash = hashOf(key);
        for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
            Slot& slot = slots_[i];
            if (slot.value < 0) {
                slot = {hash, value, key};
                ++count_;
                return value;
            }
            if (slot.hash == hash && sameFolded(slot.name, key))
                return slot.value;
        }
    }
    // -1 for a name not held.
    int find(QStringView name) const {
        if (slots_.empty())
            return -1;
        QString folded;
        const QStringView key = hasSurrogate(name) ? QStringView(folded = foldCase(name)) : name;
        const size_t hash = hashOf(key);
        for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
            const Slot& slot = slots_[i];
            if (slot.value < 0)
                return -1;
            if (slot.hash == hash && sameFolded(slot.name, key))
                return slot.value;
        }
    }

private:
    struct Slot {
        size_t hash = 0;
        int value = -1; // -1: free
        QStringView name;
    };
    static bool hasSurrogate(QStringView s) {
        return std::any_of(s.begin(), s.end(), [](QChar c) { return c.isSurrogate(); });
    }
    QStringView keyOf(QStringView name) {
        if (!hasSurrogate(name))
            return name;
        owned_.push_back(foldCase(name));
        return owned_.back();
    }
    static size_t hashOf(QStringView s) {
        size_t h = 14695981039346656037ull;
        for (QChar c : s)
            h = (h ^ foldCaseUnit(c.unicode())) * 1099511628211ull;
        return h ^ (h >> 29);
    }
    static bool sameFolded(QStringView a, QStringView b) {
        if (a.size() != b.size())
            return false;
        for (qsizetype i = 0; i < a.size(); ++i) {
            if (a[i] != b[i] && foldCaseUnit(a[i].unicode()) != foldCaseUnit(b[i].unicode()))
                return false;
        }
        return true;
    }
    void grow() {
        std::vector<Slot> old(std::max<size_t>(64, slots_.size() * 2));
        old.swap(slots_);
        mask_ = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (slot.value < 0)
                continue;
            size_t i = slot.hash & mask_;
            while (slots_[i].value >= 0)
                i = (i + 1) & mask_;
            slots_[i] = slot;
        }
    }

    std::vector<Slot> slots_;
    size_t mask_ = 0;
    size_t count_ = 0;
    std::vector<QString> owned_; // folded names holding surrogates
};

// A station file's text read in one pass for the station list: the name of
// every row and the three values the list needs, found by the reading rules
// of IniFile (a row's values are those of the first section of its name,
// letter case ignored). Values are views into the text; nothing else of a
// record is kept, and no name is looked up twice when the header line of a
// row is also the section it names.
class StationListing {
public:
    explicit StationListing(const QString& text) : text_(text) { scan(); }

    // The rows of the list fill, in file order, filtered.
    QVector<StationRow> rows(const Filter& filter) const;

private:
    enum Key { Bitrate, Genre, Language, KeyCount };
    struct Section {
        std::array<QStringView, KeyCount> values; // after the reading rules
        std::array<bool, KeyCount> found{};
        int first = 0; // the first section of this name, letter case ignored
    };
    // A line beginning with "[": a row of the list, and a section.
    struct Header {
        QStringView line;
        QStringView sectionName;
        int section = 0;
    };

    void scan();
    void readKeyLine(QStringView line, Section& section);
    static int keyOf(QStringView key);

    const QString& text_;
    std::vector<Section> sections_;
    std::vector<Header> headers_;
    qsizetype lineCount_ = 0;
    FoldedNames byName_; // section name -> first section of that name
};

int StationListing::keyOf(QStringView key) {
    static const QString names[KeyCount] = {BitrateKey, GenreKey, LanguageKey};
    // An ASCII key matches only a name of its length, letter case ignored;
    // anything else is left to the reading rules' own comparison.
    for (QChar c : key) {
        if (c.unicode() >= 0x80) {
            for (int k = 0; k < KeyCount; ++k) {
                if (namesMatch(key, names[k]))
                    return k;
            }
            return -1;
        }
    }
    for (int k = 0; k < KeyCount; ++k) {
        const QString& name = names[k];
        if (key.size() != name.size())
            continue;
        qsizetype i = 0;
        while (i < key.size() && foldCaseUnit(key[i].unicode()) == name[i].unicode())
            ++i;
        if (i == key.size())
            return k;
    }
    return -1;
}

void StationListing::readKeyLine(QStringView line, Section& section) {
    const QChar* begin = line.data();
    const QChar* eq = std::find(begin, begin + line.size(), u'=');
    if (eq == begin + line.size())
        return;
    const int key = keyOf(trimmedView(line.first(eq - begin)));
    if (key < 0 || section.found[key])
        return;
    section.found[key] = true;
    section.values[key] = valueView(line.sliced(eq - begin + 1));
}

void StationListing::scan() {
    const QStringView text(text_);
    sections_.reserve(static_cast<size_t>(text.size() / 128));
    headers_.reserve(sections_.capacity());
    Section* current = nullptr;
    forEachLine(text, [&](QStringView line) {
        ++lineCount_;
        const char16_t first = line.isEmpty() ? 0 : line.front().unicode();
        std::optional<QStringView> name;
        if (first == u'[') {
            const QChar* const end = line.data() + line.size();
            name = trimmedView(QStringView(line.data() + 1, std::find(line.data() + 1, end, u']')));
        } else if (first <= 0x20 || first >= 0x80) {
            name = iniHeaderName(line); // blanks before "[" are allowed
        }
        if (!name) {
            if (current)
                readKeyLine(line, *current);
            return;
        }
        const int index = static_cast<int>(sections_.size());
        current = &sections_.emplace_back();
        current->first = byName_.insertOrFind(*name, index);
        if (first == u'[')
            headers_.push_back({line, *name, index});
    });
}

QVector<StationRow> StationListing::rows(const Filter& filter) const {
    QVector<StationRow> rows;
    if (lineCount_ < 2)
        return rows;
    rows.reserve(static_cast<qsizetype>(headers_.size()));
    // Bitrates and genres repeat: rows share one string of each value.
    QHash<QStringView, QString> shared;
    auto share = [&](QStringView value) -> QString {
        if (value.isEmpty())
            return QString();
        QString& s = shared[value];
        if (s.isNull())
            s = value.toString();
        return s;
    };
    static const Section missing;
    for (const Header& header : headers_) {
        const QStringView name = *nameFromHeader(header.line);
        // The row's name is usually the very name its header line gave the
        // section, so the first section of that name is already known.
        const bool sameName =
            name.data() == header.sectionName.data() && name.size() == header.sectionName.size();
        const int index =
            sameName ? sections_[header.section].first : byName_.find(trimmedView(name));
        const Section& s = index < 0 ? missing : sections_[index];
        if (!filter.passes(s.values[Language], s.values[Genre]))
            continue;
        rows.push_back({name.toString(), share(s.values[Bitrate]), share(s.values[Genre])});
    }
    return rows;
}

} // namespace

QVector<StationRow> listStationText(const QString& text, const Filter& filter) {
    return StationListing(text).rows(filter);
}

std::optional<QString> stationNameFromHeader(const QString& line) {
    if (const std::optional<QStringView> name = nameFromHeader(line))
        return name->toString();
    return std::nullopt;
}

namespace {

// The sorting step's order: positions of the rows to keep, in sorted order,
// one for each group of names the collation finds equal (the first of the
// group in list order).
std::vector<qsizetype> sortedDistinctOrder(const QVector<StationRow>& rows) {
    std::vector<QStringView> names;
    names.reserve(static_cast<size_t>(rows.size()));
    for (const StationRow& row : rows)
        names.push_back(row.name);
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collatedDistinctOrder(names, collator);
}

// The sorting step for rows that the list fill just read from the same
// document: each row already holds its name's bitrate and genre, so the
// kept rows are taken as they are instead of being looked up again.
QVector<StationRow> sortListedRows(QVector<StationRow> rows) {
    if (rows.size() < 2)
        return rows;
    QVector<StationRow> sorted;
    const std::vector<qsizetype> kept = sortedDistinctOrder(rows);
    sorted.reserve(static_cast<qsizetype>(kept.size()));
    for (qsizetype i : kept)
        sorted.push_back(std::move(rows[i]));
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
    return {workingCatalog.value(name, StreamingKey), workingCatalog.value(name, WebsiteKey),
            workingCatalog.value(name, CharsetKey)};
}

LoadResult loadPlaylist(const Filter& filter, const Notify& notify) {
    const QString radiolistPath = ProgramPath(RadioListFile);
    QByteArray radiolist;
    if (QFileInfo::exists(radiolistPath))
        radiolist = readBytes(radiolistPath);
    else
        notifyUser(notify, RadioListMissingText);
    QByteArray radiouser = readBytes(ProgramPath(RadioUserFile));

    WorkingCatalog working = joinStationFiles(radiolist, radiouser);
    radiolist.clear();
    radiouser.clear();
    replaceWorkingCatalog(ProgramPath(WorkingCatalogFile), working.bytes);
    working.bytes.clear();
    // The working catalog in memory is exactly what temp.dat now holds.
    return {sortListedRows(listStationText(working.text, filter))};
}

LoadResult loadFavorites(const Filter& filter, const Notify& notify) {
    const QString path = ProgramPath(FavoritesFile);
    QString text;
    if (QFileInfo::exists(path))
        text = readText(path);
    else
        notifyUser(notify, NoFavoritesText);
    return {sortListedRows(listStationText(text, filter))};
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
