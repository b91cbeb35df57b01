// Times how long it takes from Run to the first audio at the sound server:
// a private PulseAudio server with a null sink, a loopback Icecast mount fed
// a tone by ffmpeg, and a capture of the sink's monitor watched as it grows.
// The same is measured for mpv opening the same mount (when it is installed),
// so the two can be compared on this machine.
//
//   bench_playback [runs]      (default 5)
//
// Prints each run and the medians in milliseconds, and their ratio.

#include "BenchPlayer.h"
#include "IcecastServer.h"
#include "PulseServer.h"
#include "app/Application.h"
#include "app/TForm1.h"
#include "common/Messages.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <vector>

using namespace tolvane;
using namespace tolvane::bench;
using namespace tolvane::test;

namespace {

constexpr int Threshold = 256;   // a sample louder than this is sound
constexpr int TimeoutMs = 20000; // a run that hears nothing by then failed

bool loud(const QByteArray& pcm) {
    const auto* s = reinterpret_cast<const qint16*>(pcm.constData());
    for (qsizetype i = 0; i < pcm.size() / 2; ++i) {
        if (std::abs(int(s[i])) > Threshold)
            return true;
    }
    return false;
}

// The recorder keeps its capture in the server's temporary folder, beside
// the runtime folder; the newest capture there is the one just started.
QString newestCapture(const PulseServer& pulse) {
    const QDir dir(QFileInfo(pulse.runtimeDir()).dir());
    const QFileInfoList captures =
        dir.entryInfoList({QStringLiteral("capture-*.raw")}, QDir::Files, QDir::Time);
    return captures.isEmpty() ? QString() : captures.first().absoluteFilePath();
}

// Watches the sink's monitor. ready() once the capture runs and the sink is
// quiet; heard() polls the capture until a loud sample arrives.
class Listener {
public:
    explicit Listener(const PulseServer& pulse)
        : rec_(pulse.startRecording()), path_(newestCapture(pulse)) {}
    ~Listener() {
        if (rec_)
            rec_->stop();
    }

    bool ready() {
        QElapsedTimer t;
        t.start();
        int quietMs = 0;
        // Half a second of silence: the previous player is gone.
        while (t.elapsed() < 5000) {
            QThread::msleep(100);
            const QByteArray pcm = fresh();
            quietMs = pcm.isEmpty() || loud(pcm) ? 0 : quietMs + 100;
            if (quietMs >= 500)
                return true;
        }
        return false;
    }

    // Polls every few milliseconds, letting `pump` run in between; returns
    // the time from `since` to the first loud sample seen.
    std::optional<qint64> heard(const QElapsedTimer& since, const std::function<void()>& pump) {
        while (since.elapsed() < TimeoutMs) {
            pump();
            if (loud(fresh()))
                return since.elapsed();
            QThread::msleep(2);
        }
        return std::nullopt;
    }

private:
    // The bytes captured since the last call.
    QByteArray fresh() {
        QFile f(path_);
        if (!f.open(QIODevice::ReadOnly) || !f.seek(read_))
            return {};
        QByteArray pcm = f.readAll();
        pcm.truncate(pcm.size() - pcm.size() % 2);
        read_ += pcm.size();
        return pcm;
    }

    std::unique_ptr<PulseRecording> rec_;
    QString path_;
    qint64 read_ = 0;
};

std::optional<qint64> timeTolvane(const PulseServer& pulse, const QString& url) {
    Listener listener(pulse);
    if (!listener.ready())
        return std::nullopt;

    BenchProgramFolder folder({{QStringLiteral("Bench"), url}});
    std::optional<qint64> result;
    {
        Application::Options options;
        options.output = engine::OutputKind::PulseAudio;
        options.isConnected = [] { return true; };
        options.showMainWindow = false;
        Application app(options);
        if (app.start()) {
            TForm1& form = *app.form1();
            form.Edit1->setText(url);
            QElapsedTimer since;
            since.start();
            form.invoke(QStringLiteral("Run"));
            // Where the time goes: connected (first buffering report) and
            // buffered (the station's name, just before playback starts).
            qint64 connected = -1, buffered = -1;
            result = listener.heard(since, [&] {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
                const QString status = form.Label4->text();
                const bool named = status == QLatin1String("Tolvane Test Tone");
                if (connected < 0 && (named || status.startsWith(QLatin1String("buffering"))))
                    connected = since.elapsed();
                if (buffered < 0 && named)
                    buffered = since.elapsed();
            });
            std::printf("  tolvane: connected %lld ms, buffered %lld ms, heard %lld ms\n",
                        static_cast<long long>(connected), static_cast<long long>(buffered),
                        static_cast<long long>(result.value_or(-1)));
            form.close();
        }
        app.destroyWindows();
    }
    return result;
}

std::optional<qint64> timeMpv(const PulseServer& pulse, const QString& mpv, const QString& url) {
    Listener listener(pulse);
    if (!listener.ready())
        return std::nullopt;
    QProcess player;
    player.setProcessEnvironment(pulse.clientEnvironment());
    player.setStandardOutputFile(QProcess::nullDevice());
    player.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer since;
    since.start();
    player.start(mpv, {QStringLiteral("--no-config"), QStringLiteral("--no-video"),
                       QStringLiteral("--no-terminal"), QStringLiteral("--ao=pulse"), url});
    const std::optional<qint64> result = listener.heard(since, [] {});
    player.terminate();
    if (!player.waitForFinished(3000)) {
        player.kill();
        player.waitForFinished(3000);
    }
    return result;
}

qint64 median(std::vector<qint64> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

void printRuns(const char* who, const std::vector<qint64>& runs, int failed) {
    std::printf("%-8s", who);
    for (qint64 ms : runs)
        std::printf(" %6lld", static_cast<long long>(ms));
    if (failed)
        std::printf("   (%d runs heard nothing)", failed);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    SilentMessages silent;

    PulseServer pulse;
    if (!pulse.isRunning()) {
        std::fprintf(stderr, "PulseAudio: %s\n", qPrintable(pulse.errorString()));
        return 1;
    }
    IcecastServer icecast;
    if (!icecast.isRunning() || !icecast.startSource(QStringLiteral("/tone.mp3"))) {
        std::fprintf(stderr, "Icecast: %s\n%s\n", qPrintable(icecast.errorString()),
                     icecast.log().constData());
        return 1;
    }
    icecast.setTitle(QStringLiteral("/tone.mp3"), QStringLiteral("Bench - Tone"));
    const QString url = icecast.mountUrl(QStringLiteral("/tone.mp3")).toString();
    const QString mpv = QStandardPaths::findExecutable(QStringLiteral("mpv"));

    std::printf("Run to first audio at the null sink, %s, ms per run:\n", qPrintable(url));
    // One run of each first, not counted: the first listener of a mount
    // and the first client of the sound server pay for setting things up.
    timeTolvane(pulse, url);
    if (!mpv.isEmpty())
        timeMpv(pulse, mpv, url);
    std::vector<qint64> tolvaneRuns, mpvRuns;
    int tolvaneFailed = 0, mpvFailed = 0;
    for (int i = 0; i < runs; ++i) {
        // Alternate, so that neither player always meets a warmer server.
        if (auto ms = timeTolvane(pulse, url))
            tolvaneRuns.push_back(*ms);
        else
            ++tolvaneFailed;
        if (!mpv.isEmpty()) {
            if (auto ms = timeMpv(pulse, mpv, url))
                mpvRuns.push_back(*ms);
            else
                ++mpvFailed;
        }
    }
    printRuns("tolvane", tolvaneRuns, tolvaneFailed);
    if (mpv.isEmpty()) {
        std::printf("mpv      not installed\n");
    } else {
        printRuns("mpv", mpvRuns, mpvFailed);
    }
    const qint64 t = median(tolvaneRuns);
    const qint64 m = median(mpvRuns);
    std::printf("median: tolvane %lld ms", static_cast<long long>(t));
    if (!mpv.isEmpty() && m > 0)
        std::printf(", mpv %lld ms, ratio tolvane/mpv %.2f", static_cast<long long>(m),
                    double(t) / double(m));
    std::printf("\n");
    return 0;
}
