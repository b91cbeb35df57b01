// The real player program from start to quit, driven from outside as a
// user does: a program folder laid out by scripts/layout.sh with a catalog
// of two stations on a private Icecast server, the player on a private X
// display (Xvfb) and a private PulseAudio server, keys typed through
// xdotool. It plays the first station, records with splitting on while the
// station's titles change, changes to the second station and quits with
// Ctrl+E. Then: the player ended at once with status 0, one decodable MP3
// per song lies in the station's folder named after the song, the sound
// server heard the player, and the settings file was written whole.
// Skipped when Xvfb, xdotool, Icecast or PulseAudio is missing.

#include "ChildProcess.h"
#include "IcecastServer.h"
#include "Mp3Check.h"
#include "PulseServer.h"
#include "TestSupport.h"
#include "XvfbDesktop.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace tolvane::test;

namespace {

Desktop* desktop = nullptr;

const QString StationOne = QStringLiteral("Loopback One");
const QString StationTwo = QStringLiteral("Loopback Two");
const QStringList Titles = {QStringLiteral("Artist A - First"), QStringLiteral("Artist B - Second"),
                            QStringLiteral("Artist C - Third")};
// The window's keyboard order around the station list: back from the list
// through the genre and language boxes, the volume bar, "mute", ">>", "rec",
// "stop" to "play". None of these has a shortcut of its own.
constexpr int TabsFromListToRecord = 6;
constexpr int TabsFromRecordToPlay = 2;

// Runs xdotool on the test's display; its output, or nullopt when it failed.
std::optional<QString> xdotool(const QStringList& arguments, int timeoutMs = 10000) {
    QProcess p;
    p.start(QStringLiteral("xdotool"), arguments);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        return std::nullopt;
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return std::nullopt;
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

} // namespace

class EndToEndXvfbTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void playRecordSplitChangeStationQuit_asAUserDoes();

private:
    // Lays out the program folder in `build` from the built programs.
    bool layOut(const QString& build);
    // The player's main window, once it is mapped.
    std::optional<QString> mainWindow();
    // Gives the player's main window the keyboard and types the keys.
    bool keys(const QStringList& names);
    bool waitForFile(const QString& path, int timeoutMs);
    // Presses Enter in every other window of the display until none has
    // shown for two seconds; false when they keep coming.
    bool answerOtherWindows();

    QString window_;
    QString folder_;
};

void EndToEndXvfbTest::initTestCase() {
    if (!desktop->ready())
        QSKIP("no Xvfb on this machine");
    for (const char* program : {"xdotool", "icecast2", "pulseaudio", "ffmpeg", "lame"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(program)));
    }
}

bool EndToEndXvfbTest::layOut(const QString& build) {
    // The programs the build made, where the layout script looks for them.
    QDir().mkpath(build + "/src/app");
    QDir().mkpath(build + "/src/update");
    for (const auto& [from, to] :
         {std::pair{QStringLiteral(TOLVANE_PROGRAM), QStringLiteral("/src/app/tolvane")},
          std::pair{QStringLiteral(TOLVANE_WEBVIEW),
                    QStringLiteral("/src/app/libtolvane-webview.so")}}) {
        if (!QFile::link(from, build + to))
            return false;
    }
    QProcess script;
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(QStringLiteral("bash"), {sourceDir() + "/scripts/layout.sh", build});
    if (!script.waitForFinished(60000) || script.exitCode() != 0) {
        qWarning("%s", script.readAll().constData());
        return false;
    }
    return QFileInfo(build + "/Tolvane/tolvane").isExecutable();
}

std::optional<QString> EndToEndXvfbTest::mainWindow() {
    // Message boxes carry the same name; the main window is the largest.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 30000) {
        const QString ids =
            xdotool({"search", "--onlyvisible", "--name", "^Tolvane$"}).value_or(QString());
        QString largest;
        qint64 largestArea = 0;
        for (const QString& id : ids.split(u'\n', Qt::SkipEmptyParts)) {
            const QString shell = xdotool({"getwindowgeometry", "--shell", id}).value_or(QString());
            qint64 width = 0, height = 0;
            for (const QString& line : shell.split(u'\n')) {
                if (line.startsWith("WIDTH="))
                    width = line.mid(6).toLongLong();
                else if (line.startsWith("HEIGHT="))
                    height = line.mid(7).toLongLong();
            }
            if (width * height > largestArea) {
                largestArea = width * height;
                largest = id;
            }
        }
        if (!largest.isEmpty())
            return largest;
        QTest::qWait(200);
    }
    return std::nullopt;
}

bool EndToEndXvfbTest::keys(const QStringList& names) {
    if (!xdotool({"windowfocus", "--sync", window_}))
        return false;
    QTest::qWait(100);
    return xdotool(QStringList{"key", "--clearmodifiers", "--delay", "80"} + names).has_value();
}

bool EndToEndXvfbTest::waitForFile(const QString& path, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!QFileInfo::exists(path)) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(100);
    }
    return true;
}

bool EndToEndXvfbTest::answerOtherWindows() {
    QElapsedTimer clock, quiet;
    clock.start();
    quiet.start();
    while (quiet.elapsed() < 2000) {
        if (clock.elapsed() > 30000)
            return false;
        window_ = mainWindow().value_or(window_);
        const QString visible =
            xdotool({"search", "--onlyvisible", "--name", "."}).value_or(QString());
        for (const QString& id : visible.split(u'\n', Qt::SkipEmptyParts)) {
            if (id == window_)
                continue;
            const QString name = xdotool({"getwindowname", id}).value_or(QString());
            qInfo("answering the window \"%s\" with Enter", qPrintable(name));
            xdotool({"windowfocus", "--sync", id});
            xdotool({"key", "Return"});
            quiet.restart();
        }
        QTest::qWait(250);
    }
    return true;
}

void EndToEndXvfbTest::playRecordSplitChangeStationQuit_asAUserDoes() {
    PulseServer pulse;
    QVERIFY2(pulse.isRunning(), qPrintable(pulse.errorString()));
    IcecastServer icecast;
    QVERIFY2(icecast.isRunning(), qPrintable(icecast.errorString()));
    IcecastServer::Source two;
    two.toneHz = 660;
    QVERIFY2(icecast.startSource(QStringLiteral("/one.mp3")), qPrintable(icecast.log()));
    QVERIFY2(icecast.startSource(QStringLiteral("/two.mp3"), two), qPrintable(icecast.log()));
    QVERIFY(icecast.setTitle(QStringLiteral("/one.mp3"), Titles[0]));
    QVERIFY(icecast.setTitle(QStringLiteral("/two.mp3"), QStringLiteral("Other - Station")));

    // The program folder, its catalog the two mounts, every outside host a
    // closed local port; splitting on, one second each way.
    QTemporaryDir work;
    QVERIFY(work.isValid());
    QVERIFY(layOut(work.path()));
    folder_ = work.path() + "/Tolvane";
    const QByteArray urlOne = icecast.mountUrl(QStringLiteral("/one.mp3")).toEncoded();
    const QByteArray urlTwo = icecast.mountUrl(QStringLiteral("/two.mp3")).toEncoded();
    QByteArray services = "[services]\n";
    for (const char* key :
         {"main", "radio", "site", "lyrics", "facebook", "twitter", "facebookpage", "twitterpage"})
        services += QByteArray(key) + "=http://127.0.0.1:9\n";
    QVERIFY(writeFile(folder_ + "/settings/services.dat", services));
    QVERIFY(writeFile(folder_ + "/radiolist.dat",
                      "[" + StationOne.toUtf8() + "]\r\ngenre=Test\r\nlanguage=English\r\n" +
                          "streaming=" + urlOne + "\r\nwebsite=http://127.0.0.1:9\r\n" +
                          "bitrate=128\r\n\r\n[" + StationTwo.toUtf8() +
                          "]\r\ngenre=Test\r\nlanguage=English\r\nstreaming=" + urlTwo +
                          "\r\nwebsite=http://127.0.0.1:9\r\nbitrate=128\r\n"));
    const QByteArray settingsBefore = "[radio]\r\nwebsite=http://127.0.0.1:9\r\nupdate=false\r\n"
                                      "Volume=80\r\nseparate=true\r\ninterval=1\r\ninterval2=1\r\n"
                                      "[record]\r\nrecdir=\r\n";
    QVERIFY(writeFile(folder_ + "/settings/settings.dat", settingsBefore));
    const QStringList settingsFiles = QDir(folder_ + "/settings").entryList(QDir::Files);

    // The sound server's output from before the start to after the quit.
    std::unique_ptr<PulseRecording> heard = pulse.startRecording();
    QVERIFY(heard && heard->isRunning());

    QProcess player;
    player.setWorkingDirectory(folder_);
    player.setProcessEnvironment(pulse.clientEnvironment());
    player.setStandardOutputFile(work.path() + "/player.log");
    player.setStandardErrorFile(work.path() + "/player.log", QIODevice::Append);
    dieWithParent(player);
    player.start(folder_ + "/tolvane", QStringList());
    QVERIFY(player.waitForStarted(10000));
    const auto log = [&] {
        QFile f(work.path() + "/player.log");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };

    const std::optional<QString> window = mainWindow();
    QVERIFY2(window, log().constData());
    window_ = *window;
    // The update pass of the start finds no update site and says so; the
    // user answers every box with Enter until only the player is left.
    QVERIFY(answerOtherWindows());

    // The first station: End and Home select it in the list, which has the
    // focus on its first row but no selection yet, and "play" plays it.
    // (Enter in the list plays only once a station has been current.)
    QStringList toPlay{"End", "Home"};
    for (int i = 0; i < TabsFromListToRecord + TabsFromRecordToPlay; ++i)
        toPlay << "shift+Tab";
    QVERIFY(keys(toPlay << "space"));
    QVERIFY2(waitFor([&] { return pulse.somethingPlaying(); }, 20000), log().constData());
    const std::optional<QList<PulseSinkInput>> inputs = pulse.sinkInputs();
    QVERIFY(inputs && !inputs->isEmpty());
    QTest::qWait(2000); // the first title arrives with the stream

    // "rec", reached with the keyboard; the encoder's temporary file shows
    // that the recording runs.
    const QString temporary = folder_ + "/Recorded/Recording.mp3";
    QStringList toRecord;
    for (int i = 0; i < TabsFromRecordToPlay; ++i)
        toRecord << "Tab";
    QVERIFY(keys(toRecord << "space"));
    QVERIFY2(waitForFile(temporary, 5000), "the keys did not reach the record button");
    QTest::qWait(3000);

    // Each new title cuts the running file a second after the player hears
    // it, and the next file starts a second later.
    const QString stationFolder = folder_ + "/Recorded/" + StationOne;
    for (int song = 1; song < Titles.size(); ++song) {
        QVERIFY(icecast.setTitle(QStringLiteral("/one.mp3"), Titles[song]));
        QVERIFY2(waitForFile(stationFolder + "/" + Titles[song - 1] + ".mp3", 30000),
                 qPrintable(QDir(stationFolder).entryList(QDir::Files).join(u'|')));
        QVERIFY(waitForFile(temporary, 5000));
        QTest::qWait(3000);
    }

    // The second station: back to the list, Down and Enter. The running
    // recording is filed under the station it was made of.
    QStringList toList;
    for (int i = 0; i < TabsFromListToRecord; ++i)
        toList << "Tab";
    QVERIFY(keys(toList << "Down"
                        << "Return"));
    QVERIFY(waitForFile(stationFolder + "/" + Titles.last() + ".mp3", 10000));
    QTest::qWait(2000);
    QVERIFY(pulse.somethingPlaying());

    // Ctrl+E quits.
    QElapsedTimer quitting;
    quitting.start();
    QVERIFY(keys({"ctrl+e"}));
    QVERIFY2(player.waitForFinished(10000), log().constData());
    const qint64 quitMs = quitting.elapsed();
    qInfo("quit in %lld ms", static_cast<long long>(quitMs));
    QCOMPARE(player.exitStatus(), QProcess::NormalExit);
    QVERIFY2(player.exitCode() == 0, log().constData());
    const PcmLevels levels = measurePcm(heard->stop());

    // One whole MP3 per song, named after it, and nothing else.
    QStringList expected;
    for (const QString& title : Titles)
        expected << title + ".mp3";
    QCOMPARE(QDir(stationFolder).entryList(QDir::Files, QDir::Name), expected);
    QVERIFY(!QFileInfo::exists(temporary));
    QVERIFY(!QFileInfo::exists(folder_ + "/Recorded/" + StationTwo));
    for (const QString& name : expected) {
        const QString file = stationFolder + "/" + name;
        QCOMPARE(decodeErrors(file), QString());
        const double seconds = mediaDurationSeconds(file);
        qInfo("%s: %.2f s", qPrintable(name), seconds);
        QVERIFY2(seconds > 1.5 && seconds < 60, qPrintable(QString::number(seconds)));
    }

    // The sound server heard the tones.
    qInfo("monitor: %lld frames, peak %d, rms %.0f", static_cast<long long>(levels.frames),
          levels.peakAll, levels.rmsAll);
    QVERIFY(levels.peakAll > 1000);

    // The settings file: what was there, and what the quit saved, once each.
    // Without automatic start the volume bar stays at 100, and the quit
    // saves that over the 80 of the last run.
    QFile settings(folder_ + "/settings/settings.dat");
    QVERIFY(settings.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = settings.readAll().split('\n');
    QStringList found;
    for (const QByteArray& line : lines) {
        if (!line.trimmed().isEmpty())
            found << QString::fromUtf8(line.trimmed());
    }
    const QStringList saved = {QStringLiteral("[radio]"),
                               QStringLiteral("website=http://127.0.0.1:9"),
                               QStringLiteral("update=false"),
                               QStringLiteral("Volume=100"),
                               QStringLiteral("separate=true"),
                               QStringLiteral("interval=1"),
                               QStringLiteral("interval2=1"),
                               QStringLiteral("station=") + QString::fromUtf8(urlTwo),
                               QStringLiteral("name=") + StationTwo,
                               QStringLiteral("version=1.3"),
                               QStringLiteral("sajtstanice=http://127.0.0.1:9"),
                               QStringLiteral("[record]"),
                               QStringLiteral("recdir=")};
    for (const QString& line : saved)
        QVERIFY2(found.count(line) == 1, qPrintable(line + " in " + found.join(u'|')));
    QCOMPARE(found.size(), saved.size());
    // Nothing half-written beside it.
    QCOMPARE(QDir(folder_ + "/settings").entryList(QDir::Files), settingsFiles);
    QVERIFY2(!QFileInfo::exists(folder_ + "/temp.dat"), "the working catalog was left");
}

int main(int argc, char** argv) {
    Desktop x(false);
    desktop = &x;
    QCoreApplication app(argc, argv);
    EndToEndXvfbTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_end_to_end_xvfb.moc"
