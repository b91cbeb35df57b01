// The ads list (reklame.dat) as the banner rotation reads it: the count of
// sections from the file's lines, and each announced ad from the parsed
// file. Properties: the count never passes the line count, each ad's values
// obey the reading rules' bounds, and the rotation returns to the first ad
// after the count says.

#include "FuzzCheck.h"

#include "common/IniFile.h"
#include "common/Paths.h"
#include "online/Banners.h"

#include <algorithm>
#include <cstdint>

using namespace tolvane;

namespace {

void checkValue(const QString& value) {
    FUZZ_CHECK(value.size() <= IniValueLimit);
    FUZZ_CHECK(!value.contains(u'\n'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QStringList lines = TextLines(bytes);
    const int count = CountBannerSections(lines);
    FUZZ_CHECK(count >= 0 && count <= lines.size());

    const IniDocument list = IniDocument::fromText(DecodeText(bytes));
    // A cycle shows ads 0 to count + 1.
    int index = 0;
    for (int step = 0; step < std::min(count, 64) + 2; ++step) {
        const BannerAd ad = ReadBannerAd(list, index);
        for (const QString* value : {&ad.website, &ad.name, &ad.text, &ad.image})
            checkValue(*value);
        // The picture is named inside banners/, never by a path.
        FUZZ_CHECK(!ad.image.contains(u'/') && !ad.image.contains(u'\\') && ad.image != u"..");
        const int next = NextBannerIndex(index, count);
        FUZZ_CHECK(next == (index > count ? 0 : index + 1));
        index = next;
    }
    if (count <= 64)
        FUZZ_CHECK(index == 0);
    return 0;
}
