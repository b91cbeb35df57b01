// A long listening session: the player plays a loopback Icecast mount
// through a private PulseAudio server for `minutes`, the song title changes
// every 20 seconds, and the recorder runs with splitting on, so every song
// is filed. Once a minute it samples the process: resident memory, CPU time
// used, open descriptors and threads. Growth is reported from the first
// sample (taken after a minute of warm-up) to the last.
//
//   bench_soak [minutes]      (default 60)
//
// Needs icecast2, ffmpeg, lame and pulseaudio (scripts/install-deps.sh).

#include "BenchPlayer.h"
#include "IcecastServer.h"
#include "PulseServer.h"
#include "app/Application.h"
#include "app/StationListView.h"
#include "app/TForm1.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QToolButton>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

using namespace tolvane;
using namespace tolvane::bench;
using namespace tolvane::test;

namespace {

struct Sample {
    double minutes = 0;
    long rssKb = 0;
    double cpuSeconds = 0;
    int descriptors = 0;
    int threads = 0;
};

long statusKb(const char* key) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

int entries(const QString& dir) {
    return int(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
}

Sample sample(double minutes) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    Sample s;
    s.minutes = minutes;
    s.rssKb = statusKb("VmRSS:");
    s.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    s.descriptors = entries(QStringLiteral("/proc/self/fd"));
    s.threads = entries(QStringLiteral("/proc/self/task"));
    return s;
}

void print(const Sample& s) {
    std::printf("%7.1f min  RSS %7ld kB  CPU %8.2f s  fds %3d  threads %3d\n", s.minutes, s.rssKb,
                s.cpuSeconds, s.descriptors, s.threads);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    const int minutes = argc > 1 ? std::max(2, std::atoi(argv[1])) : 60;
    SilentMessages silent;

    PulseServer pulse;
    IcecastServer icecast;
    const QString mount = QStringLiteral("/soak.mp3");
    if (!pulse.isRunning() || !icecast.isRunning() || !icecast.startSource(mount) ||
        !icecast.setTitle(mount, QStringLiteral("Artist 0 - Song 0"))) {
        std::fprintf(stderr, "PulseAudio or Icecast failed: %s %s\n",
                     qPrintable(pulse.errorString()), qPrintable(icecast.errorString()));
        return 1;
    }
    const QString station = QStringLiteral("Soak FM");
    BenchProgramFolder folder({{station, icecast.mountUrl(mount).toString()}});
    folder.write(QStringLiteral("settings/settings.dat"),
                 "[radio]\r\nseparate=true\r\ninterval=1\r\ninterval2=1\r\n");
    QDir().mkpath(folder.path(QStringLiteral("system")));
    QFile::link(QStringLiteral("/usr/bin/lame"), folder.path(QStringLiteral("system/lame")));

    Application::Options options;
    options.output = engine::OutputKind::PulseAudio;
    options.isConnected = [] { return true; };
    options.showMainWindow = false;
    Application app(options);
    if (!app.start())
        return 1;
    TForm1& form = *app.form1();
    form.Timer2->stop(); // no update pass: nothing to fetch from here
    StationListView* list = form.ListView1;
    if (list->topLevelItemCount() != 1)
        return 1;
    list->topLevelItem(0)->setSelected(true);
    form.sListView1DblClick();
    if (!pumpUntil([&] { return form.Label4->text() == QLatin1String("Tolvane Test Tone"); },
                   20000)) {
        std::fprintf(stderr, "the station did not start: %s\n", qPrintable(form.Label4->text()));
        return 1;
    }
    form.SpeedButton2->click(); // record
    if (!pumpUntil([&] { return form.IsRecording; }, 5000)) {
        std::fprintf(stderr, "the recorder did not start\n");
        return 1;
    }

    QElapsedTimer clock;
    clock.start();
    std::vector<Sample> samples;
    int song = 0;
    qint64 nextTitle = 20000, nextSample = 60000;
    const qint64 end = qint64(minutes) * 60000;
    std::printf("playing and recording for %d minutes, a new title every 20 s\n", minutes);
    while (clock.elapsed() < end) {
        pumpUntil([] { return false; }, 200);
        if (clock.elapsed() >= nextTitle) {
            ++song;
            icecast.setTitle(mount, QStringLiteral("Artist %1 - Song %1").arg(song));
            nextTitle += 20000;
        }
        if (clock.elapsed() >= nextSample) {
            samples.push_back(sample(double(clock.elapsed()) / 60000));
            print(samples.back());
            nextSample += 60000;
        }
    }
    const bool stillPlaying = form.Label4->text() == QLatin1String("Tolvane Test Tone");
    form.SpeedButton2->click(); // file the last song
    pumpUntil([&] { return !form.IsRecording; }, 10000);
    const int filed =
        int(QDir(folder.path(QStringLiteral("Recorded/") + station)).entryList(QDir::Files).size());
    form.close();
    app.destroyWindows();

    if (samples.size() < 2)
        return 1;
    const Sample& a = samples.front();
    const Sample& b = samples.back();
    const double hours = (b.minutes - a.minutes) / 60;
    std::printf("\nfrom minute %.1f to %.1f (%.2f h): %d songs announced, %d files filed, "
                "still playing: %s\n",
                a.minutes, b.minutes, hours, song, filed, stillPlaying ? "yes" : "no");
    std::printf("RSS growth %+ld kB (%+.0f kB per hour), CPU %.1f%% of one core\n",
                b.rssKb - a.rssKb, double(b.rssKb - a.rssKb) / hours,
                100 * (b.cpuSeconds - a.cpuSeconds) / ((b.minutes - a.minutes) * 60));
    std::printf("descriptors %d -> %d, threads %d -> %d\n", a.descriptors, b.descriptors, a.threads,
                b.threads);
    return 0;
}
