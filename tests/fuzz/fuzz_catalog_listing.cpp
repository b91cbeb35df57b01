// The station list's fill over a station file's text (radiolist.dat,
// radiouser.dat, favorites.dat): a one-pass reader with its own table of
// names, which must list exactly what the reading rules of IniFile give.
// The same text is read through IniDocument, row by row, and compared:
// unfiltered, and filtered by the first row's language and genre.

#include "FuzzCheck.h"

#include "catalog/Catalog.h"
#include "common/IniFile.h"
#include "common/Paths.h"

#include <cstdint>

using namespace tolvane;
using namespace tolvane::catalog;

namespace {

struct Listed {
    QVector<StationRow> rows;
    QStringList languages; // of each row, for the filter
};

// The rows as IniDocument's lookups give them.
Listed expectedRows(const IniDocument& doc, const Filter& filter) {
    Listed out;
    if (doc.lineCount() < 2)
        return out;
    const QStringList keys{QStringLiteral("bitrate"), QStringLiteral("genre"),
                           QStringLiteral("language")};
    for (qsizetype i = 0; i < doc.lineCount(); ++i) {
        const std::optional<QString> name = stationNameFromHeader(doc.line(i).toString());
        if (!name)
            continue;
        const QStringList v = doc.values(*name, keys);
        if (!filter.passes(v[2], v[1]))
            continue;
        out.rows.push_back({*name, v[0], v[1]});
        out.languages << v[2];
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = DecodeText(bytes);
    const IniDocument doc = IniDocument::fromText(text);

    const Listed all = expectedRows(doc, Filter{});
    FUZZ_CHECK(listStationText(text, Filter{}) == all.rows);
    if (!all.rows.isEmpty()) {
        const Filter filter{all.languages.front(), all.rows.front().genre};
        FUZZ_CHECK(listStationText(text, filter) == expectedRows(doc, filter).rows);
    }
    return 0;
}
