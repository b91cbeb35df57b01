// The arithmetic behind the player: the buffering percentage and when it
// ends the loop, the clock's carries and roll-over, the level meter's
// scaling, and the header walk that finds the station's name and bitrate.

#include "playback/PlayerControls.h"
#include "playback/StationHeaders.h"

#include <QtTest>

using namespace tolvane::playback;

namespace {
constexpr std::uint64_t Failed = ~std::uint64_t{0};

// A tag block as the engine hands it over: NUL-terminated lines, an empty
// one last.
QByteArray block(const QList<QByteArray>& lines) {
    QByteArray b;
    for (const QByteArray& line : lines)
        b += line + '\0';
    b += '\0';
    return b;
}
} // namespace

class PlayerControlsTest : public QObject {
    Q_OBJECT
private slots:
    void bufferingPercent_isFillOfBufferIn64Bits();
    void bufferingPercent_endsLoopWhenFillCannotBeComputed();
    void bufferingPercent_onlyAboveSixtyEndsBuffering();
    void clockTick_carriesSecondsMinutesAndHours();
    void clockTick_rollsOverAfterADay();
    void levelMeter_scalesToLoudestLevelSeen();
    void levelMeter_treatsEngineFailureAsSilence();
    void levelMeter_neverGivesGaugeAnEmptyRange();
    void tagLines_stopAtEmptyLineAndLimits();
    void headerWalk_reportsNameAndBitrateCaseSensitively();
    void bitrateTexts_forLabelAndDialog();
};

void PlayerControlsTest::bufferingPercent_isFillOfBufferIn64Bits() {
    QCOMPARE(bufferingPercent(1000, 450, 0), std::optional<std::int64_t>(45));
    QCOMPARE(bufferingPercent(1000, 1450, 1000), std::optional<std::int64_t>(45));
    // Truncated, not rounded.
    QCOMPARE(bufferingPercent(3, 2, 0), std::optional<std::int64_t>(66));
    // Positions past 32 bits (a stream that has played for days).
    const std::uint64_t big = std::uint64_t{1} << 40;
    QCOMPARE(bufferingPercent(200000, big + 100000, big), std::optional<std::int64_t>(50));
}

void PlayerControlsTest::bufferingPercent_endsLoopWhenFillCannotBeComputed() {
    QCOMPARE(bufferingPercent(Failed, 10, 0), std::nullopt);
    QCOMPARE(bufferingPercent(0, 10, 0), std::nullopt); // no division by zero
    QCOMPARE(bufferingPercent(1000, Failed, 0), std::nullopt);
    QCOMPARE(bufferingPercent(1000, 10, Failed), std::nullopt);
}

void PlayerControlsTest::bufferingPercent_onlyAboveSixtyEndsBuffering() {
    // The worker goes on while the percentage is BufferedPercent or less.
    for (std::uint64_t download : {0, 300, 600}) {
        const auto percent = bufferingPercent(1000, download, 0);
        QVERIFY(percent && *percent <= BufferedPercent);
    }
    const auto percent = bufferingPercent(1000, 610, 0);
    QVERIFY(percent && *percent > BufferedPercent);
    QCOMPARE(bufferingText(45), QStringLiteral("buffering... 45%"));
}

void PlayerControlsTest::clockTick_carriesSecondsMinutesAndHours() {
    QCOMPARE(clockTick({0, 0, 0}), (ClockCounters{0, 0, 1}));
    QCOMPARE(clockTick({0, 0, 59}), (ClockCounters{0, 1, 0}));
    QCOMPARE(clockTick({0, 59, 59}), (ClockCounters{1, 0, 0}));
    QCOMPARE(clockText(clockTick({0, 59, 59})), QStringLiteral("01:00:00"));
    QCOMPARE(clockText({12, 5, 9}), QStringLiteral("12:05:09"));
    QCOMPARE(clockText({}), QStringLiteral("00:00:00"));
}

void PlayerControlsTest::clockTick_rollsOverAfterADay() {
    QCOMPARE(clockTick({23, 59, 59}), (ClockCounters{0, 0, 0}));
    ClockCounters c;
    for (int i = 0; i < 24 * 3600 + 5; ++i)
        c = clockTick(c);
    QCOMPARE(clockText(c), QStringLiteral("00:00:05"));
}

void PlayerControlsTest::levelMeter_scalesToLoudestLevelSeen() {
    // Levels 8000 then 4000 on a fresh gauge (bound 100): first full, then half.
    MeterState s = levelMeterTick(8000, 0, 100);
    QCOMPARE(s.peak, 8000);
    QCOMPARE(s.value, s.maximum); // full bar
    s = levelMeterTick(4000, s.peak, s.maximum);
    QCOMPARE(s.maximum, 8000);
    QCOMPARE(s.value, 4000);
    // Only the left channel (low 16 bits) counts.
    s = levelMeterTick((32768u << 16) | 2000u, s.peak, s.maximum);
    QCOMPARE(s.value, 2000);
    QCOMPARE(s.peak, 8000);
}

void PlayerControlsTest::levelMeter_treatsEngineFailureAsSilence() {
    // No stream: the bar shows nothing and the peak is not raised, so the
    // next real stream is shown on its own scale.
    MeterState s = levelMeterTick(LevelFailure, 0, 100);
    QCOMPARE(s.value, 0);
    QCOMPARE(s.peak, 0);
    s = levelMeterTick(LevelFailure, s.peak, s.maximum);
    s = levelMeterTick(16000, s.peak, s.maximum);
    QCOMPARE(s.peak, 16000);
    s = levelMeterTick(16000, s.peak, s.maximum);
    QCOMPARE(s.value, s.maximum); // full, not half
}

void PlayerControlsTest::levelMeter_neverGivesGaugeAnEmptyRange() {
    const MeterState s = levelMeterTick(0, 0, 100);
    QVERIFY(s.maximum >= 1);
    QCOMPARE(s.value, 0);
}

void PlayerControlsTest::tagLines_stopAtEmptyLineAndLimits() {
    const QByteArray b = block({"ICY 200 OK", "icy-name:Jazz FM", "icy-br:128"}) + "after\0";
    QCOMPARE(tagLines(b.constData()),
             (QList<QByteArray>{"ICY 200 OK", "icy-name:Jazz FM", "icy-br:128"}));
    QVERIFY(tagLines(nullptr).isEmpty());
    QCOMPARE(tagLines(b.constData(), 2).size(), 2);
    // A line cut at the byte limit is the last one taken.
    const QByteArray longLine = block({QByteArray(100, 'x'), "icy-br:1"});
    const QList<QByteArray> cut = tagLines(longLine.constData(), 10, 50);
    QCOMPARE(cut.size(), 1);
    QCOMPARE(cut.first().size(), 50);
}

void PlayerControlsTest::headerWalk_reportsNameAndBitrateCaseSensitively() {
    const QList<HeaderReport> reports =
        headerWalk({"ICY 200 OK", "icy-name:Jazz FM", "icy-br:128", "Icy-Name:Other",
                    "icy-genre:Jazz", "icy-name: Second", "icy-br:", "content-type:audio/mpeg"});
    const QList<HeaderReport> expected = {
        {HeaderReport::StationName, QStringLiteral("Jazz FM")},
        {HeaderReport::Bitrate, QStringLiteral("128")},
        {HeaderReport::StationName, QStringLiteral(" Second")}, // leading blank kept
        {HeaderReport::Bitrate, QString()},
    };
    QCOMPARE(reports, expected);
    QVERIFY(headerWalk({}).isEmpty());
    QCOMPARE(headerWalk({"icy-name:Caf\xe9"}).first().text, QString::fromUtf8("Café"));
}

void PlayerControlsTest::bitrateTexts_forLabelAndDialog() {
    QCOMPARE(bitrateLabelText(QStringLiteral("128")), QStringLiteral("bitrate: 128"));
    QCOMPARE(bitrateLabelText(QString()), QStringLiteral("bitrate: "));
    QCOMPARE(dialogBitrateText(QStringLiteral("128")), QStringLiteral("128"));
    QCOMPARE(dialogBitrateText(QString()), QStringLiteral("n"));
}

QTEST_GUILESS_MAIN(PlayerControlsTest)
#include "test_player_controls.moc"
