// Keyed text files as IniFile reads them (settings, station files, the
// catalog, the update manifest, the ads list): the bytes decoded as a file
// is, then every section and key the text names looked up. Properties: each
// header's section is found, each key of the first section of its name is
// found, values obey the reading rules' bounds, and the document's own lines
// read again (with either line ending) answer every lookup the same way.

#include "FuzzCheck.h"

#include "common/IniFile.h"
#include "common/Paths.h"

#include <QSet>

#include <cstdint>
#include <utility>
#include <vector>

using namespace tolvane;

namespace {

// Lookups checked per input: each costs a few allocations, and few keep a
// run fast enough for millions of inputs.
constexpr std::size_t MaxProbes = 32;

void checkValue(const std::optional<QString>& value) {
    if (!value)
        return;
    FUZZ_CHECK(value->size() <= IniValueLimit);
    FUZZ_CHECK(!value->contains(u'\n'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const IniDocument doc = IniDocument::fromText(DecodeText(bytes));

    // (section, key) pairs as the text names them.
    std::vector<std::pair<QString, QString>> probes;
    QSet<QString> seenSections;
    QString section;
    bool firstOfName = false;
    for (qsizetype i = 0; i < doc.lineCount() && probes.size() < MaxProbes; ++i) {
        const QStringView line = doc.line(i);
        FUZZ_CHECK(!line.contains(u'\n'));
        if (const auto name = iniHeaderName(line)) {
            section = name->toString();
            FUZZ_CHECK(doc.hasSection(section));
            firstOfName = !seenSections.contains(foldCase(section));
            seenSections.insert(foldCase(section));
            probes.emplace_back(section, QString());
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (seenSections.isEmpty() || eq < 0)
            continue;
        const QString key = line.first(eq).trimmed().toString();
        probes.emplace_back(section, key);
        const std::optional<QString> value = doc.find(section, key);
        // The first section of a name answers for every key it holds.
        if (firstOfName && !key.isEmpty() && !key.startsWith(u';'))
            FUZZ_CHECK(value.has_value());
        checkValue(value);
    }

    // The lines as a write keeps them, or saved with CR LF and read again
    // (the input's length chooses, so both are fuzzed at half the cost).
    const QStringList lines = doc.lines();
    const IniDocument other = size % 2 ? IniDocument::fromLines(lines)
                                       : IniDocument::fromText(lines.join(QStringLiteral("\r\n")));
    FUZZ_CHECK(other.sectionNames() == doc.sectionNames());
    for (const auto& [s, k] : probes)
        FUZZ_CHECK(other.find(s, k) == doc.find(s, k));
    // values() answers as find() does, missing keys as empty strings.
    if (!probes.empty()) {
        const QString& s = probes.front().first;
        QStringList keys;
        for (const auto& probe : probes)
            keys << probe.second;
        const QStringList values = doc.values(s, keys);
        FUZZ_CHECK(values.size() == keys.size());
        for (qsizetype i = 0; i < keys.size(); ++i)
            FUZZ_CHECK(values[i] == doc.find(s, keys[i]).value_or(QString()));
    }
    return 0;
}
