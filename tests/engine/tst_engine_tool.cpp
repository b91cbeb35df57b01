// tolvane-play, the command-line player: it plays a stream (here on the null
// output) and prints the station's head and each title as it changes.

#include "AudioSamples.h"
#include "StreamServer.h"
#include "TestSupport.h"
#include "TlsProxy.h"

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

    // https: with the authority that signed the server's certificate the
    // tool plays; without it (the system's store) it refuses and says why.
    void play_httpsWithItsAuthority_andRefusedWithout() {
        TestFolder folder;
        std::string error;
        const auto certificates = TestCertificates::make(folder.path().toStdString(), &error);
        QVERIFY2(certificates, error.c_str());
        const std::string mp3 = AudioSamples::tone(SampleFormat::Mp3);
        QVERIFY(!mp3.empty());
        StreamServer server;
        QVERIFY(server.start());
        server.setRoute("/radio", StreamRoute::audio(mp3));
        TlsProxy tls;
        QVERIFY(tls.start(*certificates, server.port()));
        const QString url = QString::fromStdString(tls.url("/radio"));
        QProcess player;
        player.start(QStringLiteral(TOLVANE_PLAY_PATH),
                     {"--null", "--seconds", "1", "--cafile",
                      QString::fromStdString(certificates->caFile), url});
        QVERIFY(player.waitForFinished(20000));
        QCOMPARE(player.exitCode(), 0);
        QVERIFY(player.readAllStandardOutput().contains("status: ICY 200 OK\n"));
        player.start(QStringLiteral(TOLVANE_PLAY_PATH), {"--null", url});
        QVERIFY(player.waitForFinished(20000));
        QCOMPARE(player.exitCode(), 1);
        const QByteArray err = player.readAllStandardError();
        QVERIFY2(err.contains("the station's certificate is not trusted (error code: 10)"),
                 err.constData());
    }

    // A stream that cannot be played ends the tool with the engine's own
    // error code: an unreachable server is ERROR_NOHTTP (2); an Ogg station
    // on a system without FFmpeg's libraries is ERROR_CODEC (44), not a
    // format or memory error. An AAC station with ICY titles needs no FFmpeg.
    void play_unplayableStation_failsWithTheEngineError_data() {
        QTest::addColumn<bool>("serverUp");
        QTest::addColumn<bool>("withoutFfmpeg");
        QTest::addColumn<SampleFormat>("format");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("unreachable")
            << false << false << SampleFormat::Aac << QByteArray("audio/aacp") << 1
            << QByteArray("Service Unavailable (error code: 2)");
        QTest::newRow("ogg without decoder")
            << true << true << SampleFormat::Vorbis << QByteArray("application/ogg") << 1
            << QByteArray("Service Unavailable (error code: 44)");
        QTest::newRow("aac plays without FFmpeg")
            << true << true << SampleFormat::Aac << QByteArray("audio/aacp") << 0 << QByteArray();
    }

    void play_unplayableStation_failsWithTheEngineError() {
        QFETCH(bool, serverUp);
        QFETCH(bool, withoutFfmpeg);
        QFETCH(SampleFormat, format);
        QFETCH(QByteArray, contentType);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, message);
        StreamServer server;
        QVERIFY(server.start());
        const std::string audio = AudioSamples::tone(format);
        QVERIFY(!audio.empty());
        auto route = StreamRoute::audio(audio, false);
        route.contentType = contentType.toStdString();
        server.setRoute("/radio", route);
        const QString url = QString::fromStdString(server.url("/radio"));
        if (!serverUp)
            server.stop();
        QProcess player;
        if (withoutFfmpeg) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("LD_PRELOAD", QStringLiteral(WITHOUT_FFMPEG_PATH));
            // In a sanitizer build the shim is preloaded ahead of the
            // sanitizer's runtime, which it would otherwise refuse.
            const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
            env.insert("ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") +
                                           QStringLiteral("verify_asan_link_order=0"));
            player.setProcessEnvironment(env);
        }
        player.start(QStringLiteral(TOLVANE_PLAY_PATH), {"--null", "--seconds", "1", url});
        QVERIFY(player.waitForFinished(20000));
        const QByteArray err = player.readAllStandardError();
        QCOMPARE(player.exitCode(), exitCode);
        QVERIFY2(err.contains(message), err.constData());
    }
};

QTEST_GUILESS_MAIN(EngineToolTest)
#include "tst_engine_tool.moc"
