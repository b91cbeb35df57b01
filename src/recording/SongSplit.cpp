#include "SongSplit.h"

#include "common/Convert.h"

#include <algorithm>
#include <climits>

namespace tolvane::recording {

bool splitArms(bool isRecording, const QString& separate) {
    return isRecording && separate == QLatin1String("true");
}

int splitDelayMs(const QString& seconds) {
    const qint64 ms = static_cast<qint64>(StrToInt(seconds)) * 1000;
    return static_cast<int>(std::clamp<qint64>(ms, 0, INT_MAX));
}

} // namespace tolvane::recording
