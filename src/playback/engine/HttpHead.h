#pragma once
// The response head of a stream server, collected line by line with limits
// on everything the server controls. Pure: no network here.

#include "Text.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvane::engine {

struct ResponseHead {
    std::string statusLine;
    int status = 0;
    bool icy = false;               // "ICY 200 OK" rather than "HTTP/1.x 200"
    std::vector<std::string> lines; // header lines without line ends, status line first

    // The first header of that name (case-insensitive), value trimmed.
    std::optional<std::string> header(std::string_view name) const;
    // Media type in lower case without parameters ("audio/mpeg").
    std::string contentType() const;
    // icy-metaint when it is sane, else nullopt (no metadata is expected).
    std::optional<std::size_t> metaint() const;
    // icy-br in kbit/s (the first number of a list), 0 when absent or absurd.
    int bitrateKbps() const;
    bool isRedirect() const;
    // NUL-terminated lines ending with an empty one (the tag block).
    std::string tagBlock() const;
};

// Sane icy-metaint: plain digits, 16 to 1 MiB.
std::optional<std::size_t> parseMetaint(std::string_view value);

class HeaderCollector {
public:
    static constexpr std::size_t kMaxLineLength = std::size_t{8} * 1024;
    static constexpr std::size_t kMaxHeadBytes = std::size_t{64} * 1024;
    static constexpr std::size_t kMaxLines = 200;

    enum class Result {
        More,     // keep feeding lines
        Complete, // the empty line ended a head
        TooLarge, // a limit was passed; give up on this server
        Invalid,  // the first line is not a status line
    };

    // Header texts in a character set other than ASCII go through `decode`
    // (see decodeServerText).
    explicit HeaderCollector(TextDecoder decode = {}) : decode_(std::move(decode)) {}

    // One line as the transport delivers it (line end included or not).
    // A status line after a complete head starts a new one (after a
    // redirect or an interim reply); inside a head it is an ordinary line.
    Result addLine(std::string_view line);
    const ResponseHead& head() const { return head_; }

private:
    ResponseHead head_;
    std::size_t bytes_ = 0;
    bool inHead_ = false;
    TextDecoder decode_;
};

} // namespace tolvane::engine
