#include "Banners.h"

namespace tolvane {

int CountBannerSections(const QStringList& lines) {
    int count = 0;
    for (const QString& line : lines) {
        if (line.startsWith(u'['))
            ++count;
    }
    return count;
}

int NextBannerIndex(int current, int n) {
    return current > n ? 0 : current + 1;
}

BannerAd ReadBannerAd(const IniDocument& list, int index) {
    const QStringList v =
        list.values(QString::number(index), {QStringLiteral("website"), QStringLiteral("name"),
                                             QStringLiteral("text"), QStringLiteral("image")});
    return {v[0], v[1], v[2], v[3]};
}

} // namespace tolvane
