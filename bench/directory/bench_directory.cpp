// "Find Stations" answered by the loopback directory with 10,000 stations in
// one reply (the most one search holds): the time from the reply's last byte
// to the first page painted in the list, split into the worker's part (the
// reply read and handed over) and the window's (the results listed and
// painted), and what the window holds in memory (resident set size after the
// results, against before the window was first made). Then the reply read
// alone on this thread, in CPU time, which a busy machine does not inflate.
// Offscreen; prints each run and the medians.
//
//   bench_directory [stations] [runs]     (defaults 10000 7)

#include "DirectoryServer.h"
#include "directory/DirectoryClient.h"
#include "directory/ResultsModel.h"
#include "directory/TForm11.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace tolvane;
using Clock = std::chrono::steady_clock;

namespace {

double rssMb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return 0;
}

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double ms(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Notes when the list's viewport starts painting rows (the scroll area's own
// filter then paints them; 50 rows take about a millisecond).
class PaintWatch : public QObject {
public:
    Clock::time_point painted{};
    const QAbstractItemModel* model = nullptr;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && model->rowCount() > 0 &&
            painted == Clock::time_point{})
            painted = Clock::now();
        return false;
    }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int stations = args.size() > 1 ? args[1].toInt() : directory::MaxResults;
    const int runs = args.size() > 2 ? std::max(1, args[2].toInt()) : 7;

    test::DirectoryServer server;
    if (!server.start())
        qFatal("cannot start the loopback directory");
    server.addNumberedStations(stations);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QDir().mkpath(QStringLiteral("settings"));
    QFile services(QStringLiteral("settings/services.dat"));
    if (!services.open(QIODevice::WriteOnly) ||
        services.write("[services]\ndirectory=" + server.base().toUtf8() + "\n") < 0)
        qFatal("cannot write services.dat");
    services.close();

    const double before = rssMb();
    TForm11 window;
    window.pageSize = stations;
    window.limits.totalTimeoutMs = 60'000;
    PaintWatch watch;
    watch.model = &window.results();
    window.resultList->viewport()->installEventFilter(&watch);

    std::vector<double> total, worker, shown, memory;
    Clock::time_point arrived{};
    for (int run = 0; run < runs; ++run) {
        watch.painted = {};
        if (run == 0) {
            window.show(); // the first showing searches
            QObject::connect(window.client(), &directory::DirectoryClient::stationsArrived, &window,
                             [&] { arrived = Clock::now(); });
        } else {
            window.startSearch();
        }
        QElapsedTimer limit;
        limit.start();
        while (watch.painted == Clock::time_point{} && limit.elapsed() < 120'000)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        const Clock::time_point lastByte = window.client()->lastReplyReceived();
        total.push_back(ms(lastByte, watch.painted));
        worker.push_back(ms(lastByte, arrived));
        shown.push_back(ms(arrived, watch.painted));
        memory.push_back(rssMb() - before);
        std::printf("run %d: %d held, %d shown; last byte to first page %.1f ms (worker %.1f, "
                    "window %.1f); window %.1f MB\n",
                    run + 1, window.results().heldCount(), window.results().rowCount(),
                    total.back(), worker.back(), shown.back(), memory.back());
    }
    std::printf("median: last byte to first page %.1f ms (worker %.1f, window %.1f); window "
                "memory %.1f MB (%d stations)\n",
                median(total), median(worker), median(shown), median(memory), stations);

    const directory::FetchOutcome reply =
        directory::fetchDirectory(server.base() + directory::searchPath({}, 0, stations), false,
                                  window.limits, [] { return false; });
    std::vector<double> cpu;
    for (int run = 0; run < runs; ++run) {
        const double start = threadCpuMs();
        const auto parsed = directory::parseStations(reply.body, stations);
        cpu.push_back(threadCpuMs() - start);
        if (parsed.value.size() != stations)
            qFatal("the reply was not read: %s", qPrintable(parsed.error));
    }
    std::printf("the reply alone (%.1f MB): read in %.1f ms of CPU (median)\n",
                reply.body.size() / (1024.0 * 1024.0), median(cpu));
    return 0;
}
