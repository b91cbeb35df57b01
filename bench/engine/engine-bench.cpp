// engine-bench: how Tolvane's engine compares with other players.
//
// Starts a private Icecast 2 (fed by ffmpeg with a minute-long mix of pink
// noise and a tone, looped, as MP3 128 kbit/s and as AAC 96 kbit/s) and a
// private PulseAudio server with a null sink. Then, one player at a time,
// records the sink's monitor while the player plays a mount for a while, and
// reports: CPU seconds (user + system) per minute of audio, peak resident
// memory, time from starting the player to the first audio at the sink, and
// gaps of silence after the start.
//
//   engine-bench [--seconds N] [--players tolvane,mpv,mpg123,mplayer,ffplay]
//
// Players that are not installed are skipped.

#include "IcecastServer.h"
#include "PulseServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tolvane::test;

namespace {

struct Result {
    QString player;
    QString mount;
    double cpuPerMinute = -1;
    double peakRssMb = -1;
    qint64 firstAudioMs = -1;
    int gaps = -1;
    qint64 longestGapMs = 0;
};

struct Player {
    QString name;
    QString program;
    QStringList args; // the URL is appended
    bool mp3Only = false;
};

// Runs one player for `seconds`, recording the sink meanwhile.
Result runPlayer(const PulseServer& pulse, const Player& player, const QString& url,
                 const QString& mount, int seconds) {
    Result r;
    r.player = player.name;
    r.mount = mount;
    // The sink may still play the tail of the previous player for a moment.
    QThread::msleep(1500);
    auto rec = pulse.startRecording();
    QThread::msleep(300); // a stretch of silence before the player starts
    // Where the capture stands at the launch: the recorder writes each
    // fragment (20 ms) as it comes, so its size is the capture's clock.
    const qint64 launchMs = rec->size() / 4 * 1000 / 44100;

    QProcessEnvironment env = pulse.clientEnvironment();
    env.insert("SDL_AUDIODRIVER", "pulseaudio");
    QByteArray program = QFile::encodeName(player.program);
    QList<QByteArray> argStore{program};
    for (const auto& a : player.args)
        argStore << a.toLocal8Bit();
    argStore << url.toLocal8Bit();
    std::vector<char*> argv;
    for (auto& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    QList<QByteArray> envStore;
    for (const auto& kv : env.toStringList())
        envStore << kv.toLocal8Bit();
    std::vector<char*> envp;
    for (auto& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const bool showErrors = qEnvironmentVariableIsSet("ENGINE_BENCH_STDERR");
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        if (!showErrors)
            dup2(null, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    // Let the player play, then ask it to stop and collect its usage.
    QElapsedTimer played;
    played.start();
    while (played.elapsed() < seconds * 1000LL) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(50);
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            std::fprintf(stderr, "%s ended early\n", qPrintable(player.name));
            rec->stop();
            return r;
        }
    }
    const QByteArray pcm = rec->stop();
    kill(pid, SIGTERM);
    int status = 0;
    rusage usage{};
    for (int i = 0; i < 100; ++i) {
        if (wait4(pid, &status, WNOHANG, &usage) == pid)
            break;
        if (i == 99) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
        }
        QThread::msleep(30);
    }
    const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
                       usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    const double minutes = played.elapsed() / 60000.0;
    r.cpuPerMinute = cpu / minutes;
    r.peakRssMb = usage.ru_maxrss / 1024.0;
    const auto first = firstSoundMs(pcm, 64);
    if (first) {
        r.firstAudioMs = *first - launchMs;
        // Gaps after the first sound, leaving the last half second (the stop).
        const qint64 startByte = (*first * 44100 / 1000) * 4;
        const qint64 endByte = qMax<qint64>(startByte, pcm.size() - 44100 / 2 * 4);
        const auto gaps = findSilenceGaps(pcm.mid(startByte, endByte - startByte), 20, 64, true);
        r.gaps = static_cast<int>(gaps.size());
        for (const auto& g : gaps) {
            r.longestGapMs = qMax(r.longestGapMs, g.lengthMs);
            std::fprintf(stderr, "  gap of %lld ms, %lld ms after the first sound\n",
                         static_cast<long long>(g.lengthMs), static_cast<long long>(g.startMs));
        }
    }
    return r;
}

QString findProgram(const QString& name) {
    return QStandardPaths::findExecutable(name);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int seconds = 60;
    QStringList wanted{"tolvane", "mpv", "mpg123", "mplayer", "ffplay"};
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--seconds" && i + 1 < args.size())
            seconds = args[++i].toInt();
        else if (args[i] == "--players" && i + 1 < args.size())
            wanted = args[++i].split(',');
    }

    QTemporaryDir dir;
    const QString music = dir.filePath("music.wav");
    {
        QProcess ff;
        ff.start("ffmpeg", {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                            "anoisesrc=color=pink:amplitude=0.25:d=60:r=44100", "-f", "lavfi", "-i",
                            "sine=frequency=440:d=60:r=44100", "-filter_complex",
                            "[0][1]amix=inputs=2,aformat=channel_layouts=stereo", "-c:a",
                            "pcm_s16le", music});
        if (!ff.waitForFinished(60000) || ff.exitCode() != 0) {
            std::fprintf(stderr, "ffmpeg failed: %s\n", ff.readAllStandardError().constData());
            return 1;
        }
    }
    IcecastServer icecast;
    if (!icecast.isRunning()) {
        std::fprintf(stderr, "icecast: %s\n", qPrintable(icecast.errorString()));
        return 1;
    }
    IcecastServer::Source mp3;
    mp3.inputFile = music;
    IcecastServer::Source aac = mp3;
    aac.codec = IcecastServer::Codec::Aac;
    aac.bitrateKbps = 96;
    if (!icecast.startSource("/music.mp3", mp3) || !icecast.startSource("/music.aac", aac)) {
        std::fprintf(stderr, "icecast source: %s\n", qPrintable(icecast.errorString()));
        return 1;
    }
    PulseServer pulse;
    if (!pulse.isRunning()) {
        std::fprintf(stderr, "pulseaudio: %s\n", qPrintable(pulse.errorString()));
        return 1;
    }
    QThread::sleep(6); // a full burst for new listeners

    QList<Player> players;
    players << Player{"tolvane",
                      TOLVANE_PLAY_PATH,
                      {"--quiet", "--timing", "--seconds", QString::number(seconds + 30)}};
    if (auto p = findProgram("mpv"); !p.isEmpty())
        players << Player{"mpv", p, {"--no-video", "--no-terminal", "--ao=pulse"}};
    if (auto p = findProgram("mpg123"); !p.isEmpty())
        players << Player{"mpg123", p, {"-q", "-o", "pulse"}, true};
    if (auto p = findProgram("mplayer"); !p.isEmpty())
        players << Player{
            "mplayer", p, {"-really-quiet", "-nolirc", "-vo", "null", "-ao", "pulse"}};
    if (auto p = findProgram("ffplay"); !p.isEmpty())
        players << Player{"ffplay", p, {"-nodisp", "-loglevel", "quiet"}};

    QList<Result> results;
    for (const QString mount : {"/music.mp3", "/music.aac"}) {
        for (const auto& player : players) {
            if (!wanted.contains(player.name) || (player.mp3Only && mount.endsWith(".aac")))
                continue;
            std::fprintf(stderr, "%s %s ...\n", qPrintable(player.name), qPrintable(mount));
            results << runPlayer(pulse, player, icecast.mountUrl(mount).toString(), mount, seconds);
        }
    }

    std::printf("%-8s %-11s %14s %12s %15s %5s %13s\n", "player", "mount", "CPU s/min",
                "peak RSS MB", "first audio ms", "gaps", "longest gap ms");
    for (const auto& r : results)
        std::printf("%-8s %-11s %14.3f %12.1f %15lld %5d %13lld\n", qPrintable(r.player),
                    qPrintable(r.mount), r.cpuPerMinute, r.peakRssMb,
                    static_cast<long long>(r.firstAudioMs), r.gaps,
                    static_cast<long long>(r.longestGapMs));
    // Ratios of the engine to the best of the others, per mount.
    for (const QString mount : {"/music.mp3", "/music.aac"}) {
        const Result* ours = nullptr;
        double bestCpu = 1e9, bestFirst = 1e9;
        for (const auto& r : results) {
            if (r.mount != mount)
                continue;
            if (r.player == "tolvane")
                ours = &r;
            else {
                if (r.cpuPerMinute > 0)
                    bestCpu = std::min(bestCpu, r.cpuPerMinute);
                if (r.firstAudioMs >= 0)
                    bestFirst = std::min(bestFirst, double(r.firstAudioMs));
            }
        }
        if (ours && bestCpu < 1e9)
            std::printf("%s: CPU %.2fx the leanest other player, first audio %.2fx the fastest\n",
                        qPrintable(mount), ours->cpuPerMinute / bestCpu,
                        bestFirst > 0 ? ours->firstAudioMs / bestFirst : 0.0);
    }
    return 0;
}
