// The master volume against a real PulseAudio server of the test's own: what
// the window writes is what the sink holds, read back through pactl; a
// missing, stuck or restarted server never freezes or crashes it.

#include "PulseServer.h"
#include "TestSupport.h"
#include "playback/mixer/MasterVolume.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <cmath>
#include <csignal>

using namespace tolvane::test;
using tolvane::playback::ChannelValues;
using tolvane::playback::channelValues;
using tolvane::playback::MasterVolume;

namespace {

using Volumes = std::optional<QList<quint32>>;
Volumes pair(quint32 left, quint32 right) {
    return QList<quint32>{left, right};
}

// Points libpulse at a socket that does not exist, for the life of the object.
class NoServer {
public:
    explicit NoServer(const TestFolder& folder)
        : previous_(qgetenv("PULSE_SERVER")),
          hadPrevious_(qEnvironmentVariableIsSet("PULSE_SERVER")) {
        qputenv("PULSE_SERVER", ("unix:" + folder.file("no-server/native")).toLocal8Bit());
    }
    ~NoServer() {
        if (hadPrevious_)
            qputenv("PULSE_SERVER", previous_);
        else
            qunsetenv("PULSE_SERVER");
    }

private:
    QByteArray previous_;
    bool hadPrevious_;
};

// 400 ms of a 440 Hz sine at the given peak on both channels, as
// interleaved stereo s16le.
QByteArray tone(int peak) {
    const int frames = 44100 * 400 / 1000;
    QByteArray pcm(frames * 4, Qt::Uninitialized);
    auto* out = reinterpret_cast<uchar*>(pcm.data());
    for (int f = 0; f < frames; ++f) {
        const auto s = qint16(std::lround(std::sin(2 * M_PI * 440 * f / 44100.0) * peak));
        out[4 * f] = out[4 * f + 2] = uchar(s & 0xff);
        out[4 * f + 1] = out[4 * f + 3] = uchar((s >> 8) & 0xff);
    }
    return pcm;
}

// Plays the file to the default sink while recording its monitor; returns
// the peak per channel of what the sink played.
std::optional<QList<int>> playedPeaks(const PulseServer& pulse, const QString& file) {
    auto recording = pulse.startRecording();
    QProcess player;
    player.setProcessEnvironment(pulse.clientEnvironment());
    player.start("pacat", {"--playback", "--raw", "--format=s16le", "--rate=44100", "--channels=2",
                           "--latency-msec=200", file});
    if (!player.waitForFinished(10000))
        return std::nullopt;
    QThread::msleep(300);
    return measurePcm(recording->stop()).peak;
}

} // namespace

class MasterVolumeTest : public QObject {
    Q_OBJECT
private slots:
    void channelValues_followVolumeAndBalance_data();
    void channelValues_followVolumeAndBalance();

    void open_findsDefaultSinkUnmutesItAndReadsVolumeAndBalance();
    void setVolume_writesBothChannelsOfTheSink();
    void setBalance_lowersTheOtherChannel();
    void outOfRangeValues_areIgnoredAndWriteNothing();
    void setMute_switchesTheSinkMuteAndKeepsItsVolume();
    void sinksOfOtherLayouts_getLeftAndRightByPosition();
    void writes_changeWhatTheDefaultSinkPlays();

    void noServer_openFailsQuicklyAndWritesDoNothing();
    void stuckServer_writeGivesUpWithinItsTimeout();
    void restartedServer_isFoundAgainAtALaterWrite();
};

void MasterVolumeTest::channelValues_followVolumeAndBalance_data() {
    QTest::addColumn<int>("volume");
    QTest::addColumn<int>("balance");
    QTest::addColumn<uint>("left");
    QTest::addColumn<uint>("right");
    QTest::newRow("full") << 100 << 0 << 65535u << 65535u;
    QTest::newRow("half truncates") << 50 << 0 << 32767u << 32767u;
    QTest::newRow("silent") << 0 << 0 << 0u << 0u;
    QTest::newRow("one percent") << 1 << 0 << 655u << 655u;
    QTest::newRow("all left") << 100 << -100 << 65535u << 0u;
    QTest::newRow("all right") << 100 << 100 << 0u << 65535u;
    QTest::newRow("half left") << 100 << -50 << 65535u << 32767u;
    QTest::newRow("half right at half volume") << 50 << 50 << 16383u << 32767u;
    // 37 x 65535 / 100 = 24247.95 -> 24247; x 87 / 100 = 21094.89 -> 21094
    QTest::newRow("both divisions truncate") << 37 << -13 << 24247u << 21094u;
    QTest::newRow("slightly right") << 99 << 1 << 64230u << 64879u;
}

void MasterVolumeTest::channelValues_followVolumeAndBalance() {
    QFETCH(int, volume);
    QFETCH(int, balance);
    QFETCH(uint, left);
    QFETCH(uint, right);
    const ChannelValues values = channelValues(volume, balance);
    QCOMPARE(values.left, left);
    QCOMPARE(values.right, right);
}

void MasterVolumeTest::open_findsDefaultSinkUnmutesItAndReadsVolumeAndBalance() {
    TestFolder folder;
    PulseServer pulse;
    QVERIFY2(pulse.isRunning(), qPrintable(pulse.errorString()));
    QVERIFY(pulse.pactl({"set-sink-mute", "null", "1"}));
    QVERIFY(pulse.pactl({"set-sink-volume", "null", "32767", "65535"}));

    MasterVolume mixer;
    QVERIFY(!mixer.isOpen());
    QVERIFY(mixer.open());
    QVERIFY(mixer.isOpen());
    QCOMPARE(mixer.sinkName(), std::string("null"));
    QCOMPARE(pulse.sinkMuted(), std::optional<bool>(false));
    // Opening reads, it does not write the volume.
    QCOMPARE(pulse.sinkVolumes(), pair(32767, 65535));
    QCOMPARE(mixer.volume(), 100);
    QCOMPARE(mixer.balance(), 50);
}

void MasterVolumeTest::setVolume_writesBothChannelsOfTheSink() {
    TestFolder folder;
    PulseServer pulse;
    QVERIFY2(pulse.isRunning(), qPrintable(pulse.errorString()));
    MasterVolume mixer;
    QVERIFY(mixer.open());
    mixer.setBalance(0);

    mixer.setVolume(100);
    QCOMPARE(pulse.sinkVolumes(), pair(65535, 65535));
    mixer.setVolume(50);
    QCOMPARE(pulse.sinkVolumes(), pair(32767, 32767));
    QCOMPARE(mixer.volume(), 50);
    mixer.setVolume(0);
    QCOMPARE(pulse.sinkVolumes(), pair(0, 0));
    mixer.setVolume(73);
    QCOMPARE(pulse.sinkVolumes(), pair(47840, 47840));
}

void MasterVolumeTest::setBalance_lowersTheOtherChannel() {
    TestFolder folder;
    PulseServer pulse;
    QVERIFY2(pulse.isRunning(), qPrintable(pulse.errorString()));
    MasterVolume mixer;
    QVERIFY(mixer.open());
    mixer.setVolume(100);

    mixer.setBalance(-50);
    QCOMPARE(pulse.sinkVolumes(), pair(65535, 32767));
    mixer.setBalance(100);
    QCOMPARE(pulse.sinkVolumes(), pair(0, 65535));
    // The stored balance holds for later volume changes.
    mixer.setVolume(50);
    QCOMPARE(pulse.sinkVolumes(), pair(0, 32767));
    mixer.setBalance(-13);
    mixer.setVolume(37);
    QCOMPARE(pulse.sinkVolumes(), pair(24247, 21094));
    QCOMPARE(mixer.balance(), -13);
}

void MasterVolumeTest::outOfRangeValues_areIgnoredAndWriteNothing() {
    TestFolder folder;
    PulseServer pulse;
    QVERIFY2(pulse.isRunning(), qPrintable(pulse.errorString()));
    MasterVolume mixer;
    QVERIFY(mixer.open());
    mixer.setBalance(0);
    mixer.setVolume(40);
    QCOMPARE(pulse.sinkVolumes(), pair(26214, 26214));
    // Someone else moves the volume; ignored calls must not write over it.
    QVERIFY(pulse.pactl({"set-sink-volume", "null", "1234", "4321"}));

    mixer.setVolume(101);
    mixer.setVolume(-1);
    mixer.setBalance(101);
    mixer.setBalance(-101);
    QCOMPARE(pulse.sinkVolumes(), pair(1234, 4321));
    QCOMPARE(mixer.volume(), 40);
    QCOMPARE(mixer.balance(), 0);
    // The bounds themselves are taken.
    mixer.setBalance(-100);
    QCOMPARE(pulse.sinkVolumes(), pair(26214, 0));
}

void MasterVolumeTest::setMute_switchesTheSinkMuteAndKeepsItsVolume() {
    TestFolder folder;
    PulseServer pulse;
    QVERIFY2(pulse.isRunning(), qPrintable(pulse.errorString()));
    MasterVolume mixer;
    QVERIFY(mixer.open());
    mixer.setBalance(0);
    mixer.setVolume(50);

    mixer.setMute(true);
    QCOMPARE(pulse.sinkMuted(), std::optional<bool>(true));
    QCOMPARE(pulse.sinkVolumes(), pair(32767, 32767));
    mixer.setMute(true);
    QCOMPARE(pulse.sinkMuted(), std::optional<bool>(true));
    mixer.setMute(false);
    QCOMPARE(pulse.sinkMuted(), std::optional<bool>(false));
    QCOMPARE(pulse.sinkVolumes(), pair(32767, 32767));
}

void MasterVolumeTest::sinksOfOtherLayouts_getLeftAndRightByPosition() {
    TestFolder folder;
    PulseServer pulse;
    QVERIFY2(pulse.isRunning(), qPrintable(pulse.errorString()));
    QVERIFY(pulse.pactl(
        {"load-module", "module-null-sink", "sink_name=mono", "channels=1", "channel_map=mono"}));
    QVERIFY(pulse.pactl({"load-module", "module-null-sink", "sink_name=surround", "channels=5",
                         "channel_map=front-left,front-right,rear-left,rear-right,front-center"}));

    // A mono sink follows the louder side.
    QVERIFY(pulse.pactl({"set-default-sink", "mono"}));
    {
        MasterVolume mixer;
        QVERIFY(mixer.open());
        QCOMPARE(mixer.sinkName(), std::string("mono"));
        mixer.setVolume(50);
        mixer.setBalance(-100);
        QCOMPARE(pulse.sinkVolumes("mono"), Volumes(QList<quint32>{32767}));
    }
    // Each surround speaker follows its side; the centre the louder one.
    QVERIFY(pulse.pactl({"set-default-sink", "surround"}));
    {
        MasterVolume mixer;
        QVERIFY(mixer.open());
        mixer.setVolume(100);
        mixer.setBalance(-50);
        QCOMPARE(pulse.sinkVolumes("surround"),
                 Volumes(QList<quint32>{65535, 32767, 65535, 32767, 65535}));
    }
    // The other sinks were left alone.
    QCOMPARE(pulse.sinkVolumes("null"), pair(65536, 65536));
}

void MasterVolumeTest::writes_changeWhatTheDefaultSinkPlays() {
    TestFolder folder;
    PulseServer pulse;
    QVERIFY2(pulse.isRunning(), qPrintable(pulse.errorString()));
    folder.write("tone.raw", tone(16000));
    MasterVolume mixer;
    QVERIFY(mixer.open());
    mixer.setBalance(0);
    mixer.setVolume(100);

    mixer.setMute(true);
    const auto muted = playedPeaks(pulse, folder.file("tone.raw"));
    QVERIFY(muted.has_value());
    QCOMPARE(*muted, (QList<int>{0, 0}));

    // PulseAudio's scale is cubic: 50 % plays at an eighth of the amplitude,
    // and a balance of -100 silences the right channel.
    mixer.setMute(false);
    mixer.setVolume(50);
    mixer.setBalance(-100);
    const auto half = playedPeaks(pulse, folder.file("tone.raw"));
    QVERIFY(half.has_value());
    QVERIFY2(qAbs(half->at(0) - 2000) < 100, qPrintable(QString::number(half->at(0))));
    QCOMPARE(half->at(1), 0);
}

void MasterVolumeTest::noServer_openFailsQuicklyAndWritesDoNothing() {
    TestFolder folder;
    NoServer none(folder);
    MasterVolume mixer;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!mixer.open());
    QVERIFY(!mixer.isOpen());
    QCOMPARE(mixer.sinkName(), std::string());
    for (int i = 0; i <= 100; ++i)
        mixer.setVolume(i);
    mixer.setBalance(-30);
    mixer.setMute(true);
    mixer.setMute(false);
    // No freeze: a hundred writes without a server take well under the
    // time a single exchange is allowed.
    QVERIFY2(clock.elapsed() < MasterVolume::kTimeoutMs,
             qPrintable(QString::number(clock.elapsed())));
    // The values are still kept for when a server appears.
    QCOMPARE(mixer.volume(), 100);
    QCOMPARE(mixer.balance(), -30);
}

void MasterVolumeTest::stuckServer_writeGivesUpWithinItsTimeout() {
    TestFolder folder;
    PulseServer pulse;
    QVERIFY2(pulse.isRunning(), qPrintable(pulse.errorString()));
    MasterVolume mixer;
    QVERIFY(mixer.open());
    mixer.setVolume(100);

    // A server that stops answering: the write waits its time-out, then
    // the next writes do not wait again.
    QVERIFY(::kill(pid_t(pulse.pid()), SIGSTOP) == 0);
    QElapsedTimer clock;
    clock.start();
    mixer.setVolume(20);
    const qint64 first = clock.restart();
    mixer.setVolume(30);
    mixer.setMute(true);
    const qint64 next = clock.elapsed();
    ::kill(pid_t(pulse.pid()), SIGCONT);
    QVERIFY2(first >= MasterVolume::kTimeoutMs - 50 && first < 3 * MasterVolume::kTimeoutMs,
             qPrintable(QString::number(first)));
    QVERIFY2(next < MasterVolume::kTimeoutMs / 2, qPrintable(QString::number(next)));

    // Once the server answers again, a write after the retry interval
    // reaches it.
    QThread::msleep(MasterVolume::kRetryMs + 100);
    mixer.setVolume(50);
    QCOMPARE(pulse.sinkVolumes(), pair(32767, 32767));
}

void MasterVolumeTest::restartedServer_isFoundAgainAtALaterWrite() {
    TestFolder folder;
    auto pulse = std::make_unique<PulseServer>();
    QVERIFY2(pulse->isRunning(), qPrintable(pulse->errorString()));
    MasterVolume mixer;
    QVERIFY(mixer.open());
    mixer.setVolume(100);

    pulse.reset();
    QElapsedTimer clock;
    clock.start();
    mixer.setVolume(80);
    mixer.setMute(true);
    QVERIFY2(clock.elapsed() < MasterVolume::kTimeoutMs,
             qPrintable(QString::number(clock.elapsed())));

    pulse = std::make_unique<PulseServer>();
    QVERIFY2(pulse->isRunning(), qPrintable(pulse->errorString()));
    QThread::msleep(MasterVolume::kRetryMs + 100);
    mixer.setVolume(50);
    QCOMPARE(pulse->sinkVolumes(), pair(32767, 32767));
    QCOMPARE(mixer.sinkName(), std::string("null"));
}

QTEST_GUILESS_MAIN(MasterVolumeTest)
#include "test_master_volume.moc"
