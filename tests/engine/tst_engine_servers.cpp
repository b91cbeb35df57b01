// The engine against real peers: an Icecast 2 server on 127.0.0.1 fed by
// ffmpeg (MP3, AAC, and Vorbis, Opus and FLAC in Ogg with their own titles;
// a title set through its admin interface), and
// a private PulseAudio server with a null sink (playing, pause and resume,
// and no server at all).

#include "AudioSamples.h"
#include "EngineTestUtil.h"
#include "IcecastServer.h"
#include "PulseServer.h"
#include "StreamServer.h"
#include "TestSupport.h"

#include <QTest>

#include <memory>

using namespace tolvane::engine;
using namespace tolvane::test;

class EngineServersTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestFolder> folder_;
    std::unique_ptr<IcecastServer> icecast_;

    static void configure(Engine& e) {
        e.SetConfig(CONFIG_NET_PLAYLIST, 1);
        e.SetConfig(CONFIG_NET_PREBUF, 0);
        static const char empty[] = "";
        e.SetConfigPtr(CONFIG_NET_PROXY, empty);
    }

    // Opens like the player: create, buffer past 60 %, start, play.
    static HSTREAM openAndPlay(Engine& e, const std::string& url, CallbackLog* log = nullptr) {
        const HSTREAM h = e.StreamCreateURL(url.c_str(), 0, STREAM_STATUS,
                                            log ? &CallbackLog::download : nullptr, log);
        if (!h)
            return 0;
        bufferLikeThePlayer(e, h, 10000000);
        e.Start();
        e.ChannelPlay(h, 0);
        return h;
    }

private slots:
    void initTestCase() {
        folder_ = std::make_unique<TestFolder>();
        icecast_ = std::make_unique<IcecastServer>();
        QVERIFY2(icecast_->isRunning(), qPrintable(icecast_->errorString()));
        IcecastServer::Source mp3;
        mp3.codec = IcecastServer::Codec::Mp3;
        mp3.toneHz = 1000;
        QVERIFY2(icecast_->startSource("/tone.mp3", mp3), qPrintable(icecast_->errorString()));
        IcecastServer::Source aac;
        aac.codec = IcecastServer::Codec::Aac;
        aac.bitrateKbps = 96;
        QVERIFY2(icecast_->startSource("/tone.aac", aac), qPrintable(icecast_->errorString()));
        // Ogg mounts say who plays in the comments of their own headers.
        IcecastServer::Source ogg;
        ogg.codec = IcecastServer::Codec::Vorbis;
        ogg.artist = "Tolvane Artist";
        ogg.title = "Vorbis Tone";
        QVERIFY2(icecast_->startSource("/tone.ogg", ogg), qPrintable(icecast_->errorString()));
        // Opus on a tone sends well above its nominal rate: at 96k a burst
        // still holds three seconds, as at most stations' settings.
        ogg.codec = IcecastServer::Codec::Opus;
        ogg.bitrateKbps = 96;
        ogg.artist.clear();
        ogg.title = "Opus Tone";
        QVERIFY2(icecast_->startSource("/tone.opus", ogg), qPrintable(icecast_->errorString()));
        ogg.codec = IcecastServer::Codec::Flac;
        ogg.bitrateKbps = 128;
        ogg.artist = "Flac Artist";
        ogg.title = "Flac Tone";
        QVERIFY2(icecast_->startSource("/flac.ogg", ogg), qPrintable(icecast_->errorString()));
        // Let the mounts run long enough that Icecast has a full burst for
        // a new listener, as on a station that has been on air for a while.
        QTest::qWait(5000);
    }

    void cleanupTestCase() { icecast_.reset(); }

    void icecast_mounts_data() {
        QTest::addColumn<QString>("mount");
        QTest::addColumn<QString>("title"); // from the stream's own comments
        QTest::newRow("mp3") << "/tone.mp3"
                             << "";
        QTest::newRow("aac") << "/tone.aac"
                             << "";
        QTest::newRow("ogg vorbis") << "/tone.ogg"
                                    << "Tolvane Artist - Vorbis Tone";
        QTest::newRow("ogg opus") << "/tone.opus"
                                  << "Opus Tone";
        QTest::newRow("ogg flac") << "/flac.ogg"
                                  << "Flac Artist - Flac Tone";
    }
    void icecast_mounts() {
        QFETCH(QString, mount);
        QFETCH(QString, title);
        Engine e(OutputKind::Null);
        QVERIFY(e.Init(-1, 44100, 0, nullptr, nullptr));
        configure(e);
        CallbackLog log;
        const auto t0 = std::chrono::steady_clock::now();
        const HSTREAM h = openAndPlay(e, icecast_->mountUrl(mount).toString().toStdString(), &log);
        QVERIFY2(h, std::to_string(e.ErrorGetCode()).c_str());
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - t0)
                            .count();
        qInfo("opened and buffered in %lld ms", static_cast<long long>(ms));
        QVERIFY2(ms < 3000, std::to_string(ms).c_str()); // the burst fills the buffer at once
        // Icecast answers HTTP/1.0 with icy- headers.
        const auto lines = tagLines(e.ChannelGetTags(h, TAG_HTTP));
        QVERIFY(!lines.empty());
        QVERIFY(lines.front().starts_with("HTTP/1.0 200"));
        QVERIFY(std::find(lines.begin(), lines.end(), "icy-name:Tolvane Test Tone") != lines.end());
        QVERIFY(pollUntil([&] { return (e.ChannelGetLevel(h) & 0xFFFF) > 1000; }, 5000));
        // First audio within a second of the server's answer. (Icecast itself
        // hands a new listener of an Ogg mount over only with the source's
        // next page, which can take a good while longer.)
        const auto firstAudio = std::chrono::steady_clock::now();
        {
            std::lock_guard lock(log.mutex);
            QCOMPARE(log.headerCalls.size(), std::size_t(1));
            const auto fromHead =
                std::chrono::duration_cast<std::chrono::milliseconds>(firstAudio - log.headAt)
                    .count();
            qInfo("first audio %lld ms after the server's answer",
                  static_cast<long long>(fromHead));
            QVERIFY2(fromHead < 1000, std::to_string(fromHead).c_str());
        }
        if (!title.isEmpty())
            QVERIFY(pollUntil(
                [&] { return streamTitle(e.ChannelGetTags(h, TAG_META)) == title.toStdString(); },
                3000));
        QVERIFY(e.Free()); // no callback after this, while `log` still lives
    }

    void icecast_adminTitle_arrivesThroughTheSync() {
        Engine e(OutputKind::Null);
        QVERIFY(e.Init(-1, 44100, 0, nullptr, nullptr));
        configure(e);
        const HSTREAM h = openAndPlay(e, icecast_->mountUrl("/tone.mp3").toString().toStdString());
        QVERIFY(h);
        CallbackLog log;
        QVERIFY(e.ChannelSetSync(h, SYNC_META, 0, &CallbackLog::sync, &log));
        QVERIFY(icecast_->setTitle("/tone.mp3", QString::fromUtf8("Artist - Caf\xC3\xA9 Song")));
        // Icecast sends it as ISO-8859-1; the engine gives UTF-8.
        QVERIFY(pollUntil(
            [&] {
                return streamTitle(e.ChannelGetTags(h, TAG_META)) == "Artist - Caf\xC3\xA9 Song";
            },
            15000));
        QVERIFY(log.syncCalls >= 1);
        QVERIFY(e.Free()); // no callback after this, while `log` still lives
    }

    void pulse_playsToTheNullSink_andPausesAndResumes() {
        PulseServer pulse;
        QVERIFY2(pulse.isRunning(), qPrintable(pulse.errorString()));
        Engine e(OutputKind::PulseAudio);
        QVERIFY2(e.Init(-1, 44100, 0, nullptr, nullptr), std::to_string(e.ErrorGetCode()).c_str());
        configure(e);
        const HSTREAM h = openAndPlay(e, icecast_->mountUrl("/tone.mp3").toString().toStdString());
        QVERIFY(h);
        QVERIFY(waitFor([&] { return pulse.somethingPlaying(); }, 5000));
        QVERIFY2(waitFor([&] { return (e.ChannelGetLevel(h) & 0xFFFF) > 1000; }, 5000),
                 (std::to_string(e.ChannelGetLevel(h)) + " cur " +
                  std::to_string(e.StreamGetFilePosition(h, FILEPOS_CURRENT)) + " down " +
                  std::to_string(e.StreamGetFilePosition(h, FILEPOS_DOWNLOAD)))
                     .c_str());
        const QByteArray playing = pulse.record(1000);
        const PcmLevels levels = measurePcm(playing);
        QVERIFY2(levels.peakAll > 1000, std::to_string(levels.peakAll).c_str());
        QVERIFY(findSilenceGaps(playing, 50, 64, true).isEmpty());

        QVERIFY(e.Stop());
        QVERIFY(waitFor([&] { return !pulse.somethingPlaying(); }, 3000));
        const QByteArray paused = pulse.record(500);
        QVERIFY(measurePcm(paused).peakAll < 64);

        QVERIFY(e.Start());
        QVERIFY(waitFor([&] { return pulse.somethingPlaying(); }, 3000));
        QVERIFY(measurePcm(pulse.record(500)).peakAll > 1000);

        // A stopped channel leaves the sink quiet too.
        QVERIFY(e.ChannelStop(h));
        QVERIFY(waitFor([&] { return !pulse.somethingPlaying(); }, 3000));
        QVERIFY(e.Free());
    }

    void pulse_streamThatStallsAndRecovers_playsAgain() {
        const std::string mp3 = AudioSamples::tone(SampleFormat::Mp3);
        QVERIFY(!mp3.empty());
        StreamServer server;
        QVERIFY(server.start());
        auto route = StreamRoute::audio(mp3);
        route.bytesPerSecond = 16000;
        route.burstBytes = 64000;
        route.pauseAfter = 100000; // about 2 s of play after the burst
        route.pauseMs = 7000;      // longer than the buffer holds
        server.setRoute("/radio", route);
        PulseServer pulse;
        QVERIFY2(pulse.isRunning(), qPrintable(pulse.errorString()));
        Engine e(OutputKind::PulseAudio);
        QVERIFY(e.Init(-1, 44100, 0, nullptr, nullptr));
        configure(e);
        const HSTREAM h = openAndPlay(e, server.url("/radio"));
        QVERIFY(h);
        // The buffer runs dry while the server pauses: the channel goes
        // silent but stays playing...
        QVERIFY(waitFor([&] { return e.ChannelGetLevel(h) == 0; }, 12000));
        QVERIFY(measurePcm(pulse.record(300)).peakAll < 64);
        // ...and sounds again once data comes back.
        QVERIFY(waitFor([&] { return (e.ChannelGetLevel(h) & 0xFFFF) > 10000; }, 8000));
        QVERIFY(measurePcm(pulse.record(500)).peakAll > 10000);
    }

    void pulse_noServer_failsInitWithAnError() {
        QString dead;
        {
            PulseServer pulse;
            QVERIFY(pulse.isRunning());
            dead = pulse.serverAddress();
        }
        // Point at the server that has gone, so no other server is found.
        const QByteArray saved = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", dead.toUtf8());
        Engine e(OutputKind::PulseAudio);
        const auto t0 = std::chrono::steady_clock::now();
        const BOOL ok = e.Init(-1, 44100, 0, nullptr, nullptr);
        const int code = e.ErrorGetCode();
        if (saved.isNull())
            qunsetenv("PULSE_SERVER");
        else
            qputenv("PULSE_SERVER", saved);
        QCOMPARE(ok, 0);
        QCOMPARE(code, ERROR_DEVICE);
        QVERIFY(std::chrono::steady_clock::now() - t0 < std::chrono::seconds(6));
    }
};

QTEST_GUILESS_MAIN(EngineServersTest)
#include "tst_engine_servers.moc"
