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

bool IsPlainFileName(const QString& name) {
    if (name.isEmpty() || name == u"." || name == u"..")
        return false;
    for (const QChar c : name) {
        if (c == u'/' || c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

BannerAd ReadBannerAd(const IniDocument& list, int index) {
    const QStringList v =
        list.values(QString::number(index), {QStringLiteral("website"), QStringLiteral("name"),
                                             QStringLiteral("text"), QStringLiteral("image")});
    // The picture's name stays inside banners/.
    return {v[0], v[1], v[2], IsPlainFileName(v[3]) ? v[3] : QString()};
}

} // namespace tolvane
