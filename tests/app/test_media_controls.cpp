// Media controls from outside the window: the media player interface on a
// private session bus, driven by playerctl and gdbus as a desktop panel
// would, against the real window playing loopback stations; and the sleep
// timer, on a clock the test moves.

#include "../online/HttpTestServer.h"
#include "../playback/PlaybackFixture.h"
#include "Mp3Check.h"
#include "app/Mpris.h"
#include "playback/SleepTimer.h"

#include <QAccessible>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QtTest>

#include <functional>

using namespace tolvane;
using namespace tolvane::test;

namespace {

// A session bus of the test's own, ended by its process when the test ends.
// The process keeps its first connection to the session bus, so every
// player of this test goes on one bus; start() starts it once.
class PrivateBus {
public:
    bool start() {
        if (!address_.isEmpty())
            return true;
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            return false;
        daemon_.setProgram(QStringLiteral("dbus-daemon"));
        daemon_.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                              QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1"),
                              QStringLiteral("--address=unix:path=") + dir_.filePath("bus")});
        daemon_.start();
        if (!daemon_.waitForStarted(5000))
            return false;
        for (int i = 0; i < 50 && !daemon_.canReadLine(); ++i)
            daemon_.waitForReadyRead(100);
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        if (address_.isEmpty())
            return false;
        qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
        return true;
    }
    QString address() const { return address_; }
    ~PrivateBus() {
        if (daemon_.state() == QProcess::NotRunning)
            return;
        daemon_.terminate();
        if (!daemon_.waitForFinished(3000)) {
            daemon_.kill();
            daemon_.waitForFinished(3000);
        }
    }

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
};

// Runs a tool to its end while the player goes on answering the bus.
QString run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(5000))
        return QStringLiteral("<%1 did not start>").arg(program);
    if (!waitFor([&] { return p.state() == QProcess::NotRunning; }, 10000)) {
        p.kill();
        p.waitForFinished(3000);
        return QStringLiteral("<%1 did not end>").arg(program);
    }
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QString playerctl(const QStringList& args) {
    return run(QStringLiteral("playerctl"), QStringList{QStringLiteral("--player=tolvane")} + args);
}

QString gdbusCall(const QString& method, const QStringList& args = {}) {
    return run(QStringLiteral("gdbus"),
               QStringList{QStringLiteral("call"), QStringLiteral("--session"),
                           QStringLiteral("--dest"), QString::fromLatin1(Mpris::ServiceName),
                           QStringLiteral("--object-path"), QString::fromLatin1(Mpris::ObjectPath),
                           QStringLiteral("--method"), method} +
                   args);
}

// The player with three stations on a loopback server, a picture service
// of its own, on a private bus, with an outside observer of its signals.
struct MediaFixture : PlaybackFixture {
    explicit MediaFixture(PrivateBus& b) : bus(b) {}
    HttpTestServer site;
    PrivateBus& bus;
    QProcess monitor;
    QByteArray signals_;
    const QByteArray picture = solidJpeg(Qt::darkGreen, QSize(60, 40));

    bool startAll() {
        if (!bus.start())
            return false;
        mediaPlayerInterface = true;
        pointServicesAt(site.url(QString()));
        site.setRoute("/Download/getimage/getimage.php", "cover-ref\n");
        site.setRoute("/Download/getimage/imgsize.php", picture);
        folder.write("settings/settings.dat", "[radio]\nsongimage=true\n");
        server.setTitle("Artist - Song");
        if (!startPlayer({{QStringLiteral("Jazz FM"), "/jazz"},
                          {QStringLiteral("Rock FM"), "/rock"},
                          {QStringLiteral("Soul FM"), "/soul"}}))
            return false;
        for (const char* path : {"/jazz", "/rock", "/soul"})
            server.setRoute(path, audio(16000, 64 * 1024));
        if (!app->mpris() || app->mpris()->serviceName() != Mpris::ServiceName)
            return false;
        monitor.start(QStringLiteral("gdbus"),
                      {QStringLiteral("monitor"), QStringLiteral("--session"),
                       QStringLiteral("--dest"), QString::fromLatin1(Mpris::ServiceName),
                       QStringLiteral("--object-path"), QString::fromLatin1(Mpris::ObjectPath)});
        // Watching once it has said whose signals it follows.
        return monitor.waitForStarted(5000) &&
               waitFor([&] { return seen(QRegularExpression("is owned by")); });
    }

    ~MediaFixture() {
        monitor.terminate();
        if (!monitor.waitForFinished(3000)) {
            monitor.kill();
            monitor.waitForFinished(3000);
        }
    }

    bool seen(const QRegularExpression& pattern) {
        signals_ += monitor.readAllStandardOutput();
        return pattern.match(QString::fromUtf8(signals_)).hasMatch();
    }

    bool playingStation(const QString& name) {
        return waitFor(
            [&] {
                return form().isPlaying() && form().Edit3->text() == name &&
                       form().Label4->text() == QLatin1String("Loopback Radio") &&
                       playing(form().CurrentStream.load());
            },
            15000);
    }
    void playStation(const QString& name) {
        selectRow(name);
        form().sListView1DblClick();
        QVERIFY(playingStation(name));
    }
    void stopped() {
        if (form().isPlaying())
            form().stop->click();
    }
};

// One row: the scene set through the window, a request from outside (or a
// change in the window), and what the window, a read back over the bus and
// the observed PropertiesChanged show afterwards.
struct Row {
    const char* name;
    std::function<void(MediaFixture&)> scene;
    std::function<void(MediaFixture&)> act;
    std::function<void(MediaFixture&)> window; // checks, after the act
    QStringList readBack;                      // playerctl arguments
    const char* answer;                        // what they print (a pattern)
    const char* signal;                        // a pattern of the change seen
};

const QList<Row>& rows() {
    static const QList<Row> table = {
        {"identity, desktop entry and what can be done",
         {},
         {},
         [](MediaFixture&) {
             const QString root = gdbusCall("org.freedesktop.DBus.Properties.GetAll",
                                            {QStringLiteral("org.mpris.MediaPlayer2")});
             QVERIFY2(root.contains("'Identity': <'Tolvane'>"), qPrintable(root));
             QVERIFY2(root.contains("'DesktopEntry': <'org.tolvane.Tolvane'>"), qPrintable(root));
             QVERIFY2(root.contains("'CanRaise': <true>"), qPrintable(root));
             const QString player = gdbusCall("org.freedesktop.DBus.Properties.GetAll",
                                              {QString::fromLatin1(Mpris::PlayerInterface)});
             // A live stream pauses by stopping; it cannot seek.
             QVERIFY2(player.contains("'CanPause': <true>"), qPrintable(player));
             QVERIFY2(player.contains("'CanSeek': <false>"), qPrintable(player));
             QVERIFY2(player.contains("'CanControl': <true>"), qPrintable(player));
         },
         {},
         "",
         ""},
        {"play starts the selected station",
         [](MediaFixture& f) {
             f.stopped();
             f.selectRow("Rock FM");
         },
         [](MediaFixture&) { playerctl({"play"}); },
         [](MediaFixture& f) { QVERIFY(f.playingStation("Rock FM")); },
         {"status"},
         "^Playing$",
         "'PlaybackStatus': <'Playing'>"},
        {"pause stops the live stream",
         [](MediaFixture& f) {
             if (!f.form().isPlaying())
                 f.playStation("Jazz FM");
         },
         [](MediaFixture&) { playerctl({"pause"}); },
         [](MediaFixture& f) {
             QTRY_VERIFY(!f.form().isPlaying());
             QVERIFY(!f.playing(f.form().CurrentStream.load()));
             QCOMPARE(f.form().Timer->text(), QString("00:00:00"));
         },
         {"status"},
         "^Stopped$",
         "'PlaybackStatus': <'Stopped'>"},
        {"play-pause while stopped plays",
         [](MediaFixture& f) {
             f.stopped();
             f.selectRow("Jazz FM");
         },
         [](MediaFixture&) { playerctl({"play-pause"}); },
         [](MediaFixture& f) { QVERIFY(f.playingStation("Jazz FM")); },
         {"status"},
         "^Playing$",
         "'PlaybackStatus': <'Playing'>"},
        {"play-pause while playing stops",
         [](MediaFixture& f) {
             if (!f.form().isPlaying())
                 f.playStation("Jazz FM");
         },
         [](MediaFixture&) { playerctl({"play-pause"}); },
         [](MediaFixture& f) { QTRY_VERIFY(!f.form().isPlaying()); },
         {"status"},
         "^Stopped$",
         "'PlaybackStatus': <'Stopped'>"},
        {"next plays the row after the selected one",
         [](MediaFixture& f) { f.playStation("Jazz FM"); },
         [](MediaFixture&) { playerctl({"next"}); },
         [](MediaFixture& f) {
             QVERIFY(f.playingStation("Rock FM"));
             QCOMPARE(f.form().ListView1->selectedRow(), 1);
         },
         {"metadata", "xesam:album"},
         "^Rock FM$",
         "'xesam:album': <'Rock FM'>"},
        {"previous plays the row before the selected one",
         [](MediaFixture& f) { f.playStation("Soul FM"); },
         [](MediaFixture&) { playerctl({"previous"}); },
         [](MediaFixture& f) { QVERIFY(f.playingStation("Rock FM")); },
         {"metadata", "--format", "{{xesam:album}} {{status}}"},
         "^Rock FM Playing$",
         "'xesam:album': <'Rock FM'>"},
        {"the last row has no next: next does nothing",
         [](MediaFixture& f) { f.playStation("Soul FM"); },
         [](MediaFixture&) { playerctl({"next"}); },
         [](MediaFixture& f) {
             const QString canGoNext = gdbusCall(
                 "org.freedesktop.DBus.Properties.Get",
                 {QString::fromLatin1(Mpris::PlayerInterface), QStringLiteral("CanGoNext")});
             QCOMPARE(canGoNext, QStringLiteral("(<false>,)"));
             QCOMPARE(f.form().ListView1->selectedRow(), 2);
             QVERIFY(f.playingStation("Soul FM"));
         },
         {"metadata", "xesam:album"},
         "^Soul FM$",
         ""},
        {"volume from outside moves the bar",
         [](MediaFixture& f) { f.form().TrackBar1->setValue(100); },
         [](MediaFixture&) {
             playerctl({"volume", "0.4"});
         },
         [](MediaFixture& f) { QTRY_COMPARE(f.form().TrackBar1->value(), 40); },
         {"volume"},
         "^0\\.40*$",
         "'Volume': <0\\.40*[0-9]*>"},
        {"volume bar tells the desktop",
         {},
         [](MediaFixture& f) { f.form().TrackBar1->setValue(70); },
         {},
         {"volume"},
         "^0\\.70*$",
         "'Volume': <0\\.(7|69999)"},
        {"metadata: artist, song, station and the song picture",
         [](MediaFixture& f) { f.playStation("Jazz FM"); },
         {},
         [](MediaFixture& f) {
             QVERIFY(waitFor([&] { return f.form().SongTitle() == "Artist - Song"; }, 10000));
             QVERIFY(waitFor([&] { return !f.form().songPictureFile().isEmpty(); }, 10000));
             const QString art = playerctl({"metadata", "mpris:artUrl"});
             const QUrl url(art);
             QVERIFY2(url.isLocalFile(), qPrintable(art));
             QFile file(url.toLocalFile());
             QVERIFY(file.open(QIODevice::ReadOnly));
             QCOMPARE(file.readAll(), f.picture);
         },
         {"metadata", "--format", "{{xesam:artist}}|{{xesam:title}}|{{xesam:album}}"},
         "^Artist\\|Song\\|Jazz FM$",
         "'mpris:artUrl': <'file://"},
        {"raise brings the hidden window back",
         [](MediaFixture& f) {
             f.form().SystemTrayAvailable = [] { return true; };
             f.form().MinimizeToTray();
             QVERIFY(!f.form().isVisible());
         },
         [](MediaFixture&) { gdbusCall("org.mpris.MediaPlayer2.Raise"); },
         [](MediaFixture& f) { QTRY_VERIFY(f.form().isVisible()); },
         {},
         "",
         ""},
    };
    return table;
}

// Message boxes that stay open as real ones do: each runs an event loop of
// its own until `answered` says so, and what arrives meanwhile (requests on
// the bus, a worker's report) is handled inside it.
class ModalBoxes final : public MessageSink {
public:
    explicit ModalBoxes(std::function<bool()> answered)
        : answered_(std::move(answered)), previous_(setMessageSink(this)) {}
    ~ModalBoxes() override { setMessageSink(previous_); }

    void show(const Message& message) override {
        texts << message.text;
        most = std::max(most, ++open);
        QEventLoop box;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, &box, [&] {
            if (answered_())
                box.quit();
        });
        look.start(50);
        box.exec();
        --open;
    }
    bool confirm(const QString&, const QString&, ConfirmButtons) override { return false; }

    QStringList texts;
    int open = 0;
    int most = 0;

private:
    std::function<bool()> answered_;
    MessageSink* previous_;
};

} // namespace

class MediaControlsTest : public QObject {
    Q_OBJECT
private slots:
    void sleepTimer_filesTheRecordingThenStops_andCancelCancels();
    // Before the player that the rows below share takes the bus name.
    void failedStations_leaveOneBoxHoweverManyRequestsCome();
    void mediaPlayerInterface_drivesTheWindowAndTellsItsChanges_data();
    void mediaPlayerInterface_drivesTheWindowAndTellsItsChanges();
    void cleanupTestCase();

private:
    PrivateBus bus_;
    std::unique_ptr<MediaFixture> media_;
    QString skip_;
};

void MediaControlsTest::cleanupTestCase() {
    if (media_ && media_->app)
        media_->timedQuit();
    media_.reset();
}

void MediaControlsTest::mediaPlayerInterface_drivesTheWindowAndTellsItsChanges_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < rows().size(); ++i)
        QTest::newRow(rows()[i].name) << i;
}

void MediaControlsTest::mediaPlayerInterface_drivesTheWindowAndTellsItsChanges() {
    QFETCH(int, row);
    // One player for all rows, on a bus of its own.
    if (!media_ && skip_.isEmpty()) {
        for (const char* tool : {"dbus-daemon", "playerctl", "gdbus"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                skip_ = QStringLiteral("%1 is not installed").arg(tool);
        }
        if (skip_.isEmpty()) {
            media_ = std::make_unique<MediaFixture>(bus_);
            if (!media_->startAll())
                skip_ = QStringLiteral("the player could not be started on a private bus");
        }
    }
    if (!skip_.isEmpty()) {
        if (media_)
            QFAIL(qPrintable(skip_));
        QSKIP(qPrintable(skip_));
    }
    MediaFixture& f = *media_;
    const Row& r = rows()[row];
    if (r.scene)
        r.scene(f);
    if (QTest::currentTestFailed())
        return;
    // Only what this row's request brings counts.
    QTest::qWait(50);
    f.seen(QRegularExpression(QStringLiteral("$^")));
    f.signals_.clear();

    if (r.act)
        r.act(f);
    if (r.window)
        r.window(f);
    if (QTest::currentTestFailed())
        return;
    if (!r.readBack.isEmpty()) {
        const QRegularExpression answer(QString::fromLatin1(r.answer));
        QString printed;
        QVERIFY2(waitFor([&] { return answer.match(printed = playerctl(r.readBack)).hasMatch(); }),
                 qPrintable(printed));
    }
    if (r.signal[0]) {
        const QRegularExpression signal(QStringLiteral("PropertiesChanged \\('") +
                                        QString::fromLatin1(Mpris::PlayerInterface) +
                                        QStringLiteral("'.*") + QString::fromLatin1(r.signal));
        QVERIFY2(waitFor([&] { return f.seen(signal); }), f.signals_.constData());
    }
}

void MediaControlsTest::failedStations_leaveOneBoxHoweverManyRequestsCome() {
    for (const char* tool : {"dbus-daemon", "playerctl", "sh"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(tool)));
    }
    PlaybackFixture f;
    QVERIFY(bus_.start());
    f.mediaPlayerInterface = true;
    // A listener on a train: no station answers.
    const QString gone = QStringLiteral("http://127.0.0.1:%1/gone").arg(refusingPort());
    QList<PlaybackFixture::Station> stations;
    for (int i = 0; i < 12; ++i)
        stations.append({QStringLiteral("Gone %1").arg(i, 2, 10, QLatin1Char('0')), "/gone", gone});
    QVERIFY(f.startPlayer(stations));
    QVERIFY(f.app->mpris());
    f.selectRow("Gone 00");

    // Ten presses of the media key, as a panel sends them; the box is
    // answered once every press has been handled.
    QProcess presses;
    presses.start("sh", {"-c", "for i in 1 2 3 4 5 6 7 8 9 10; do "
                               "playerctl --player=tolvane next; sleep 0.3; done"});
    QVERIFY(presses.waitForStarted(5000));
    // Each open box holds the worker that reported its failure.
    ModalBoxes* open = nullptr;
    const auto allHandled = [&] {
        return presses.state() == QProcess::NotRunning && f.form().ListView1->selectedRow() == 10 &&
               f.opener().runningWorkers() <= (open ? open->open : 0);
    };
    ModalBoxes boxes(allHandled);
    open = &boxes;
    QVERIFY(waitFor([&] { return allHandled() && boxes.open == 0; }, 30000));
    QCOMPARE(boxes.most, 1);
    QCOMPARE(boxes.texts.value(0), QStringLiteral("Service Unavailable   "));
    QVERIFY(f.form().Label4->text().startsWith("not playing"));

    // Answered: the window quits on its shortcut.
    f.form().activateWindow();
    QTest::keySequence(&f.form(), QKeySequence(QStringLiteral("Ctrl+E")));
    QTRY_VERIFY(f.form().closing());
}

void MediaControlsTest::sleepTimer_filesTheRecordingThenStops_andCancelCancels() {
    PlaybackFixture f;
    QVERIFY(f.startPlayer({{QStringLiteral("Jazz FM"), "/jazz"}}));
    f.server.setRoute("/jazz", f.audio(16000, 64 * 1024));
    f.server.setTitle("Night - Song");
    QVERIFY(QDir().mkpath(f.folder.file("system")));
    QVERIFY(QFile::link(QStringLiteral("/usr/bin/lame"), f.folder.file("system/lame")));
    TForm1& form = f.form();
    qint64 now = 1000;
    form.sleepTimer().setClock([&] { return now; });
    auto choose = [&](const char* entry) { form.findChild<QAction*>(entry)->trigger(); };
    auto description = [&] {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(form.Label4);
        return face ? face->text(QAccessible::Description) : QString();
    };
    const QString tooltip30 = QStringLiteral("Sleep timer: playback stops in 30 minutes");

    f.selectRow("Jazz FM");
    form.sListView1DblClick();
    QVERIFY(waitFor([&] { return form.SongTitle() == "Night - Song" && form.isPlaying(); }, 15000));
    form.SpeedButton2->click();
    QVERIFY(form.IsRecording);

    // A new time replaces the old; the status label tells what is left.
    choose("Sleep90");
    choose("Sleep30");
    QCOMPARE(form.Label4->toolTip(), tooltip30);
    QCOMPARE(description(), "Status. " + tooltip30);
    now += 29 * 60 * 1000 + 1;
    form.sleepTimer().ticker().fire();
    QCOMPARE(form.Label4->toolTip(), QStringLiteral("Sleep timer: playback stops in 1 minute"));
    QVERIFY(form.isPlaying());

    // Cancelled, the time passes without an end.
    QVERIFY(form.findChild<QAction*>("SleepCancel")->isEnabled());
    choose("SleepCancel");
    QCOMPARE(form.Label4->toolTip(), QString());
    QCOMPARE(description(), QStringLiteral("Status"));
    QVERIFY(!form.sleepTimer().ticker().isTicking());
    QVERIFY(!form.findChild<QAction*>("SleepCancel")->isEnabled());
    now += 120 * 60 * 1000;
    form.sleepTimer().ticker().fire();
    QVERIFY(form.IsRecording);
    QVERIFY(form.isPlaying());

    // At the end: the recording is filed as its own stop files it, then
    // playback stops.
    choose("Sleep15");
    QTest::qWait(1000); // a second of the song on record
    now += 15 * 60 * 1000;
    form.sleepTimer().ticker().fire();
    QVERIFY(!form.IsRecording);
    QCOMPARE(form.SpeedButton2->text(), QStringLiteral("rec"));
    const QString filed = f.folder.file("Recorded/Jazz FM/Night - Song.mp3");
    QVERIFY2(mediaDurationSeconds(filed) > 0.5, qPrintable(filed));
    QVERIFY(!form.isPlaying());
    QVERIFY(!f.playing(form.CurrentStream.load()));
    QCOMPARE(form.Timer->text(), QStringLiteral("00:00:00"));
    QCOMPARE(form.Label4->toolTip(), QString());
    QVERIFY(!form.sleepTimer().active());
    QVERIFY(f.messages.texts().isEmpty());
    f.timedQuit();
}

QTEST_MAIN(MediaControlsTest)
#include "test_media_controls.moc"
