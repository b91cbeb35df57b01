// Broken stations played through the real main window, one row per way a
// station's server can go wrong. For every row: the window answers a key
// within 200 ms all through the fault, the status label ends with what
// happened, and quitting is prompt and leaves no thread behind. Where a
// recording can run into the fault (drop, junk, stall, lying metadata), the
// same row again while recording, with reconnecting off (test_reconnect
// covers it): what was recorded up to the fault is filed whole under the
// station, and a station that went away says "not playing" once what it
// sent has played out.

#include "Mp3Check.h"
#include "PlaybackFixture.h"
#include "WindowChecks.h"
#include "recording/Recorder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSlider>
#include <QToolButton>
#include <QtTest>

#include <functional>

using namespace tolvane;
using namespace tolvane::test;

namespace {

// The longest the window may take to answer a key, and to quit.
constexpr qint64 AnswerBoundMs = 200;
constexpr qint64 QuitBoundMs = 3000;
// The fault is watched at least this long, while the probe samples.
constexpr int ObserveMs = 3000;
// Shorter server time-outs than the player's own, so that every fault has
// played out within a few seconds: connecting, and silence.
constexpr engine::DWORD ConnectTimeoutMs = 2000;
constexpr engine::DWORD ReadTimeoutMs = 2000;
// Threads Qt may start on its own between two counts.
constexpr int ThreadSlack = 2;

// A station paced as it sends (128 kbit/s) after a one-second burst; a
// fault that comes mid-song comes after this many bytes, about six
// seconds into the song, some seconds after its title is known.
constexpr double PacedBytesPerSecond = 16000;
constexpr std::size_t BurstBytes = 16 * 1024;
constexpr std::size_t FaultAfterBytes = BurstBytes + 6 * 16000;

const QString Station = QStringLiteral("Fault FM");
const QString StationName = QStringLiteral("Loopback Radio"); // the server's icy-name
const QString NotPlaying = QStringLiteral("not playing");
const QString ServiceUnavailable = QStringLiteral("Service Unavailable   ");
const QString Title = QStringLiteral("Artist - Song");

struct MatrixFixture : PlaybackFixture {
    // The path every row's station is served at.
    const std::string path = "/fault";

    StreamRoute paced() const { return audio(PacedBytesPerSecond, BurstBytes); }
};

using RouteMaker = std::function<StreamRoute(const MatrixFixture&)>;

struct Row {
    const char* name;
    // The station's route; none: the station's port refuses connections.
    RouteMaker route;
    // What the status label ends with, and whether "Service Unavailable"
    // is said.
    QString status;
    bool unavailable;
    // The same fault coming mid-song, for the recording column (none: the
    // row has no such column), and the status it ends with there.
    RouteMaker midSong = {};
    QString midSongStatus = {};
};

StreamRoute withMetaint(const MatrixFixture& f, const std::string& header) {
    StreamRoute r = f.paced();
    r.metaintHeader = header;
    return r;
}

const QList<Row>& rows() {
    static const QList<Row> table = {
        {"junk bytes as audio",
         [](const MatrixFixture& f) {
             StreamRoute r = f.paced();
             r.junkAudio = true;
             return r;
         },
         NotPlaying, true,
         [](const MatrixFixture& f) {
             StreamRoute r = f.paced();
             r.junkAudio = true;
             r.junkAfter = FaultAfterBytes;
             return r;
         },
         StationName},
        {"drops mid-song",
         [](const MatrixFixture& f) {
             StreamRoute r = f.paced();
             r.dropAfter = FaultAfterBytes;
             return r;
         },
         StationName, false,
         [](const MatrixFixture& f) {
             StreamRoute r = f.paced();
             r.dropAfter = FaultAfterBytes;
             return r;
         },
         NotPlaying},
        {"stalls",
         [](const MatrixFixture&) { return StreamRoute::fault(StreamRoute::Kind::Stall); },
         NotPlaying, true,
         [](const MatrixFixture& f) {
             StreamRoute r = f.paced();
             r.stallAfter = FaultAfterBytes;
             return r;
         },
         NotPlaying},
        {"metadata lying about its length",
         [](const MatrixFixture& f) {
             StreamRoute r = f.paced();
             r.lyingMetadata = true;
             return r;
         },
         StationName, false,
         [](const MatrixFixture& f) {
             StreamRoute r = f.paced();
             r.lyingMetadata = true;
             r.lyingAfter = FaultAfterBytes;
             return r;
         },
         StationName},
        {"icy-metaint 0", [](const MatrixFixture& f) { return withMetaint(f, "0"); }, StationName,
         false},
        {"icy-metaint negative", [](const MatrixFixture& f) { return withMetaint(f, "-8192"); },
         StationName, false},
        {"icy-metaint huge",
         [](const MatrixFixture& f) { return withMetaint(f, "99999999999999999999"); }, StationName,
         false},
        {"icy-metaint not a number", [](const MatrixFixture& f) { return withMetaint(f, "lots"); },
         StationName, false},
        {"endless head",
         [](const MatrixFixture&) { return StreamRoute::fault(StreamRoute::Kind::EndlessHeader); },
         NotPlaying, true},
        {"redirect loop",
         [](const MatrixFixture& f) { return StreamRoute::redirect(f.server.url(f.path)); },
         NotPlaying, true},
        {"404", [](const MatrixFixture&) { return StreamRoute::error(404); }, NotPlaying, true},
        {"refused connection", nullptr, NotPlaying, true},
        {"one byte a second", [](const MatrixFixture& f) { return f.audio(1, 0); }, NotPlaying,
         true},
        {"playlist naming itself",
         [](const MatrixFixture& f) {
             return StreamRoute::playlist(
                 "[playlist]\nNumberOfEntries=1\nFile1=" + f.server.url(f.path) + "\n");
         },
         NotPlaying, true},
    };
    return table;
}

} // namespace

class FaultMatrixTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void fault_windowAnswersSaysWhatHappenedAndQuits_data();
    void fault_windowAnswersSaysWhatHappenedAndQuits();
    void faultWhileRecording_filesWhatWasRecorded_data();
    void faultWhileRecording_filesWhatWasRecorded();
    void thousandStationChanges_endWithOneStreamAndNothingLeftOver();

private:
    // Starts the player with the row's station; false when it did not start.
    bool startStation(const Row& row, bool midSong);
    // Plays the station with the answer probe running.
    void play();
    // Stops the probe and checks what it measured.
    void checkAnswers(const char* row);
    // Quits, and checks that quitting was prompt and left no thread.
    void checkQuit(const char* row);

    ProcessCounts before_;
    std::unique_ptr<MatrixFixture> f;
    std::unique_ptr<AnswerProbe> probe;
};

void FaultMatrixTest::init() {
    before_ = ProcessCounts::now();
}

void FaultMatrixTest::cleanup() {
    probe.reset();
    if (f && f->app)
        f->timedQuit();
    f.reset();
}

bool FaultMatrixTest::startStation(const Row& row, bool midSong) {
    f = std::make_unique<MatrixFixture>();
    if (midSong)
        f->folder.write("settings/settings.dat", "[radio]\r\nreconnect=false\r\n");
    const QString url =
        row.route ? QString() : QStringLiteral("http://127.0.0.1:%1/radio").arg(refusingPort());
    if (!f->startPlayer({{Station, f->path, url}}))
        return false;
    f->engine().SetConfig(engine::CONFIG_NET_TIMEOUT, ConnectTimeoutMs);
    f->engine().SetConfig(engine::CONFIG_NET_READTIMEOUT, ReadTimeoutMs);
    f->server.setTitle(Title.toStdString());
    const RouteMaker& make = midSong ? row.midSong : row.route;
    if (make)
        f->server.setRoute(f->path, make(*f));
    return true;
}

void FaultMatrixTest::play() {
    probe = std::make_unique<AnswerProbe>(f->form().TrackBar1);
    f->selectRow(Station);
    f->form().sListView1DblClick();
}

void FaultMatrixTest::checkAnswers(const char* row) {
    probe->stop();
    const qint64 longest = probe->longestMs();
    qInfo("%s: longest answer %lld ms over %d samples", row, static_cast<long long>(longest),
          probe->samples());
    QCOMPARE(probe->unanswered(), 0);
    QVERIFY2(probe->samples() >= 20, qPrintable(QString::number(probe->samples())));
    QVERIFY2(longest < AnswerBoundMs, qPrintable(QStringLiteral("%1 ms").arg(longest)));
    probe.reset();
}

void FaultMatrixTest::checkQuit(const char* row) {
    const qint64 quitMs = f->timedQuit();
    qInfo("%s: quit in %lld ms", row, static_cast<long long>(quitMs));
    QVERIFY2(quitMs < QuitBoundMs, qPrintable(QStringLiteral("%1 ms").arg(quitMs)));
    f->server.stop();
    // The engine's threads and the opener's workers are gone with the window.
    QVERIFY2(waitFor([&] { return ProcessCounts::now().threads <= before_.threads + ThreadSlack; },
                     2000),
             qPrintable(QStringLiteral("%1 threads before, %2 after")
                            .arg(before_.threads)
                            .arg(ProcessCounts::now().threads)));
}

void FaultMatrixTest::fault_windowAnswersSaysWhatHappenedAndQuits_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < rows().size(); ++i)
        QTest::newRow(rows()[i].name) << i;
}

void FaultMatrixTest::fault_windowAnswersSaysWhatHappenedAndQuits() {
    QFETCH(int, row);
    const Row& r = rows()[row];
    QVERIFY(startStation(r, false));

    QElapsedTimer clock;
    clock.start();
    play();
    // The fault plays out: the opening ends (played or failed) and the
    // status stays as it ended.
    QVERIFY2(f->workersDone(30000), qPrintable(f->log->statuses().join(u'|')));
    const qint64 left = ObserveMs - clock.elapsed();
    QTest::qWait(static_cast<int>(std::max<qint64>(left, 1000)));
    checkAnswers(r.name);

    const QStringList statuses = f->log->statuses();
    QVERIFY2(statuses.contains(QStringLiteral("connecting...")), qPrintable(statuses.join(u'|')));
    QCOMPARE(f->form().Label4->text(), r.status);
    QCOMPARE(f->messages.texts(), r.unavailable ? QStringList{ServiceUnavailable} : QStringList());
    if (r.unavailable) {
        // Nothing plays: nothing to record, the clock stands at zero.
        QCOMPARE(f->form().CurrentStream.load(), 0u);
        QVERIFY(!f->form().Timer3->isTicking());
        QCOMPARE(f->form().Timer->text(), QStringLiteral("00:00:00"));
    }
    checkQuit(r.name);
}

void FaultMatrixTest::faultWhileRecording_filesWhatWasRecorded_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < rows().size(); ++i) {
        if (rows()[i].midSong)
            QTest::newRow(rows()[i].name) << i;
    }
}

void FaultMatrixTest::faultWhileRecording_filesWhatWasRecorded() {
    QFETCH(int, row);
    const Row& r = rows()[row];
    QVERIFY(startStation(r, true));
    QDir().mkpath(f->folder.file("system"));
    QVERIFY(QFile::link(QStringLiteral("/usr/bin/lame"), f->folder.file("system/lame")));

    play();
    QVERIFY(waitFor([&] { return f->form().SongTitle() == Title; }, 20000));
    QVERIFY(f->server.audioBytesSent() < FaultAfterBytes);
    QElapsedTimer recording;
    f->form().SpeedButton2->click();
    recording.start();
    QVERIFY(f->form().IsRecording);

    // Everything the server sent before the fault is heard after the press,
    // so at least this much is recorded.
    QVERIFY(waitFor([&] { return f->server.audioBytesSent() >= FaultAfterBytes; }, 20000));
    const double beforeFault = recording.elapsed() / 1000.0;
    // What was buffered plays out, and the stream's silence ends it.
    QTest::qWait(ReadTimeoutMs + 1500);
    QVERIFY2(waitFor([&] { return f->form().Label4->text() == r.midSongStatus; }, 10000),
             qPrintable(f->form().Label4->text()));

    f->form().SpeedButton2->click();
    const double recorded = recording.elapsed() / 1000.0;
    QVERIFY(!f->form().IsRecording);
    checkAnswers(r.name);

    const QString folder = f->folder.file("Recorded/" + Station);
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{Title + ".mp3"});
    QVERIFY(!QFileInfo::exists(recording::Recorder::temporaryFile()));
    const QString file = folder + "/" + Title + ".mp3";
    QCOMPARE(decodeErrors(file), QString());
    const double duration = mediaDurationSeconds(file);
    qInfo("%s: %.2f s recorded, %.2f s before the fault, %.2f s in the file", r.name, recorded,
          beforeFault, duration);
    QVERIFY2(duration >= beforeFault - 0.3 && duration <= recorded + 0.5,
             qPrintable(QStringLiteral("%1 s in the file, %2 s before the fault, %3 s recorded")
                            .arg(duration)
                            .arg(beforeFault)
                            .arg(recorded)));
    QVERIFY(f->messages.texts().isEmpty());
    checkQuit(r.name);
}

void FaultMatrixTest::thousandStationChanges_endWithOneStreamAndNothingLeftOver() {
    // Good stations between broken ones of every kind that fails at once or
    // hangs: the user goes through the list faster than most can open.
    const QList<PlaybackFixture::Station> stations = {
        {QStringLiteral("Good One"), "/good1"},
        {QStringLiteral("Stalling"), "/stall"},
        {QStringLiteral("Missing"), "/missing"},
        {QStringLiteral("Good Two"), "/good2"},
        {QStringLiteral("Junk"), "/junk"},
        {QStringLiteral("Refusing"), "/refused",
         QStringLiteral("http://127.0.0.1:%1/radio").arg(refusingPort())},
        {QStringLiteral("Dropping"), "/drop"},
        {QStringLiteral("Trickling"), "/trickle"},
    };
    f = std::make_unique<MatrixFixture>();
    QVERIFY(f->startPlayer(stations));
    f->server.setRoute("/good1", f->paced());
    f->server.setRoute("/good2", f->paced());
    f->server.setRoute("/stall", StreamRoute::fault(StreamRoute::Kind::Stall));
    StreamRoute junk = f->paced();
    junk.junkAudio = true;
    f->server.setRoute("/junk", junk);
    StreamRoute drop = f->paced();
    drop.dropAfter = BurstBytes;
    f->server.setRoute("/drop", drop);
    f->server.setRoute("/trickle", f->audio(1, 0));
    f->messages.clear();

    // What one playing stream holds: counted once it plays.
    auto playsGood = [&](const QString& name) {
        return waitFor([&] { return f->form().Label4->text() == StationName; }, 20000) &&
               f->workersDone() && f->form().Edit3->text() == name &&
               waitFor([&] { return f->playing(f->form().CurrentStream.load()); });
    };
    f->selectRow(QStringLiteral("Good One"));
    f->form().sListView1DblClick();
    QVERIFY(playsGood(QStringLiteral("Good One")));
    QVERIFY(waitFor([&] { return f->server.activeConnections() == 1; }, 10000));
    const ProcessCounts before = ProcessCounts::now();

    constexpr int Changes = 1000;
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= Changes; ++i) {
        f->selectRow(stations[i % stations.size()].name);
        f->form().sListView1DblClick();
        // Let some of them get as far as connecting or buffering.
        if (i % 50 == 0)
            QTest::qWait(100);
        else if (i % 7 == 0)
            QTest::qWait(5);
        else
            QCoreApplication::processEvents();
    }
    // The last one is a good station (1000 % 8 == 0).
    const QString last = stations[Changes % stations.size()].name;
    QCOMPARE(last, QStringLiteral("Good One"));
    QVERIFY(f->workersDone(30000));
    qInfo("%d station changes in %lld ms", Changes, static_cast<long long>(clock.elapsed()));
    QVERIFY(playsGood(last));

    // Exactly one stream plays; every other one opened on the way is freed
    // and its connection closed.
    const std::uint32_t current = f->form().CurrentStream.load();
    const QList<std::uint32_t> opened = f->opener().openedStreams();
    QVERIFY(opened.contains(current));
    int playingNow = 0;
    for (std::uint32_t h : opened) {
        if (f->playing(h))
            ++playingNow;
        if (h != current)
            QVERIFY2(f->freed(h), qPrintable(QString::number(h)));
    }
    QCOMPARE(playingNow, 1);
    QVERIFY2(waitFor([&] { return f->server.activeConnections() == 1; }, 10000),
             qPrintable(QString::number(f->server.activeConnections())));
    QVERIFY(f->form().Timer3->isTicking());
    // Failures on the way were said; the last opening played.
    for (const QString& text : f->messages.texts())
        QCOMPARE(text, ServiceUnavailable);

    // No thread and no descriptor left over beyond what one stream holds.
    const auto leftOver = [&] {
        const ProcessCounts after = ProcessCounts::now();
        return QStringLiteral("threads %1 -> %2, descriptors %3 -> %4")
            .arg(before.threads)
            .arg(after.threads)
            .arg(before.descriptors)
            .arg(after.descriptors);
    };
    QVERIFY2(waitFor(
                 [&] {
                     const ProcessCounts after = ProcessCounts::now();
                     return after.threads <= before.threads + ThreadSlack &&
                            after.descriptors <= before.descriptors + ThreadSlack;
                 },
                 5000),
             qPrintable(leftOver()));
    qInfo("%s", qPrintable(leftOver()));
    checkQuit("1000 station changes");
}

QTEST_MAIN(FaultMatrixTest)
#include "test_fault_matrix.moc"
