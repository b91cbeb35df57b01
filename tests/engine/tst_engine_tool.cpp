// tolvane-play, the command-line player: it plays a stream (here on the null
// output) and prints the station's head and each title as it changes.

#include "AudioSamples.h"
#include "StreamServer.h"
#include "TestSupport.h"

#include <QProcess>
#include <QTest>

using namespace tolvane::test;

class EngineToolTest : public QObject {
    Q_OBJECT

private slots:
    void play_printsStationAndEveryTitleChange() {
        TestFolder folder;
        const std::string mp3 = AudioSamples::tone(SampleFormat::Mp3);
        QVERIFY(!mp3.empty());
        StreamServer server;
        QVERIFY(server.start());
        auto route = StreamRoute::audio(mp3, true, 4000);
        route.bytesPerSecond = 16000;
        route.burstBytes = 64000;
        server.setRoute("/radio", route);
        server.setTitle("Artist - First");

        QProcess player;
        player.start(QStringLiteral(TOLVANE_PLAY_PATH),
                     {"--null", "--seconds", "20", QString::fromStdString(server.url("/radio"))});
        QVERIFY(player.waitForStarted(5000));
        QByteArray out;
        auto waitForText = [&](const QByteArray& text) {
            return waitFor(
                [&] {
                    out += player.readAllStandardOutput();
                    return out.contains(text);
                },
                10000);
        };
        QVERIFY2(waitForText("title: Artist - First\n"), out.constData());
        server.setTitle("Artist - Second");
        QVERIFY2(waitForText("title: Artist - Second\n"), out.constData());
        QVERIFY(out.contains("status: ICY 200 OK\n"));
        QVERIFY(out.contains("icy-name:Loopback Radio\n"));
        QVERIFY(out.contains("icy-br:128\n"));
        QCOMPARE(out.count("title: Artist - First\n"), 1);
        player.terminate(); // SIGTERM: stops, frees the engine and exits
        QVERIFY(player.waitForFinished(5000));
        QCOMPARE(player.exitStatus(), QProcess::NormalExit);
        QCOMPARE(player.exitCode(), 0);
    }

    void play_unreachableStation_failsWithTheEngineError() {
        StreamServer gone;
        QVERIFY(gone.start());
        const QString url = QString::fromStdString(gone.url("/radio"));
        gone.stop();
        QProcess player;
        player.start(QStringLiteral(TOLVANE_PLAY_PATH), {"--null", url});
        QVERIFY(player.waitForFinished(20000));
        QCOMPARE(player.exitCode(), 1);
        QVERIFY(player.readAllStandardError().contains("Service Unavailable (error code: 2)"));
    }
};

QTEST_GUILESS_MAIN(EngineToolTest)
#include "tst_engine_tool.moc"
