// Times Load Playlist with its sorting step on a generated catalog of 50,000
// stations (plus a small radiouser.dat), the way the main window runs it.
// Prints each run and the median in milliseconds. Target: under 200 ms.
//
//   bench_catalog [stations] [runs] [locale]     (defaults 50000 7 en_US)

#include "GeneratedCatalog.h"
#include "catalog/Catalog.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace tolvane::catalog;
using tolvane::bench::makeCatalog;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// CPU time of the process, so runs on a busy machine can be judged apart
// from waiting for a core.
double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int stations = args.size() > 1 ? args[1].toInt() : 50000;
    const int runs = args.size() > 2 ? std::max(1, args[2].toInt()) : 7;
    QLocale::setDefault(QLocale(args.size() > 3 ? args[3] : QStringLiteral("en_US")));

    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("cannot make a temporary folder");
    QDir::setCurrent(dir.path());
    writeFile(dir.filePath("radiolist.dat"), makeCatalog(stations, 1));
    writeFile(dir.filePath("radiouser.dat"), makeCatalog(50, 2));

    QTextStream out(stdout);
    out << "catalog: " << stations << " stations, "
        << QFile(dir.filePath("radiolist.dat")).size() / 1024 << " KiB, locale " << QLocale().name()
        << Qt::endl;

    std::vector<double> times, cpuTimes;
    qsizetype rows = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        const double cpuStart = cpuMs();
        timer.start();
        const LoadResult result = loadPlaylist(Filter::fromBoxTexts("All", "All"), [](auto&) {});
        times.push_back(timer.nsecsElapsed() / 1e6);
        cpuTimes.push_back(cpuMs() - cpuStart);
        rows = result.rows.size();
        out << "run " << run + 1 << ": " << QString::number(times.back(), 'f', 1) << " ms (cpu "
            << QString::number(cpuTimes.back(), 'f', 1) << " ms)" << Qt::endl;
    }
    std::sort(times.begin(), times.end());
    std::sort(cpuTimes.begin(), cpuTimes.end());
    out << "rows listed: " << rows << Qt::endl;
    out << "median Load Playlist + sorting: " << QString::number(times[times.size() / 2], 'f', 1)
        << " ms (target < 200 ms), cpu " << QString::number(cpuTimes[cpuTimes.size() / 2], 'f', 1)
        << " ms" << Qt::endl;
    return 0;
}
