// engine-bench: how Tolvane's engine compares with other players.
//
// Starts a private Icecast 2 (fed by ffmpeg with a minute-long mix of pink
// noise and a tone, looped, as MP3 128 kbit/s, AAC 96 kbit/s, and Vorbis
// and Opus 128 kbit/s in Ogg, with Icecast's usual 64 KB burst for a new
// listener), a loopback server that sends a WMA (ASF) file from its header
// on the way a Windows Media server does (64 KB at once, then at its
// bitrate), a live HLS stream of the same music (ffmpeg cuts 4 s MPEG-TS
// segments in real time, a loopback server serves them as they come), and a
// private PulseAudio server with a null sink. Then, one player at a time, records the sink's
// monitor while the player plays a stream for a while, and reports: CPU seconds (user + system) per
// minute of audio, peak resident memory, time from the start of the command to the first audible
// sample at the sink, and gaps of silence after it. The runs are interleaved (every player once,
// then every player again) and the medians reported, with the ratio of the engine to the fastest
// and the leanest other player on each codec.
//
// For the engine's command-line player it also reports where its time went:
// the steps that tolvane-play --timing prints, measured from the start of
// the command; "heard" is the first sample at the sink. The same for the
// whole player, from the steps it traces with TOLVANE_TRACE set.
//
// The whole player (the tolvane program, with its automatic start of the
// last station, offscreen) is timed as "tolvane-app" on MP3 and AAC when
// --app names the program folder to copy (run-bench.sh lays it out); the
// desktop radio players are timed beside it when they are installed
// (audacious, qmmp, goodvibes, strawberry, clementine; each with a HOME of
// its own, warmed by a first run that is not counted; GTK ones need a
// DISPLAY, and Goodvibes a session bus, which the bench starts), and "bare-qt", an empty Qt window
// that plays nothing, when
// --bare names it (bench_bare_window): its memory and CPU are what any Qt
// program costs.
//
//   engine-bench [--seconds N] [--runs N] [--codecs mp3,aac,wma,vorbis,opus,hls]
//                [--players tolvane,tolvane-app,mpg123,mplayer,mpv,ffplay,cvlc,
//                           audacious,qmmp,goodvibes,strawberry,clementine,bare-qt]
//                [--app PROGRAM-FOLDER] [--candidate TOLVANE-PLAY] [--aac-kbps N]
//                [--bare BENCH-BARE-WINDOW] [--baseline-app PROGRAM-FOLDER]
//
// --baseline-app adds another program folder of the whole player as
// "tolvane-base" (a build from before a change), timed the same way.
//
// --candidate adds another build of tolvane-play as "candidate", to compare
// a change of the engine with the engine as it is in the same run.
// Players that are not installed are skipped and named. VLC refuses to run
// as root; then it runs in a user namespace of its own where it is not root.

#include "IcecastServer.h"
#include "PulseServer.h"
#include "StreamServer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace tolvane::test;

namespace {

constexpr int kRate = 44100;
constexpr int kThreshold = 64; // a sample louder than this is sound

struct Result {
    qint64 firstAudioMs = -1;
    double cpuPerMinute = -1;
    double peakRssMb = -1;
    int gaps = -1;
    qint64 longestGapMs = 0;
    // tolvane-play's steps, ms from the start of the command.
    QMap<QString, double> steps;
};

struct Player {
    QString name;
    QString program;
    QStringList args; // the URL is appended
    QStringList codecs;
    QString workDir; // empty: the bench's own
    // Per codec, instead of `workDir` (the whole player's program folders).
    QMap<QString, QString> workDirs = {};
    QStringList env = {}; // NAME=value added to the environment
    bool takesUrl = true; // false: the URL is in its program folder, or it plays nothing
};

double monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// tolvane-play --timing: a first line "clock <monotonic ms>" for the start
// of its main(), then "<ms> ms  <step>" relative to that.
QMap<QString, double> parseSteps(const QByteArray& text, double launchMonoMs) {
    QMap<QString, double> steps;
    double origin = -1;
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith("clock ")) {
            origin = line.mid(6).toDouble();
            steps.insert(QStringLiteral("main"), origin - launchMonoMs);
            continue;
        }
        // The whole player: "trace <ms since its start> <monotonic ms> <step>".
        if (line.startsWith("trace ")) {
            const QList<QByteArray> parts = line.simplified().split(' ');
            bool ok = false;
            const double mono = parts.value(2).toDouble(&ok);
            if (ok && parts.size() > 3)
                steps.insert(QString::fromUtf8(parts.mid(3).join(' ')), mono - launchMonoMs);
            continue;
        }
        const int ms = line.indexOf(" ms  ");
        if (origin < 0 || ms <= 0)
            continue;
        bool ok = false;
        const double at = line.left(ms).toDouble(&ok);
        if (ok)
            steps.insert(QString::fromUtf8(line.mid(ms + 5)), origin + at - launchMonoMs);
    }
    return steps;
}

// Waits (bounded) until no stream plays to the sink any more.
void waitForQuietSink(const PulseServer& pulse) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 5000) {
        const auto inputs = pulse.sinkInputs();
        if (inputs && inputs->isEmpty())
            return;
        QThread::msleep(50);
    }
}

// Watches the capture file grow and notes when the first loud sample
// lands in it. The wall clock, not the capture's length, is the measure:
// the null sink renders ahead of time by up to the latency asked of it,
// and after a pause it may deliver a backlog at once, so the capture's
// length runs ahead of or behind the clock.
class Watcher {
public:
    Watcher(QString path, qint64 from) : path_(std::move(path)), read_(from - from % 2) {}
    // True once a loud sample has been seen.
    bool poll() {
        QFile f(path_);
        if (!f.open(QIODevice::ReadOnly) || !f.seek(read_))
            return false;
        QByteArray pcm = f.read(1 << 20);
        pcm.truncate(pcm.size() - pcm.size() % 2);
        read_ += pcm.size();
        const auto* s = reinterpret_cast<const qint16*>(pcm.constData());
        for (qsizetype i = 0; i < pcm.size() / 2; ++i)
            if (std::abs(int(s[i])) > kThreshold)
                return true;
        return false;
    }

private:
    QString path_;
    qint64 read_;
};

// The capture that startRecording just began: the newest in the server's
// temporary folder, beside its runtime folder.
QString newestCapture(const PulseServer& pulse) {
    const QDir dir(QFileInfo(pulse.runtimeDir()).dir());
    const QFileInfoList captures =
        dir.entryInfoList({QStringLiteral("capture-*.raw")}, QDir::Files, QDir::Time);
    return captures.isEmpty() ? QString() : captures.first().absoluteFilePath();
}

// Runs one player for `seconds`, recording the sink meanwhile.
Result runPlayer(const PulseServer& pulse, const Player& player, const QString& url, int seconds,
                 const QString& workDirOverride = QString()) {
    Result r;
    waitForQuietSink(pulse);
    auto rec = pulse.startRecording();
    const QString capture = newestCapture(pulse);
    // Wait until the capture flows at the pace of the clock (after the
    // previous player the sink may be ahead and deliver nothing for a
    // while), then a stretch of silence before the player starts.
    {
        QElapsedTimer t;
        t.start();
        qint64 mark = rec->size();
        QElapsedTimer steady;
        steady.start();
        while (t.elapsed() < 5000) {
            QThread::msleep(10);
            const qint64 now = rec->size();
            if (now == mark && steady.elapsed() > 60) {
                steady.restart(); // stalled: start over
            } else if (now != mark) {
                mark = now;
                if (steady.elapsed() >= 300)
                    break;
            }
        }
    }
    QProcessEnvironment env = pulse.clientEnvironment();
    env.insert("SDL_AUDIODRIVER", "pulseaudio");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    // The whole player's steps (standard error; nothing else changes).
    env.insert("TOLVANE_TRACE", "1");
    for (const QString& kv : player.env)
        env.insert(kv.section('=', 0, 0), kv.section('=', 1));
    QByteArray program = QFile::encodeName(player.program);
    QList<QByteArray> argStore{program};
    for (const auto& a : player.args)
        argStore << a.toLocal8Bit();
    if (!url.isEmpty())
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
    QTemporaryDir logDir;
    const QByteArray errFile = QFile::encodeName(logDir.filePath("stderr"));
    const QByteArray workDir =
        QFile::encodeName(workDirOverride.isEmpty() ? player.workDir : workDirOverride);

    Watcher watcher(capture, rec->size());
    QElapsedTimer sinceLaunch;
    const double launchMonoMs = monotonicMs();
    sinceLaunch.start();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        const int err = ::open(errFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(null, 0);
        dup2(null, 1);
        dup2(err >= 0 ? err : null, 2);
        if (!workDir.isEmpty() && chdir(workDir.constData()) != 0)
            _exit(126);
        execve(argv[0], argv.data(), envp.data());
        std::fprintf(stderr, "cannot run %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    // Let the player play, then ask it to stop and collect its usage.
    QElapsedTimer played;
    played.start();
    while (played.elapsed() < seconds * 1000LL) {
        // Every millisecond until the first sound, then at leisure.
        if (r.firstAudioMs < 0 && watcher.poll())
            r.firstAudioMs = sinceLaunch.elapsed();
        QThread::msleep(r.firstAudioMs < 0 ? 1 : 50);
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            QFile f(QString::fromLocal8Bit(errFile));
            f.open(QIODevice::ReadOnly);
            std::fprintf(stderr, "  %s ended early (status %d): %s\n", qPrintable(player.name),
                         status, f.readAll().right(2000).constData());
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
    {
        QFile f(QString::fromLocal8Bit(errFile));
        if (f.open(QIODevice::ReadOnly)) {
            const QByteArray text = f.readAll();
            r.steps = parseSteps(text, launchMonoMs);
            if (qEnvironmentVariableIsSet("ENGINE_BENCH_STDERR"))
                std::fprintf(stderr, "%s", text.constData());
        }
    }
    const auto first = firstSoundMs(pcm, kThreshold);
    if (first) {
        // Gaps after the first sound, leaving the last half second (the stop).
        const qint64 startByte = (*first * kRate / 1000) * 4;
        const qint64 endByte = qMax<qint64>(startByte, pcm.size() - kRate / 2 * 4);
        const auto gaps =
            findSilenceGaps(pcm.mid(startByte, endByte - startByte), 20, kThreshold, true);
        r.gaps = static_cast<int>(gaps.size());
        for (const auto& g : gaps) {
            r.longestGapMs = qMax(r.longestGapMs, g.lengthMs);
            std::fprintf(stderr, "  gap of %lld ms, %lld ms after the first sound\n",
                         static_cast<long long>(g.lengthMs), static_cast<long long>(g.startMs));
        }
    }
    return r;
}

template <typename T> T median(QList<T> v) {
    if (v.isEmpty())
        return T(-1);
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

bool makeFile(const QStringList& ffmpegArgs) {
    QProcess ff;
    ff.start("ffmpeg", QStringList{"-hide_banner", "-loglevel", "error", "-y"} + ffmpegArgs);
    if (!ff.waitForFinished(120000) || ff.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg failed: %s\n", ff.readAllStandardError().constData());
        return false;
    }
    return true;
}

// A copy of the program folder whose settings start `url` at once, with
// every outside service pointed at a closed port of this machine.
bool makeProgramFolder(const QString& folder, const QString& to, const QString& url) {
    const QString from = QFileInfo(folder).absoluteFilePath();
    QDirIterator it(from, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = to + "/" + QDir(from).relativeFilePath(file);
        QDir().mkpath(QFileInfo(target).path());
        if (!QFile::copy(file, target) || !QFile::setPermissions(target, QFile::permissions(file)))
            return false;
    }
    QDir().mkpath(to + "/settings");
    auto write = [&](const QString& name, const QByteArray& text) {
        QFile f(to + "/" + name);
        f.remove();
        return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
    };
    const QByteArray nowhere = "http://127.0.0.1:9";
    QByteArray services = "[services]\n";
    for (const char* key :
         {"main", "radio", "site", "lyrics", "facebook", "twitter", "facebookpage", "twitterpage"})
        services += QByteArray(key) + "=" + nowhere + "\n";
    return write("settings/services.dat", services) &&
           write("settings/settings.dat", "[radio]\nwebsite=" + nowhere +
                                              "\nupdate=false\nautostart=true\nstation=" +
                                              url.toUtf8() + "\nname=Bench\nVolume=100\n");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int seconds = 20;
    int runs = 3;
    QStringList codecs{"mp3", "aac", "wma", "vorbis", "opus", "hls"};
    QStringList wanted{"tolvane", "tolvane-app", "mpg123", "mplayer", "mpv", "ffplay", "cvlc"};
    QString appFolder;
    QString candidate;
    QString bareWindow;
    QString baselineFolder;
    int aacKbps = 96;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--seconds" && i + 1 < args.size())
            seconds = std::max(3, args[++i].toInt());
        else if (args[i] == "--runs" && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == "--codecs" && i + 1 < args.size())
            codecs = args[++i].split(',');
        else if (args[i] == "--players" && i + 1 < args.size())
            wanted = args[++i].split(',');
        else if (args[i] == "--app" && i + 1 < args.size())
            appFolder = args[++i];
        else if (args[i] == "--candidate" && i + 1 < args.size())
            candidate = args[++i];
        else if (args[i] == "--baseline-app" && i + 1 < args.size())
            baselineFolder = args[++i];
        else if (args[i] == "--bare" && i + 1 < args.size())
            bareWindow = args[++i];
        else if (args[i] == "--aac-kbps" && i + 1 < args.size())
            aacKbps = std::clamp(args[++i].toInt(), 32, 320);
    }

    QTemporaryDir dir;
    const QString music = dir.filePath("music.wav");
    const QString wma = dir.filePath("music.wma");
    if (!makeFile({"-f", "lavfi", "-i", "anoisesrc=color=pink:amplitude=0.25:d=60:r=44100", "-f",
                   "lavfi", "-i", "sine=frequency=440:d=60:r=44100", "-filter_complex",
                   "[0][1]amix=inputs=2,aformat=channel_layouts=stereo", "-c:a", "pcm_s16le",
                   music}) ||
        !makeFile({"-i", music, "-c:a", "wmav2", "-b:a", "128k", "-f", "asf", wma}))
        return 1;
    IcecastServer icecast;
    if (!icecast.isRunning()) {
        std::fprintf(stderr, "icecast: %s\n", qPrintable(icecast.errorString()));
        return 1;
    }
    IcecastServer::Source mp3;
    mp3.inputFile = music;
    IcecastServer::Source aac = mp3;
    aac.codec = IcecastServer::Codec::Aac;
    aac.bitrateKbps = aacKbps;
    IcecastServer::Source vorbis = mp3;
    vorbis.codec = IcecastServer::Codec::Vorbis;
    vorbis.artist = "Bench";
    vorbis.title = "Vorbis";
    IcecastServer::Source opus = vorbis;
    opus.codec = IcecastServer::Codec::Opus;
    opus.title = "Opus";
    if (!icecast.startSource("/music.mp3", mp3) || !icecast.startSource("/music.aac", aac) ||
        !icecast.startSource("/music.ogg", vorbis) || !icecast.startSource("/music.opus", opus)) {
        std::fprintf(stderr, "icecast source: %s\n", qPrintable(icecast.errorString()));
        return 1;
    }
    // WMA: the file from its header, 64 KB at once, then at its own rate.
    StreamServer asfServer;
    if (!asfServer.start())
        return 1;
    {
        StreamRoute route = StreamRoute::audio(wma.toStdString(), false, 0);
        route.contentType = "video/x-ms-asf";
        route.name.clear();
        route.loop = false;
        route.burstBytes = 65536;
        route.bytesPerSecond = QFileInfo(wma).size() / 60.0;
        asfServer.setRoute("/music.wma", route);
    }
    // HLS: ffmpeg cuts the music into 4 s segments in real time; each file
    // it writes becomes a route of the loopback server.
    StreamServer hlsServer;
    if (!hlsServer.start())
        return 1;
    QDir hlsDir(dir.filePath("hls"));
    hlsDir.mkpath(".");
    QProcess segmenter;
    segmenter.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    segmenter.start("ffmpeg", {"-hide_banner",
                               "-loglevel",
                               "error",
                               "-nostdin",
                               "-re",
                               "-stream_loop",
                               "-1",
                               "-i",
                               music,
                               "-c:a",
                               "aac",
                               "-b:a",
                               "128k",
                               "-f",
                               "hls",
                               "-hls_time",
                               "4",
                               "-hls_list_size",
                               "6",
                               "-hls_flags",
                               "delete_segments+temp_file",
                               hlsDir.filePath("live.m3u8")});
    std::atomic<bool> publishing{true};
    std::thread publisher([&] {
        QMap<QString, QDateTime> seen;
        while (publishing) {
            for (const QFileInfo& f : hlsDir.entryInfoList(QDir::Files)) {
                if (f.fileName().endsWith(".tmp") || seen.value(f.fileName()) == f.lastModified())
                    continue;
                QFile file(f.filePath());
                if (!file.open(QIODevice::ReadOnly))
                    continue;
                seen[f.fileName()] = f.lastModified();
                const bool list = f.fileName().endsWith(".m3u8");
                hlsServer.setRoute(
                    "/hls/" + f.fileName().toStdString(),
                    StreamRoute::playlist(file.readAll().toStdString(),
                                          list ? "application/vnd.apple.mpegurl" : "video/mp2t"));
            }
            QThread::msleep(100);
        }
    });
    auto stopHls = [&] {
        publishing = false;
        publisher.join();
        segmenter.terminate();
        segmenter.waitForFinished(5000);
    };
    PulseServer pulse;
    if (!pulse.isRunning()) {
        std::fprintf(stderr, "pulseaudio: %s\n", qPrintable(pulse.errorString()));
        stopHls();
        return 1;
    }
    QThread::sleep(13); // a full burst for new listeners, three HLS segments
    const QMap<QString, QString> urls{
        {"mp3", icecast.mountUrl("/music.mp3").toString()},
        {"aac", icecast.mountUrl("/music.aac").toString()},
        {"wma", QString::fromStdString(asfServer.url("/music.wma"))},
        {"vorbis", icecast.mountUrl("/music.ogg").toString()},
        {"opus", icecast.mountUrl("/music.opus").toString()},
        {"hls", QString::fromStdString(hlsServer.url("/hls/live.m3u8"))}};
    for (const QString& codec : urls.keys())
        std::fprintf(stderr, "%s: %s\n", qPrintable(codec), qPrintable(urls[codec]));

    const QStringList all{"mp3", "aac", "wma", "vorbis", "opus", "hls"};
    QList<Player> players;
    QStringList skipped;
    players << Player{"tolvane",
                      TOLVANE_PLAY_PATH,
                      {"--quiet", "--timing", "--seconds", QString::number(seconds + 30)},
                      all,
                      {}};
    if (!candidate.isEmpty()) {
        players << Player{
            "candidate", QFileInfo(candidate).absoluteFilePath(), players[0].args, all, {}};
        wanted << "candidate";
    }
    QTemporaryDir appDir;
    // A program folder per codec, each starting its station at once.
    auto addApp = [&](const QString& name, const QString& from) {
        Player app{name, {}, {}, {}, {}};
        app.takesUrl = false;
        for (const QString codec : {"mp3", "aac"}) {
            const QString folder = appDir.filePath(name + "/" + codec);
            if (from.isEmpty() || !QFileInfo(from + "/tolvane").isExecutable() ||
                !makeProgramFolder(from, folder, urls[codec]))
                continue;
            app.program = appDir.filePath(name + "/mp3/tolvane");
            app.codecs << codec;
            app.workDirs.insert(codec, folder);
        }
        if (app.codecs.isEmpty())
            skipped << name + " (no program folder to copy)";
        else
            players << app;
    };
    if (wanted.contains("tolvane-app"))
        addApp("tolvane-app", appFolder);
    if (!baselineFolder.isEmpty()) {
        addApp("tolvane-base", baselineFolder);
        wanted << "tolvane-base";
    }
    // The desktop players, each with a HOME of its own under the bench's
    // folder that keeps its settings from one run to the next.
    QDir homes(dir.filePath("homes"));
    auto addDesktop = [&](const QString& name, const QStringList& args) {
        const QString path = QStandardPaths::findExecutable(name);
        if (path.isEmpty()) {
            skipped << name + " (not installed)";
            return;
        }
        homes.mkpath(name);
        players << Player{
            name, path, args, {"mp3", "aac"}, {}, {}, {"HOME=" + homes.filePath(name)}};
    };
    addDesktop("audacious", {"-Q"});
    addDesktop("qmmp", {});
    {
        // qmmp: the PulseAudio output, and a 64 KB network buffer (its
        // default waits for 20 s of a 128 kbit/s station).
        homes.mkpath("qmmp/.qmmp");
        QFile rc(homes.filePath("qmmp/.qmmp/qmmprc"));
        if (rc.open(QIODevice::WriteOnly))
            rc.write("[Output]\ncurrent_plugin=pulse\n[HTTP]\nbuffer_size=64\n");
    }
    addDesktop("goodvibes", {});
    // Goodvibes ends without a session bus: it gets one of the bench's own.
    QProcess bus;
    if (!players.isEmpty() && players.last().name == "goodvibes") {
        bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (bus.waitForStarted(5000) && bus.waitForReadyRead(5000))
            players.last().env << "DBUS_SESSION_BUS_ADDRESS=" +
                                      QString::fromLocal8Bit(bus.readLine().trimmed());
    }
    addDesktop("strawberry", {"--quiet", "-l", "-p"});
    addDesktop("clementine", {"-l", "-p"});
    if (!bareWindow.isEmpty() && QFileInfo(bareWindow).isExecutable()) {
        Player bare{"bare-qt", QFileInfo(bareWindow).absoluteFilePath(), {}, {"mp3"}, {}};
        bare.takesUrl = false;
        players << bare;
    } else if (wanted.contains("bare-qt")) {
        skipped << "bare-qt (no --bare program)";
    }
    auto add = [&](const QString& name, const QString& program, const QStringList& args,
                   const QStringList& codecsPlayed) {
        const QString path = QStandardPaths::findExecutable(program);
        if (path.isEmpty())
            skipped << name + " (not installed)";
        else
            players << Player{name, path, args, codecsPlayed, {}};
    };
    add("mpg123", "mpg123", {"-q", "-o", "pulse"}, {"mp3"});
    add("mplayer", "mplayer", {"-really-quiet", "-nolirc", "-vo", "null", "-ao", "pulse"}, all);
    add("mpv", "mpv", {"--no-config", "--no-video", "--no-terminal", "--ao=pulse"}, all);
    add("ffplay", "ffplay", {"-nodisp", "-loglevel", "quiet"}, all);
    {
        const QStringList vlcArgs{"-I", "dummy", "--no-video", "--aout=pulse"};
        const QString vlc = QStandardPaths::findExecutable("vlc");
        const QString unshare = QStandardPaths::findExecutable("unshare");
        if (vlc.isEmpty())
            skipped << "cvlc (not installed)";
        else if (geteuid() != 0)
            players << Player{"cvlc", vlc, vlcArgs, all, {}};
        else if (unshare.isEmpty())
            skipped << "cvlc (refuses root, and no unshare)";
        else
            players << Player{"cvlc",
                              unshare,
                              QStringList{"--user", "--map-user=1000", "--map-group=1000", vlc} +
                                  vlcArgs,
                              all,
                              {}};
    }
    players.erase(std::remove_if(players.begin(), players.end(),
                                 [&](const Player& p) { return !wanted.contains(p.name); }),
                  players.end());

    // Every player once on every codec, then again: a server or sound server
    // that warms up or slows down meets all players alike.
    QMap<QString, QList<Result>> results; // "player codec" -> runs
    // A first run of each desktop player, not counted: its settings and
    // caches are made then, as on a desktop where it has run before.
    for (const auto& player : players) {
        if (!player.env.join(' ').contains("HOME="))
            continue;
        std::fprintf(stderr, "warming %s ...\n", qPrintable(player.name));
        runPlayer(pulse, player, urls[player.codecs.first()], 4);
    }
    for (int run = 1; run <= runs; ++run) {
        for (const QString& codec : codecs) {
            for (const auto& player : players) {
                if (!player.codecs.contains(codec))
                    continue;
                std::fprintf(stderr, "run %d: %s %s ...\n", run, qPrintable(player.name),
                             qPrintable(codec));
                const QString url = player.takesUrl ? urls[codec] : QString();
                const Result r =
                    runPlayer(pulse, player, url, seconds, player.workDirs.value(codec));
                std::fprintf(stderr, "  first audio %lld ms\n",
                             static_cast<long long>(r.firstAudioMs));
                results[player.name + " " + codec] << r;
            }
        }
    }

    stopHls();
    std::printf("%d run(s) of %d s each; time from the start of the command to the first audible "
                "sample at the sink\n",
                runs, seconds);
    if (!skipped.isEmpty())
        std::printf("skipped: %s\n", qPrintable(skipped.join(", ")));
    std::printf("%-12s %-6s %15s %-22s %10s %10s %8s %5s %8s\n", "player", "codec",
                "first audio ms", "(runs)", "CPU s/min", "CPU s/20s", "RSS MiB", "gaps", "longest");
    for (const QString& codec : codecs) {
        for (const auto& player : players) {
            const auto it = results.constFind(player.name + " " + codec);
            if (it == results.constEnd())
                continue;
            QList<qint64> firsts;
            QList<double> cpus, rss;
            QStringList each;
            int gaps = 0;
            qint64 longest = 0;
            for (const Result& r : *it) {
                each << QString::number(r.firstAudioMs);
                if (r.firstAudioMs >= 0)
                    firsts << r.firstAudioMs;
                cpus << r.cpuPerMinute;
                rss << r.peakRssMb;
                gaps += std::max(0, r.gaps);
                longest = std::max(longest, r.longestGapMs);
            }
            std::printf("%-12s %-6s %15lld %-22s %10.3f %10.3f %8.1f %5d %8lld\n",
                        qPrintable(player.name), qPrintable(codec),
                        static_cast<long long>(median(firsts)),
                        qPrintable("(" + each.join(' ') + ")"), median(cpus), median(cpus) / 3,
                        median(rss), gaps, static_cast<long long>(longest));
        }
    }
    // The engine against the fastest and the leanest of the others.
    const QStringList engines{"tolvane", "candidate", "tolvane-app", "tolvane-base"};
    for (const QString& codec : codecs) {
        for (const QString& engine : engines) {
            const auto ours = results.value(engine + " " + codec);
            if (ours.isEmpty())
                continue;
            QList<qint64> ourFirst;
            QList<double> ourCpu, ourRss;
            for (const Result& r : ours) {
                if (r.firstAudioMs >= 0)
                    ourFirst << r.firstAudioMs;
                ourCpu << r.cpuPerMinute;
                ourRss << r.peakRssMb;
            }
            // The whole player meets the desktop players, the engine the
            // command-line ones (each kind where the other is not run).
            auto desktop = [](const Player& p) { return p.env.join(' ').contains("HOME="); };
            bool anyDesktop = false;
            for (const auto& player : players)
                anyDesktop =
                    anyDesktop || (desktop(player) && results.contains(player.name + " " + codec));
            const bool wantDesktop = engine.startsWith("tolvane-") && anyDesktop;
            QString fastest, leanest, smallest;
            double bestFirst = 1e18, bestCpu = 1e18, bestRss = 1e18;
            for (const auto& player : players) {
                if (player.name.startsWith("tolvane") || player.name == "candidate" ||
                    player.name == "bare-qt" || desktop(player) != wantDesktop)
                    continue;
                const auto theirs = results.value(player.name + " " + codec);
                QList<qint64> f;
                QList<double> c, m;
                for (const Result& r : theirs) {
                    if (r.firstAudioMs >= 0)
                        f << r.firstAudioMs;
                    if (r.cpuPerMinute > 0)
                        c << r.cpuPerMinute;
                    if (r.peakRssMb > 0)
                        m << r.peakRssMb;
                }
                if (!m.isEmpty() && median(m) < bestRss) {
                    bestRss = median(m);
                    smallest = player.name;
                }
                if (!f.isEmpty() && median(f) < bestFirst) {
                    bestFirst = double(median(f));
                    fastest = player.name;
                }
                if (!c.isEmpty() && median(c) < bestCpu) {
                    bestCpu = median(c);
                    leanest = player.name;
                }
            }
            if (!fastest.isEmpty() && !ourFirst.isEmpty())
                std::printf("%s %s: first audio %lld ms = %.2fx the fastest other (%s, %.0f ms)",
                            qPrintable(codec), qPrintable(engine),
                            static_cast<long long>(median(ourFirst)), median(ourFirst) / bestFirst,
                            qPrintable(fastest), bestFirst);
            if (!leanest.isEmpty())
                std::printf("; CPU %.2fx the leanest (%s)", median(ourCpu) / bestCpu,
                            qPrintable(leanest));
            if (!smallest.isEmpty())
                std::printf("; peak RSS %.2fx the smallest (%s, %.1f MiB)",
                            median(ourRss) / bestRss, qPrintable(smallest), bestRss);
            std::printf("\n");
        }
    }
    // Where the engine's time went: medians of its steps from the launch.
    for (const QString& codec : codecs) {
        for (const QString& engine : engines) {
            const auto ours = results.value(engine + " " + codec);
            if (ours.isEmpty())
                continue;
            QStringList order;
            for (const Result& r : ours) {
                QList<QPair<double, QString>> byTime;
                for (auto s = r.steps.constBegin(); s != r.steps.constEnd(); ++s)
                    byTime << qMakePair(s.value(), s.key());
                std::sort(byTime.begin(), byTime.end());
                for (const auto& [at, name] : byTime)
                    if (!order.contains(name))
                        order << name;
            }
            std::printf("%s, %s's steps (median ms from the launch):", qPrintable(codec),
                        qPrintable(engine));
            for (const QString& step : order) {
                QList<double> at;
                for (const Result& r : ours)
                    if (r.steps.contains(step))
                        at << r.steps.value(step);
                std::printf("  %s %.0f", qPrintable(step), median(at));
            }
            QList<qint64> heard;
            for (const Result& r : ours)
                if (r.firstAudioMs >= 0)
                    heard << r.firstAudioMs;
            std::printf("  heard %lld\n", static_cast<long long>(median(heard)));
        }
    }
    return 0;
}
