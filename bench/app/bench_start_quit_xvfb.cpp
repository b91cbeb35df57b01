// Times what a large catalog costs a start and quit of the real player,
// from outside: the tolvane program of a laid-out program folder runs on a
// private X display (Xvfb) with a private sound server, once in a copy of
// the folder as shipped and once in a copy whose radiolist.dat holds a
// generated catalog. A run starts the player in its folder, waits until its
// main window is mapped and its termination handler is installed, sends
// SIGTERM (which closes the window as Exit does) and waits for the process
// to end. Runs alternate between the two folders after one uncounted
// warm-up run of each; each run's times and the medians are printed.
//
// Both copies point every outside host (the services and the update site)
// at 127.0.0.1:9, so no run waits for the network. The player runs in the
// locale of LANG, en_US.UTF-8 when it is not set, as a desktop session
// would give it. A message box at start-up (a window owned by another) stops
// the benchmark: its runs would time the user, not the player.
//
//   bench_start_quit_xvfb [program-folder] [stations] [runs]
//   (defaults: the build's Tolvane folder, 50000, 3)

#include "GeneratedCatalog.h"
#include "PulseServer.h"
#include "XvfbDesktop.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace tolvane;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int MapTimeoutMs = 60000;
constexpr int QuitTimeoutMs = 30000;

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "bench_start_quit_xvfb: %s\n", why.c_str());
    std::exit(1);
}

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        fail("cannot write " + path.toStdString());
}

// A copy of the program folder (links stay links), without the files a
// previous run of the player left there, its hosts pointing at a closed
// local port.
void copyProgramFolder(const std::filesystem::path& from, const std::filesystem::path& to) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    if (error)
        fail("cannot copy " + from.string() + ": " + error.message());
    fs::remove(to / "temp.dat", error);
    QByteArray services = "[services]\n";
    for (const char* key :
         {"main", "radio", "site", "lyrics", "facebook", "twitter", "facebookpage", "twitterpage"})
        services += QByteArray(key) + "=http://127.0.0.1:9\n";
    writeFile(QString::fromStdString((to / "settings" / "services.dat").string()), services);
    const QString settingsPath =
        QString::fromStdString((to / "settings" / "settings.dat").string());
    QFile settings(settingsPath);
    QByteArray lines;
    if (settings.open(QIODevice::ReadOnly))
        lines = settings.readAll();
    settings.close();
    QByteArray updated;
    for (const QByteArray& line : lines.split('\n')) {
        if (line.isEmpty())
            continue;
        updated += line.trimmed().startsWith("website=") ? "website=http://127.0.0.1:9" : line;
        updated += '\n';
    }
    writeFile(settingsPath, updated);
}

// The X side: MapNotify events of top-level windows.
class Display {
public:
    Display() {
        connection_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection_))
            fail("cannot connect to the X display");
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
    }
    ~Display() { xcb_disconnect(connection_); }

    // Waits for the next top-level window to be mapped; nullopt on time-out.
    std::optional<xcb_window_t> nextMapped(Clock::time_point deadline) {
        for (;;) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
                const xcb_window_t window =
                    mapped ? reinterpret_cast<xcb_map_notify_event_t*>(event)->window : 0;
                const bool overrideRedirect =
                    mapped && reinterpret_cast<xcb_map_notify_event_t*>(event)->override_redirect;
                std::free(event);
                if (mapped && !overrideRedirect)
                    return window;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
            ::poll(&fd, 1, static_cast<int>(left.count()));
        }
    }

    std::string title(xcb_window_t window) {
        auto* reply =
            xcb_get_property_reply(connection_,
                                   xcb_get_property(connection_, 0, window, XCB_ATOM_WM_NAME,
                                                    XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
                                   nullptr);
        std::string text;
        if (reply) {
            text.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                        static_cast<size_t>(xcb_get_property_value_length(reply)));
            std::free(reply);
        }
        return text;
    }

    // A message box or other dialog is transient for its owner.
    bool ownedByAnother(xcb_window_t window) {
        auto* reply = xcb_get_property_reply(connection_,
                                             xcb_get_property(connection_, 0, window,
                                                              XCB_ATOM_WM_TRANSIENT_FOR,
                                                              XCB_ATOM_WINDOW, 0, 1),
                                             nullptr);
        const bool owned = reply && xcb_get_property_value_length(reply) > 0;
        std::free(reply);
        return owned;
    }

private:
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
};

// Whether the process has a handler for SIGTERM installed yet: until then
// the signal would kill it instead of closing its window.
bool catchesTerm(pid_t pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
    }
    return false;
}

struct Run {
    double shown = 0; // from the start to the main window mapped
    double ready = 0; // ... and the termination handler installed
    double quit = 0;  // from SIGTERM to the end of the process
    double total = 0; // from the start to the end
    double cpu = 0;   // the player's own processor time
};

Run runOnce(Display& display, const std::string& folder, const std::string& log) {
    std::fflush(nullptr); // the child must not write out this process's buffers
    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid < 0)
        fail("fork failed");
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0)
            _exit(126);
        if (!freopen(log.c_str(), "w", stderr) || !freopen("/dev/null", "w", stdout))
            _exit(126);
        execl("./tolvane", "tolvane", static_cast<char*>(nullptr));
        _exit(127);
    }
    auto giveUp = [&](const std::string& why) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        fail(why + " (the player's messages are in " + log + ")");
    };

    Run run;
    const Clock::time_point mapDeadline = start + std::chrono::milliseconds(MapTimeoutMs);
    for (;;) {
        const std::optional<xcb_window_t> window = display.nextMapped(mapDeadline);
        if (!window)
            giveUp("the main window did not appear");
        if (display.title(*window) != "Tolvane")
            continue;
        if (display.ownedByAnother(*window))
            giveUp("a message box appeared at start-up");
        break;
    }
    run.shown = msSince(start);
    while (!catchesTerm(pid)) {
        if (msSince(start) > MapTimeoutMs)
            giveUp("the player never listened for SIGTERM");
        usleep(200);
    }
    run.ready = msSince(start);

    const Clock::time_point stop = Clock::now();
    kill(pid, SIGTERM);
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        if (msSince(stop) > QuitTimeoutMs)
            giveUp("the player did not end on SIGTERM");
        usleep(200);
    }
    run.quit = msSince(stop);
    run.total = msSince(start);
    run.cpu = usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 +
              usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail("the player ended abnormally (messages in " + log + ")");
    return run;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Series {
    std::vector<Run> runs;
    double of(double Run::*field) const {
        std::vector<double> v;
        for (const Run& r : runs)
            v.push_back(r.*field);
        return median(v);
    }
};

void printRun(const char* which, int index, const Run& r) {
    std::printf("run %d %-8s shown %7.1f  ready %7.1f  quit %6.1f  total %7.1f  cpu %7.1f ms\n",
                index, which, r.shown, r.ready, r.quit, r.total, r.cpu);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    // The player's display, before anything connects to X.
    test::Desktop desktop(false);
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString folder =
        args.size() > 1 ? args[1] : QCoreApplication::applicationDirPath() + "/../../Tolvane";
    const int stations = args.size() > 2 ? args[2].toInt() : 50000;
    const int runs = args.size() > 3 ? std::max(1, args[3].toInt()) : 3;
    if (!QFile::exists(folder + "/tolvane"))
        fail("no player in " + folder.toStdString() + " (run scripts/layout.sh <build> first)");
    if (!desktop.ready())
        fail("Xvfb did not start");

    test::PulseServer pulse;
    if (!pulse.isRunning())
        fail("no sound server: " + pulse.errorString().toStdString());
    // The player's windows go to Xvfb; nothing of a desktop session is used.
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    if (qEnvironmentVariableIsEmpty("LANG") && qEnvironmentVariableIsEmpty("LC_ALL"))
        setenv("LANG", "en_US.UTF-8", 1);

    QTemporaryDir work;
    if (!work.isValid())
        fail("cannot make a temporary folder");
    const std::filesystem::path root = work.path().toStdString();
    const std::string shipped = (root / "shipped").string(), large = (root / "large").string();
    copyProgramFolder(folder.toStdString(), shipped);
    copyProgramFolder(folder.toStdString(), large);
    writeFile(QString::fromStdString(large + "/radiolist.dat"), bench::makeCatalog(stations, 1));
    const std::string log = (root / "player.log").string();

    std::printf("program folder %s; %d generated stations (%lld KiB); %d runs each; LANG=%s "
                "LC_ALL=%s\n",
                qPrintable(QDir(folder).canonicalPath()), stations,
                static_cast<long long>(
                    QFile(QString::fromStdString(large + "/radiolist.dat")).size() / 1024),
                runs, qgetenv("LANG").constData(), qgetenv("LC_ALL").constData());
    Display display;
    runOnce(display, shipped, log); // warm-up: disk cache, fonts, the sound server
    runOnce(display, large, log);
    Series small, big;
    for (int i = 1; i <= runs; ++i) {
        small.runs.push_back(runOnce(display, shipped, log));
        printRun("shipped", i, small.runs.back());
        big.runs.push_back(runOnce(display, large, log));
        printRun("large", i, big.runs.back());
    }
    std::printf("medians, ms        shipped    %d stations   difference\n", stations);
    const std::pair<const char*, double Run::*> rows[] = {{"window shown", &Run::shown},
                                                          {"quit", &Run::quit},
                                                          {"start and quit", &Run::total},
                                                          {"player cpu", &Run::cpu}};
    for (const auto& [name, field] : rows)
        std::printf("%-16s %9.1f %13.1f %12.1f\n", name, small.of(field), big.of(field),
                    big.of(field) - small.of(field));
    const double added = big.of(&Run::total) - small.of(&Run::total);
    std::printf("the catalog adds %.1f ms to a start and quit: %.2f of the 200 ms target\n", added,
                added / 200.0);
    return 0;
}
