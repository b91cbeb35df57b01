#include "HttpHead.h"

#include "Text.h"

#include <algorithm>
#include <charconv>

namespace tolvane::engine {

std::optional<std::string> ResponseHead::header(std::string_view name) const {
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        const auto colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        if (asciiLower(trim(line.substr(0, colon))) == asciiLower(name))
            return std::string(trim(line.substr(colon + 1)));
    }
    return std::nullopt;
}

std::string ResponseHead::contentType() const {
    auto value = header("content-type");
    if (!value)
        return {};
    std::string_view v = *value;
    v = v.substr(0, v.find(';'));
    return asciiLower(trim(v));
}

std::optional<std::size_t> parseMetaint(std::string_view value) {
    value = trim(value);
    if (value.empty() || value.size() > 9)
        return std::nullopt;
    std::size_t n = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (ec != std::errc() || end != value.data() + value.size())
        return std::nullopt;
    if (n < 16 || n > std::size_t{1024} * 1024)
        return std::nullopt;
    return n;
}

std::optional<std::size_t> ResponseHead::metaint() const {
    auto value = header("icy-metaint");
    if (!value)
        return std::nullopt;
    return parseMetaint(*value);
}

int ResponseHead::bitrateKbps() const {
    auto value = header("icy-br");
    if (!value)
        return 0;
    const std::string& text = *value;
    int n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    (void)end;
    if (ec != std::errc() || n < 8 || n > 1536)
        return 0;
    return n;
}

bool ResponseHead::isRedirect() const {
    return status >= 300 && status < 400 && header("location").has_value();
}

std::string ResponseHead::tagBlock() const {
    std::string block;
    for (const auto& line : lines) {
        block += line;
        block += '\0';
    }
    block += '\0';
    return block;
}

HeaderCollector::Result HeaderCollector::addLine(std::string_view raw) {
    while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r'))
        raw.remove_suffix(1);
    if (raw.size() > kMaxLineLength)
        return Result::TooLarge;
    // A NUL, CR or LF inside a line becomes a blank, as HTTP asks of a
    // recipient: the tag block separates lines with NULs, so a NUL kept here
    // would cut a line short or pass on a line the server never sent.
    std::string cleaned;
    if (raw.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos) {
        cleaned.assign(raw);
        std::replace_if(
            cleaned.begin(), cleaned.end(),
            [](char c) { return c == '\0' || c == '\r' || c == '\n'; }, ' ');
        raw = cleaned;
    }
    const std::string_view line = raw;
    // A status line starts a head only between heads; inside one it is an
    // ordinary line and counts against the same limits.
    const bool statusLine = line.starts_with("HTTP/") || line.starts_with("ICY ");
    if (statusLine && !inHead_) {
        head_ = ResponseHead{};
        bytes_ = 0;
        inHead_ = true;
        head_.statusLine = std::string(line);
        head_.icy = line.starts_with("ICY");
        // "HTTP/1.1 200 OK" or "ICY 200 OK": the code follows the first blank.
        const auto blank = line.find(' ');
        if (blank != std::string_view::npos) {
            std::string_view rest = trim(line.substr(blank + 1));
            std::from_chars(rest.data(), rest.data() + rest.size(), head_.status);
        }
        head_.lines.emplace_back(line);
        bytes_ += line.size();
        return Result::More;
    }
    if (!inHead_)
        return Result::Invalid;
    if (line.empty()) {
        inHead_ = false;
        return Result::Complete;
    }
    bytes_ += line.size();
    if (bytes_ > kMaxHeadBytes || head_.lines.size() >= kMaxLines)
        return Result::TooLarge;
    // Station names come in any character set; keep the tags in UTF-8.
    head_.lines.push_back(decodeServerText(line, decode_));
    return Result::More;
}

} // namespace tolvane::engine
