#include "IniFile.h"

#include "Errors.h"
#include "Paths.h"

#include <QFileInfo>

namespace tolvane {

namespace {

// Sections with more keys than this get a hash of their keys.
constexpr qsizetype KeyScanLimit = 16;

// "[name]" -> name; nullopt when the line is no header. Leading blanks
// before "[" are allowed; the name ends at the first "]".
std::optional<QStringView> headerName(QStringView line) {
    const QStringView t = line.trimmed();
    if (!t.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = t.indexOf(u']', 1);
    return (close < 0 ? t.sliced(1) : t.sliced(1, close - 1)).trimmed();
}

QString cleanValue(QStringView v) {
    v = v.trimmed();
    if (v.size() >= 2 && v.startsWith(u'"') && v.endsWith(u'"'))
        v = v.sliced(1, v.size() - 2);
    if (v.size() > IniValueLimit)
        v.truncate(IniValueLimit);
    return v.toString();
}

} // namespace

IniDocument IniDocument::fromText(const QString& text) {
    QStringList lines = text.split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
    }
    return fromLines(lines);
}

IniDocument IniDocument::fromLines(const QStringList& lines) {
    IniDocument doc;
    doc.lines_ = lines;
    doc.index();
    return doc;
}

const IniDocument::KeyRef* IniDocument::findKey(const Section& section, QStringView key) const {
    if (!section.keyIndex.isEmpty()) {
        const auto k = section.keyIndex.constFind(key.toString().toCaseFolded());
        return k == section.keyIndex.cend() ? nullptr : &section.keys[*k];
    }
    for (const KeyRef& ref : section.keys) {
        if (keyOf(ref).compare(key, Qt::CaseInsensitive) == 0)
            return &ref;
    }
    return nullptr;
}

void IniDocument::addKey(Section& section, const KeyRef& ref) {
    if (findKey(section, keyOf(ref)))
        return; // the first line of a key wins
    section.keys.push_back(ref);
    const int last = static_cast<int>(section.keys.size()) - 1;
    if (!section.keyIndex.isEmpty()) {
        section.keyIndex.insert(keyOf(ref).toString().toCaseFolded(), last);
    } else if (section.keys.size() > KeyScanLimit) {
        for (int i = 0; i <= last; ++i)
            section.keyIndex.insert(keyOf(section.keys[i]).toString().toCaseFolded(), i);
    }
}

void IniDocument::index() {
    sections_.clear();
    firstSection_.clear();
    for (int i = 0; i < lines_.size(); ++i) {
        const QStringView line(lines_[i]);
        if (auto name = headerName(line)) {
            if (!sections_.empty())
                sections_.back().endLine = i;
            Section s;
            s.name = name->toString();
            s.firstLine = i;
            s.endLine = static_cast<int>(lines_.size());
            sections_.push_back(std::move(s));
            continue;
        }
        if (sections_.empty())
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        const QStringView key = line.first(eq).trimmed();
        if (key.isEmpty() || key.startsWith(u';'))
            continue;
        KeyRef ref;
        ref.line = i;
        ref.keyStart = static_cast<int>(key.data() - line.data());
        ref.keyLength = static_cast<int>(key.size());
        ref.equals = static_cast<int>(eq);
        addKey(sections_.back(), ref);
    }
    firstSection_.reserve(static_cast<qsizetype>(sections_.size()));
    // Walking backwards leaves the first section of each name in the map.
    for (int i = static_cast<int>(sections_.size()) - 1; i >= 0; --i)
        firstSection_.insert(sections_[i].name.toCaseFolded(), i);
}

const IniDocument::Section* IniDocument::findSection(const QString& name) const {
    const auto s = firstSection_.constFind(name.trimmed().toCaseFolded());
    return s == firstSection_.cend() ? nullptr : &sections_[*s];
}

std::optional<QString> IniDocument::find(const QString& section, const QString& key) const {
    const Section* sec = findSection(section);
    if (!sec)
        return std::nullopt;
    const KeyRef* ref = findKey(*sec, QStringView(key).trimmed());
    if (!ref)
        return std::nullopt;
    return cleanValue(QStringView(lines_[ref->line]).sliced(ref->equals + 1));
}

QString IniDocument::value(const QString& section, const QString& key,
                           const QString& defaultValue) const {
    return find(section, key).value_or(defaultValue);
}

QStringList IniDocument::values(const QString& section, const QStringList& keys) const {
    QStringList out;
    out.reserve(keys.size());
    const Section* sec = findSection(section);
    for (const QString& key : keys) {
        const KeyRef* ref = sec ? findKey(*sec, QStringView(key).trimmed()) : nullptr;
        out << (ref ? cleanValue(QStringView(lines_[ref->line]).sliced(ref->equals + 1))
                    : QString());
    }
    return out;
}

bool IniDocument::hasSection(const QString& section) const {
    return findSection(section);
}

QStringList IniDocument::sectionNames() const {
    QStringList names;
    names.reserve(static_cast<qsizetype>(sections_.size()));
    for (const Section& s : sections_)
        names << s.name;
    return names;
}

IniFile::IniFile(QString absolutePath) : path_(std::move(absolutePath)) {}

bool IniFile::exists() const { return QFileInfo::exists(path_); }

const IniDocument& IniFile::document() {
    if (!doc_) {
        const QByteArray bytes = ReadFileBytes(path_);
        lineEnding_ = bytes.contains("\r\n") ? QStringLiteral("\r\n") : QStringLiteral("\n");
        doc_ = IniDocument::fromText(DecodeText(bytes));
    }
    return *doc_;
}

QString IniFile::ReadString(const QString& section, const QString& key,
                            const QString& defaultValue) {
    return document().value(section, key, defaultValue);
}

QStringList IniFile::ReadSections() { return document().sectionNames(); }

void IniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    const IniDocument& doc = document();
    QStringList lines = doc.lines();
    const QString newLine = key.trimmed() + u'=' + value;
    const IniDocument::Section* sec = doc.findSection(section);
    if (!sec) {
        lines << u'[' + section.trimmed() + u']' << newLine;
    } else {
        if (const IniDocument::KeyRef* ref = doc.findKey(*sec, QStringView(key).trimmed())) {
            lines[ref->line] = newLine;
        } else {
            // After the section's last non-empty line, so blank separators stay below.
            int at = sec->endLine;
            while (at - 1 > sec->firstLine && lines[at - 1].trimmed().isEmpty())
                --at;
            lines.insert(at, newLine);
        }
    }
    save(lines);
}

void IniFile::EraseSection(const QString& section) {
    const IniDocument& doc = document();
    const IniDocument::Section* sec = doc.findSection(section);
    if (!sec)
        return;
    QStringList lines = doc.lines();
    lines.erase(lines.begin() + sec->firstLine, lines.begin() + sec->endLine);
    save(lines);
}

void IniFile::save(const QStringList& lines) {
    QString text;
    for (const QString& line : lines) {
        text += line;
        text += lineEnding_;
    }
    WriteFileAtomically(path_, text.toUtf8());
    doc_ = IniDocument::fromLines(lines);
}

} // namespace tolvane
