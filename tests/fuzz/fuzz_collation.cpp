// The station list's sorting step over names from a station file (the
// input's lines; its first byte picks the locale). Property: the order from
// the character table's keys, when it gives one, and the whole step are the
// order of the collator's sort keys, the first name of each equal group
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

// The order by the collator's sort keys alone: stable, and the first
// position of each run of equal names kept in the run's place. (Sort keys,
// not compare(): Qt's compare() puts an empty name before one of characters
// the collation ignores, whose sort keys are equal.)
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
