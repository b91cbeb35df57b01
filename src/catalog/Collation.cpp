#include "Collation.h"

#include "common/IniFile.h"

#include <QCollatorSortKey>
#include <QLocale>
#include <QString>

#include <algorithm>
#include <numeric>
#include <string>
#include <string_view>

namespace tolvane::catalog {

namespace {

// The collator's comparison as its sort keys make it. QCollator::compare
// puts an empty text before any other, where the sort keys find it equal to
// a text of characters the collation ignores; the sort keys decide here.
int collate(const QCollator& collator, QStringView a, QStringView b) {
    if (a.isEmpty() || b.isEmpty())
        return collator.sortKey(a.toString()).compare(collator.sortKey(b.toString()));
    return collator.compare(a, b);
}

QString twoCharacters(char16_t a, char16_t b) {
    const QChar pair[2] = {QChar(a), QChar(b)};
    return QString(pair, 2);
}

// One position of each run of equal names in a sorted order: the smallest,
// which is where a stable sort puts the first of the group.
std::vector<qsizetype> keepFirstOfEachRun(const std::vector<qsizetype>& order,
                                          const std::vector<char>& equalToPrevious) {
    std::vector<qsizetype> kept;
    kept.reserve(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && equalToPrevious[i])
            kept.back() = std::min(kept.back(), order[i]);
        else
            kept.push_back(order[i]);
    }
    return kept;
}

// A sort key per name in one buffer (no allocation per name), compared as
// bytes.
class KeyPool {
public:
    // `write(name, out)` writes at most `maxBytes(name)` bytes at out and
    // returns the end.
    template <typename MaxBytes, typename Write>
    KeyPool(const std::vector<QStringView>& names, MaxBytes maxBytes, Write write) {
        size_t bytes = 0;
        for (QStringView name : names)
            bytes += maxBytes(name);
        pool_.resize(bytes);
        start_.reserve(names.size() + 1);
        char* end = pool_.data();
        for (QStringView name : names) {
            start_.push_back(size_t(end - pool_.data()));
            end = write(name, end);
        }
        start_.push_back(size_t(end - pool_.data()));
    }
    std::string_view operator[](qsizetype i) const {
        return std::string_view(pool_.data() + start_[i], start_[i + 1] - start_[i]);
    }
    // Positions in the order of their keys; equal keys keep their order.
    std::vector<qsizetype> order() const {
        std::vector<qsizetype> order(start_.size() - 1);
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](qsizetype a, qsizetype b) { return (*this)[a] < (*this)[b]; });
        return order;
    }

private:
    std::string pool_;
    std::vector<size_t> start_;
};

// The place in the collation of each character the names use: a primary
// rank (letters that differ only in accents or case share it; 0 for a
// character the collation ignores) and a secondary rank within it (case
// variants share it). Characters it cannot place (surrogates, and marks
// that only add an accent to the letter before them) make a name unkeyable.
class CharacterTable {
public:
    // False when the collator does not answer the probes the table needs.
    bool build(const std::vector<QStringView>& names, const QCollator& collator) {
        primary_.assign(0x10000, 0);
        secondary_.assign(0x10000, 0);
        std::vector<char16_t> chars;
        std::vector<bool> used(0x10000, false);
        for (QStringView name : names) {
            for (QChar c : name) {
                if (!used[c.unicode()]) {
                    used[c.unicode()] = true;
                    if (c.isSurrogate())
                        primary_[c.unicode()] = Unkeyable;
                    else
                        chars.push_back(c.unicode());
                }
            }
        }
        // Probes of characters against digits: 0 and 9 must be letters of
        // their own, in that order.
        if (chars.size() >= Unkeyable || collate(collator, u"0", u"9") >= 0)
            return false;

        std::vector<QCollatorSortKey> keys;
        keys.reserve(chars.size());
        for (char16_t c : chars)
            keys.push_back(collator.sortKey(QString(QChar(c))));
        const QCollatorSortKey nothing = collator.sortKey(QString());
        std::vector<size_t> byKey(chars.size());
        std::iota(byKey.begin(), byKey.end(), 0);
        std::stable_sort(byKey.begin(), byKey.end(),
                         [&](size_t a, size_t b) { return keys[a].compare(keys[b]) < 0; });

        // The character that sorts last: what follows a letter in the probe
        // that tells a letter of its own from one spelled as several.
        const char16_t last = byKey.empty() ? u'z' : chars[byKey.back()];
        char16_t primary = 0, secondary = 0;
        std::optional<size_t> previous;
        for (size_t k : byKey) {
            const char16_t c = chars[k];
            if (keys[k].compare(nothing) == 0)
                continue; // ignored altogether: rank 0
            const QString c0 = twoCharacters(c, u'0');
            if (collate(collator, c0, u"0") > 0 && collate(collator, c0, u"00") < 0) {
                // Sorts with the 0 after it: no letter of its own, an accent.
                primary_[c] = Unkeyable;
                continue;
            }
            if (!previous) {
                primary = secondary = 1;
            } else if (keys[k].compare(keys[*previous]) != 0) {
                const char16_t before = chars[*previous];
                // Differing only in accents, c and the one before it give way
                // to a following 9 against a following 0.
                if (collate(collator, twoCharacters(before, u'9'), c0) > 0) {
                    ++secondary;
                } else if (collate(collator, twoCharacters(before, last), c0) < 0) {
                    ++primary; // a letter of its own
                    secondary = 1;
                } else {
                    // Sorts as several letters (as "ae" or "ss" do).
                    primary_[c] = Unkeyable;
                    continue;
                }
            }
            primary_[c] = primary;
            secondary_[c] = secondary;
            highest_ = std::max<int>({highest_, primary, secondary});
            previous = k;
        }
        return true;
    }

    bool canKey(QStringView name) const {
        return std::none_of(name.begin(), name.end(),
                            [&](QChar c) { return primary_[c.unicode()] == Unkeyable; });
    }

    // Bytes per rank in a key: one while there are fewer than 256 ranks.
    int rankWidth() const { return highest_ < 256 ? 1 : 2; }

    // The key of a name that canKey, compared as bytes: its primary ranks,
    // 0, then its secondary ranks, each big-endian in `width` bytes. At most
    // (2 * name.size() + 1) * width bytes go to `out`; returns the end.
    char* writeKey(QStringView name, int width, char* out) const {
        auto put = [&](char16_t rank) {
            if (width == 2)
                *out++ = char(rank >> 8);
            *out++ = char(rank & 0xff);
        };
        for (QChar c : name) {
            if (const char16_t p = primary_[c.unicode()])
                put(p);
        }
        put(0);
        for (QChar c : name) {
            if (primary_[c.unicode()])
                put(secondary_[c.unicode()]);
        }
        return out;
    }

private:
    static constexpr char16_t Unkeyable = 0xffff;
    std::vector<char16_t> primary_, secondary_;
    int highest_ = 0; // the highest rank given
};

// The positions in the order of their names' collation sort keys (stable),
// and whether each is equal to the one before it: exact for every collator,
// and slow.
std::vector<qsizetype> sortKeyOrder(const std::vector<QStringView>& names,
                                    const std::vector<qsizetype>& positions,
                                    const QCollator& collator, std::vector<char>& equal) {
    std::vector<QCollatorSortKey> keys;
    keys.reserve(positions.size());
    for (qsizetype p : positions)
        keys.push_back(collator.sortKey(names[size_t(p)].toString()));
    std::vector<size_t> byKey(positions.size());
    std::iota(byKey.begin(), byKey.end(), 0);
    std::stable_sort(byKey.begin(), byKey.end(),
                     [&](size_t a, size_t b) { return keys[a].compare(keys[b]) < 0; });
    std::vector<qsizetype> order(positions.size());
    equal.assign(positions.size(), 0);
    for (size_t i = 0; i < byKey.size(); ++i) {
        order[i] = positions[byKey[i]];
        equal[i] = i > 0 && keys[byKey[i]].compare(keys[byKey[i - 1]]) == 0;
    }
    return order;
}

std::vector<qsizetype> sortKeyDistinctOrder(const std::vector<QStringView>& names,
                                            const QCollator& collator) {
    std::vector<qsizetype> all(names.size());
    std::iota(all.begin(), all.end(), 0);
    std::vector<char> equal;
    const std::vector<qsizetype> order = sortKeyOrder(names, all, collator, equal);
    return keepFirstOfEachRun(order, equal);
}

// The C locale's sort keys ignore the case setting: its order is that of
// case-folded names (foldCase), code unit by code unit; the keys are the
// folded code units, big-endian.
std::vector<qsizetype> foldedDistinctOrder(const std::vector<QStringView>& names) {
    auto putUnits = [](QStringView units, char* out) {
        for (QChar c : units) {
            *out++ = char(c.unicode() >> 8);
            *out++ = char(c.unicode() & 0xff);
        }
        return out;
    };
    const KeyPool keys(
        names,
        // Folding a whole name (one with surrogates) may lengthen it.
        [](QStringView name) { return size_t(name.size()) * 2 * 3; },
        [&](QStringView name, char* out) {
            if (std::any_of(name.begin(), name.end(), [](QChar c) { return c.isSurrogate(); }))
                return putUnits(foldCase(name), out);
            for (QChar c : name) {
                const char16_t folded = foldCaseUnit(c.unicode());
                *out++ = char(folded >> 8);
                *out++ = char(folded & 0xff);
            }
            return out;
        });
    const std::vector<qsizetype> order = keys.order();
    std::vector<char> equal(order.size(), 0);
    for (size_t i = 1; i < order.size(); ++i)
        equal[i] = keys[order[i]] == keys[order[i - 1]];
    return keepFirstOfEachRun(order, equal);
}

} // namespace

std::optional<std::vector<qsizetype>>
tableCollatedDistinctOrder(const std::vector<QStringView>& names, const QCollator& collator) {
    CharacterTable table;
    if (!table.build(names, collator))
        return std::nullopt;
    // Names the table cannot key are sorted by sort keys and put in their
    // places afterwards; when they are many, sort keys serve all names.
    std::vector<QStringView> keyable;
    std::vector<qsizetype> keyablePositions, others;
    keyable.reserve(names.size());
    keyablePositions.reserve(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        if (table.canKey(names[i])) {
            keyable.push_back(names[i]);
            keyablePositions.push_back(qsizetype(i));
        } else {
            others.push_back(qsizetype(i));
        }
    }
    if (others.size() * 8 > names.size())
        return std::nullopt;

    const int width = table.rankWidth();
    const KeyPool keys(
        keyable, [&](QStringView name) { return (2 * size_t(name.size()) + 1) * size_t(width); },
        [&](QStringView name, char* out) { return table.writeKey(name, width, out); });
    std::vector<qsizetype> order = keys.order();
    for (qsizetype& i : order)
        i = keyablePositions[i];

    // The collator has the last word on every neighbour: the order holds
    // only when no name comes after the next one.
    std::vector<char> equal(order.size(), 0);
    for (size_t i = 1; i < order.size(); ++i) {
        const int c = collate(collator, names[order[i - 1]], names[order[i]]);
        if (c > 0)
            return std::nullopt;
        equal[i] = c == 0;
    }
    if (others.empty())
        return keepFirstOfEachRun(order, equal);

    // Each of the others goes after every name that does not come after it;
    // the others are in order, so each search starts where the last ended.
    std::vector<char> unused;
    others = sortKeyOrder(names, others, collator, unused);
    std::vector<qsizetype> merged;
    std::vector<char> mergedEqual;
    merged.reserve(names.size());
    mergedEqual.reserve(names.size());
    auto append = [&](qsizetype position, std::optional<bool> equalToLast) {
        if (!equalToLast)
            equalToLast = !merged.empty() && collate(collator, names[size_t(merged.back())],
                                                     names[size_t(position)]) == 0;
        mergedEqual.push_back(*equalToLast);
        merged.push_back(position);
    };
    // A name that still follows its neighbour in `order` keeps the answer
    // already given for the two.
    auto appendKeyable = [&](size_t k) {
        const bool follows = k > 0 && !merged.empty() && merged.back() == order[k - 1];
        append(order[k], follows ? std::optional<bool>(equal[k] != 0) : std::nullopt);
    };
    size_t next = 0; // the first name of `order` not yet merged
    for (qsizetype other : others) {
        const auto at = std::upper_bound(
            order.begin() + qsizetype(next), order.end(), other, [&](qsizetype a, qsizetype b) {
                return collate(collator, names[size_t(a)], names[size_t(b)]) < 0;
            });
        for (const size_t until = size_t(at - order.begin()); next < until; ++next)
            appendKeyable(next);
        append(other, std::nullopt);
    }
    for (; next < order.size(); ++next)
        appendKeyable(next);
    return keepFirstOfEachRun(merged, mergedEqual);
}

std::vector<qsizetype> collatedDistinctOrder(const std::vector<QStringView>& names,
                                             const QCollator& collator) {
    if (collator.locale().language() == QLocale::C)
        return foldedDistinctOrder(names);
    if (std::optional<std::vector<qsizetype>> order = tableCollatedDistinctOrder(names, collator))
        return std::move(*order);
    return sortKeyDistinctOrder(names, collator);
}

} // namespace tolvane::catalog
