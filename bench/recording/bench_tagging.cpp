// How long tagging a filed recording takes: tagRecording on a file of the
// given size (default 30 MB, a long song at 128 kbit/s), with a 100 x 100
// JPEG picture, in a temporary folder on the disk the recordings go to.
//
//   bench_tagging [megabytes [rounds] [folder]]   (default 30 MB, 5 rounds)

#include "recording/RecordingTags.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace tolvane::recording;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? std::atoll(argv[1]) : 30;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    QTemporaryDir dir(argc > 3 ? QString::fromLocal8Bit(argv[3]) + "/tagging-XXXXXX"
                               : QDir::tempPath() + "/tagging-XXXXXX");
    if (!dir.isValid() || megabytes <= 0 || rounds <= 0)
        return 1;
    const QString path = dir.filePath("Artist - Song.mp3");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        const QByteArray block(1024 * 1024, '\xAA');
        for (qint64 i = 0; i < megabytes; ++i)
            file.write(block);
    }
    const RecordingTags tags =
        recordingTags(QStringLiteral("Artist - Song"), QStringLiteral("Radio X"),
                      QStringLiteral("http://x.example"), QDateTime::currentDateTime(),
                      QByteArray(8 * 1024, 'j'));
    std::vector<double> ms;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer clock;
        clock.start();
        if (tagRecording(path, tags) != TagResult::Tagged)
            return 2;
        ms.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("tagging a %lld MB recording: median %.1f ms, min %.1f ms, max %.1f ms "
                "(%d rounds)\n",
                static_cast<long long>(megabytes), ms[ms.size() / 2], ms.front(), ms.back(),
                rounds);
    return 0;
}
