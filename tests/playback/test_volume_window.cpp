// The volume bar and mute of the main window against a real PulseAudio
// server with a null sink: what the sink holds, read back through pactl.

#include "../app/AppFixture.h"
#include "PulseServer.h"

#include "playback/mixer/MasterVolume.h"

#include <QElapsedTimer>
#include <QSlider>
#include <QToolButton>
#include <QtTest>

#include <csignal>

using namespace tolvane;
using namespace tolvane::test;

namespace {
using Volumes = std::optional<QList<quint32>>;
Volumes both(quint32 v) {
    return QList<quint32>{v, v};
}
} // namespace

class VolumeWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void start_unmutesAndSetsFullVolume();
    void volumeBar_writesBothChannels_data();
    void volumeBar_writesBothChannels();
    void mute_remembersBarAndRestoresIt();
    void mute_atZeroBeforeAnyMute_staysAtZero();
    void volumeBar_againstAStalledServer_neverHoldsTheWindow();

private:
    std::unique_ptr<PulseServer> pulse;
    std::unique_ptr<AppFixture> f;
};

void VolumeWindowTest::initTestCase() {
    pulse = std::make_unique<PulseServer>();
    QVERIFY2(pulse->isRunning(), qPrintable(pulse->errorString()));
}

void VolumeWindowTest::init() {
    // The sink starts muted and low: the player's start must change both.
    QVERIFY(pulse->pactl({"set-sink-mute", "null", "1"}));
    QVERIFY(pulse->pactl({"set-sink-volume", "null", "20000", "9000"}));
    f = std::make_unique<AppFixture>();
    f->installProgramFolder();
    QVERIFY(f->start());
}

void VolumeWindowTest::cleanup() {
    if (f && f->app)
        f->quit();
    f.reset();
}

void VolumeWindowTest::cleanupTestCase() {
    pulse.reset();
}

void VolumeWindowTest::start_unmutesAndSetsFullVolume() {
    QTRY_COMPARE(pulse->sinkMuted(), std::optional<bool>(false));
    QTRY_COMPARE(pulse->sinkVolumes(), both(65535));
    QCOMPARE(f->form().TrackBar1->value(), 100);
}

void VolumeWindowTest::volumeBar_writesBothChannels_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<quint32>("channel");
    QTest::newRow("50") << 50 << quint32(32767);
    QTest::newRow("1") << 1 << quint32(655);
    QTest::newRow("0") << 0 << quint32(0);
    QTest::newRow("99") << 99 << quint32(64879);
}

void VolumeWindowTest::volumeBar_writesBothChannels() {
    QFETCH(int, position);
    QFETCH(quint32, channel);
    f->form().TrackBar1->setValue(position);
    QTRY_COMPARE(pulse->sinkVolumes(), both(channel));
    f->form().TrackBar1->setValue(100);
    QTRY_COMPARE(pulse->sinkVolumes(), both(65535));
}

void VolumeWindowTest::mute_remembersBarAndRestoresIt() {
    TForm1& form = f->form();
    form.TrackBar1->setValue(40);
    QTRY_COMPARE(pulse->sinkVolumes(), both(26214));
    form.mute->click();
    QCOMPARE(form.TrackBar1->value(), 0);
    QCOMPARE(form.MutedVolume, 40);
    QTRY_COMPARE(pulse->sinkVolumes(), both(0));
    // The button moves the volume, not the sink's mute switch.
    QTRY_COMPARE(pulse->sinkMuted(), std::optional<bool>(false));
    form.mute->click();
    QCOMPARE(form.TrackBar1->value(), 40);
    QTRY_COMPARE(pulse->sinkVolumes(), both(26214));
}

void VolumeWindowTest::mute_atZeroBeforeAnyMute_staysAtZero() {
    TForm1& form = f->form();
    form.TrackBar1->setValue(0);
    form.mute->click();
    QCOMPARE(form.TrackBar1->value(), 0);
    QTRY_COMPARE(pulse->sinkVolumes(), both(0));
}

void VolumeWindowTest::volumeBar_againstAStalledServer_neverHoldsTheWindow() {
    TForm1& form = f->form();
    QTRY_COMPARE(pulse->sinkVolumes(), both(65535));
    // A sound server that stops answering: each request to it waits its
    // whole time-out, on the mixer's thread, not the window's.
    QVERIFY(::kill(pid_t(pulse->pid()), SIGSTOP) == 0);
    auto resume = qScopeGuard([&] { ::kill(pid_t(pulse->pid()), SIGCONT); });
    qint64 longest = 0;
    for (int position = 95; position >= 0; position -= 5) {
        QElapsedTimer step;
        step.start();
        form.TrackBar1->setValue(position);
        QCoreApplication::processEvents();
        longest = std::max(longest, step.elapsed());
    }
    QVERIFY2(longest < 100, qPrintable(QString::number(longest)));
    resume.dismiss();
    ::kill(pid_t(pulse->pid()), SIGCONT);

    // Once the server answers again, a later move reaches it.
    QTest::qWait(playback::MasterVolume::kTimeoutMs + playback::MasterVolume::kRetryMs + 200);
    form.TrackBar1->setValue(50);
    QTRY_COMPARE(pulse->sinkVolumes(), both(32767));
}

QTEST_MAIN(VolumeWindowTest)
#include "test_volume_window.moc"
