// The station list's sorting step over names (the input's lines; its first
// byte picks the locale). Property: the table's order, when it gives one,
// and the whole step are that of the collator's sort keys (not compare(),
// which puts "" before an ignorable name), the first of each equal group
// kept. (The C locale has an order of its own, by folded code units.)

#include "FuzzCheck.h"

#include "catalog/Collation.h"

#include <QCollator>
#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <numeric>

using namespace tolvane::catalog;

namespace {

const QCollator& collatorFor(std::uint8_t pick) {
    static const std::vector<QCollator> collators = [] {
        std::vector<QCollator> all;
        for (const char* name : {"en_US", "de_DE", "sv_SE", "da_DK", "tr_TR", "fr_CA"}) {
            all.emplace_back(QLocale(QString::fromLatin1(name)));
            all.back().setCaseSensitivity(Qt::CaseInsensitive);
        }
        return all;
    }();
    return collators[pick % collators.size()];
}

// The order by sort keys alone: stable, each run's first position kept.
std::vector<qsizetype> plainOrder(const std::vector<QStringView>& names, const QCollator& c) {
    std::vector<QCollatorSortKey> keys;
    for (QStringView name : names)
        keys.push_back(c.sortKey(name.toString()));
    std::vector<qsizetype> order(names.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](qsizetype a, qsizetype b) { return keys[a].compare(keys[b]) < 0; });
    std::vector<qsizetype> kept;
    for (size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && keys[order[i - 1]].compare(keys[order[i]]) == 0)
            kept.back() = std::min(kept.back(), order[i]);
        else
            kept.push_back(order[i]);
    }
    return kept;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const QCollator& collator = collatorFor(data[0]);
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1),
                                           static_cast<qsizetype>(size - 1));
    const QStringList lines = text.split(u'\n').mid(0, 64);
    const std::vector<QStringView> names(lines.begin(), lines.end());
    const std::vector<qsizetype> expected = plainOrder(names, collator);
    if (const auto table = tableCollatedDistinctOrder(names, collator))
        FUZZ_CHECK(*table == expected);
    FUZZ_CHECK(collatedDistinctOrder(names, collator) == expected);
    return 0;
}
