#pragma once
// The banner rotation's decisions: how many ads the list reklame.dat
// announces, which index comes next, and what one ad holds.

#include "common/IniFile.h"

#include <QString>
#include <QStringList>

namespace tolvane {

// The section count: lines whose first character is "[".
int CountBannerSections(const QStringList& lines);

// The index after `current` for a count of n: 0 once current is past n, so
// a cycle runs 0 to n + 1.
int NextBannerIndex(int current, int n);

struct BannerAd {
    QString website;
    QString name;
    QString text;
    QString image; // a plain file name inside "banners", or empty
};

// A name of a file in a folder, not a path: not empty, not "." or "..", no
// "/" or "\" and no control character.
bool IsPlainFileName(const QString& name);

// The ad of the section named by index in decimal; empty values when the
// section or a key is missing, and no image when its value is no plain file
// name (a path such as "../../x" reaches outside banners/).
BannerAd ReadBannerAd(const IniDocument& list, int index);

} // namespace tolvane
