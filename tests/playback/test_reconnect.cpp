// A station that drops while it is recorded, through the real window, the
// real engine on its null output and a loopback station: reconnecting on a
// short gap keeps one whole file, a long gap files the cut song and goes on
// in a new file, and with reconnecting off the player says the station has
// ended. And "play" after "stop" starts at the live point of a fresh stream.

#include "Mp3Check.h"
#include "PlaybackFixture.h"
#include "recording/Recorder.h"

#include <QAccessible>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QToolButton>
#include <QtTest>

using namespace tolvane;
using namespace tolvane::test;

namespace {

const QString DropStation = QStringLiteral("Drop FM");
const QString StationName = QStringLiteral("Loopback Radio"); // the server's icy-name
const QString Title = QStringLiteral("Artist - Song");
const std::string StationPath = "/drop";

// Paced as a 128 kbit/s station after a one-second burst; the drop comes
// about two seconds into the song.
constexpr double PacedBytesPerSecond = 16000;
constexpr std::size_t BurstBytes = 16 * 1024;
constexpr std::size_t DropAfterBytes = BurstBytes + 2 * 16000;
// Recorded after the station is back, so its audio surely reaches the file.
constexpr int AfterReconnectMs = 2000;

// The reconnect's pace, a tenth of the player's and less.
playback::ReconnectTiming fastTiming() {
    playback::ReconnectTiming t;
    t.firstDelayMs = 100;
    t.maxDelayMs = 400;
    t.stallMs = 1000;
    t.watchMs = 50;
    t.networkCheckMs = 50;
    return t;
}

struct ReconnectFixture : PlaybackFixture {
    // Starts the player with one station that drops once and is away for
    // `awayMs`; `settings` is the settings file's text (none when empty).
    bool startDropping(int awayMs, const QByteArray& settings) {
        if (!settings.isEmpty())
            folder.write("settings/settings.dat", settings);
        if (!startPlayer({{DropStation, StationPath}}))
            return false;
        QDir().mkpath(folder.file("system"));
        if (!QFile::link(QStringLiteral("/usr/bin/lame"), folder.file("system/lame")))
            return false;
        // One second of buffer: what was downloaded before the drop plays
        // out within about 1.5 s.
        engine().SetConfig(engine::CONFIG_NET_BUFFER, 1000);
        opener().setReconnectTiming(fastTiming());
        server.setTitle(Title.toStdString());
        StreamRoute route = audio(PacedBytesPerSecond, BurstBytes);
        route.dropAfter = DropAfterBytes;
        route.backAfterMs = awayMs;
        server.setRoute(StationPath, route);
        return true;
    }

    // Waits until the station's name is back and a stream other than
    // `first` plays.
    bool backOnANewStream(std::uint32_t first) {
        return waitFor(
            [&] {
                const std::uint32_t now = form().CurrentStream.load();
                return form().Label4->text() == StationName && now != first && playing(now);
            },
            20000);
    }

    void play() {
        selectRow(DropStation);
        form().sListView1DblClick();
    }

    QString stationFolder() { return folder.file("Recorded/" + DropStation); }
    QStringList recordings() {
        QStringList files = QDir(stationFolder()).entryList(QDir::Files);
        files.sort();
        return files;
    }
};

QString spokenStatus(TForm1& form) {
    QAccessibleInterface* label = QAccessible::queryAccessibleInterface(form.Label4);
    return label ? label->text(QAccessible::Name) : QString();
}

} // namespace

class ReconnectTest : public QObject {
    Q_OBJECT
private slots:
    void dropWhileRecording_data();
    void dropWhileRecording();
    void reconnectTriggers_data();
    void reconnectTriggers();
    void playAfterStop_opensAFreshStreamAtTheLivePoint();
};

void ReconnectTest::dropWhileRecording_data() {
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<int>("awayMs");
    QTest::addColumn<qint64>("gapLimitMs");
    QTest::addColumn<QStringList>("files");

    const QString first = Title + ".mp3";
    // The default is on: no settings file at all.
    QTest::newRow("short gap: one file")
        << QByteArray() << 300 << qint64{10000} << QStringList{first};
    // Split recording on: the same title again after the gap is no song
    // change, so no split adds a third file.
    QTest::newRow("long gap: the cut song, then a new file")
        << QByteArray("[radio]\r\nreconnect=true\r\nseparate=true\r\ninterval=1\r\n"
                      "interval2=1\r\n")
        << 3000 << qint64{500} << QStringList{Title + " (2).mp3", first};
    QTest::newRow("off: no reconnect, the station has ended")
        << QByteArray("[radio]\r\nreconnect=false\r\n") << 300 << qint64{10000}
        << QStringList{first};
}

void ReconnectTest::dropWhileRecording() {
    QFETCH(QByteArray, settings);
    QFETCH(int, awayMs);
    QFETCH(qint64, gapLimitMs);
    QFETCH(QStringList, files);
    const bool reconnects = !settings.contains("reconnect=false");

    ReconnectFixture f;
    QVERIFY(f.startDropping(awayMs, settings));
    f.form().ReconnectGapLimitMs = gapLimitMs;
    f.play();
    QVERIFY(waitFor([&] { return f.form().SongTitle() == Title; }, 20000));
    QVERIFY(f.server.audioBytesSent() < DropAfterBytes);
    QElapsedTimer recording;
    f.form().SpeedButton2->click();
    recording.start();
    QVERIFY(f.form().IsRecording);
    const std::uint32_t first = f.form().CurrentStream.load();

    QVERIFY(waitFor([&] { return f.server.audioBytesSent() >= DropAfterBytes; }, 20000));
    if (reconnects) {
        QVERIFY2(
            waitFor([&] { return f.form().Label4->text().startsWith("reconnecting..."); }, 5000),
            qPrintable(f.log->statuses().join(u'|')));
        QCOMPARE(spokenStatus(f.form()), f.form().Label4->text());
        // Back: the station's name again, a new stream plays, the old one is gone.
        QVERIFY2(f.backOnANewStream(first), qPrintable(f.log->statuses().join(u'|')));
        QVERIFY(f.freed(first));
        QVERIFY(f.log->statuses().contains(QStringLiteral("reconnecting... (1)")));
        QCOMPARE(f.log->titles().last(), Title);
        QVERIFY(f.form().Timer3->isTicking());
        QCOMPARE(f.form().IsRecording, true);
        QTest::qWait(AfterReconnectMs);
    } else {
        QVERIFY2(waitFor([&] { return f.form().Label4->text() == QStringLiteral("not playing"); },
                         10000),
                 qPrintable(f.log->statuses().join(u'|')));
        QCOMPARE(spokenStatus(f.form()), QStringLiteral("not playing"));
        QVERIFY(!f.form().Timer3->isTicking());
        QCOMPARE(f.form().Timer->text(), QStringLiteral("00:00:00"));
        // Given time to come back, nothing reconnects.
        QTest::qWait(awayMs + 500);
        QCOMPARE(f.server.requests(StationPath), 1);
        QCOMPARE(f.form().CurrentStream.load(), first);
    }
    f.form().SpeedButton2->click();
    const double recorded = recording.elapsed() / 1000.0;
    QVERIFY(!f.form().IsRecording);

    QCOMPARE(f.recordings(), files);
    QVERIFY(!QFileInfo::exists(recording::Recorder::temporaryFile()));
    double total = 0;
    for (const QString& name : files) {
        const QString file = f.stationFolder() + "/" + name;
        QCOMPARE(decodeErrors(file), QString());
        const double duration = mediaDurationSeconds(file);
        qInfo("%s: %.2f s", qPrintable(name), duration);
        QVERIFY(duration > 1.0);
        total += duration;
    }
    qInfo("%.2f s recorded, %.2f s in the files", recorded, total);
    QVERIFY(total <= recorded + 0.5);
    if (reconnects && files.size() == 1) {
        // The file goes on after the gap: without the carry-over it would
        // end with what was downloaded before the drop, AfterReconnectMs
        // and more short of the time recorded.
        QVERIFY2(total >= recorded - 1.2, qPrintable(QString::number(total)));
    }
    QVERIFY(f.messages.texts().isEmpty());
    f.timedQuit();
}

void ReconnectTest::reconnectTriggers_data() {
    QTest::addColumn<bool>("stall");
    QTest::addColumn<bool>("offline");
    // The station stops sending but keeps the connection: once what was
    // buffered has played out and a stall's time has passed, it is opened again.
    QTest::newRow("stall without a drop") << true << false;
    // The station drops while the network is down: no attempt while the
    // connection test says offline, and one at once when it says online
    // again, long before the first delay is over.
    QTest::newRow("network comes back") << false << true;
}

void ReconnectTest::reconnectTriggers() {
    QFETCH(bool, stall);
    QFETCH(bool, offline);
    constexpr int LongDelayMs = 60000;

    ReconnectFixture f;
    QVERIFY(f.startDropping(0, QByteArray()));
    if (stall) {
        StreamRoute route = f.audio(PacedBytesPerSecond, BurstBytes);
        route.stallAfter = DropAfterBytes;
        f.server.setRoute(StationPath, route);
    }
    if (offline) {
        playback::ReconnectTiming timing = fastTiming();
        timing.firstDelayMs = LongDelayMs;
        timing.maxDelayMs = LongDelayMs;
        f.opener().setReconnectTiming(timing);
    }
    f.play();
    QVERIFY(waitFor([&] { return f.form().SongTitle() == Title; }, 20000));
    const std::uint32_t first = f.form().CurrentStream.load();
    f.connected = !offline;

    QVERIFY(waitFor([&] { return f.server.audioBytesSent() >= DropAfterBytes; }, 20000));
    QVERIFY2(waitFor([&] { return f.form().Label4->text() == "reconnecting... (1)"; }, 10000),
             qPrintable(f.log->statuses().join(u'|')));
    QElapsedTimer sinceReconnecting;
    sinceReconnecting.start();
    if (offline) {
        // Offline: however often the test runs, nothing is attempted.
        QTest::qWait(1000);
        QCOMPARE(f.server.requests(StationPath), 1);
        QCOMPARE(f.form().CurrentStream.load(), first);
        f.connected = true;
    }
    QVERIFY2(f.backOnANewStream(first), qPrintable(f.log->statuses().join(u'|')));
    QVERIFY(sinceReconnecting.elapsed() < LongDelayMs / 4);
    QCOMPARE(f.server.requests(StationPath), 2);
    QVERIFY(f.freed(first));
    QVERIFY(!f.log->statuses().contains(QStringLiteral("reconnecting... (2)")));
    QVERIFY(f.messages.texts().isEmpty());
    f.timedQuit();
}

void ReconnectTest::playAfterStop_opensAFreshStreamAtTheLivePoint() {
    ReconnectFixture f;
    QVERIFY(f.startDropping(0, QByteArray()));
    f.server.setRoute(StationPath, f.audio(PacedBytesPerSecond, BurstBytes));
    f.play();
    QVERIFY(waitFor([&] { return f.form().SongTitle() == Title; }, 20000));
    const std::uint32_t first = f.form().CurrentStream.load();
    QVERIFY(waitFor([&] { return f.playing(first); }));

    f.form().stop->click();
    QVERIFY(!f.playing(first));
    // A stopped stream is not "stalled": nothing reconnects behind the stop.
    QTest::qWait(fastTiming().stallMs + 500);
    QCOMPARE(f.server.requests(StationPath), 1);
    QCOMPARE(f.form().Label4->text(), StationName);
    QVERIFY(waitFor([&] { return f.opener().watchingWorkers() == 0; }));

    f.form().play->click();
    QVERIFY(waitFor(
        [&] {
            const std::uint32_t now = f.form().CurrentStream.load();
            return now != 0 && now != first && f.playing(now);
        },
        20000));
    // A new connection, and the stopped stream with all it had buffered is
    // gone: what plays starts where the station is now.
    QCOMPARE(f.server.requests(StationPath), 2);
    QVERIFY(f.freed(first));
    QCOMPARE(f.form().Label4->text(), StationName);
    f.timedQuit();
}

QTEST_MAIN(ReconnectTest)
#include "test_reconnect.moc"
