// What recording costs: the player's CPU time while it plays a 128 kbit/s
// MP3 station (a loopback stream server sending in real time), against the
// same while it also records it, in one run. The player's own extra time is
// the feed's overhead (queue, writer thread, pipe); the encoder program's
// time is counted apart, as the children's time once it has exited.
//
//   bench_recording [seconds]   (default 20 per phase)
//
// Runs on the engine's null output, which keeps real time like a sound card.

#include "AudioSamples.h"
#include "StreamServer.h"
#include "app/Application.h"
#include "app/TForm1.h"
#include "common/Messages.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

using namespace tolvane;
using namespace tolvane::test;

namespace {

class Silent final : public MessageSink {
public:
    void show(const Message& m) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(m.text));
    }
    bool confirm(const QString&, const QString&, ConfirmButtons) override { return false; }
};

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void runFor(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool waitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
    Silent silent;
    setMessageSink(&silent);

    const std::string mp3 = AudioSamples::tone(SampleFormat::Mp3, ToneShape{.seconds = 30});
    StreamServer server;
    if (mp3.empty() || !server.start()) {
        std::fprintf(stderr, "no test audio or no server\n");
        return 1;
    }
    StreamRoute route = StreamRoute::audio(mp3);
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
    form.ListView1->topLevelItem(0)->setSelected(true);
    form.sListView1DblClick();
    if (!waitUntil([&] { return form.SongTitle() == QLatin1String("Artist - Song"); }, 20000)) {
        std::fprintf(stderr, "the station did not play\n");
        return 1;
    }
    runFor(2000); // past the burst: the stream now arrives in real time

    const double playStart = cpuSeconds(RUSAGE_SELF);
    runFor(seconds * 1000);
    const double playing = cpuSeconds(RUSAGE_SELF) - playStart;

    const double childrenStart = cpuSeconds(RUSAGE_CHILDREN);
    const double recordStart = cpuSeconds(RUSAGE_SELF);
    form.SpeedButton2->click();
    runFor(seconds * 1000);
    form.SpeedButton2->click(); // returns once the encoder has exited
    const double recording = cpuSeconds(RUSAGE_SELF) - recordStart;
    const double encoder = cpuSeconds(RUSAGE_CHILDREN) - childrenStart;

    const double feed = recording - playing;
    std::printf("phase length          %d s\n", seconds);
    std::printf("playing               %.3f s CPU (%.2f %% of one core)\n", playing,
                100.0 * playing / seconds);
    std::printf("playing + recording   %.3f s CPU in the player\n", recording);
    std::printf("feed overhead         %.3f s CPU = %.1f %% of the playing cost\n", feed,
                100.0 * feed / playing);
    std::printf("encoder program       %.3f s CPU (%.2f %% of one core)\n", encoder,
                100.0 * encoder / seconds);
    std::printf("recorded file         %s\n",
                qPrintable(QDir(folder.path()).filePath("Recorded/Bench FM/Artist - Song.mp3")));
    return QFile::exists(QStringLiteral("Recorded/Bench FM/Artist - Song.mp3")) ? 0 : 1;
}
