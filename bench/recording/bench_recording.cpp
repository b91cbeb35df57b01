// What recording costs: the player's CPU time while it plays a 128 kbit/s
// MP3 station (a loopback stream server sending in real time), against the
// same while it also records it with lame, and while it records the
// station's own frames, in one run. The player's own extra time is the
// feed's overhead (queue, writer thread, pipe or file); the encoder
// program's time is counted apart, as the children's time once it has
// exited. Then the memory the song kept for a recording from the song's
// start takes, measured over a phase and carried on to a 10-minute song,
// for lame (the decoded song and the station's frames) and for the station's
// own format (its frames alone).
//
//   bench_recording [seconds [rounds [mp3|aac|vorbis|opus]]]
//   (default 10 s per phase, 5 rounds, an MP3 station; an AAC one is
//   decoded by libfaad2 and kept in .m4a files; an Ogg station's title is in
//   its comments, and the song kept is not measured for it)
//
// Runs on the engine's null output, which keeps real time like a sound card.

#include "AudioSamples.h"
#include "BenchPlayer.h"
#include "StreamServer.h"
#include "app/Application.h"
#include "app/StationListView.h"
#include "app/TForm1.h"
#include "common/Messages.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <sys/resource.h>

#include <fstream>
#include <string>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

using namespace tolvane;
using namespace tolvane::test;

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs the event loop for `ms`, asleep while there is nothing to do, as the
// player's own loop is.
void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The process's resident memory in bytes.
double residentBytes() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kb = 0;
            status >> kb;
            return kb * 1024;
        }
    }
    return 0;
}

bool waitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        runFor(50);
    return done();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    bench::SilentMessages silent;

    const std::string kind = argc > 3 ? argv[3] : "mp3";
    const bool aac = kind == "aac";
    const bool ogg = kind != "mp3" && !aac;
    const SampleFormat format = kind == "opus"     ? SampleFormat::Opus
                                : kind == "vorbis" ? SampleFormat::Vorbis
                                : aac              ? SampleFormat::Aac
                                                   : SampleFormat::Mp3;
    const std::string audio =
        ogg ? AudioSamples::tone(format, ToneShape{.seconds = 60}, 128, "Artist", "Song")
            : AudioSamples::tone(format, ToneShape{.seconds = 60});
    StreamServer server;
    if (audio.empty() || !server.start()) {
        std::fprintf(stderr, "no test audio or no server\n");
        return 1;
    }
    StreamRoute route = StreamRoute::audio(audio, !ogg, ogg ? 0 : 8192);
    if (ogg)
        route.contentType = "application/ogg";
    if (aac)
        route.contentType = "audio/aac";
    route.bytesPerSecond = 16000;
    route.burstBytes = 64 * 1024;
    server.setRoute("/station", route);
    server.setTitle("Artist - Song");

    QTemporaryDir folder;
    QDir dir(folder.path());
    dir.mkpath(QStringLiteral("settings"));
    dir.mkpath(QStringLiteral("system"));
    QFile::link(QStringLiteral("/usr/bin/lame"), dir.filePath(QStringLiteral("system/lame")));
    auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    write(QStringLiteral("radiolist.dat"), "[Bench FM]\r\ngenre=Test\r\nlanguage=English\r\n"
                                           "streaming=" +
                                               QByteArray::fromStdString(server.url("/station")) +
                                               "\r\n");
    write(QStringLiteral("settings/language.dat"), "English\r\n");
    write(QStringLiteral("settings/genre.dat"), "Test\r\n");
    QDir::setCurrent(folder.path());
    const auto settings = [&](const QByteArray& record) {
        write(QStringLiteral("settings/settings.dat"), "[record]\r\n" + record);
    };
    settings({});

    Application::Options options;
    options.output = engine::OutputKind::Null;
    options.isConnected = [] { return true; };
    options.showMainWindow = false;
    Application app(options);
    if (!app.start()) {
        std::fprintf(stderr, "the player did not start\n");
        return 1;
    }
    TForm1& form = *app.form1();
    form.ListView1->selectOnly(0, false);
    form.sListView1DblClick();
    if (!waitUntil([&] { return form.SongTitle() == QLatin1String("Artist - Song"); }, 20000)) {
        std::fprintf(stderr, "the station did not play\n");
        return 1;
    }
    runFor(2000); // past the burst: the stream now arrives in real time

    // Alternating phases, so that a change in the machine's load touches
    // both sides alike; the medians are reported.
    std::vector<double> playing, recording, encoder, original;
    for (int round = 0; round < rounds; ++round) {
        const double playStart = cpuSeconds(RUSAGE_SELF);
        runFor(seconds * 1000);
        playing.push_back(cpuSeconds(RUSAGE_SELF) - playStart);

        settings("format=lame\r\n");
        const double childrenStart = cpuSeconds(RUSAGE_CHILDREN);
        const double recordStart = cpuSeconds(RUSAGE_SELF);
        form.SpeedButton2->click();
        runFor(seconds * 1000);
        form.SpeedButton2->click(); // returns once the encoder has exited
        recording.push_back(cpuSeconds(RUSAGE_SELF) - recordStart);
        encoder.push_back(cpuSeconds(RUSAGE_CHILDREN) - childrenStart);

        settings("format=original\r\n");
        const double originalStart = cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN);
        form.SpeedButton2->click();
        runFor(seconds * 1000);
        form.SpeedButton2->click();
        original.push_back(cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN) - originalStart);
        settings({});
        std::printf("round %d: playing %.3f s, + lame %.3f s (encoder %.3f s), + own format "
                    "%.3f s\n",
                    round + 1, playing.back(), recording.back(), encoder.back(), original.back());
    }
    const double play = median(playing);
    const double record = median(recording);
    const double encode = median(encoder);
    const double feed = record - play;
    const double own = median(original) - play;
    std::printf("phase length          %d s, %d rounds, medians:\n", seconds, rounds);
    std::printf("playing               %.3f s CPU (%.2f %% of one core)\n", play,
                100.0 * play / seconds);
    std::printf("playing + recording   %.3f s CPU in the player\n", record);
    std::printf("feed overhead         %.3f s CPU = %.1f %% of the playing cost\n", feed,
                100.0 * feed / play);
    std::printf("encoder program       %.3f s CPU = %.1f %% of the playing cost\n", encode,
                100.0 * encode / play);
    std::printf("station's own format  %.3f s CPU = %.1f %% of the playing cost (all of it)\n", own,
                100.0 * own / play);
    const QStringList files =
        QDir(QStringLiteral("Recorded/Bench FM")).entryList(QDir::Files, QDir::Name);
    std::printf("recorded files        %lld in %s\n", static_cast<long long>(files.size()),
                qPrintable(QDir(folder.path()).filePath("Recorded/Bench FM")));
    if (ogg)
        return files.size() == 2 * rounds ? 0 : 1;
    // A song change with the song kept from its start: what it keeps grows
    // with what plays, until its bound (64 MB). The station's own format
    // first: memory the other freed would be taken again without the
    // resident size growing.
    const auto songKept = [&](const QByteArray& record, const char* title) {
        settings("fromstart=true\r\n" + record);
        server.setTitle(title);
        waitUntil([&] { return form.SongTitle() == QLatin1String(title); }, 20000);
        const double memoryStart = residentBytes();
        runFor(seconds * 1000);
        const double perSecond = std::max(0.0, (residentBytes() - memoryStart) / seconds);
        return std::pair{perSecond, std::min(perSecond * 600, 64.0 * 1024 * 1024)};
    };
    const auto [ownPerSecond, ownTenMinutes] = songKept("format=original\r\n", "Artist - Next");
    const auto [perSecond, tenMinutes] = songKept({}, "Artist - Third");
    std::printf("song kept             %.0f KB/s of resident memory; a 10-minute song: %.1f MB "
                "(bound 64 MB)\n",
                perSecond / 1024, tenMinutes / (1024 * 1024));
    std::printf("song kept, own format %.0f KB/s of resident memory; a 10-minute song: %.1f MB\n",
                ownPerSecond / 1024, ownTenMinutes / (1024 * 1024));
    return files.size() == 2 * rounds ? 0 : 1;
}
