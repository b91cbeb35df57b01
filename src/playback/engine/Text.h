#pragma once
// Small text helpers for what servers send: header names, titles in unknown
// character sets.

#include <string>
#include <string_view>

namespace tolvane::engine {

bool isValidUtf8(std::string_view text);
// Reads every byte as ISO-8859-1 and writes it as UTF-8.
std::string latin1ToUtf8(std::string_view text);
// UTF-8 stays as it is; anything else is taken as ISO-8859-1.
std::string toUtf8(std::string_view text);

std::string asciiLower(std::string_view text);
bool startsWithNoCase(std::string_view text, std::string_view prefix);
std::string_view trim(std::string_view text);

} // namespace tolvane::engine
