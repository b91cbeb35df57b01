// Recording through the real main window: the "rec" button, the encoder
// program fed by the engine on its null output, filing under the station
// and the song, and the automatic split at song changes.

#include "../playback/PlaybackFixture.h"
#include "HttpTestServer.h"
#include "IcecastServer.h"
#include "Mp3Check.h"
#include "SongStation.h"
#include "recording/Recorder.h"

#include <QAccessible>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStringEncoder>
#include <QToolButton>
#include <QtTest>

#include <sys/mount.h>

using namespace tolvane;
using namespace tolvane::test;

namespace {

struct RecorderFixture : PlaybackFixture {
    bool startRecorderPlayer(const QString& icecastUrl = {}) {
        if (!startPlayer({{QStringLiteral("Jazz FM"), "/jazz"},
                          {QStringLiteral("Rock FM"), "/rock"},
                          {QStringLiteral("Icecast FM"), "/icecast", icecastUrl}}))
            return false;
        // Paced as a station sends, after a burst; a title every half second.
        server.setRoute("/jazz", audio(16000, 64 * 1024));
        server.setRoute("/rock", audio(16000, 64 * 1024));
        QDir().mkpath(folder.file("system"));
        return QFile::link(QStringLiteral("/usr/bin/lame"), folder.file("system/lame"));
    }

    // Plays a station of the list and waits until it plays.
    bool play(const QString& name, const QString& stationName = QStringLiteral("Loopback Radio")) {
        selectRow(name);
        form().sListView1DblClick();
        return waitFor([&] { return form().Label4->text() == stationName; }, 20000) &&
               workersDone() && waitFor([&] { return playing(form().CurrentStream.load()); });
    }

    bool waitForTitle(const QString& title) {
        return waitFor([&] { return form().SongTitle() == title; }, 15000);
    }

    void press() { form().SpeedButton2->click(); }
    QString caption() { return form().SpeedButton2->text(); }

    QStringList filed(const QString& station) {
        return QDir(folder.file("Recorded/" + station)).entryList(QDir::Files, QDir::Name);
    }
    bool temporaryGone() {
        for (const char* suffix : recording::RecordingSuffixes)
            if (QFileInfo::exists(recording::Recorder::temporaryFile(QString(".") + suffix)))
                return false;
        return true;
    }
};

// The ID3v2 tag a file begins with (header included); empty when none.
QByteArray id3v2Tag(const QByteArray& file) {
    if (!file.startsWith("ID3") || file.size() < 10)
        return {};
    qsizetype size = 10;
    for (int i = 6; i < 10; ++i)
        size += qsizetype(file[i] & 0x7F) << (7 * (9 - i));
    return file.left(size);
}

// The accessible name a screen reader reads for a control.
QString accessibleName(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

} // namespace

class RecorderWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void record_filesTheSongWholeUnderStationAndTitle();
    void record_untitledGetNumbersAndAFreedNumberIsReused();
    void record_stoppedByAnotherStation_isFiledUnderTheStationHeard();
    void record_userFolderWithMissingParents_isCreatedWhole();
    void record_leftoverOfAKilledSession_isKeptNotOverwritten();
    void record_encoderMissing_saysSoAndStaysIdle();
    void record_withoutStream_saysNoActiveStation();
    void record_diskFull_filesWhatWasRecordedSaysSoAndPlays_data();
    void record_diskFull_filesWhatWasRecordedSaysSoAndPlays();
    void split_cutsAtIntervalAndRestartsAfterInterval2();
    void split_secondSongChangeWithinDelay_doesNotPostponeTheCut();
    void split_icecastStation_givesOneCleanFilePerSong();
    void songs_eachFileHoldsItsOwnSong_data();
    void songs_eachFileHoldsItsOwnSong();
    void fromStart_stationWithoutTitles_recordsFromItsFirstAudio();
    void tags_readBackFromEachFiledRecording_data();
    void tags_readBackFromEachFiledRecording();

private:
    std::unique_ptr<RecorderFixture> f;
};

void RecorderWindowTest::init() {
    f = std::make_unique<RecorderFixture>();
    QVERIFY(f->startRecorderPlayer());
}

void RecorderWindowTest::cleanup() {
    if (f && f->app)
        f->timedQuit();
    f.reset();
}

void RecorderWindowTest::record_filesTheSongWholeUnderStationAndTitle() {
    f->server.setTitle("Artist - Song");
    QVERIFY(f->play(QStringLiteral("Jazz FM")));
    QVERIFY(f->waitForTitle(QStringLiteral("Artist - Song")));

    QElapsedTimer clock;
    f->press();
    clock.start();
    QVERIFY(f->form().IsRecording);
    QCOMPARE(f->caption(), QStringLiteral("..."));
    QCOMPARE(accessibleName(f->form().SpeedButton2), QStringLiteral("..."));
    QTest::qWait(3000);
    const double recorded = clock.elapsed() / 1000.0;
    f->press();
    QVERIFY(!f->form().IsRecording);
    QCOMPARE(f->caption(), QStringLiteral("rec"));
    QCOMPARE(accessibleName(f->form().SpeedButton2), QStringLiteral("rec"));

    QCOMPARE(f->filed(QStringLiteral("Jazz FM")), QStringList{"Artist - Song.mp3"});
    QVERIFY(f->temporaryGone());
    const QString file = f->folder.file("Recorded/Jazz FM/Artist - Song.mp3");
    const double duration = mediaDurationSeconds(file);
    QVERIFY2(
        qAbs(duration - recorded) < 0.5,
        qPrintable(QStringLiteral("%1 s recorded, %2 s in the file").arg(recorded).arg(duration)));
    QCOMPARE(decodeErrors(file), QString());
    QVERIFY(f->messages.texts().isEmpty());

    // The same song again: filed beside the first, which keeps its content.
    QVERIFY(f->form().waitForRecordingTags(30000));
    const QByteArray first = f->folder.read("Recorded/Jazz FM/Artist - Song.mp3");
    f->press();
    QTest::qWait(500);
    f->press();
    QCOMPARE(f->filed(QStringLiteral("Jazz FM")),
             (QStringList{"Artist - Song (2).mp3", "Artist - Song.mp3"}));
    QVERIFY(f->form().waitForRecordingTags(30000));
    QCOMPARE(f->folder.read("Recorded/Jazz FM/Artist - Song.mp3"), first);
}

void RecorderWindowTest::record_untitledGetNumbersAndAFreedNumberIsReused() {
    QVERIFY(f->play(QStringLiteral("Jazz FM")));
    QCOMPARE(f->form().SongTitle(), QString());
    auto recordOnce = [&] {
        f->press();
        QTest::qWait(300);
        f->press();
    };
    for (int i = 0; i < 3; ++i)
        recordOnce();
    QCOMPARE(f->filed(QStringLiteral("Jazz FM")),
             (QStringList{"Recorded_0.mp3", "Recorded_1.mp3", "Recorded_2.mp3"}));
    QVERIFY(QFile::remove(f->folder.file("Recorded/Jazz FM/Recorded_0.mp3")));
    recordOnce();
    QCOMPARE(f->filed(QStringLiteral("Jazz FM")),
             (QStringList{"Recorded_0.mp3", "Recorded_1.mp3", "Recorded_2.mp3"}));
}

void RecorderWindowTest::record_stoppedByAnotherStation_isFiledUnderTheStationHeard() {
    f->server.setTitle("Jazz Song");
    QVERIFY(f->play(QStringLiteral("Jazz FM")));
    QVERIFY(f->waitForTitle(QStringLiteral("Jazz Song")));
    f->press();
    QTest::qWait(500);
    QVERIFY(f->play(QStringLiteral("Rock FM")));
    QVERIFY(!f->form().IsRecording);
    QCOMPARE(f->caption(), QStringLiteral("rec"));
    QCOMPARE(f->filed(QStringLiteral("Jazz FM")), QStringList{"Jazz Song.mp3"});
    QVERIFY(!QFileInfo::exists(f->folder.file("Recorded/Rock FM")));
}

void RecorderWindowTest::record_userFolderWithMissingParents_isCreatedWhole() {
    const QString music = f->folder.file("home/Music/Radio recordings");
    f->folder.write("settings/settings.dat", "[record]\r\nrecdir=" + music.toUtf8() + "\r\n");
    f->server.setTitle("A/B: C?");
    QVERIFY(f->play(QStringLiteral("Jazz FM")));
    QVERIFY(f->waitForTitle(QStringLiteral("A/B: C?")));
    f->press();
    QTest::qWait(500);
    f->press();
    QCOMPARE(QDir(music + "/Jazz FM").entryList(QDir::Files), QStringList{"A_B: C?.mp3"});
    QVERIFY(f->temporaryGone());
    QVERIFY(f->messages.texts().isEmpty());
}

void RecorderWindowTest::record_leftoverOfAKilledSession_isKeptNotOverwritten() {
    f->folder.write("Recorded/Recording.mp3", "audio of a session that was killed");
    QVERIFY(f->play(QStringLiteral("Jazz FM")));
    f->press();
    QVERIFY(f->form().IsRecording);
    // Kept whole, with a tag in front (its date at least).
    QVERIFY(f->form().waitForRecordingTags(30000));
    const QByteArray recovered = f->folder.read("Recorded/Recovered recording.mp3");
    const QByteArray tag = id3v2Tag(recovered);
    QVERIFY(!tag.isEmpty());
    QCOMPARE(recovered.mid(tag.size()), QByteArray("audio of a session that was killed"));
    QCOMPARE(f->messages.texts().size(), 1);
    QVERIFY(f->messages.texts().first().contains(QStringLiteral("Recovered recording.mp3")));
    QTest::qWait(300);
    f->press();
    QCOMPARE(f->filed(QStringLiteral("Jazz FM")), QStringList{"Recorded_0.mp3"});

    // An empty leftover (killed before the encoder wrote a frame) holds
    // nothing to keep: it is not filed and not mentioned.
    f->messages.clear();
    f->folder.write("Recorded/Recording.mp3", QByteArray());
    f->press();
    QVERIFY(f->form().IsRecording);
    QTest::qWait(300);
    f->press();
    QCOMPARE(f->messages.texts(), QStringList());
    QCOMPARE(QDir(f->folder.file("Recorded")).entryList({"Recovered*"}, QDir::Files),
             QStringList{"Recovered recording.mp3"});
}

void RecorderWindowTest::record_encoderMissing_saysSoAndStaysIdle() {
    QVERIFY(QFile::remove(f->folder.file("system/lame")));
    QVERIFY(f->play(QStringLiteral("Jazz FM")));
    f->press();
    QVERIFY(!f->form().IsRecording);
    QCOMPARE(f->caption(), QStringLiteral("rec"));
    QCOMPARE(f->messages.texts().size(), 1);
    QVERIFY2(f->messages.texts().first().contains(QStringLiteral("\"system/lame\"")),
             qPrintable(f->messages.texts().first()));
    // Once the encoder is back, the next press records.
    QVERIFY(QFile::link(QStringLiteral("/usr/bin/lame"), f->folder.file("system/lame")));
    f->press();
    QVERIFY(f->form().IsRecording);
    QTest::qWait(300);
    f->press();
    QCOMPARE(f->filed(QStringLiteral("Jazz FM")), QStringList{"Recorded_0.mp3"});
}

void RecorderWindowTest::record_withoutStream_saysNoActiveStation() {
    const QString noStation = QStringLiteral("No active radio station!");
    f->press();
    QCOMPARE(f->messages.texts(), QStringList{noStation});
    QCOMPARE(f->caption(), QStringLiteral("rec"));

    // A station that was played, then one that failed to open: nothing is
    // current any more, so nothing can be recorded.
    QVERIFY(f->play(QStringLiteral("Jazz FM")));
    f->server.setRoute("/rock", StreamRoute::error(404));
    f->selectRow(QStringLiteral("Rock FM"));
    f->form().sListView1DblClick();
    QVERIFY(
        waitFor([&] { return f->form().Label4->text() == QLatin1String("not playing"); }, 20000));
    QVERIFY(f->workersDone());
    QCOMPARE(f->form().CurrentStream.load(), 0u);
    f->messages.clear();
    f->press();
    QCOMPARE(f->messages.texts(), (QStringList{noStation}));
    QVERIFY(!f->form().IsRecording);
    QVERIFY(!QFileInfo::exists(f->folder.file("Recorded/Rock FM")));
}

void RecorderWindowTest::record_diskFull_filesWhatWasRecordedSaysSoAndPlays_data() {
    QTest::addColumn<bool>("realDisk");
    QTest::addColumn<QString>("kept"); // the file filed; ".aac": the station's own AAC
    QTest::newRow("encoder's writes fail with ENOSPC") << false << "Long Song.mp3";
    QTest::newRow("small tmpfs fills up") << true << "Long Song.mp3";
    // The frames that did fit, as they came: no room is left for the .m4a.
    QTest::newRow("small tmpfs fills up, the station's own AAC") << true << "Long Song.aac";
}

void RecorderWindowTest::record_diskFull_filesWhatWasRecordedSaysSoAndPlays() {
    QFETCH(bool, realDisk);
    QFETCH(QString, kept);
    if (kept.endsWith(".aac")) {
        f->folder.write("settings/settings.dat", "[record]\r\nformat=original\r\n");
        StreamRoute aac =
            StreamRoute::audio(AudioSamples::tone(SampleFormat::Aac, ToneShape{.seconds = 60}));
        aac.contentType = "audio/aac";
        aac.bytesPerSecond = 16000;
        f->server.setRoute("/jazz", aac);
    }
    // About three seconds of the encoder's output fit.
    constexpr int Room = 48 * 1024;
    const QString recorded = f->folder.file("Recorded");
    struct Unmount {
        QString at;
        ~Unmount() {
            if (!at.isEmpty())
                ::umount2(QFile::encodeName(at).constData(), MNT_DETACH);
        }
    } unmount;
    struct Unset {
        ~Unset() { qunsetenv("TOLVANE_TEST_ENCODER_ROOM"); }
    } unset;
    if (realDisk) {
        QVERIFY(QDir().mkpath(recorded));
        const QByteArray options = "size=" + QByteArray::number(Room);
        if (::mount("tmpfs", QFile::encodeName(recorded).constData(), "tmpfs", 0,
                    options.constData()) != 0)
            QSKIP(qPrintable(QStringLiteral("mounting a tmpfs is not allowed here: %1")
                                 .arg(QString::fromLocal8Bit(strerror(errno)))));
        unmount.at = recorded;
    } else {
        QVERIFY(QFile::remove(f->folder.file("system/lame")));
        QVERIFY(QFile::link(QStringLiteral(FAULTY_ENCODER), f->folder.file("system/lame")));
        qputenv("TOLVANE_TEST_ENCODER_ROOM", QByteArray::number(Room));
    }

    f->server.setTitle("Long Song");
    QVERIFY(f->play(QStringLiteral("Jazz FM")));
    QVERIFY(f->waitForTitle(QStringLiteral("Long Song")));
    f->press();
    QVERIFY(f->form().IsRecording);
    QVERIFY(waitFor([&] { return !f->form().IsRecording; }, 15000));

    QCOMPARE(f->caption(), QStringLiteral("rec"));
    QCOMPARE(f->filed(QStringLiteral("Jazz FM")), QStringList{kept});
    QVERIFY(f->temporaryGone());
    const QString file = f->folder.file("Recorded/Jazz FM/" + kept);
    // Everything up to the fault; the last frame may be cut short, the ones
    // before it decode.
    QVERIFY(QFileInfo(file).size() > Room / 2);
    QCOMPARE(decodeErrors(file), QString());
    QVERIFY(mediaDurationSeconds(file) > 1.0);
    const QString why = realDisk ? QStringLiteral("Recording stopped: the disk is full.")
                                 : QStringLiteral("Recording stopped: the MP3 encoder ended "
                                                  "unexpectedly.");
    QCOMPARE(f->messages.texts(),
             QStringList{why + QStringLiteral(" What was recorded is saved as \"%1\".")
                                   .arg(QDir::toNativeSeparators(file))});

    // Playback goes on.
    QCOMPARE(f->form().Label4->text(), QStringLiteral("Loopback Radio"));
    QVERIFY(f->playing(f->form().CurrentStream.load()));
    QTest::qWait(800);
    QVERIFY(f->playing(f->form().CurrentStream.load()));
    QCOMPARE(f->messages.texts().size(), 1);
}

void RecorderWindowTest::split_cutsAtIntervalAndRestartsAfterInterval2() {
    f->folder.write("settings/settings.dat",
                    "[radio]\r\nseparate=true\r\ninterval=1\r\ninterval2=1\r\n");
    f->server.setTitle("First Artist - One");
    QVERIFY(f->play(QStringLiteral("Jazz FM")));
    QVERIFY(f->waitForTitle(QStringLiteral("First Artist - One")));
    f->press();
    QTest::qWait(500);

    f->server.setTitle("Second Artist - Two");
    QVERIFY(f->waitForTitle(QStringLiteral("Second Artist - Two")));
    QElapsedTimer sinceChange;
    sinceChange.start();
    QVERIFY(waitFor([&] { return !f->form().IsRecording; }, 5000));
    const qint64 cut = sinceChange.elapsed();
    QCOMPARE(f->caption(), QStringLiteral("rec"));
    QCOMPARE(f->filed(QStringLiteral("Jazz FM")), QStringList{"First Artist - One.mp3"});
    QVERIFY(waitFor([&] { return f->form().IsRecording; }, 5000));
    const qint64 restart = sinceChange.elapsed();
    QCOMPARE(f->caption(), QStringLiteral("..."));
    QVERIFY2(cut >= 900 && restart - cut >= 900,
             qPrintable(QStringLiteral("cut at %1 ms, restart at %2 ms").arg(cut).arg(restart)));

    QTest::qWait(500);
    f->press();
    QCOMPARE(f->filed(QStringLiteral("Jazz FM")),
             (QStringList{"First Artist - One.mp3", "Second Artist - Two.mp3"}));
    for (const QString& name : f->filed(QStringLiteral("Jazz FM")))
        QCOMPARE(decodeErrors(f->folder.file("Recorded/Jazz FM/" + name)), QString());
}

void RecorderWindowTest::split_secondSongChangeWithinDelay_doesNotPostponeTheCut() {
    f->folder.write("settings/settings.dat",
                    "[radio]\r\nseparate=true\r\ninterval=3\r\ninterval2=60\r\n");
    f->server.setTitle("One");
    QVERIFY(f->play(QStringLiteral("Jazz FM")));
    QVERIFY(f->waitForTitle(QStringLiteral("One")));
    f->press();

    f->server.setTitle("Two");
    QVERIFY(f->waitForTitle(QStringLiteral("Two")));
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    QTest::qWait(1500);
    f->server.setTitle("Three");
    QVERIFY(f->waitForTitle(QStringLiteral("Three")));
    const qint64 second = sinceFirst.elapsed();
    QVERIFY(waitFor([&] { return !f->form().IsRecording; }, 8000));
    const qint64 cut = sinceFirst.elapsed();
    // Counted from the first change (3 s), not from the second (3 s later
    // than it).
    QVERIFY2(
        cut >= 2900 && cut < second + 2500,
        qPrintable(QStringLiteral("second change at %1 ms, cut at %2 ms").arg(second).arg(cut)));
    QCOMPARE(f->filed(QStringLiteral("Jazz FM")), QStringList{"One.mp3"});
    QVERIFY(f->form().Timer6->Enabled());
}

void RecorderWindowTest::songs_eachFileHoldsItsOwnSong_data() {
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<int>("seconds");           // of each song
    QTest::addColumn<int>("pressMs");           // into the first song
    QTest::addColumn<QList<int>>("wholeSongs"); // whose files must hold them whole
    QTest::addColumn<bool>("stationBytes");     // the files hold the station's own frames
    QTest::addColumn<QString>(
        "suffix"); // of the files: ".m4a" an AAC station, ".ogg" Vorbis, ".opus" Opus
    const QByteArray exact("[radio]\r\nseparate=true\r\ninterval=1\r\ninterval2=1\r\n"
                           "[record]\r\nexact=true\r\n");
    const QByteArray own = exact + "format=original\r\n";
    QTest::newRow("exact cut, MP3 by lame")
        << exact << 4 << 0 << QList<int>{1, 2} << false << ".mp3";
    QTest::newRow("exact cut, the station's own MP3")
        << own << 4 << 0 << QList<int>{1, 2} << true << ".mp3";
    QTest::newRow("exact cut, the station's own AAC in .m4a")
        << own << 4 << 0 << QList<int>{1, 2} << true << ".m4a";
    QTest::newRow("from the song's start, pressed 8 s into it")
        << exact + "fromstart=true\r\n"
        << 10 << 8000 << QList<int>{0} << false << ".mp3";
    QTest::newRow("from the song's start, the station's own AAC")
        << own + "fromstart=true\r\n"
        << 10 << 8000 << QList<int>{0} << true << ".m4a";
    // A chained Ogg stream: each song a stream of its own, its title in its
    // comments.
    QTest::newRow("exact cut, the station's own Vorbis")
        << own << 4 << 0 << QList<int>{1, 2} << false << ".ogg";
    QTest::newRow("exact cut, the station's own Opus")
        << own << 4 << 0 << QList<int>{1, 2} << false << ".opus";
    QTest::newRow("from the song's start, the station's own Vorbis")
        << own + "fromstart=true\r\n"
        << 10 << 8000 << QList<int>{0} << false << ".ogg";
}

// A station of tone songs, each title at its song's first byte, recorded
// into a later song: each song the recording saw whole is filed whole
// under its title, with next to nothing of its neighbours.
void RecorderWindowTest::songs_eachFileHoldsItsOwnSong() {
    QFETCH(QByteArray, settings);
    QFETCH(int, seconds);
    QFETCH(int, pressMs);
    QFETCH(QList<int>, wholeSongs);
    QFETCH(bool, stationBytes);
    QFETCH(QString, suffix);
    f->folder.write("settings/settings.dat", settings);
    SongStation station;
    station.seconds = seconds;
    station.format = suffix == ".m4a"    ? SampleFormat::Aac
                     : suffix == ".ogg"  ? SampleFormat::Vorbis
                     : suffix == ".opus" ? SampleFormat::Opus
                                         : SampleFormat::Mp3;
    QVERIFY2(station.make(), AudioSamples::lastError().c_str());
    const auto title = [&](int i) { return QString::fromStdString(station.songs[i].title); };
    StreamRoute route = station.route(16000);
    route.burstBytes = 64 * 1024;
    f->server.setRoute("/jazz", route);
    QVERIFY(f->play(QStringLiteral("Jazz FM")));
    QVERIFY(f->waitForTitle(title(0)));
    QTest::qWait(pressMs);
    f->press();
    for (int i = 1; i <= wholeSongs.back() + 1; ++i)
        QVERIFY(f->waitForTitle(title(i % 3)));
    QTest::qWait(1000);
    f->press();
    QVERIFY(f->form().waitForRecordingTags(5000));
    for (int i : wholeSongs) {
        const QString file = f->folder.file("Recorded/Jazz FM/" + title(i) + suffix);
        // (The station's own MP3 keeps the zeros the station pads its songs
        // with, which ffmpeg reports.)
        if (!stationBytes || suffix != ".mp3")
            QCOMPARE(decodeErrors(file), QString());
        const QMap<QString, QString> tags = mediaTags(file);
        QCOMPARE(tags.value("artist") + " - " + tags.value("title"), title(i));
        QCOMPARE(tags.value("album"), QStringLiteral("Jazz FM"));
        // An Ogg file begins with its own stream's headers and its time.
        if (suffix == ".ogg" || suffix == ".opus")
            QVERIFY(std::abs(mediaStartSeconds(file)) < 0.05);
        const std::vector<ToneRun> runs = toneRuns(decodedPcm(file), station.frequencies);
        qint64 others = 0;
        for (int hz : station.frequencies)
            others += hz == station.frequencies[i] ? 0 : framesOfTone(runs, hz);
        const qint64 own = framesOfTone(runs, station.frequencies[i]);
        qInfo("%s: %.2f s of its song, %.2f s of others", qPrintable(title(i)), own / 44100.0,
              others / 44100.0);
        QVERIFY(own >= qint64(seconds) * 44100 * 95 / 100);
        QVERIFY(others <= 44100 * 3 / 10);
        if (stationBytes && suffix == ".m4a") {
            // The song's own AAC frames from its first one, without their
            // ADTS headers.
            const QByteArray sent = adtsPayloads(
                QByteArray::fromStdString(AudioSamples::readFile(station.songs[i].file)));
            const QByteArray kept = mediaPackets(file);
            QVERIFY(kept.size() >= sent.size() * 95 / 100);
            QVERIFY(sent.startsWith(kept));
        } else if (stationBytes) {
            // After the tag, the song's own frames from its first one.
            QFile recorded(file);
            QVERIFY(recorded.open(QIODevice::ReadOnly));
            QByteArray bytes = recorded.readAll();
            bytes.remove(0, id3v2Tag(bytes).size());
            QByteArray sent =
                QByteArray::fromStdString(AudioSamples::readFile(station.songs[i].file));
            QVERIFY(bytes.size() >= sent.size() * 95 / 100);
            sent.resize(std::max(sent.size(), bytes.size()), '\0'); // the zeros that pad it
            QVERIFY(sent.startsWith(bytes));
        }
    }
}

// No song change has been seen: the recording begins with the stream's
// first audio, also for the first station played after the start.
void RecorderWindowTest::fromStart_stationWithoutTitles_recordsFromItsFirstAudio() {
    f->folder.write("settings/settings.dat", "[record]\r\nfromstart=true\r\n");
    QVERIFY(f->play(QStringLiteral("Jazz FM")));
    QCOMPARE(f->form().SongTitle(), QString());
    QTest::qWait(3000);
    f->press();
    QTest::qWait(1000);
    f->press();
    const QStringList files = f->filed(QStringLiteral("Jazz FM"));
    QCOMPARE(files.size(), 1);
    const double duration = mediaDurationSeconds(f->folder.file("Recorded/Jazz FM/" + files[0]));
    QVERIFY2(duration >= 3.5, qPrintable(QStringLiteral("%1 s in the file").arg(duration)));
}

void RecorderWindowTest::split_icecastStation_givesOneCleanFilePerSong() {
    // A real Icecast server fed by ffmpeg, its titles set through its admin
    // interface, as a station's software does.
    IcecastServer icecast;
    QVERIFY2(icecast.isRunning(), qPrintable(icecast.errorString()));
    QVERIFY2(icecast.startSource(QStringLiteral("/live.mp3")), qPrintable(icecast.log()));
    QVERIFY(icecast.setTitle(QStringLiteral("/live.mp3"), QStringLiteral("Artist A - First")));
    f->timedQuit();
    f.reset();
    f = std::make_unique<RecorderFixture>();
    QVERIFY(f->startRecorderPlayer(icecast.mountUrl(QStringLiteral("/live.mp3")).toString()));
    f->folder.write("settings/settings.dat",
                    "[radio]\r\nseparate=true\r\ninterval=1\r\ninterval2=1\r\n");

    QVERIFY(f->play(QStringLiteral("Icecast FM"), QStringLiteral("Tolvane Test Tone")));
    QVERIFY(f->waitForTitle(QStringLiteral("Artist A - First")));
    f->press();
    QTest::qWait(1000);
    // Each new title cuts the running file and starts the next one.
    for (const QString& title :
         {QStringLiteral("Artist B - Second"), QStringLiteral("Artist C - Third")}) {
        const int filedBefore = f->filed(QStringLiteral("Icecast FM")).size();
        QVERIFY(icecast.setTitle(QStringLiteral("/live.mp3"), title));
        QVERIFY(f->waitForTitle(title));
        QVERIFY(waitFor([&] { return f->filed(QStringLiteral("Icecast FM")).size() > filedBefore; },
                        5000));
        QVERIFY(waitFor([&] { return f->form().IsRecording; }, 5000));
        QTest::qWait(1000);
    }
    f->press();
    const QStringList files = f->filed(QStringLiteral("Icecast FM"));
    QCOMPARE(files, (QStringList{"Artist A - First.mp3", "Artist B - Second.mp3",
                                 "Artist C - Third.mp3"}));
    for (const QString& name : files) {
        const QString path = f->folder.file("Recorded/Icecast FM/" + name);
        QCOMPARE(decodeErrors(path), QString());
        QVERIFY2(mediaDurationSeconds(path) > 0.8, qPrintable(name));
    }
}

void RecorderWindowTest::tags_readBackFromEachFiledRecording_data() {
    QTest::addColumn<bool>("split");      // two songs cut by the split; else one, by hand
    QTest::addColumn<bool>("pictures");   // songimage=true: a picture for each song
    QTest::addColumn<QString>("charset"); // the station record's charset key
    QTest::addColumn<QByteArray>("sent"); // the first title as the station sends it
    QTest::addColumn<QString>("shown");   // that title in the window and the file's name
    QTest::addColumn<QString>("artist");
    QTest::addColumn<QString>("title");

    QStringEncoder cp1251("windows-1251");
    const QString kino = QString::fromUtf8("Кино");
    const QString song = QString::fromUtf8("Группа крови");
    const QByteArray sentKino = cp1251.encode(kino);
    const QByteArray sentBoth = cp1251.encode(kino + " - " + song);
    QTest::newRow("by hand, with the song's picture")
        << false << true << QString() << QByteArray("Artist - Song") << "Artist - Song"
        << "Artist"
        << "Song";
    QTest::newRow("split, each file with its own song's picture")
        << true << true << QString() << QByteArray("First Artist - One") << "First Artist - One"
        << "First Artist"
        << "One";
    QTest::newRow("windows-1251 station with its charset")
        << false << false << "windows-1251" << sentBoth << kino + " - " + song << kino << song;
    QTest::newRow("windows-1251 station without a charset: the guess, all title")
        << false << false << QString() << sentKino << QString::fromLatin1(sentKino) << QString()
        << QString::fromLatin1(sentKino);
}

void RecorderWindowTest::tags_readBackFromEachFiledRecording() {
    QFETCH(bool, split);
    QFETCH(bool, pictures);
    QFETCH(QString, charset);
    QFETCH(QByteArray, sent);
    QFETCH(QString, shown);
    QFETCH(QString, artist);
    QFETCH(QString, title);

    HttpTestServer site;
    f->pointServicesAt(site.url(QString()));
    const QByteArray red = solidJpeg(Qt::red);
    const QByteArray blue = solidJpeg(Qt::blue);
    site.setRoute("/Download/getimage/getimage.php", "cover\n");
    site.setRoute("/Download/getimage/imgsize.php", red);
    auto pictureFetches = [&] { return site.hits("/Download/getimage/imgsize.php"); };
    f->folder.write("settings/settings.dat",
                    QByteArray("[radio]\r\n") + (pictures ? "songimage=true\r\n" : "") +
                        (split ? "separate=true\r\ninterval=3\r\ninterval2=1\r\n" : ""));
    if (!charset.isEmpty()) {
        QByteArray catalog = f->folder.read("radiolist.dat");
        catalog.replace("[Jazz FM]\r\n", "[Jazz FM]\r\ncharset=" + charset.toLatin1() + "\r\n");
        f->folder.write("radiolist.dat", catalog);
        f->form().Button3Click();
    }

    // The date tag holds whole seconds.
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    f->server.setTitle(sent.toStdString());
    QVERIFY(f->play(QStringLiteral("Jazz FM")));
    QVERIFY(f->waitForTitle(shown));
    QCOMPARE(f->form().Label3->text(), shown);
    f->press();
    QVERIFY(f->form().IsRecording);
    if (pictures)
        QVERIFY(waitFor([&] { return pictureFetches() == 1; }, 8000));

    struct Song {
        QString artist, title;
        QByteArray picture;
    };
    QMap<QString, Song> songs{{shown + ".mp3", {artist, title, pictures ? red : QByteArray()}}};
    if (split) {
        // The next song's picture comes before the first song's file is cut.
        const QString next = QStringLiteral("Second Artist - Two");
        site.setRoute("/Download/getimage/imgsize.php", blue);
        f->server.setTitle(next.toStdString());
        QVERIFY(f->waitForTitle(next));
        QVERIFY(waitFor([&] { return pictureFetches() == 2; }, 8000));
        QVERIFY(f->form().IsRecording);
        QVERIFY(waitFor([&] { return !f->form().IsRecording; }, 8000));
        QVERIFY(waitFor([&] { return f->form().IsRecording; }, 8000));
        songs.insert(next + ".mp3", {QStringLiteral("Second Artist"), QStringLiteral("Two"), blue});
    }
    QTest::qWait(500);
    f->press();
    const QDateTime after = QDateTime::currentDateTime();
    QVERIFY(f->form().waitForRecordingTags(30000));

    // Nothing of the tagging is left beside the recordings.
    const QDir station(f->folder.file("Recorded/Jazz FM"));
    QCOMPARE(station.entryList(QDir::Files | QDir::Hidden, QDir::Name), QStringList(songs.keys()));
    for (auto it = songs.cbegin(); it != songs.cend(); ++it) {
        const QString path = station.filePath(it.key());
        const QMap<QString, QString> tags = mediaTags(path);
        QCOMPARE(tags.value("artist"), it->artist);
        QCOMPARE(tags.value("title"), it->title);
        QCOMPARE(tags.value("album"), QStringLiteral("Jazz FM"));
        const QDateTime date = QDateTime::fromString(tags.value("date"), Qt::ISODate);
        QVERIFY2(date >= before && date <= after, qPrintable(tags.value("date")));
        const QByteArray tag = id3v2Tag(f->folder.read("Recorded/Jazz FM/" + it.key()));
        QCOMPARE(tag.size() > 3 ? int(tag[3]) : 0, 4); // ID3v2.4
        QVERIFY(tag.contains("WOAS") && tag.contains("http://jazz.example"));
        // The picture of that song, and only that one.
        QCOMPARE(attachedPictures(path),
                 it->picture.isEmpty() ? QStringList() : QStringList{"mjpeg"});
        QCOMPARE(tag.contains(red), it->picture == red);
        QCOMPARE(tag.contains(blue), it->picture == blue);
        QCOMPARE(decodeErrors(path), QString());
        QVERIFY(mediaDurationSeconds(path) > 0);
    }
    QCOMPARE(f->messages.texts(), QStringList());
}

QTEST_MAIN(RecorderWindowTest)
#include "test_recorder_window.moc"
