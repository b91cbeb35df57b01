// The ICY splitter must give the same audio bytes and the same titles
// however the network cuts the body. The first byte picks the metadata
// interval (0: no metadata); the rest is the body. It is fed whole, then cut
// in two at every offset, then in a few pseudo-random patterns of small
// pieces (empty ones included), and every result must equal the whole one.
// Titles must also be clean: no control characters, valid UTF-8.

#include "FuzzCheck.h"

#include "IcyDemuxer.h"
#include "Text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace tolvane::engine;

namespace {

// Cutting at every offset costs the square of the length.
constexpr std::size_t MaxBody = 1024;

struct Collected final : IcyDemuxer::Sink {
    std::string audioBytes;
    std::vector<std::string> titles;
    void audio(const std::uint8_t* data, std::size_t size) override {
        FUZZ_CHECK(size > 0);
        audioBytes.append(reinterpret_cast<const char*>(data), size);
    }
    void metadata(const std::string& text) override { titles.push_back(text); }
};

// Checks what a cut feeding gives against the whole feeding as it comes,
// without collecting it.
struct Compared final : IcyDemuxer::Sink {
    explicit Compared(const Collected& whole) : expected(whole) {}
    const Collected& expected;
    std::size_t audioAt = 0;
    std::size_t titleAt = 0;
    void audio(const std::uint8_t* data, std::size_t size) override {
        FUZZ_CHECK(size > 0 && audioAt + size <= expected.audioBytes.size());
        FUZZ_CHECK(std::memcmp(expected.audioBytes.data() + audioAt, data, size) == 0);
        audioAt += size;
    }
    void metadata(const std::string& text) override {
        FUZZ_CHECK(titleAt < expected.titles.size() && expected.titles[titleAt] == text);
        ++titleAt;
    }
};

// Feeds the body in pieces ending at the given offsets (ascending) and
// checks the result equals the whole feeding.
void checkCut(std::size_t metaint, const std::uint8_t* body, std::size_t size,
              const std::vector<std::size_t>& cuts, const Collected& whole) {
    IcyDemuxer demuxer(metaint);
    Compared out(whole);
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        demuxer.feed(body + from, cut - from, out);
        from = cut;
    }
    demuxer.feed(body + from, size - from, out);
    FUZZ_CHECK(out.audioAt == whole.audioBytes.size() && out.titleAt == whole.titles.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t metaint = data[0];
    const std::uint8_t* body = data + 1;
    const std::size_t n = std::min(size - 1, MaxBody);

    Collected whole;
    IcyDemuxer(metaint).feed(body, n, whole);
    FUZZ_CHECK(whole.audioBytes.size() <= n);
    if (metaint == 0)
        FUZZ_CHECK(whole.audioBytes == std::string(reinterpret_cast<const char*>(body), n));
    std::size_t metaBytes = 0;
    for (const std::string& title : whole.titles) {
        FUZZ_CHECK(!title.empty());
        FUZZ_CHECK(isValidUtf8(title));
        FUZZ_CHECK(std::none_of(title.begin(), title.end(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return (u < 0x20 && c != '\t') || u == 0x7F;
        }));
        metaBytes += title.size();
    }
    // A title is at most a block (16 x 255 bytes), twice that in UTF-8.
    FUZZ_CHECK(metaBytes <= 2 * n);

    std::vector<std::size_t> cuts(1);
    for (cuts[0] = 0; cuts[0] <= n; ++cuts[0])
        checkCut(metaint, body, n, cuts, whole);

    // Small pieces, cut where a simple generator seeded by the input says.
    std::uint32_t state = 2166136261u;
    for (std::size_t i = 0; i < n; ++i)
        state = (state ^ body[i]) * 16777619u;
    // Piece sizes below these bounds: 0 or 1 byte, up to 4, 8, 32.
    for (const std::uint32_t bound : {2u, 5u, 9u, 33u}) {
        cuts.clear();
        std::size_t at = 0;
        while (at < n) {
            state = state * 1664525u + 1013904223u;
            at = std::min(n, at + (state >> 24) % bound);
            cuts.push_back(at);
        }
        checkCut(metaint, body, n, cuts, whole);
    }
    return 0;
}
