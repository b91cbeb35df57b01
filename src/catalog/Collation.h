#pragma once
// The order of the station list's sorting step: names sorted by a
// case-insensitive collation for the user's locale (QCollator), one name
// kept of each group the collation finds equal (the first of the group in
// list order).
//
// A collation sort key per name is what makes sorting tens of thousands of
// names slow, so the order is first found from cheap keys built from a
// table of the characters the names use (their order, and which differ only
// in accents or letter case, asked of the collator once per character).
// Every neighbour in that order is then checked with the collator itself;
// when one pair is out of order (a locale whose collation joins letters,
// for instance), the names are sorted by collation sort keys after all. The
// result is the collator's either way.

#include <QCollator>
#include <QStringView>

#include <optional>
#include <vector>

namespace tolvane::catalog {

// Positions of the names to keep, in sorted order. `collator` must ignore
// letter case.
std::vector<qsizetype> collatedDistinctOrder(const std::vector<QStringView>& names,
                                             const QCollator& collator);

// The same from the character table alone: nullopt when the names use
// characters the table does not take (outside the basic plane) or when the
// collator disagrees with the order the table gives.
std::optional<std::vector<qsizetype>>
tableCollatedDistinctOrder(const std::vector<QStringView>& names, const QCollator& collator);

} // namespace tolvane::catalog
