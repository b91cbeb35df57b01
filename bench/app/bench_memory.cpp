// What the player holds in memory while it plays, against a bare Qt Widgets
// window, both measured in the same run on the same display.
//
// Starts a private X display (Xvfb), a private PulseAudio server and an
// Icecast server on 127.0.0.1 fed by ffmpeg; copies the laid-out program
// folder to a temporary folder with a one-station catalog whose station is
// restarted at start (autostart), so the player plays the loopback stream
// with the lyrics window never opened. Once the sound server shows the
// player's stream playing, samples the resident set size (VmRSS) of the
// player and of the bare window twice a second and prints the medians, the
// difference and the ratio, whether the browser engine is mapped, and the
// files that account for most of what the player holds beyond the window.
//
//   bench_memory <program folder, e.g. build/Tolvane> [seconds]   (default 10)

#include "../../tests/app/XvfbDesktop.h"
#include "ChildProcess.h"
#include "IcecastServer.h"
#include "PulseServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <vector>

using namespace tolvane::test;

namespace {

QByteArray readProc(qint64 pid, const char* name) {
    QFile f(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// VmRSS in kB, 0 when the process is gone.
double rssKb(qint64 pid) {
    for (const QByteArray& line : readProc(pid, "status").split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble();
    }
    return 0;
}

// Resident kB per mapped file (anonymous memory under "[anon]").
QMap<QByteArray, double> rssByFile(qint64 pid) {
    QMap<QByteArray, double> byFile;
    QByteArray current;
    for (const QByteArray& line : readProc(pid, "smaps").split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 5 && fields[0].contains('-') && !fields[0].endsWith(':'))
            current = fields.size() >= 6 ? fields[5] : QByteArray("[anon]");
        else if (line.startsWith("Rss:"))
            byFile[current] += fields.value(1).toDouble();
    }
    return byFile;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The files (and anonymous memory) that the player holds more of than the
// bare window, largest first.
void printExtra(qint64 player, qint64 bare, int count) {
    const QMap<QByteArray, double> mine = rssByFile(player), base = rssByFile(bare);
    std::vector<std::pair<double, QByteArray>> rows;
    for (auto it = mine.begin(); it != mine.end(); ++it)
        rows.emplace_back(it.value() - base.value(it.key()), it.key());
    std::sort(rows.rbegin(), rows.rend());
    std::printf("what the player holds beyond the bare window (MB):\n");
    for (int i = 0; i < count && i < int(rows.size()); ++i)
        std::printf("  %+7.1f  %s\n", rows[i].first / 1024, rows[i].second.constData());
}

} // namespace

int main(int argc, char** argv) {
    Desktop desktop(false); // before anything reads DISPLAY
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <program folder> [seconds]\n", argv[0]);
        return 2;
    }
    const QString programFolder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    if (!desktop.ready() || !QFile::exists(programFolder + QStringLiteral("/tolvane")))
        qFatal("no X display, or no player in %s", qPrintable(programFolder));

    PulseServer pulse;
    if (!pulse.isRunning())
        qFatal("no sound server: %s", qPrintable(pulse.errorString()));
    IcecastServer icecast;
    if (!icecast.startSource(QStringLiteral("/tone.mp3")))
        qFatal("no Icecast stream: %s", qPrintable(icecast.errorString()));

    QTemporaryDir dir;
    QProcess copy;
    copy.start(QStringLiteral("cp"),
               {QStringLiteral("-a"), programFolder + QStringLiteral("/."), dir.path()});
    if (!copy.waitForFinished(60000) || copy.exitCode() != 0)
        qFatal("cannot copy the program folder");
    const QByteArray url = icecast.mountUrl(QStringLiteral("/tone.mp3")).toEncoded();
    QByteArray services = "[services]\n";
    for (const char* key :
         {"main", "radio", "site", "lyrics", "facebook", "twitter", "facebookpage", "twitterpage"})
        services += QByteArray(key) + "=http://127.0.0.1:9\n";
    if (!writeFile(dir.filePath("radiolist.dat"),
                   "[Loopback Tone]\r\ngenre=Test\r\nlanguage=English\r\nstreaming=" + url +
                       "\r\nwebsite=http://127.0.0.1:9\r\nbitrate=128\r\n") ||
        !writeFile(dir.filePath("settings/settings.dat"),
                   "[radio]\r\nautostart=true\r\nstation=" + url +
                       "\r\nname=Loopback Tone\r\nVolume=50\r\nwebsite=http://127.0.0.1:9\r\n"
                       "update=false\r\nversion=1.3\r\n") ||
        !writeFile(dir.filePath("settings/services.dat"), services))
        qFatal("cannot write the program folder");

    QProcess bare;
    bare.start(QCoreApplication::applicationDirPath() + QStringLiteral("/bench_bare_window"));
    QProcess player;
    player.setWorkingDirectory(dir.path());
    player.setProcessChannelMode(QProcess::ForwardedChannels);
    player.start(dir.filePath("tolvane"));
    if (!bare.waitForStarted() || !player.waitForStarted())
        qFatal("a program did not start");
    dieWithParent(bare);
    dieWithParent(player);

    QElapsedTimer clock;
    clock.start();
    while (!pulse.somethingPlaying() && clock.elapsed() < 30000)
        QThread::msleep(200);
    if (!pulse.somethingPlaying())
        qFatal("the player did not play the loopback stream");
    std::printf("playing after %.1f s; settling 5 s\n", clock.elapsed() / 1000.0);
    QThread::sleep(5);

    std::vector<double> playerRss, bareRss;
    for (int i = 0; i < seconds * 2; ++i) {
        playerRss.push_back(rssKb(player.processId()));
        bareRss.push_back(rssKb(bare.processId()));
        QThread::msleep(500);
    }
    const double p = median(playerRss) / 1024, b = median(bareRss) / 1024;
    const QByteArray maps = readProc(player.processId(), "maps");
    std::printf("still playing: %s\n", pulse.somethingPlaying() ? "yes" : "NO");
    std::printf("browser engine mapped in the player: %s; web view module: %s\n",
                maps.contains("libQt6WebEngineCore") ? "YES" : "no",
                maps.contains("libtolvane-webview") ? "YES" : "no");
    std::printf("bare Qt Widgets window  RSS %7.1f MB (median of %zu samples)\n", b,
                bareRss.size());
    std::printf("player, playing         RSS %7.1f MB (max %.1f)\n", p,
                *std::max_element(playerRss.begin(), playerRss.end()) / 1024);
    std::printf("difference %+.1f MB, ratio %.2f\n", p - b, b > 0 ? p / b : 0.0);
    printExtra(player.processId(), bare.processId(), 45);

    stopProcess(player, SIGTERM, 5000);
    stopProcess(bare, SIGTERM, 2000);
    return 0;
}
