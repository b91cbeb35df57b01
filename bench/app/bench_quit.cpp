// Times quitting (the Exit command, Ctrl+E) until the program has let go of
// everything: once while a station plays through a private PulseAudio
// server, and once while connecting to a server that accepts and never
// answers. The same steps as main(): the command closes the main window,
// the event loop ends, the windows and the engine are destroyed.
//
//   bench_quit [runs]      (default 3)
//
// Prints each run and the medians in milliseconds.

#include "AudioSamples.h"
#include "BenchPlayer.h"
#include "PulseServer.h"
#include "StreamServer.h"
#include "app/Application.h"
#include "app/TForm1.h"
#include "common/Messages.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

using namespace tolvane;
using namespace tolvane::bench;
using namespace tolvane::test;

namespace {

// One run: opens `url`, waits until `ready` says the moment has come, then
// times Exit until the application is gone. nullopt when `ready` never held.
std::optional<qint64> timeQuit(const QString& url, const std::function<bool(TForm1&)>& ready) {
    BenchProgramFolder folder({{QStringLiteral("Bench"), url}});
    std::optional<qint64> result;
    QElapsedTimer since;
    {
        Application::Options options;
        options.output = engine::OutputKind::PulseAudio;
        options.isConnected = [] { return true; };
        options.showMainWindow = false;
        auto app = std::make_unique<Application>(options);
        if (app->start()) {
            TForm1& form = *app->form1();
            form.Edit1->setText(url);
            form.invoke(QStringLiteral("Run"));
            if (pumpUntil([&] { return ready(form); }, 20000)) {
                since.start();
                form.findChild<QAction*>(QStringLiteral("Exit1"))->trigger();
                QCoreApplication::processEvents();
                app->destroyWindows();
                app.reset();
                result = since.elapsed();
            }
        }
    }
    return result;
}

qint64 median(std::vector<qint64> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

void report(const char* what, const std::vector<qint64>& runs) {
    std::printf("%-34s", what);
    for (qint64 ms : runs)
        std::printf(" %6lld", static_cast<long long>(ms));
    std::printf("   median %lld ms\n", static_cast<long long>(median(runs)));
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    SilentMessages silent;

    PulseServer pulse;
    if (!pulse.isRunning()) {
        std::fprintf(stderr, "PulseAudio: %s\n", qPrintable(pulse.errorString()));
        return 1;
    }
    const std::string tone = AudioSamples::tone(SampleFormat::Mp3);
    StreamServer server;
    if (tone.empty() || !server.start()) {
        std::fprintf(stderr, "stream server or tone failed\n");
        return 1;
    }
    server.setRoute("/radio", StreamRoute::audio(tone));
    server.setRoute("/silent", StreamRoute::fault(StreamRoute::Kind::Stall));
    const QString playing = QString::fromStdString(server.url("/radio"));
    const QString silentServer = QString::fromStdString(server.url("/silent"));

    std::vector<qint64> whilePlaying, whileConnecting;
    for (int i = 0; i < runs; ++i) {
        // Playing: the clock runs, so the title read and playback are done.
        QElapsedTimer settle;
        if (auto ms = timeQuit(playing, [&](TForm1& form) {
                if (form.Timer->text() == QLatin1String("00:00:00"))
                    return false;
                if (!settle.isValid())
                    settle.start();
                return settle.elapsed() > 1000;
            }))
            whilePlaying.push_back(*ms);
        QElapsedTimer waited;
        waited.start();
        if (auto ms = timeQuit(silentServer, [&](TForm1& form) {
                return form.Label4->text() == QLatin1String("connecting...") &&
                       waited.elapsed() > 1000;
            }))
            whileConnecting.push_back(*ms);
    }
    std::printf("Exit (Ctrl+E) until the program is gone, ms per run:\n");
    report("while playing", whilePlaying);
    report("while connecting (no answer)", whileConnecting);
    return 0;
}
