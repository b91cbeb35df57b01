#pragma once

#include <QString>

namespace tolvane {

// Strict whole-number conversion: an optional sign and decimal digits that
// fit in 32 bits, nothing else. Throws ConvertError otherwise.
int StrToInt(const QString& text);

} // namespace tolvane
