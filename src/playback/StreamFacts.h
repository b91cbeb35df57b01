#pragma once
// What a stream test found, in one line for the Add-station window: codec,
// bitrate, sample rate, channels, whether titles come in the stream, and
// the address that plays with whether its connection is encrypted.

#include "playback/engine/Engine.h"

#include <QString>

namespace tolvane::playback {

// The longest address shown; a longer one (a redirect's, chosen by the
// server) is cut in its middle.
inline constexpr qsizetype MaxFactsUrlLength = 120;

// For example "MP3 · 128 kbit/s · 44.1 kHz · stereo · titles in stream ·
// https://host/mount (encrypted)". Facts the engine does not know are left
// out. The bitrate is the station's header's, else the codec's own, else
// the measured one ("about 96 kbit/s (measured)").
QString streamFactsText(const engine::StreamInfo& info);

} // namespace tolvane::playback
