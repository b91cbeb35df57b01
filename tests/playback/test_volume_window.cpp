// The volume bar and mute of the main window against a real PulseAudio
// server with a null sink: what the sink holds, read back through pactl.

#include "../app/AppFixture.h"
#include "PulseServer.h"

#include <QSlider>
#include <QToolButton>
#include <QtTest>

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
    QCOMPARE(pulse->sinkMuted(), std::optional<bool>(false));
    QCOMPARE(pulse->sinkVolumes(), both(65535));
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
    QCOMPARE(pulse->sinkVolumes(), both(channel));
    f->form().TrackBar1->setValue(100);
    QCOMPARE(pulse->sinkVolumes(), both(65535));
}

void VolumeWindowTest::mute_remembersBarAndRestoresIt() {
    TForm1& form = f->form();
    form.TrackBar1->setValue(40);
    QCOMPARE(pulse->sinkVolumes(), both(26214));
    form.mute->click();
    QCOMPARE(form.TrackBar1->value(), 0);
    QCOMPARE(form.MutedVolume, 40);
    QCOMPARE(pulse->sinkVolumes(), both(0));
    // The button moves the volume, not the sink's mute switch.
    QCOMPARE(pulse->sinkMuted(), std::optional<bool>(false));
    form.mute->click();
    QCOMPARE(form.TrackBar1->value(), 40);
    QCOMPARE(pulse->sinkVolumes(), both(26214));
}

void VolumeWindowTest::mute_atZeroBeforeAnyMute_staysAtZero() {
    TForm1& form = f->form();
    form.TrackBar1->setValue(0);
    form.mute->click();
    QCOMPARE(form.TrackBar1->value(), 0);
    QCOMPARE(pulse->sinkVolumes(), both(0));
}

QTEST_MAIN(VolumeWindowTest)
#include "test_volume_window.moc"
