#pragma once
// The arithmetic behind the player's controls: the buffering percentage,
// the elapsed-time clock and the level meter.

#include <QString>

#include <cstdint>
#include <optional>

namespace tolvane::playback {

// --- Buffering ---------------------------------------------------------------

// Buffering goes on while the buffer is filled to this percentage or less.
inline constexpr std::int64_t BufferedPercent = 60;

// The buffer's fill in percent from the stream's file positions:
// (download - current) x 100 / end, in 64-bit arithmetic, truncated. The
// engine answers all bits set for a position it cannot give; such an answer,
// or a buffer length of 0, means the fill cannot be computed and buffering
// ends (std::nullopt).
std::optional<std::int64_t> bufferingPercent(std::uint64_t end, std::uint64_t download,
                                             std::uint64_t current);

// "buffering... 45%"
QString bufferingText(std::int64_t percent);
// "reconnecting... (2)" for the second attempt.
QString reconnectingText(int attempt);

// The status after an opening failed with the engine's error code: "not
// playing", and why where the user can do something about it (a station
// whose https certificate is not trusted).
QString notPlayingText(int engineError);

// --- Elapsed-time clock ---------------------------------------------------------

struct ClockCounters {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    bool operator==(const ClockCounters&) const = default;
};

// One tick: a second more, carried into minutes and hours; after 23:59:59
// the clock starts again at 00:00:00.
ClockCounters clockTick(ClockCounters clock);
// "HH:MM:SS", each part with a leading "0" when it has one digit.
QString clockText(ClockCounters clock);

// --- Level meter ---------------------------------------------------------------

// What the engine answers when it cannot measure a level (no stream, a
// stopped or freed one).
inline constexpr std::uint32_t LevelFailure = 0xFFFFFFFFu;

struct MeterState {
    int peak = 0;    // the highest level seen since start
    int maximum = 0; // the gauge's upper bound
    int value = 0;   // the gauge's value
    bool operator==(const MeterState&) const = default;
};

// One meter tick for an engine level (left channel in the low 16 bits).
// A level above the peak raises the peak (the bound stays, so the bar shows
// full); otherwise the bound follows the peak. The value is the level
// clamped to 0..bound. The bound never drops below 1, so a gauge that saw
// only silence shows an empty bar rather than a busy one. The engine's
// failure answer counts as silence: the bar shows 0 and the peak stays.
MeterState levelMeterTick(std::uint32_t level, int peak, int maximum);

} // namespace tolvane::playback
