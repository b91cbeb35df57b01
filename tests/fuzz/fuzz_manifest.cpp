// The update manifest (downloadlist.dat) as the update pass reads it, and
// where each listed file would be written. Properties: the lists are no
// longer than the sections that can fill them, reading ends quickly whatever
// count the manifest announces, and every target allowed lies inside the
// program folder.

#include "FuzzCheck.h"

#include "common/Errors.h"
#include "common/IniFile.h"
#include "common/Paths.h"
#include "update/UpdatePass.h"

#include <QDir>

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

    const QString programDir = QStringLiteral("/opt/tolvane");
    for (const QString& target : manifest.lists.targets) {
        const auto path = update::resolveTarget(programDir, target);
        if (!path)
            continue;
        FUZZ_CHECK(path->startsWith(programDir + u'/'));
        FUZZ_CHECK(QDir::cleanPath(*path) == *path);
        FUZZ_CHECK(!path->split(u'/').contains(QStringLiteral("..")));
    }
    return 0;
}
