// The Ogg page writer must turn whatever a station sends into whole pages
// with good CRCs, the same however the network cuts the bytes, and never
// write more than the headers again per file on top of what came. The
// first byte picks the piece size (and, as a cut, where the second file
// begins); the rest is the stream.

#include "FuzzCheck.h"

#include "OggPages.h"

#include <algorithm>
#include <vector>

using namespace tolvane::engine::ogg;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Two files cut at `cut`, fed in pieces of `piece` bytes.
std::vector<Bytes> written(const std::uint8_t* data, std::size_t size, std::size_t piece,
                           std::size_t cut) {
    OggWriter writer;
    std::vector<Bytes> files(1);
    for (std::size_t at = 0; at < size;) {
        const std::size_t end = std::min({size, at + piece, at < cut ? cut : size});
        writer.feed(data + at, end - at, files.back());
        at = end;
        if (at == cut) {
            writer.endFile(files.back());
            files.emplace_back();
        }
    }
    writer.endFile(files.back());
    return files;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t piece = std::size_t{data[0]} + 1;
    ++data;
    --size;
    const std::size_t cut = std::min(size, piece * 7);
    const std::vector<Bytes> whole = written(data, size, size + 1, cut);
    FUZZ_CHECK(written(data, size, piece, cut) == whole);
    std::size_t total = 0;
    for (const Bytes& file : whole) {
        std::size_t pageBytes = 0;
        PageReader().feed(file.data(), file.size(), [&](Page&& p) { pageBytes += p.bytes.size(); });
        FUZZ_CHECK(pageBytes == file.size() && (total += file.size()) <= 2 * size);
    }
    granuleBefore(data, size);
    return 0;
}
