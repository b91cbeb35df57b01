#include "IniFile.h"

#include "Errors.h"
#include "Paths.h"

#include <QFileInfo>

namespace tolvane {

namespace {

// "[name]" -> name; nullopt when the line is no header. Leading blanks
// before "[" are allowed; the name ends at the first "]".
std::optional<QString> headerName(const QString& line) {
    const QString t = line.trimmed();
    if (!t.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = t.indexOf(u']', 1);
    return (close < 0 ? t.mid(1) : t.mid(1, close - 1)).trimmed();
}

QString cleanValue(QString v) {
    v = v.trimmed();
    if (v.size() >= 2 && v.startsWith(u'"') && v.endsWith(u'"'))
        v = v.mid(1, v.size() - 2);
    if (v.size() > IniValueLimit)
        v.truncate(IniValueLimit);
    return v;
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

void IniDocument::index() {
    sections_.clear();
    firstSection_.clear();
    for (int i = 0; i < lines_.size(); ++i) {
        const QString& line = lines_[i];
        if (auto name = headerName(line)) {
            if (!sections_.empty())
                sections_.back().endLine = i;
            Section s;
            s.name = *name;
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
        const QString key = foldedKey(line.left(eq));
        if (key.isEmpty() || key.startsWith(u';'))
            continue;
        Section& s = sections_.back();
        if (!s.keys.contains(key))
            s.keys.insert(key, i);
    }
    // Walking backwards leaves the first section of each name in the map.
    for (int i = static_cast<int>(sections_.size()) - 1; i >= 0; --i)
        firstSection_.insert(sections_[i].name.toCaseFolded(), i);
}

std::optional<QString> IniDocument::find(const QString& section, const QString& key) const {
    const auto s = firstSection_.constFind(section.trimmed().toCaseFolded());
    if (s == firstSection_.cend())
        return std::nullopt;
    const Section& sec = sections_[*s];
    const auto k = sec.keys.constFind(foldedKey(key));
    if (k == sec.keys.cend())
        return std::nullopt;
    const QString& line = lines_[*k];
    return cleanValue(line.mid(line.indexOf(u'=') + 1));
}

QString IniDocument::value(const QString& section, const QString& key,
                           const QString& defaultValue) const {
    return find(section, key).value_or(defaultValue);
}

bool IniDocument::hasSection(const QString& section) const {
    return firstSection_.contains(section.trimmed().toCaseFolded());
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
    const auto s = doc.firstSection_.constFind(section.trimmed().toCaseFolded());
    if (s == doc.firstSection_.cend()) {
        lines << u'[' + section.trimmed() + u']' << newLine;
    } else {
        const IniDocument::Section& sec = doc.sections_[*s];
        const auto k = sec.keys.constFind(IniDocument::foldedKey(key));
        if (k != sec.keys.cend()) {
            lines[*k] = newLine;
        } else {
            // After the section's last non-empty line, so blank separators stay below.
            int at = sec.endLine;
            while (at - 1 > sec.firstLine && lines[at - 1].trimmed().isEmpty())
                --at;
            lines.insert(at, newLine);
        }
    }
    save(lines);
}

void IniFile::EraseSection(const QString& section) {
    const IniDocument& doc = document();
    const auto s = doc.firstSection_.constFind(section.trimmed().toCaseFolded());
    if (s == doc.firstSection_.cend())
        return;
    const IniDocument::Section& sec = doc.sections_[*s];
    QStringList lines = doc.lines();
    lines.erase(lines.begin() + sec.firstLine, lines.begin() + sec.endLine);
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
