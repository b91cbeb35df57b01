#include "PlayerControls.h"

#include "playback/engine/Engine.h"

#include <algorithm>

namespace tolvane::playback {

namespace {
constexpr std::uint64_t Failed = ~std::uint64_t{0};
}

std::optional<std::int64_t> bufferingPercent(std::uint64_t end, std::uint64_t download,
                                             std::uint64_t current) {
    if (end == Failed || download == Failed || current == Failed || end == 0)
        return std::nullopt;
    // Positions are far below 2^56 for any stream, so the products fit.
    const auto buffered = static_cast<std::int64_t>(download) - static_cast<std::int64_t>(current);
    return buffered * 100 / static_cast<std::int64_t>(end);
}

QString bufferingText(std::int64_t percent) {
    return QStringLiteral("buffering... %1%").arg(percent);
}

QString reconnectingText(int attempt) {
    return QStringLiteral("reconnecting... (%1)").arg(attempt);
}

QString notPlayingText(int engineError) {
    if (engineError == engine::ERROR_SSL)
        return QStringLiteral("not playing: the station's certificate is not trusted");
    return QStringLiteral("not playing");
}

ClockCounters clockTick(ClockCounters c) {
    c.seconds += 1;
    if (c.seconds >= 60) {
        c.seconds = 0;
        c.minutes += 1;
    }
    if (c.minutes >= 60) {
        c.seconds = 0;
        c.minutes = 0;
        c.hours += 1;
    }
    if (c.hours >= 24)
        c = ClockCounters{};
    return c;
}

QString clockText(ClockCounters c) {
    auto two = [](int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    return two(c.hours) + u':' + two(c.minutes) + u':' + two(c.seconds);
}

MeterState levelMeterTick(std::uint32_t level, int peak, int maximum) {
    MeterState s{peak, std::max(maximum, 1), 0};
    if (level == LevelFailure)
        return s;
    const int left = static_cast<int>(level & 0xFFFFu);
    if (s.peak < left)
        s.peak = left;
    else
        s.maximum = std::max(s.peak, 1);
    s.value = std::clamp(left, 0, s.maximum);
    return s;
}

} // namespace tolvane::playback
