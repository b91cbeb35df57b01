#pragma once
// Small text helpers for what servers send: header names, titles in unknown
// character sets.

#include <functional>
#include <string>
#include <string_view>

namespace tolvane::engine {

bool isValidUtf8(std::string_view text);
// Reads every byte as ISO-8859-1 and writes it as UTF-8.
std::string latin1ToUtf8(std::string_view text);
// UTF-8 stays as it is; anything else is taken as ISO-8859-1.
std::string toUtf8(std::string_view text);

// Turns a text a server sent in a character set of its own into UTF-8. Set
// per stream by whoever knows the station's character set; it runs on the
// stream's transport thread.
using TextDecoder = std::function<std::string(std::string_view raw)>;
// A text from a server (a title, a header line) in UTF-8: plain ASCII as it
// is, otherwise through `decoder`, or toUtf8's guess when there is none or
// it gives no valid UTF-8.
std::string decodeServerText(std::string_view raw, const TextDecoder& decoder);

std::string asciiLower(std::string_view text);
bool startsWithNoCase(std::string_view text, std::string_view prefix);
std::string_view trim(std::string_view text);

} // namespace tolvane::engine
