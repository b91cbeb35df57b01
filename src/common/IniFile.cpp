#include "IniFile.h"

#include "Errors.h"
#include "Paths.h"

#include <QFileInfo>

namespace tolvane {

namespace {

// Sections with more keys than this get a hash of their keys.
constexpr qsizetype KeyScanLimit = 16;

bool isAscii(QStringView s) {
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c.unicode() < 0x80; });
}

} // namespace

std::optional<QStringView> iniHeaderName(QStringView line) {
    const QStringView t = line.trimmed();
    if (!t.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = t.indexOf(u']', 1);
    return (close < 0 ? t.sliced(1) : t.sliced(1, close - 1)).trimmed();
}

bool namesMatch(QStringView a, QStringView b) {
    if (a.size() == b.size()) {
        for (qsizetype i = 0; i < a.size(); ++i) {
            char16_t x = a[i].unicode(), y = b[i].unicode();
            if (x == y)
                continue;
            if (x >= 0x80 || y >= 0x80)
                return a.compare(b, Qt::CaseInsensitive) == 0;
            x = (x >= u'A' && x <= u'Z') ? char16_t(x + (u'a' - u'A')) : x;
            y = (y >= u'A' && y <= u'Z') ? char16_t(y + (u'a' - u'A')) : y;
            if (x != y)
                return false;
        }
        return true;
    }
    // Different lengths differ unless folding outside ASCII joins them.
    if (isAscii(a) && isAscii(b))
        return false;
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QStringView cleanIniValue(QStringView v) {
    v = v.trimmed();
    if (v.size() >= 2 && v.startsWith(u'"') && v.endsWith(u'"'))
        v = v.sliced(1, v.size() - 2);
    if (v.size() > IniValueLimit)
        v.truncate(IniValueLimit);
    return v;
}

namespace {

QString cleanValue(QStringView v) {
    return cleanIniValue(v).toString();
}

} // namespace

// Done a character at a time: outside the surrogates, folding a string is
// folding each of its characters.
QString foldCase(QStringView s) {
    QString out(s.size(), Qt::Uninitialized);
    QChar* to = out.data();
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        if (QChar::isSurrogate(c))
            return s.toString().toCaseFolded();
        to[i] = QChar(foldCaseUnit(c));
    }
    return out;
}

IniDocument IniDocument::fromText(const QString& text) {
    // Lines end at LF; a CR before it belongs to the line break, and a final
    // line break ends the last line rather than starting an empty one.
    IniDocument doc;
    doc.text_ = text;
    const qsizetype n = text.size();
    qsizetype pos = 0;
    while (pos < n) {
        const qsizetype lf = text.indexOf(u'\n', pos);
        const qsizetype end = lf < 0 ? n : lf;
        qsizetype length = end - pos;
        if (length > 0 && text[end - 1] == u'\r')
            --length;
        doc.spans_.push_back({pos, length});
        if (lf < 0)
            break;
        pos = lf + 1;
    }
    doc.index();
    return doc;
}

IniDocument IniDocument::fromLines(const QStringList& lines) {
    IniDocument doc;
    doc.text_ = lines.join(u'\n');
    doc.spans_.reserve(static_cast<size_t>(lines.size()));
    qsizetype pos = 0;
    for (const QString& line : lines) {
        doc.spans_.push_back({pos, line.size()});
        pos += line.size() + 1;
    }
    doc.index();
    return doc;
}

QStringList IniDocument::lines() const {
    QStringList out;
    out.reserve(lineCount());
    for (qsizetype i = 0; i < lineCount(); ++i)
        out << line(i).toString();
    return out;
}

const IniDocument::KeyRef* IniDocument::findKey(const Section& section, QStringView key) const {
    if (!section.keyIndex.isEmpty()) {
        const auto k = section.keyIndex.constFind(foldCase(key));
        return k == section.keyIndex.cend() ? nullptr : &section.keys[*k];
    }
    for (const KeyRef& ref : section.keys) {
        if (namesMatch(keyOf(ref), key))
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
        section.keyIndex.insert(foldCase(keyOf(ref)), last);
    } else if (section.keys.size() > KeyScanLimit) {
        for (int i = 0; i <= last; ++i)
            section.keyIndex.insert(foldCase(keyOf(section.keys[i])), i);
    }
}

void IniDocument::index() {
    sections_.clear();
    firstSection_.clear();
    const int lineTotal = static_cast<int>(lineCount());
    for (int i = 0; i < lineTotal; ++i) {
        const QStringView line = this->line(i);
        if (auto name = iniHeaderName(line)) {
            if (!sections_.empty())
                sections_.back().endLine = i;
            Section s;
            s.name = name->toString();
            s.firstLine = i;
            s.endLine = lineTotal;
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
        firstSection_.insert(foldCase(sections_[i].name), i);
}

const IniDocument::Section* IniDocument::findSection(const QString& name) const {
    const auto s = firstSection_.constFind(foldCase(QStringView(name).trimmed()));
    return s == firstSection_.cend() ? nullptr : &sections_[*s];
}

std::optional<QString> IniDocument::find(const QString& section, const QString& key) const {
    const Section* sec = findSection(section);
    if (!sec)
        return std::nullopt;
    const KeyRef* ref = findKey(*sec, QStringView(key).trimmed());
    if (!ref)
        return std::nullopt;
    return cleanValue(line(ref->line).sliced(ref->equals + 1));
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
        out << (ref ? cleanValue(line(ref->line).sliced(ref->equals + 1)) : QString());
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

IniFile::IniFile(QString absolutePath, SyncToDisk sync)
    : path_(std::move(absolutePath)), sync_(sync) {}

bool IniFile::exists() const {
    return QFileInfo::exists(path_);
}

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

QStringList IniFile::ReadSections() {
    return document().sectionNames();
}

void IniFile::checkEntry(const QString& section, const QString& key, const QString& value) const {
    auto breaksLine = [](const QString& t) { return t.contains(u'\n') || t.contains(u'\r'); };
    if (section.contains(u']') || breaksLine(section) || breaksLine(key) || key.contains(u'=') ||
        breaksLine(value))
        throw IniEntryError(path_);
}

void IniFile::setKey(const IniDocument& doc, QStringList& lines, const QString& section,
                     const QString& key, const QString& value) {
    const QString newLine = key.trimmed() + u'=' + value;
    const IniDocument::Section* sec = doc.findSection(section);
    if (!sec) {
        lines << u'[' + section.trimmed() + u']' << newLine;
    } else if (const IniDocument::KeyRef* ref = doc.findKey(*sec, QStringView(key).trimmed())) {
        lines[ref->line] = newLine;
    } else {
        // After the section's last non-empty line, so blank separators stay below.
        int at = sec->endLine;
        while (at - 1 > sec->firstLine && lines[at - 1].trimmed().isEmpty())
            --at;
        lines.insert(at, newLine);
    }
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    checkEntry(section, key, value);
    const IniDocument& doc = document();
    QStringList lines = doc.lines();
    setKey(doc, lines, section, key, value);
    save(lines);
}

void IniFile::WriteStrings(const QString& section,
                           const QList<std::pair<QString, QString>>& entries) {
    for (const auto& [key, value] : entries)
        checkEntry(section, key, value);
    // Each key goes into the document the previous one made, as single
    // writes in a row would, and the file is replaced once.
    IniDocument doc = document();
    QStringList lines = doc.lines();
    for (const auto& [key, value] : entries) {
        setKey(doc, lines, section, key, value);
        doc = IniDocument::fromLines(lines);
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
    WriteFileAtomically(path_, text.toUtf8(), sync_);
    doc_ = IniDocument::fromLines(lines);
}

} // namespace tolvane
