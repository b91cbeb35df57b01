#pragma once
// Hands a web address to the desktop's default handler (the browser).

#include <QString>

namespace tolvane {

// Opens an http or https address; anything else (empty included) is
// ignored. Returns whether the address was handed on.
bool OpenWebAddress(const QString& address);

} // namespace tolvane
