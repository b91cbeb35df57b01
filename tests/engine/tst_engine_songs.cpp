// Songs in time: the loopback station of tone songs, played by the real
// engine to the null output and to a private PulseAudio (heard at its
// monitor). A title comes into force when its song is heard, the output's
// latency counted; its text stays whole while a station floods titles.

#include "EngineTestUtil.h"
#include "PulseServer.h"
#include "SongStation.h"

#include <memory>

using namespace tolvane::engine;
using namespace tolvane::test;

Q_DECLARE_METATYPE(tolvane::test::SampleFormat)

namespace {
// Each title sync, with the frames heard when it came.
struct Heard {
    Engine* engine = nullptr;
    std::function<qint64()> framesHeard;
    std::mutex mutex;
    std::vector<std::pair<qint64, std::string>> syncs;
    static void sync(HSYNC, DWORD channel, DWORD, void* user) {
        auto* self = static_cast<Heard*>(user);
        const qint64 frames = self->framesHeard();
        const std::string title = streamTitle(self->engine->ChannelGetTags(channel, TAG_META));
        std::lock_guard lock(self->mutex);
        self->syncs.emplace_back(frames, title);
    }
};
} // namespace

class EngineSongsTest : public QObject {
    Q_OBJECT

private slots:
    void titleSyncs_whenTheSongIsHeard_data() {
        QTest::addColumn<SampleFormat>("format");
        QTest::addColumn<int>("latencyMs"); // of the null output; -1: PulseAudio
        QTest::newRow("MP3 over ICY") << SampleFormat::Mp3 << 0;
        QTest::newRow("MP3 over ICY, output 300 ms behind") << SampleFormat::Mp3 << 300;
        QTest::newRow("AAC over ICY") << SampleFormat::Aac << 120;
        QTest::newRow("chained Ogg Vorbis") << SampleFormat::Vorbis << 120;
        QTest::newRow("MP3 over ICY, heard at the PulseAudio monitor") << SampleFormat::Mp3 << -1;
    }

    void titleSyncs_whenTheSongIsHeard() {
        QFETCH(SampleFormat, format);
        QFETCH(int, latencyMs);
        SongStation station;
        station.format = format;
        QVERIFY2(station.make(), AudioSamples::lastError().c_str());
        StreamServer server;
        QVERIFY(server.start());
        server.setRoute("/songs", station.route());
        std::unique_ptr<PulseServer> pulse;
        if (latencyMs < 0 && !(pulse = std::make_unique<PulseServer>())->isRunning())
            QSKIP(qPrintable(QStringLiteral("no PulseAudio: ") + pulse->errorString()));
        Engine e(pulse ? OutputKind::PulseAudio : OutputKind::Null);
        QVERIFY(e.Init(-1, 44100, 0, nullptr, nullptr));
        std::unique_ptr<PcmCapture> capture;
        std::unique_ptr<PulseRecording> monitor;
        Heard heard{&e, {}, {}, {}};
        if (pulse) {
            monitor = pulse->startRecording();
            heard.framesHeard = [&] { return monitor->size() / 4; };
        } else {
            e.nullOutput()->latencyMs = latencyMs;
            capture = std::make_unique<PcmCapture>(*e.nullOutput());
            heard.framesHeard = [&] { return capture->pcm().size() / 4; };
        }
        const HSTREAM h = e.StreamCreateURL(server.url("/songs").c_str(), 0, 0, nullptr, nullptr);
        QVERIFY(h);
        // The buffer fills at once with the next song's title in it: what is
        // read now names what starts playing.
        QVERIFY(bufferLikeThePlayer(e, h, 2000) > 0);
        e.Start();
        QCOMPARE(streamTitle(e.ChannelGetTags(h, TAG_META)), station.songs[0].title);
        QVERIFY(e.ChannelSetSync(h, SYNC_META, 0, &Heard::sync, &heard));
        QVERIFY(e.ChannelPlay(h, 0));
        const auto syncs = [&] {
            std::lock_guard lock(heard.mutex);
            return heard.syncs.size();
        };
        QVERIFY(pollUntil([&] { return syncs() >= 2; }, 15000));
        QTest::qWait(400); // the second song's tone well under way
        QVERIFY(e.StreamFree(h));
        const auto runs = toneRuns(monitor ? monitor->stop() : capture->pcm(), station.frequencies);
        for (std::size_t i = 0; i < 2; ++i) {
            QCOMPARE(heard.syncs[i].second, station.songs[i + 1].title);
            const auto run = std::find_if(runs.begin(), runs.end(), [&](const ToneRun& r) {
                return r.hz == station.frequencies[i + 1] && r.frames >= 4410;
            });
            QVERIFY(run != runs.end());
            const double delay = double(heard.syncs[i].first - run->firstFrame) / 44100;
            qInfo("%s: title %+.3f s from its sound", station.songs[i + 1].title.c_str(), delay);
            QVERIFY2(std::abs(delay) <= 0.3, std::to_string(delay).c_str());
        }
    }

    // A title every 16 bytes, read by three threads while it changes: every
    // text read is whole, one of the two sent.
    void titleText_staysWholeWhileTitlesFlood() {
        const std::string mp3 = AudioSamples::tone(SampleFormat::Mp3);
        StreamServer server;
        QVERIFY(!mp3.empty() && server.start());
        const std::string one(200, 'a'), two(180, 'b');
        server.setTitle(one);
        server.setRoute("/flood", StreamRoute::audio(mp3, true, 16));
        Engine e(OutputKind::Null);
        QVERIFY(e.Init(-1, 44100, 0, nullptr, nullptr));
        const HSTREAM h = e.StreamCreateURL(server.url("/flood").c_str(), 0, 0, nullptr, nullptr);
        QVERIFY(h && e.ChannelPlay(h, 0));
        std::atomic<bool> done{false};
        std::atomic<int> seen[3] = {0, 0, 0}; // one, two, anything else
        std::vector<std::thread> threads;
        threads.emplace_back([&] {
            for (int i = 0; !done; ++i) {
                server.setTitle(i % 2 ? one : two);
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
        for (int r = 0; r < 3; ++r) {
            threads.emplace_back([&] {
                while (!done) {
                    const std::string title = streamTitle(e.ChannelGetTags(h, TAG_META));
                    ++seen[title == one ? 0 : title == two ? 1 : 2];
                }
            });
        }
        pollUntil([&] { return seen[0] > 1000 && seen[1] > 1000; }, 10000);
        done = true;
        for (auto& t : threads)
            t.join();
        QVERIFY(e.StreamFree(h));
        QCOMPARE(seen[2].load(), 0);
        QVERIFY(seen[0] > 0 && seen[1] > 0);
    }
};

QTEST_GUILESS_MAIN(EngineSongsTest)
#include "tst_engine_songs.moc"
