// The player's file writes in a loop, for the kill trials: it records a
// loopback stream through the recorder and the real encoder, then writes,
// generation after generation, the settings file, radiouser.dat (a new
// station), temp.dat (Load Playlist), favorites.dat (that station added to
// the favorites) and a download, each through the player's own code. Writes
// go in small paced pieces so that a kill often lands inside one. Runs in
// the program folder it is started in; prints "ready" once recording.
//
// Usage: tolvane_file_writer <stream url> <download url> <first generation>

#include "KillTrialFiles.h"
#include "catalog/Catalog.h"
#include "catalog/StationEdits.h"
#include "common/Paths.h"
#include "common/WriteGate.h"
#include "online/WebService.h"
#include "playback/engine/Engine.h"
#include "recording/Recorder.h"
#include "settings/SettingsFile.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

using namespace tolvane;
using namespace tolvane::test::killtrial;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4)
        return 2;
    const QByteArray streamUrl = argv[1];
    const QString downloadUrl = QString::fromLocal8Bit(argv[2]);
    int n = QByteArray(argv[3]).toInt();

    engine::Engine engine(engine::OutputKind::Null);
    if (!engine.Init(-1, 44100, 0, nullptr, nullptr))
        return 3;
    static const char noProxy[] = "";
    engine.SetConfigPtr(engine::CONFIG_NET_PROXY, noProxy);
    engine.SetConfig(engine::CONFIG_NET_PREBUF, 0);
    const engine::DWORD stream =
        engine.StreamCreateURL(streamUrl.constData(), 0, 0, nullptr, nullptr);
    if (stream == 0 || !engine.ChannelPlay(stream, 0)) {
        std::fprintf(stderr, "no stream (error code: %d)\n", engine.ErrorGetCode());
        return 4;
    }
    recording::Recorder recorder(engine);
    if (!recorder.start(stream, QStringLiteral("Radio X"), QString()).started)
        return 5;
    std::fputs("ready\n", stdout);
    std::fflush(stdout);

    setWritePacer(256, [] { ::usleep(300); });
    for (;; ++n) {
        const Generation g = generation(n);
        settings::openSettings().WriteStrings(settings::RadioSection,
                                              {{QStringLiteral("gen"), g.number},
                                               {QStringLiteral("pad"), g.padding},
                                               {QStringLiteral("check"), g.check}});
        catalog::NewStation s;
        s.name = StationName;
        s.streaming = QStringLiteral("http://127.0.0.1:9/gen");
        s.genre = g.padding;
        s.language = QStringLiteral("English");
        s.website = g.check;
        s.bitrate = g.number;
        catalog::saveNewStation(s);
        catalog::loadPlaylist(catalog::Filter{}, [](const QString&) {});
        catalog::addFavorite(StationName);
        DownloadToFile(downloadUrl, ProgramPath(QStringLiteral("download.bin")));
    }
}
