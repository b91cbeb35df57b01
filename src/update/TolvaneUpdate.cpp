// TolvaneUpdate: the small program the player hands over to at start-up
// when its settings ask for it. It runs in the program folder (its current
// directory), waits until every player running from that folder has ended,
// and then starts the player there again.
//
//   exit status 0: the player was started again
//               1: a player was still running after the wait's bound
//               2: the player could not be started

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <cstdio>

namespace {

const QString PlayerName = QStringLiteral("tolvane");
// A player that has not ended after this long is left alone.
constexpr int WaitBoundMs = 120'000;
constexpr int PollMs = 200;

// Whether any process runs the player from folder: its executable is named
// like the player and its working directory is the folder.
bool playerRunsIn(const QString& folder, qint64 self) {
    const QDir proc(QStringLiteral("/proc"));
    const QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid || pid == self)
            continue;
        const QString base = QStringLiteral("/proc/") + entry;
        QString exe = QFileInfo(base + QStringLiteral("/exe")).symLinkTarget();
        exe.remove(QStringLiteral(" (deleted)"));
        if (QFileInfo(exe).fileName() != PlayerName)
            continue;
        const QString cwd = QFileInfo(base + QStringLiteral("/cwd")).symLinkTarget();
        if (QDir::cleanPath(cwd) == folder)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString folder = QDir::cleanPath(QFileInfo(QDir::currentPath()).canonicalFilePath());
    const qint64 self = QCoreApplication::applicationPid();

    QElapsedTimer waited;
    waited.start();
    while (playerRunsIn(folder, self)) {
        if (waited.elapsed() > WaitBoundMs) {
            std::fprintf(stderr, "TolvaneUpdate: the player in %s did not end\n",
                         qPrintable(folder));
            return 1;
        }
        QThread::msleep(PollMs);
    }

    const QString player = folder + u'/' + PlayerName;
    if (!QProcess::startDetached(player, {}, folder)) {
        std::fprintf(stderr, "TolvaneUpdate: cannot start %s\n", qPrintable(player));
        return 2;
    }
    return 0;
}
