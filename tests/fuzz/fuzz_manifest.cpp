// The update manifest (downloadlist.dat) as the update pass reads it, and
// where each listed file would be written. Properties: the lists are no
// longer than the sections that can fill them, reading ends quickly whatever
// count the manifest announces, and every target allowed is a path of plain
// names inside an allowed place of the program folder.

#include "FuzzCheck.h"

#include "common/Errors.h"
#include "common/IniFile.h"
#include "common/Paths.h"
#include "update/UpdatePass.h"

#include <cstdint>

using namespace tolvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const IniDocument doc = IniDocument::fromText(DecodeText(bytes));
    update::Manifest manifest;
    try {
        manifest = update::readManifest(doc);
    } catch (const ConvertError&) {
        return 0; // a count that is no whole number
    }
    // [playlist] gives one entry of each list, each [fileN] at most one more.
    const qsizetype sections = doc.sectionNames().size();
    FUZZ_CHECK(manifest.lists.sources.size() <= 1 + sections);
    FUZZ_CHECK(manifest.lists.targets.size() <= 1 + sections);

    for (const QString& target : manifest.lists.targets) {
        const auto parts = update::allowedTarget(target);
        if (!parts)
            continue;
        FUZZ_CHECK(!parts->isEmpty());
        for (const QString& part : *parts) {
            FUZZ_CHECK(!part.isEmpty() && !part.startsWith(u'.'));
            FUZZ_CHECK(!part.contains(u'/') && !part.contains(u'\\'));
        }
        const QString first = parts->first().toLower();
        FUZZ_CHECK(parts->size() == 1 || first == u"banners" || first == u"images" ||
                   first == u"settings" || first == u"skins");
    }
    return 0;
}
