// A stream server's response head, line by line as the transport hands it
// over, and every question the player asks of a complete head. Properties:
// the limits hold, the answers stay in their documented ranges, and the tag
// block handed to listeners has exactly one NUL after each line.

#include "FuzzCheck.h"

#include "HttpHead.h"
#include "Text.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string_view>

using namespace tolvane::engine;

namespace {

void checkHead(const ResponseHead& head) {
    FUZZ_CHECK(!head.lines.empty());
    FUZZ_CHECK(head.lines.size() <= HeaderCollector::kMaxLines);
    std::size_t bytes = 0;
    for (const auto& line : head.lines)
        bytes += line.size();
    // Latin-1 lines grow to at most twice their size in UTF-8.
    FUZZ_CHECK(bytes <= 2 * (HeaderCollector::kMaxHeadBytes + HeaderCollector::kMaxLineLength));

    if (const auto metaint = head.metaint())
        FUZZ_CHECK(*metaint >= 16 && *metaint <= 1024 * 1024);
    const int kbps = head.bitrateKbps();
    FUZZ_CHECK(kbps == 0 || (kbps >= 8 && kbps <= 1536));
    const std::string type = head.contentType();
    FUZZ_CHECK(type.find(';') == std::string::npos);
    FUZZ_CHECK(std::none_of(type.begin(), type.end(), [](char c) { return c >= 'A' && c <= 'Z'; }));
    if (head.isRedirect())
        FUZZ_CHECK(head.header("Location").has_value());

    // Listeners walk the block line by line up to the empty one: a NUL inside
    // a line would cut it short or make a line the server never sent.
    const std::string block = head.tagBlock();
    FUZZ_CHECK(block.size() >= 2 && block.ends_with(std::string_view("\0\0", 2)));
    FUZZ_CHECK(static_cast<std::size_t>(std::count(block.begin(), block.end(), '\0')) ==
               head.lines.size() + 1);

    // Each header line's name finds a value; the first of a name wins.
    for (std::size_t i = 1; i < head.lines.size(); ++i) {
        const std::string_view line = head.lines[i];
        const auto colon = line.find(':');
        if (colon != std::string_view::npos)
            FUZZ_CHECK(head.header(trim(line.substr(0, colon))).has_value());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // The metaint rule on its own: plain digits (blanks around), 16 to 1 MiB.
    const std::string_view first = input.substr(0, input.find('\n'));
    if (const auto metaint = parseMetaint(first)) {
        FUZZ_CHECK(*metaint >= 16 && *metaint <= 1024 * 1024);
        FUZZ_CHECK(first.find_first_not_of(" \t\r0123456789") == std::string_view::npos);
    }

    HeaderCollector collector;
    std::size_t pos = 0;
    while (pos < input.size()) {
        const auto lf = input.find('\n', pos);
        const std::size_t end = lf == std::string_view::npos ? input.size() : lf + 1;
        const auto result = collector.addLine(input.substr(pos, end - pos));
        pos = end;
        if (result == HeaderCollector::Result::Complete)
            checkHead(collector.head());
        else if (result != HeaderCollector::Result::More)
            break;
    }
    return 0;
}
