#pragma once
// The automatic split of a recording at song changes: a song change arms a
// stop delay; when it ends the recording is filed, and a restart delay later
// a new one begins. The timers live in the main window; these are the
// decisions it takes at a song change.

#include <QString>

namespace tolvane::recording {

// Whether a song change arms the split: only while recording and with the
// option exactly "true".
bool splitArms(bool isRecording, const QString& separate);

// A split delay from the settings file: whole seconds, converted strictly
// (a value that is no whole number throws ConvertError), as milliseconds for
// a timer. Values beyond the longest timer interval are held there; a
// negative one gives 0, which never ticks.
int splitDelayMs(const QString& seconds);

} // namespace tolvane::recording
