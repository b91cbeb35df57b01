// Times what a catalog costs the whole player: start (create step, first
// showing with Load Playlist and the filter lists) and quit, in-process on
// the engine's null output, once with a three-station catalog and once with
// a generated one. Also times one filter change (a Load Playlist into the
// list) and Reload list. Prints the median of each in milliseconds; the
// difference between the two catalogs is what the catalog adds to a start
// and quit. Run with QT_QPA_PLATFORM=offscreen (or under Xvfb).
//
//   bench_main_window [stations] [runs]     (defaults 50000 5)

#include "BenchPlayer.h"
#include "GeneratedCatalog.h"
#include "app/Application.h"
#include "app/TForm1.h"
#include "common/Messages.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <ctime>
#include <vector>

using namespace tolvane;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// CPU time of the process (all its threads), so runs on a busy machine can
// be judged apart from waiting for a core.
double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Times {
    double startQuit = 0, filter = 0, reload = 0;
    double startQuitCpu = 0, filterCpu = 0;
};

Times measure(const QByteArray& catalog, int runs) {
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    writeFile(dir.filePath("radiolist.dat"), catalog);
    QDir().mkpath(dir.filePath("settings"));
    writeFile(dir.filePath("settings/language.dat"), "English\r\nGerman\r\nFrench\r\n");
    writeFile(dir.filePath("settings/genre.dat"), "Rock\r\nJazz\r\nPop\r\n");
    writeFile(dir.filePath("settings/services.dat"), "[services]\nmain=http://127.0.0.1:9\n");
    std::vector<double> startQuit, filter, reload, startQuitCpu, filterCpu;
    for (int run = 0; run < runs; ++run) {
        Application::Options options;
        options.output = engine::OutputKind::Null;
        options.isConnected = [] { return true; };
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = cpuMs();
        auto app = std::make_unique<Application>(options);
        if (!app->start())
            qFatal("the player did not start");
        QCoreApplication::processEvents();
        const qint64 started = timer.nsecsElapsed();
        const double cpuStarted = cpuMs() - cpuStart;
        TForm1& form = *app->form1();
        form.Timer2->stop();

        QElapsedTimer step;
        step.start();
        double cpuStep = cpuMs();
        form.ComboBox2->setEditText(QStringLiteral("Rock"));
        QCoreApplication::processEvents();
        filter.push_back(step.nsecsElapsed() / 1e6);
        filterCpu.push_back(cpuMs() - cpuStep);
        step.restart();
        form.invoke(QStringLiteral("Button8"));
        QCoreApplication::processEvents();
        reload.push_back(step.nsecsElapsed() / 1e6);

        const qint64 beforeQuit = timer.nsecsElapsed();
        cpuStep = cpuMs();
        form.close();
        app.reset();
        QCoreApplication::processEvents();
        startQuit.push_back((started + timer.nsecsElapsed() - beforeQuit) / 1e6);
        startQuitCpu.push_back(cpuStarted + cpuMs() - cpuStep);
    }
    QDir::setCurrent(QDir::tempPath());
    return {median(startQuit), median(filter), median(reload), median(startQuitCpu),
            median(filterCpu)};
}

} // namespace

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    const QStringList args = qt.arguments();
    const int stations = args.size() > 1 ? args[1].toInt() : 50000;
    const int runs = args.size() > 2 ? std::max(1, args[2].toInt()) : 5;
    bench::SilentMessages silent;

    const Times small =
        measure("[Rock FM]\r\ngenre=Rock\r\n[Jazz]\r\ngenre=Jazz\r\n[Pop]\r\n", runs);
    const Times large = measure(bench::makeCatalog(stations, 1), runs);
    QTextStream out(stdout);
    auto ms = [](double v) { return QString::number(v, 'f', 1); };
    out << "medians of " << runs << " runs, ms: 3 stations / " << stations << " stations"
        << Qt::endl;
    out << "start and quit: " << ms(small.startQuit) << " / " << ms(large.startQuit)
        << "  (the catalog adds " << ms(large.startQuit - small.startQuit) << ", target <= 200)"
        << Qt::endl;
    out << "  cpu: " << ms(small.startQuitCpu) << " / " << ms(large.startQuitCpu) << Qt::endl;
    out << "one filter change: " << ms(small.filter) << " / " << ms(large.filter) << "  (cpu "
        << ms(small.filterCpu) << " / " << ms(large.filterCpu) << ")" << Qt::endl;
    out << "Reload list: " << ms(small.reload) << " / " << ms(large.reload) << Qt::endl;
    return 0;
}
