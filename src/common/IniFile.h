#pragma once
// Keyed text files of "[section]" headers and "key=value" lines: station
// files, the settings file, the update manifest and the ads list.
//
// Reading rules:
//  - section and key names match without regard to letter case;
//  - blanks around a key or a value are not part of it;
//  - a value enclosed in one pair of quotation marks is returned without them;
//  - a value is at most 2047 characters (longer ones come back cut);
//  - when a file holds two sections of one name, reads see the first; within
//    a section the first line of a key wins;
//  - a missing file, section or key reads as the default;
//  - lines without "=" inside a section, and lines before the first header,
//    are ignored. CR LF and LF endings, a UTF-8 byte-order mark and Latin-1
//    text are all read.
// Every write replaces the file atomically, so a failed write leaves what
// was on disk untouched and raises IniWriteError ("Unable to write to %s").

#include "Paths.h"

#include <QChar>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVarLengthArray>

#include <optional>
#include <vector>

namespace tolvane {

inline constexpr int IniValueLimit = 2047;

// The case folding by which section and key names match: the result of
// QString::toCaseFolded, computed much faster for short names.
QString foldCase(QStringView name);

// A code unit as foldCase folds it. Surrogates come back as they are:
// foldCase folds a name holding them as a whole.
inline char16_t foldCaseUnit(char16_t c) {
    if (c < 0x80)
        return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
    if (QChar::isSurrogate(c))
        return c;
    return char16_t(QChar::toCaseFolded(char32_t(c)));
}

// The section name of a header line, "[name]" -> name; nullopt when the
// line is no header. Blanks before "[" are allowed; the name ends at the
// first "]" and its blanks are dropped.
std::optional<QStringView> iniHeaderName(QStringView line);

// Whether two key names match as the reading rules say (letter case
// ignored), without building folded strings.
bool namesMatch(QStringView a, QStringView b);

// A value's text after the reading rules: blanks around it dropped, one
// enclosing pair of quotation marks removed, cut at IniValueLimit.
QStringView cleanIniValue(QStringView raw);

// A parsed, read-only view of an IniFile's text, answering lookups from
// memory. Build it once per handler for files with many lookups.
class IniDocument {
public:
    IniDocument() = default;
    static IniDocument fromText(const QString& text);
    static IniDocument fromLines(const QStringList& lines);

    // The value after the reading rules, or std::nullopt when the section or
    // key is missing.
    std::optional<QString> find(const QString& section, const QString& key) const;
    QString value(const QString& section, const QString& key,
                  const QString& defaultValue = QString()) const;
    // Several values of one section, in the order of `keys`; a missing
    // section or key gives an empty string. Finds the section once.
    QStringList values(const QString& section, const QStringList& keys) const;
    bool hasSection(const QString& section) const;
    // Section names in file order (repeated names included).
    QStringList sectionNames() const;
    // The lines of the text (without their line breaks). The document keeps
    // one copy of the text and reads its lines in place; lines() makes a list.
    qsizetype lineCount() const { return static_cast<qsizetype>(spans_.size()); }
    QStringView line(qsizetype i) const {
        return QStringView(text_).sliced(spans_[i].start, spans_[i].length);
    }
    QStringList lines() const;

private:
    // A key line of a section, as positions in its line (no copies of text).
    struct KeyRef {
        int line = 0;
        int keyStart = 0;
        int keyLength = 0;
        int equals = 0; // position of the "=" that ends the key
    };
    struct Section {
        QString name;
        int firstLine = 0; // the header line
        int endLine = 0;   // one past the last line belonging to the section
        // The first line of each key (letter case ignored), in file order.
        // Sections with many keys also get a hash, so a large junk section
        // cannot make lookups slow.
        QVarLengthArray<KeyRef, 8> keys; // a station record has five keys
        QHash<QString, int> keyIndex;    // case-folded key -> index into keys
    };
    void index();
    QStringView keyOf(const KeyRef& ref) const {
        return line(ref.line).sliced(ref.keyStart, ref.keyLength);
    }
    // The first key line of a section for a key (trimmed), or nullptr.
    const KeyRef* findKey(const Section& section, QStringView key) const;
    void addKey(Section& section, const KeyRef& ref);
    const Section* findSection(const QString& name) const;

    struct LineSpan {
        qsizetype start = 0;
        qsizetype length = 0;
    };
    QString text_;
    std::vector<LineSpan> spans_; // where each line lies in text_
    std::vector<Section> sections_;
    QHash<QString, int> firstSection_; // case-folded name -> index into sections_

    friend class IniFile;
};

class IniFile {
public:
    // With SyncToDisk::No a write still replaces the file whole, but does
    // not wait for the disk: for files that are only a help, written where
    // a wait would be felt.
    explicit IniFile(QString absolutePath, SyncToDisk sync = SyncToDisk::Yes);

    const QString& path() const { return path_; }
    bool exists() const;

    // Throws FileReadError when the file exists but cannot be read.
    QString ReadString(const QString& section, const QString& key,
                       const QString& defaultValue = QString());
    // Throws IniWriteError; nothing on disk changes then. A section name
    // holding "]" or a line break, or a key or value holding a line break, is
    // refused with IniEntryError, so no caller can inject a section or a key.
    void WriteString(const QString& section, const QString& key, const QString& value);
    // Several keys of one section in one replacement of the file: all of
    // them are written, in order, or (on failure) none.
    void WriteStrings(const QString& section, const QList<std::pair<QString, QString>>& entries);
    void EraseSection(const QString& section);
    QStringList ReadSections();

    // The parsed file, read once and kept for this object's lifetime (until
    // its own next write).
    const IniDocument& document();

private:
    void save(const QStringList& lines);
    void checkEntry(const QString& section, const QString& key, const QString& value) const;
    // Sets a key in the lines of the document as it stands.
    static void setKey(const IniDocument& doc, QStringList& lines, const QString& section,
                       const QString& key, const QString& value);

    QString path_;
    SyncToDisk sync_;
    std::optional<IniDocument> doc_;
    QString lineEnding_ = QStringLiteral("\n");
};

} // namespace tolvane
