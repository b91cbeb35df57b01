// Kill trials: a child process writes every kind of file the player writes,
// through the player's own code, and is killed with SIGKILL at a random
// moment, a hundred times. After each kill every file is whole (the old
// content or the new, never a mix, a cut or an empty file), the recording
// that was being made decodes, and a recording left by the trial before is
// kept (as the leftover, or filed as a recovered recording), never lost.

#include "AudioSamples.h"
#include "KillTrialFiles.h"
#include "StreamServer.h"
#include "TestSupport.h"
#include "common/Paths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <csignal>
#include <unistd.h>

using namespace tolvane;
using namespace tolvane::test;
using namespace tolvane::test::killtrial;

namespace {

constexpr int Trials = 100;
const QByteArray Catalog = "[Rock FM]\r\ngenre=Rock\r\nlanguage=English\r\n"
                           "streaming=http://127.0.0.1:9/rock\r\nbitrate=128\r\n";

// What ffmpeg reports while decoding the files, all in one run (empty:
// they decode cleanly).
QString decodeErrors(const QStringList& paths) {
    QStringList args{"-v", "error"};
    for (const QString& path : paths)
        args << "-i" << path;
    for (qsizetype i = 0; i < paths.size(); ++i)
        args << "-map" << QStringLiteral("%1:a").arg(i);
    args << "-f"
         << "null"
         << "-";
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), args);
    if (!ffmpeg.waitForFinished(60000))
        return QStringLiteral("ffmpeg did not finish");
    return QString::fromUtf8(ffmpeg.readAllStandardError()) +
           (ffmpeg.exitCode() != 0 ? QStringLiteral("exit %1").arg(ffmpeg.exitCode()) : QString());
}

// Walks the MPEG-1 Layer III frames of a file: every frame but the last
// must be whole with a valid header; the last may be cut short. Returns the
// number of whole frames, or -1 (with why) when the walk breaks.
int wholeFrames(const QByteArray& mp3, QString& why) {
    static const int kbps[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                 112, 128, 160, 192, 224, 256, 320, 0};
    static const int rates[4] = {44100, 48000, 32000, 0};
    qsizetype at = 0;
    int frames = 0;
    while (at + 4 <= mp3.size()) {
        const auto* h = reinterpret_cast<const unsigned char*>(mp3.constData() + at);
        const int bitrate = kbps[h[2] >> 4];
        const int rate = rates[(h[2] >> 2) & 3];
        if (h[0] != 0xFF || (h[1] & 0xFE) != 0xFA || bitrate == 0 || rate == 0) {
            why = QStringLiteral("no frame header at byte %1").arg(at);
            return -1;
        }
        const qsizetype length = 144 * 1000 * bitrate / rate + ((h[2] >> 1) & 1);
        if (at + length > mp3.size())
            break; // the last frame, cut short by the kill
        at += length;
        ++frames;
    }
    return frames;
}

QByteArray hashOf(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

// A recording without the ID3v2 tag it begins with (a recovered recording
// is tagged once it is kept).
QByteArray withoutTag(const QByteArray& file) {
    if (!file.startsWith("ID3") || file.size() < 10)
        return file;
    qsizetype size = 10;
    for (int i = 6; i < 10; ++i)
        size += qsizetype(file[i] & 0x7F) << (7 * (9 - i));
    return file.mid(size);
}

// Hashes of the recordings recovered from earlier sessions, without their
// tags.
QSet<QByteArray> recoveredRecordings(const TestFolder& folder) {
    QSet<QByteArray> hashes;
    const QDir dir(folder.file("Recorded"));
    for (const QString& name :
         dir.entryList({QStringLiteral("Recovered recording*.mp3")}, QDir::Files)) {
        const QByteArray bytes = withoutTag(folder.read("Recorded/" + name));
        if (!bytes.isEmpty()) // an empty one would be a fault of its own
            hashes.insert(hashOf(bytes));
    }
    return hashes;
}

} // namespace

class KillTrialsTest : public QObject {
    Q_OBJECT
private slots:
    void killedAtRandom_everyFileIsWhole();
};

void KillTrialsTest::killedAtRandom_everyFileIsWhole() {
    const std::string mp3 = AudioSamples::tone(SampleFormat::Mp3, ToneShape{});
    QVERIFY2(!mp3.empty(), AudioSamples::lastError().c_str());
    StreamServer server;
    QVERIFY(server.start());
    StreamRoute radio = StreamRoute::audio(mp3);
    radio.bytesPerSecond = 16000;
    radio.burstBytes = 32 * 1024;
    server.setRoute("/radio", radio);
    const QByteArray download = QByteArray(200 * 1024, 'd') + "end";
    server.setRoute("/download", StreamRoute::playlist(download.toStdString()));

    TestFolder folder;
    folder.write("radiolist.dat", Catalog);
    folder.write("settings/settings.dat", "[radio]\r\n");
    QDir().mkpath(folder.file("system"));
    // The real encoder, writing each frame out as it is made, so that a
    // kill soon after the start still finds frames in the file.
    folder.write("system/lame", "#!/bin/sh\nexec /usr/bin/lame --flush \"$@\"\n");
    QVERIFY(
        QFile::setPermissions(folder.file("system/lame"),
                              QFile::permissions(folder.file("system/lame")) | QFile::ExeOwner));

    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("kill trials seed: %u", seed);
    QRandomGenerator random(seed);

    QElapsedTimer clock;
    clock.start();
    int generation = 0;
    QTemporaryDir killed; // copies of the killed recordings, decoded at the end
    QStringList toDecode;
    qint64 lived = 0;    // ms the writers ran after they were ready
    QByteArray leftover; // hash of the recording the trial before left behind
    for (int trial = 0; trial < Trials; ++trial) {
        QProcess child;
        // Its own process group: the kill takes the encoder along, as a
        // crash of the whole session would.
        child.setChildProcessModifier([] { ::setpgid(0, 0); });
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(FILE_WRITER),
                    {QString::fromStdString(server.url("/radio")),
                     QString::fromStdString(server.url("/download")), QString::number(generation)});
        QVERIFY(child.waitForStarted(5000));
        const bool ready = child.waitForReadyRead(10000);
        QVERIFY2(ready, qPrintable(QStringLiteral("trial %1: the writer did not start, exit %2")
                                       .arg(trial)
                                       .arg(child.exitCode())));
        QElapsedTimer started;
        started.start();
        ::usleep((20 + random.bounded(300)) * 1000);
        ::kill(-static_cast<pid_t>(child.processId()), SIGKILL);
        // A writer inside fsync() dies only once the disk has answered,
        // which on a busy machine can take seconds.
        QVERIFY(child.waitForFinished(60000));
        lived += started.elapsed();
        generation += 1000; // later generations never repeat earlier ones

        const QString where = QStringLiteral("trial %1 (seed %2): ").arg(trial).arg(seed);
        for (const QString& name : {QStringLiteral("settings/settings.dat")}) {
            const QString wrong =
                folder.read(name) == "[radio]\r\n" ? QString() : checkSettings(folder.file(name));
            QVERIFY2(wrong.isEmpty(), qPrintable(where + name + ": " + wrong));
        }
        for (const QString& name : {QStringLiteral("radiouser.dat"), QStringLiteral("temp.dat"),
                                    QStringLiteral("favorites.dat")}) {
            if (!folder.exists(name))
                continue; // not written yet
            const QString wrong = checkStation(folder.file(name));
            QVERIFY2(wrong.isEmpty(), qPrintable(where + name + ": " + wrong));
        }
        if (folder.exists("temp.dat"))
            QVERIFY2(folder.read("temp.dat").startsWith(Catalog), qPrintable(where + "temp.dat"));
        if (folder.exists("download.bin"))
            QVERIFY2(folder.read("download.bin") == download, qPrintable(where + "download"));

        // The trial before's recording is still there, or was recovered.
        const QString recording = folder.file("Recorded/Recording.mp3");
        const QByteArray now = QFileInfo::exists(recording)
                                   ? hashOf(folder.read("Recorded/Recording.mp3"))
                                   : QByteArray();
        if (!leftover.isEmpty())
            QVERIFY2(now == leftover || recoveredRecordings(folder).contains(leftover),
                     qPrintable(where + "the earlier recording was lost"));
        if (!now.isEmpty() && now != leftover && QFileInfo(recording).size() > 0) {
            QString why;
            const int frames = wholeFrames(folder.read("Recorded/Recording.mp3"), why);
            QVERIFY2(frames >= 0, qPrintable(where + "recording: " + why));
            // The first frame holds the encoder's information, not audio.
            if (frames > 2) {
                const QString copy = killed.filePath(QStringLiteral("trial-%1.mp3").arg(trial));
                QVERIFY(QFile::copy(recording, copy));
                toDecode << copy;
            }
        }
        leftover = QFileInfo(recording).size() > 0 ? now : QByteArray();
    }
    // Nothing recovered is empty.
    const QDir recorded(folder.file("Recorded"));
    for (const QFileInfo& kept : recorded.entryInfoList({"Recovered recording*.mp3"}, QDir::Files))
        QVERIFY2(kept.size() > 0, qPrintable(kept.fileName()));
    // Each killed recording decodes (its frames before the last are whole).
    const QString errors = decodeErrors(toDecode);
    QVERIFY2(errors.isEmpty(), qPrintable(QStringLiteral("seed %1: ").arg(seed) + errors));
    qInfo("%d trials in %lld ms (writers ran %lld ms), %lld killed recordings decoded", Trials,
          clock.elapsed(), lived, static_cast<long long>(toDecode.size()));
    QVERIFY(toDecode.size() > Trials / 2);
}

QTEST_MAIN(KillTrialsTest)
#include "test_kill_trials.moc"
