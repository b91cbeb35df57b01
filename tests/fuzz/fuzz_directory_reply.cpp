// The station directory's replies as the client reads them: a search page,
// a filter list and the server list. Each is read whole or refused whole;
// what is read keeps the limits (page size, one-line names and tags) and the
// order by votes, then clicks; the server list names only https addresses of
// the directory's own hosts.

#include "FuzzCheck.h"

#include "directory/Directory.h"

#include <algorithm>

#include <cstdint>

using namespace tolvane::directory;

namespace {

bool oneLine(const QString& text) {
    return std::none_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto page = parseStations(bytes, 20);
    FUZZ_CHECK((page.ok() || page.value.isEmpty()) && page.value.size() <= 20);
    for (qsizetype i = 0; i < page.value.size(); ++i) {
        const DirectoryStation& s = page.value[i];
        FUZZ_CHECK(!s.uuid.trimmed().isEmpty() && oneLine(s.name) && s.tags.size() <= 32);
        for (const QString& tag : s.tags)
            FUZZ_CHECK(!tag.isEmpty() && oneLine(tag) && !tag.contains(u','));
        const DirectoryStation* p = i > 0 ? &page.value[i - 1] : nullptr;
        FUZZ_CHECK(!p || p->votes > s.votes || (p->votes == s.votes && p->clicks >= s.clicks));
    }
    const auto list = parseList(bytes, QStringLiteral("iso_3166_1"));
    FUZZ_CHECK((list.ok() || list.value.isEmpty()) && list.value.size() <= MaxListEntries);
    for (const ListEntry& e : list.value)
        FUZZ_CHECK(!e.name.isEmpty() && oneLine(e.name));
    const auto servers = parseServers(bytes);
    FUZZ_CHECK(servers.ok() != servers.value.isEmpty());
    for (const QString& s : servers.value)
        FUZZ_CHECK(s.startsWith("https://") && s.endsWith(".radio-browser.info") &&
                   !s.mid(8).contains(u'/'));
    return 0;
}
