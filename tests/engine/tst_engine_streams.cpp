// Streams from the loopback server, played by the real engine on the null
// output: handles and error codes, tags and titles, buffer positions, level,
// formats, Ogg titles, HLS, https, playlists, redirects and servers that
// misbehave.

#include "AudioSamples.h"
#include "EngineTestUtil.h"
#include "Mp3Check.h"
#include "PulseServer.h"
#include "StreamServer.h"
#include "TestSupport.h"
#include "TlsProxy.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <cmath>
#include <memory>

using namespace tolvane::engine;
using namespace tolvane::test;

namespace {
constexpr QWORD kBad = static_cast<QWORD>(-1);
}

class EngineStreamsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestFolder> folder_;
    std::unique_ptr<StreamServer> server_;
    std::unique_ptr<Engine> engine_;
    std::string mp3_;

    Engine& e() { return *engine_; }
    HSTREAM open(const std::string& path, CallbackLog* log = nullptr) {
        return e().StreamCreateURL(server_->url(path).c_str(), 0, STREAM_STATUS,
                                   log ? &CallbackLog::download : nullptr, log);
    }
    StreamRoute paced(StreamRoute r, double bytesPerSecond, std::size_t burst = 0) {
        r.bytesPerSecond = bytesPerSecond;
        r.burstBytes = burst;
        return r;
    }
    std::uint32_t leftLevel(HSTREAM h) { return e().ChannelGetLevel(h) & 0xFFFF; }
    std::uint32_t rightLevel(HSTREAM h) { return e().ChannelGetLevel(h) >> 16; }

private slots:
    void initTestCase() {
        folder_ = std::make_unique<TestFolder>();
        mp3_ = AudioSamples::tone(SampleFormat::Mp3);
        QVERIFY2(!mp3_.empty(), AudioSamples::lastError().c_str());
    }

    void init() {
        server_ = std::make_unique<StreamServer>();
        QVERIFY(server_->start());
        server_->setTitle("First Song");
        engine_ = std::make_unique<Engine>(OutputKind::Null);
        QVERIFY(e().Init(-1, 44100, 0, nullptr, nullptr));
        e().SetConfig(CONFIG_NET_PLAYLIST, 1);
        e().SetConfig(CONFIG_NET_PREBUF, 0);
        e().SetConfig(CONFIG_NET_TIMEOUT, 3000);
        e().SetConfig(CONFIG_NET_READTIMEOUT, 1500);
        static const char empty[] = "";
        e().SetConfigPtr(CONFIG_NET_PROXY, empty);
    }

    void cleanup() {
        engine_.reset();
        server_.reset();
    }

    // ------------------------------------------------------------ set-up calls

    void init_twice_failsWithAlready_andCallsNeedInit() {
        QCOMPARE(e().Init(-1, 44100, 0, nullptr, nullptr), 0);
        QCOMPARE(e().ErrorGetCode(), ERROR_ALREADY);
        QVERIFY(e().Free());
        QCOMPARE(e().StreamCreateURL("http://127.0.0.1:1/", 0, 0, nullptr, nullptr), 0u);
        QCOMPARE(e().ErrorGetCode(), ERROR_INIT);
        QCOMPARE(e().Stop(), 0);
        QCOMPARE(e().Free(), 0);
        QCOMPARE(e().ErrorGetCode(), ERROR_INIT);
        QVERIFY((e().GetVersion() >> 16) == 0x0204);
        QVERIFY(e().PluginLoad("system/aac", 0) != 0);
    }

    void init_failingOutput_reportsDeviceError() {
        Engine other(OutputKind::Null);
        other.nullOutput()->failOpen = true;
        QCOMPARE(other.Init(-1, 44100, 0, nullptr, nullptr), 0);
        QCOMPARE(other.ErrorGetCode(), ERROR_DEVICE);
        QVERIFY(other.Init(-1, 44100, 0, nullptr, nullptr));
    }

    // ------------------------------------------------------------ tags and callbacks

    void open_icyResponse_givesIcyTagsAndOneHeaderCall() {
        server_->setRoute("/radio", StreamRoute::audio(mp3_, true));
        CallbackLog log;
        const HSTREAM h = open("/radio", &log);
        QVERIFY2(h, std::to_string(e().ErrorGetCode()).c_str());
        const auto lines = tagLines(e().ChannelGetTags(h, TAG_ICY));
        QVERIFY(lines.size() >= 4);
        QCOMPARE(lines.front(), std::string("ICY 200 OK"));
        QVERIFY(std::find(lines.begin(), lines.end(), "icy-name:Loopback Radio") != lines.end());
        QVERIFY(std::find(lines.begin(), lines.end(), "icy-br:128") != lines.end());
        QVERIFY(e().ChannelGetTags(h, TAG_HTTP) == nullptr);
        {
            std::lock_guard lock(log.mutex);
            QCOMPARE(log.headerCalls.size(), std::size_t(1));
            QVERIFY(log.headerCalls[0].starts_with("ICY 200 OK\n"));
        }
        QVERIFY(pollUntil([&] { return log.dataCalls > 0; }, 3000));
        QVERIFY(server_->lastRequest("/radio").find("Icy-MetaData: 1") != std::string::npos);
        QVERIFY(e().StreamFree(h));       // before `log` goes
        QCOMPARE(log.endCalls.load(), 0); // freeing is not the end of the download
    }

    void open_httpResponse_givesHttpTags() {
        server_->setRoute("/radio", StreamRoute::audio(mp3_, false));
        const HSTREAM h = open("/radio");
        QVERIFY(h);
        QVERIFY(e().ChannelGetTags(h, TAG_ICY) == nullptr);
        const auto lines = tagLines(e().ChannelGetTags(h, TAG_HTTP));
        QVERIFY(!lines.empty());
        QCOMPARE(lines.front(), std::string("HTTP/1.0 200 OK"));
    }

    void titles_arriveAndEachChangeCallsTheSyncOnce() {
        server_->setRoute("/radio", paced(StreamRoute::audio(mp3_, true, 2000), 16000, 40000));
        CallbackLog log;
        const HSTREAM h = open("/radio");
        QVERIFY(h);
        QVERIFY(pollUntil(
            [&] { return streamTitle(e().ChannelGetTags(h, TAG_META)) == "First Song"; }, 3000));
        QVERIFY(e().ChannelSetSync(h, SYNC_META, 0, &CallbackLog::sync, &log));
        QVERIFY(e().ChannelPlay(h, 0));
        // Each title comes when its audio is heard, a buffer's length after
        // it came (2.5 s here, more on a busy machine).
        server_->setTitle("Second Song");
        QVERIFY(pollUntil([&] { return log.syncCalls == 1; }, 12000));
        QCOMPARE(streamTitle(e().ChannelGetTags(h, TAG_META)), std::string("Second Song"));
        // The same title again is no change.
        server_->setRawMetadata("StreamTitle='Second Song';StreamUrl='';");
        QTest::qWait(600);
        QCOMPARE(log.syncCalls.load(), 1);
        server_->setTitle("Caf\xE9 del Mar"); // Latin-1, as many stations send it
        QVERIFY(pollUntil([&] { return log.syncCalls == 2; }, 12000));
        QCOMPARE(streamTitle(e().ChannelGetTags(h, TAG_META)), std::string("Caf\xC3\xA9 del Mar"));
        QVERIFY(e().StreamFree(h)); // before `log` goes
    }

    void tags_badHandleOrKind_fail() {
        QVERIFY(e().ChannelGetTags(12345, TAG_META) == nullptr);
        QCOMPARE(e().ErrorGetCode(), ERROR_HANDLE);
        QCOMPARE(e().ChannelSetSync(12345, SYNC_META, 0, &CallbackLog::sync, nullptr), 0u);
        QCOMPARE(e().ErrorGetCode(), ERROR_HANDLE);
        QCOMPARE(e().StreamGetFilePosition(12345, FILEPOS_END), kBad);
        QCOMPARE(e().ChannelGetLevel(12345), 0xFFFFFFFFu);
        QCOMPARE(e().ChannelStop(0), 0);
        QCOMPARE(e().StreamFree(0), 0);
        QCOMPARE(e().ErrorGetCode(), ERROR_HANDLE);
    }

    // ------------------------------------------------------------ buffer positions

    void positions_endIsBufferLength_andFillNeverPassesIt() {
        server_->setRoute("/radio", StreamRoute::audio(mp3_)); // unpaced: as fast as we read
        const HSTREAM h = open("/radio");
        QVERIFY(h);
        const QWORD end = e().StreamGetFilePosition(h, FILEPOS_END);
        QCOMPARE(end, QWORD(5000 * 128 / 8)); // five seconds at icy-br
        // The download fills the buffer (it refills in large steps, so it
        // may stand a little below full) and never overfills it.
        auto fill = [&] {
            return e().StreamGetFilePosition(h, FILEPOS_DOWNLOAD) -
                   e().StreamGetFilePosition(h, FILEPOS_CURRENT);
        };
        QVERIFY(pollUntil([&] { return fill() >= end * 3 / 4; }, 3000));
        QVERIFY(fill() <= end);
        // Not playing: once the decoder has taken what it reads ahead (later
        // on a slow machine), the download holds still at a full buffer.
        QWORD down = 0;
        QVERIFY(pollUntil(
            [&] {
                down = e().StreamGetFilePosition(h, FILEPOS_DOWNLOAD);
                QTest::qWait(400);
                return e().StreamGetFilePosition(h, FILEPOS_DOWNLOAD) == down;
            },
            5000));
        QVERIFY(fill() >= end * 3 / 4);
        QVERIFY(fill() <= end);
        // The server is held back too (once the sockets' buffers are full).
        QVERIFY(pollUntil(
            [&] {
                const auto sent = server_->audioBytesSent();
                QTest::qWait(300);
                return server_->audioBytesSent() == sent;
            },
            5000));
        // Playing takes audio out and lets the download go on.
        QVERIFY(e().ChannelPlay(h, 0));
        QVERIFY(
            pollUntil([&] { return e().StreamGetFilePosition(h, FILEPOS_DOWNLOAD) > down; }, 4000));
        QVERIFY(e().StreamGetFilePosition(h, FILEPOS_DOWNLOAD) -
                    e().StreamGetFilePosition(h, FILEPOS_CURRENT) <=
                end);
    }

    void buffering_withBurst_endsInAMoment() {
        server_->setRoute("/radio", paced(StreamRoute::audio(mp3_), 16000, 64 * 1024));
        const auto t0 = std::chrono::steady_clock::now();
        const HSTREAM h = open("/radio");
        QVERIFY(h);
        QVERIFY(bufferLikeThePlayer(e(), h, 100000) > 0);
        QVERIFY(e().Start());
        QVERIFY(e().ChannelPlay(h, 0));
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - t0)
                            .count();
        QVERIFY2(ms < 1500, std::to_string(ms).c_str());
        QVERIFY(pollUntil([&] { return e().nullOutput()->framesPlayed > 4410; }, 2000));
    }

    void buffering_realTimeTrickle_fillsAtStreamRate() {
        server_->setRoute("/radio", paced(StreamRoute::audio(mp3_), 16000));
        const HSTREAM h = open("/radio");
        QVERIFY(h);
        const auto t0 = std::chrono::steady_clock::now();
        QVERIFY(bufferLikeThePlayer(e(), h, 10000000) > 0);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - t0)
                            .count();
        // 60% of five seconds, less what the decoder took already.
        QVERIFY2(ms > 1000 && ms < 4500, std::to_string(ms).c_str());
    }

    void buffering_stalledServer_endsTheLoopAfterTheReadTimeout() {
        auto route = paced(StreamRoute::audio(mp3_), 16000);
        route.stallAfter = 20000;
        server_->setRoute("/radio", route);
        const HSTREAM h = open("/radio");
        QVERIFY(h);
        const auto t0 = std::chrono::steady_clock::now();
        int pct = 0;
        QCOMPARE(bufferLikeThePlayer(e(), h, 100000000, &pct), -1);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - t0)
                            .count();
        QVERIFY2(ms < 4000, std::to_string(ms).c_str());
        QVERIFY(pct < 60);
        QCOMPARE(e().ErrorGetCode(), ERROR_NOTAVAIL);
        // What did arrive still plays, then the channel ends.
        QVERIFY(e().Start());
        QVERIFY(e().ChannelPlay(h, 0));
        QVERIFY(pollUntil([&] { return e().ChannelGetLevel(h) == 0xFFFFFFFFu; }, 5000));
        QCOMPARE(e().ErrorGetCode(), ERROR_NOPLAY);
        QVERIFY(e().nullOutput()->framesPlayed > 44100 / 2);
    }

    void download_slowTrickle_endsAsTimedOut() {
        server_->setRoute("/radio", paced(StreamRoute::audio(mp3_), 300, 8000));
        const HSTREAM h = open("/radio");
        QVERIFY(h);
        QVERIFY(pollUntil([&] { return e().StreamGetFilePosition(h, FILEPOS_END) == kBad; }, 6000));
    }

    // ------------------------------------------------------------ level and output

    void level_ofKnownTone_matchesItsAmplitudePerChannel() {
        server_->setRoute("/radio", StreamRoute::audio(mp3_));
        const HSTREAM h = open("/radio");
        QVERIFY(h);
        QCOMPARE(e().ChannelGetLevel(h), 0xFFFFFFFFu); // not playing yet
        QVERIFY(e().ChannelPlay(h, 0));
        QVERIFY(pollUntil([&] { return leftLevel(h) > 10000; }, 3000));
        QTest::qWait(200);
        const double left = leftLevel(h), right = rightLevel(h);
        QVERIFY2(std::abs(left - 16384) < 1200, std::to_string(left).c_str());
        QVERIFY2(std::abs(right - 8192) < 800, std::to_string(right).c_str());
        QVERIFY(e().Stop());
        QCOMPARE(e().ChannelGetLevel(h), 0xFFFFFFFFu);
        QVERIFY(e().Start());
        QVERIFY(e().ChannelGetLevel(h) != 0xFFFFFFFFu);
        QVERIFY(e().ChannelStop(h));
        QCOMPARE(e().ChannelGetLevel(h), 0xFFFFFFFFu);
    }

    void stop_pausesOutput_andStartResumes() {
        server_->setRoute("/radio", StreamRoute::audio(mp3_));
        const HSTREAM h = open("/radio");
        QVERIFY(h);
        QVERIFY(e().ChannelPlay(h, 0));
        auto* out = e().nullOutput();
        QVERIFY(pollUntil([&] { return out->framesPlayed > 4410; }, 2000));
        QVERIFY(e().Stop());
        QTest::qWait(60);
        const auto frozen = out->framesPlayed.load();
        QTest::qWait(300);
        QCOMPARE(out->framesPlayed.load(), frozen);
        QVERIFY(e().Start());
        QVERIFY(pollUntil([&] { return out->framesPlayed > frozen + 4410; }, 2000));
    }

    void output_keepsRealTime() {
        server_->setRoute("/radio", StreamRoute::audio(mp3_));
        const HSTREAM h = open("/radio");
        QVERIFY(h);
        auto* out = e().nullOutput();
        QVERIFY(e().ChannelPlay(h, 0));
        QVERIFY(pollUntil([&] { return out->framesPlayed > 0; }, 2000));
        const auto f0 = out->framesPlayed.load();
        QTest::qWait(1000);
        const double seconds = (out->framesPlayed.load() - f0) / 44100.0;
        QVERIFY2(seconds > 0.8 && seconds < 1.25, std::to_string(seconds).c_str());
    }

    void output_stalled_keepsMemoryBounded_andRecovers() {
        server_->setRoute("/radio", StreamRoute::audio(mp3_));
        const HSTREAM h = open("/radio");
        QVERIFY(h);
        auto* out = e().nullOutput();
        out->stalled = true;
        QVERIFY(e().ChannelPlay(h, 0));
        QTest::qWait(500);
        const QWORD end = e().StreamGetFilePosition(h, FILEPOS_END);
        QVERIFY(e().StreamGetFilePosition(h, FILEPOS_DOWNLOAD) -
                    e().StreamGetFilePosition(h, FILEPOS_CURRENT) <=
                end);
        out->stalled = false;
        QVERIFY(pollUntil([&] { return out->framesPlayed > 44100; }, 3000));
    }

    void resampling_48kSource_playsTheSamePitch() {
        ToneShape fast;
        fast.sampleRate = 48000;
        const std::string file = AudioSamples::tone(SampleFormat::Mp3, fast);
        QVERIFY(!file.empty());
        server_->setRoute("/radio", StreamRoute::audio(file));
        std::vector<std::int16_t> captured;
        std::mutex m;
        e().nullOutput()->setCapture([&](const std::int16_t* p, std::size_t frames) {
            std::lock_guard lock(m);
            if (captured.size() < 44100 * 2 * 2)
                captured.insert(captured.end(), p, p + frames * 2);
        });
        const HSTREAM h = open("/radio");
        QVERIFY(h);
        QVERIFY(e().ChannelPlay(h, 0));
        QVERIFY(pollUntil(
            [&] {
                std::lock_guard lock(m);
                return captured.size() >= 44100 * 2 * 2;
            },
            5000));
        e().nullOutput()->setCapture(nullptr);
        // Count rising zero crossings of the left channel over the second second.
        int crossings = 0;
        for (std::size_t i = 44100 * 2 + 2; i < captured.size(); i += 2)
            if (captured[i - 2] < 0 && captured[i] >= 0)
                ++crossings;
        QVERIFY2(std::abs(crossings - 1000) <= 5, std::to_string(crossings).c_str());
    }

    // ------------------------------------------------------------ formats

    void formats_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("contentType");
        QTest::addColumn<bool>("loop");
        QTest::newRow("mp3") << int(SampleFormat::Mp3) << "audio/mpeg" << true;
        QTest::newRow("mp3 unnamed type") << int(SampleFormat::Mp3) << "" << true;
        QTest::newRow("aac adts") << int(SampleFormat::Aac) << "audio/aacp" << true;
        QTest::newRow("wma in asf") << int(SampleFormat::Wma) << "video/x-ms-asf" << false;
        QTest::newRow("ogg vorbis") << int(SampleFormat::Vorbis) << "application/ogg" << false;
        QTest::newRow("ogg opus, 48 kHz") << int(SampleFormat::Opus) << "audio/ogg" << false;
        QTest::newRow("ogg flac") << int(SampleFormat::Flac) << "audio/ogg" << false;
    }
    void formats() {
        QFETCH(int, format);
        QFETCH(QString, contentType);
        QFETCH(bool, loop);
        const std::string file = AudioSamples::tone(static_cast<SampleFormat>(format));
        QVERIFY2(!file.empty(), AudioSamples::lastError().c_str());
        auto route = StreamRoute::audio(file);
        route.contentType = contentType.toStdString();
        route.loop = loop;
        server_->setRoute("/radio", route);
        const HSTREAM h = open("/radio");
        QVERIFY2(h, std::to_string(e().ErrorGetCode()).c_str());
        QVERIFY(e().ChannelPlay(h, 0));
        QVERIFY(pollUntil([&] { return leftLevel(h) > 14000 && leftLevel(h) < 19000; }, 4000));
        QVERIFY(std::abs(int(rightLevel(h)) - 8192) < 1500);
    }

    void oggTitles_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("metaint");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::newRow("vorbis comments")
            << int(SampleFormat::Vorbis) << 0 << "Artist One - First Song"
            << "Second Song";
        QTest::newRow("opus comments") << int(SampleFormat::Opus) << 0 << "Artist One - First Song"
                                       << "Second Song";
        QTest::newRow("icy metadata wins over comments")
            << int(SampleFormat::Vorbis) << 8192 << "Icy Title"
            << "";
    }
    void oggTitles() {
        QFETCH(int, format);
        QFETCH(int, metaint);
        QFETCH(QString, first);
        QFETCH(QString, second);
        // Two streams chained, as a station's source starts one per song.
        ToneShape shape;
        shape.seconds = 3;
        const auto fmt = static_cast<SampleFormat>(format);
        const std::string a = AudioSamples::tone(fmt, shape, 128, "Artist One", "First Song");
        const std::string b = AudioSamples::tone(fmt, shape, 128, "", "Second Song");
        QVERIFY2(!a.empty() && !b.empty(), AudioSamples::lastError().c_str());
        const std::string bytesA = AudioSamples::readFile(a);
        folder_->write("chain.ogg", QByteArray::fromStdString(bytesA + AudioSamples::readFile(b)));
        auto route = StreamRoute::audio(folder_->file("chain.ogg").toStdString(), true, metaint);
        route.contentType = "audio/ogg";
        server_->setRoute("/radio", route);
        server_->setTitle("Icy Title");
        CallbackLog log;
        const HSTREAM h = open("/radio");
        QVERIFY2(h, std::to_string(e().ErrorGetCode()).c_str());
        QVERIFY(e().ChannelSetSync(h, SYNC_META, 0, &CallbackLog::sync, &log));
        auto title = [&] {
            return QString::fromStdString(streamTitle(e().ChannelGetTags(h, TAG_META)));
        };
        QVERIFY(pollUntil([&] { return title() == first; }, 2000));
        QVERIFY(e().ChannelPlay(h, 0));
        if (!second.isEmpty()) {
            QVERIFY2(pollUntil([&] { return title() == second; }, 6000), qPrintable(title()));
            QVERIFY(log.syncCalls >= 1);
        } else {
            // Well into the second stream, the station's title still stands.
            QVERIFY(pollUntil(
                [&] {
                    return e().StreamGetFilePosition(h, FILEPOS_CURRENT) > bytesA.size() + 4096;
                },
                6000));
            QTest::qWait(300);
            QCOMPARE(title(), first);
        }
    }

    void unknownFormats_failWithFileForm_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("contentType");
        QTest::newRow("a web page")
            << QString("<html><body>%1</body></html>").arg(QString(3000, 'x')) << "text/html";
        QTest::newRow("no ogg inside") << QString(70000, 'z') << "audio/ogg";
        QTest::newRow("encrypted hls")
            << "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-KEY:METHOD=AES-128,URI=\"k\"\n"
               "#EXTINF:2,\n/radio\n"
            << "application/vnd.apple.mpegurl";
        QTest::newRow("byte-range hls")
            << "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\n#EXT-X-BYTERANGE:5000@0\n"
               "/radio\n"
            << "application/vnd.apple.mpegurl";
    }
    void unknownFormats_failWithFileForm() {
        QFETCH(QString, body);
        QFETCH(QString, contentType);
        server_->setRoute("/radio", StreamRoute::audio(mp3_));
        server_->setRoute("/x",
                          StreamRoute::playlist(body.toStdString(), contentType.toStdString()));
        QCOMPARE(open("/x"), 0u);
        QCOMPARE(e().ErrorGetCode(), ERROR_FILEFORM);
    }

    // A body that probes as a playlist-like format FFmpeg could follow by
    // itself (icy-metaint keeps the engine's own playlist sniffing out of
    // the way): nothing it names is opened, neither a local file nor
    // another loopback server.
    void probedPlaylists_openNothingThemselves_data() {
        QTest::addColumn<QString>("body"); // {other}: the other server's address
        QTest::newRow("hls") << "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:0\n"
                                "#EXTINF:2,\n{other}/seg.ts\n#EXTINF:2,\nfile:///etc/passwd\n";
        QTest::newRow("concat") << "ffconcat version 1.0\nfile '{other}/seg.ts'\n"
                                   "file 'file:///etc/passwd'\n";
        // A name FFmpeg's concat takes as safe: a file beside the program.
        QTest::newRow("concat of a local file") << "ffconcat version 1.0\nfile 'local.mp3'\n";
    }
    void probedPlaylists_openNothingThemselves() {
        QFETCH(QString, body);
        StreamServer other;
        QVERIFY(other.start());
        other.setRoute("/seg.ts", StreamRoute::audio(mp3_, false, 0));
        QFile::remove(folder_->file("local.mp3"));
        QVERIFY(QFile::copy(QString::fromStdString(mp3_), folder_->file("local.mp3")));
        const QString file = folder_->file("probed.txt");
        folder_->write("probed.txt",
                       body.replace("{other}", QString::fromStdString(other.url(""))).toUtf8());
        StreamRoute route = StreamRoute::audio(file.toStdString(), true, 8192);
        route.contentType = "application/octet-stream";
        route.loop = false;
        server_->setRoute("/x", route);
        QCOMPARE(open("/x"), 0u);
        QCOMPARE(e().ErrorGetCode(), ERROR_FILEFORM);
        QCOMPARE(other.requests("/seg.ts"), 0);
    }

    // ------------------------------------------------------------ HLS

    // An ID3v2.4 tag with the artist and title frames (UTF-8), as HLS
    // packed audio carries its timed metadata.
    static std::string id3Tag(const std::string& artist, const std::string& title) {
        auto syncsafe = [](std::size_t n) {
            return std::string{char((n >> 21) & 0x7F), char((n >> 14) & 0x7F),
                               char((n >> 7) & 0x7F), char(n & 0x7F)};
        };
        auto frame = [&](const char* id, const std::string& text) {
            return std::string(id) + syncsafe(text.size() + 1) + std::string(2, '\0') + '\x03' +
                   text;
        };
        const std::string frames = frame("TPE1", artist) + frame("TIT2", title);
        return std::string("ID3\x04\0\0", 6) + syncsafe(frames.size()) + frames;
    }

    void hls_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("viaMaster");
        QTest::newRow("adts segments with id3 titles") << int(SegmentFormat::Adts) << false;
        QTest::newRow("mpeg-ts segments, master playlist") << int(SegmentFormat::Ts) << true;
        QTest::newRow("fragmented mp4 segments") << int(SegmentFormat::Fmp4) << false;
    }
    void hls() {
        QFETCH(int, format);
        QFETCH(bool, viaMaster);
        const auto fmt = static_cast<SegmentFormat>(format);
        const bool adts = fmt == SegmentFormat::Adts;
        const bool fmp4 = fmt == SegmentFormat::Fmp4;
        const std::vector<int> tones{500, 1000, 1500, 2000};
        const auto files = AudioSamples::segments(fmt, tones, 2);
        QVERIFY2(files.size() >= 4, AudioSamples::lastError().c_str());
        const std::string ext = adts ? ".aac" : fmp4 ? ".m4s" : ".ts";
        const std::string type = adts ? "audio/aac" : fmp4 ? "audio/mp4" : "video/mp2t";
        if (fmp4) {
            const QString init =
                QFileInfo(QString::fromStdString(files[0])).dir().filePath("init.mp4");
            server_->setRoute(
                "/live/init.mp4",
                StreamRoute::playlist(AudioSamples::readFile(init.toStdString()), type));
        }
        for (int i = 0; i < 4; ++i) {
            std::string body = AudioSamples::readFile(files[i]);
            if (adts && i % 2 == 0)
                body = id3Tag("HLS Artist", i == 0 ? "Part One" : "Part Three") + body;
            server_->setRoute("/live/s" + std::to_string(i) + ext,
                              StreamRoute::playlist(body, type));
        }
        auto media = [&](int first, bool ended) {
            std::string m =
                "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:" + std::to_string(first) +
                "\n";
            if (fmp4)
                m += "#EXT-X-MAP:URI=\"init.mp4\"\n";
            for (int i = first; i < first + 3; ++i)
                m += "#EXTINF:2.0,\ns" + std::to_string(i) + ext + "\n";
            return StreamRoute::playlist(m + (ended ? "#EXT-X-ENDLIST\n" : ""),
                                         "application/vnd.apple.mpegurl");
        };
        server_->setRoute("/live/index.m3u8", media(0, false));
        server_->setRoute("/master.m3u8",
                          StreamRoute::playlist("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=48000\n"
                                                "low.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=140000\n"
                                                "live/index.m3u8\n"
                                                "#EXT-X-STREAM-INF:BANDWIDTH=320000\nhigh.m3u8\n",
                                                "application/vnd.apple.mpegurl"));
        PcmCapture capture(*e().nullOutput());
        CallbackLog log;
        const HSTREAM h = open(viaMaster ? "/master.m3u8" : "/live/index.m3u8");
        QVERIFY2(h, std::to_string(e().ErrorGetCode()).c_str());
        auto title = [&] { return streamTitle(e().ChannelGetTags(h, TAG_META)); };
        if (adts)
            QCOMPARE(title(), std::string("HLS Artist - Part One"));
        QVERIFY(e().ChannelSetSync(h, SYNC_META, 0, &CallbackLog::sync, &log));
        QVERIFY(e().ChannelPlay(h, 0));
        // ADTS recorded as it is into .m4a files, one per song (the second
        // begins with segment 2's title).
        const std::string parts = folder_->file("hls-%n.m4a").toStdString();
        const DWORD rec = adts ? e().Encode_StartFile(h, parts.c_str(), ENCODE_SONGS) : 0;
        QCOMPARE(rec != 0, adts);
        // The live playlist moves on by a segment, then ends.
        QVERIFY(pollUntil([&] { return server_->requests("/live/s2" + ext) == 1; }, 6000));
        server_->setRoute("/live/index.m3u8", media(1, true));
        QVERIFY(pollUntil([&] { return e().ChannelGetLevel(h) == 0xFFFFFFFFu; }, 15000));
        for (int i = 0; i < 4; ++i)
            QCOMPARE(server_->requests("/live/s" + std::to_string(i) + ext), 1);
        QVERIFY(server_->requests("/live/index.m3u8") >= 2);
        QCOMPARE(server_->requests("/low.m3u8") + server_->requests("/high.m3u8"), 0);
        QCOMPARE(server_->requests("/live/init.mp4"), fmp4 ? 1 : 0);
        if (adts) {
            QCOMPARE(title(), std::string("HLS Artist - Part Three"));
            QCOMPARE(log.syncCalls.load(), 1);
            QVERIFY(e().Encode_Stop(rec));
            QByteArray song[2];
            for (int i = 0; i < 4; ++i)
                song[i / 2] +=
                    adtsPayloads(QByteArray::fromStdString(AudioSamples::readFile(files[i])));
            for (int n = 0; n < 2; ++n) {
                const QString file = folder_->file(QString("hls-%1.m4a").arg(n + 1));
                QCOMPARE(decodeErrors(file), QString());
                // The station's frames: the first song's from the one heard
                // first, the second song's all, from its first one.
                const QByteArray kept = mediaPackets(file);
                QVERIFY(n == 0 ? kept.size() > 1000 && song[0].endsWith(kept) : kept == song[1]);
            }
        }
        // The four segments one after another, no gap between them.
        const QByteArray pcm = capture.pcm();
        const auto first = firstSoundMs(pcm);
        QVERIFY(first);
        const qint64 start = *first * 44100 / 1000 * 4;
        const QByteArray played = pcm.mid(start, 7900 * 44100 / 1000 * 4);
        QCOMPARE(played.size(), 7900 * 44100 / 1000 * 4);
        const auto gaps = findSilenceGaps(played, 20);
        QVERIFY2(gaps.isEmpty(), qPrintable(QString::number(gaps.value(0).startMs)));
        for (int i = 0; i < 4; ++i) {
            const int hz = toneHz(played, 2000 * i + 500, 1000);
            QVERIFY2(std::abs(hz - tones[i]) <= 10, qPrintable(QString::number(hz)));
        }
    }

    // ------------------------------------------------------------ https

    void https_withTheTestsAuthorityPlays_andAnotherIsRefused() {
        std::string error;
        QDir(folder_->path()).mkpath("trusted");
        QDir(folder_->path()).mkpath("other");
        const auto trusted = TestCertificates::make(folder_->file("trusted").toStdString(), &error);
        QVERIFY2(trusted, error.c_str());
        const auto other = TestCertificates::make(folder_->file("other").toStdString(), &error);
        QVERIFY2(other, error.c_str());
        TlsProxy tls;
        QVERIFY(tls.start(*trusted, server_->port()));
        server_->setRoute("/radio", StreamRoute::audio(mp3_));
        server_->setRoute("/list.pls",
                          StreamRoute::playlist("[playlist]\nFile1=" + tls.url("/radio") + "\n"));
        // An https playlist naming an https stream.
        QVERIFY(e().SetConfigPtr(CONFIG_NET_CAFILE, trusted->caFile.c_str()));
        const HSTREAM h = e().StreamCreateURL(tls.url("/list.pls").c_str(), 0, 0, nullptr, nullptr);
        QVERIFY2(h, std::to_string(e().ErrorGetCode()).c_str());
        QVERIFY(e().ChannelPlay(h, 0));
        QVERIFY(pollUntil([&] { return leftLevel(h) > 10000; }, 3000));
        QVERIFY(e().StreamFree(h));
        // Neither another authority nor the system's store vouches for it.
        const int handshakes = tls.handshakes();
        for (const std::string& ca : {other->caFile, std::string()}) {
            QVERIFY(e().SetConfigPtr(CONFIG_NET_CAFILE, ca.empty() ? nullptr : ca.c_str()));
            QCOMPARE(e().StreamCreateURL(tls.url("/radio").c_str(), 0, 0, nullptr, nullptr), 0u);
            QCOMPARE(e().ErrorGetCode(), ERROR_SSL);
        }
        QCOMPARE(tls.handshakes(), handshakes);
        QCOMPARE(tls.refusedHandshakes(), 2);
        QCOMPARE(server_->requests("/radio"), 1);
    }

    // ------------------------------------------------------------ playlists

    void playlists_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("contentType");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("opens");
        QTest::newRow("pls") << "[playlist]\nNumberOfEntries=1\nFile1=/radio\n"
                             << "audio/x-scpls"
                             << "/list.pls" << true;
        QTest::newRow("pls dead first entry")
            << "[playlist]\nFile1=http://127.0.0.1:1/dead\nFile2=/radio\n"
            << "audio/x-scpls"
            << "/a" << true;
        QTest::newRow("m3u by extension") << "#EXTM3U\n#EXTINF:-1,Radio\nradio\n"
                                          << "text/plain"
                                          << "/list.m3u" << true;
        QTest::newRow("m3u relative") << "#EXTM3U\n/radio\n"
                                      << "audio/x-mpegurl"
                                      << "/list.m3u" << true;
        QTest::newRow("m3u8") << "\xEF\xBB\xBF#EXTM3U\r\n/radio\r\n"
                              << "application/vnd.apple.mpegurl"
                              << "/x.m3u8" << true;
        QTest::newRow("asx") << "<ASX version=\"3.0\"><Entry><Ref HREF=\"/radio\"/></Entry></ASX>"
                             << "video/x-ms-asf"
                             << "/list.asx" << true;
        QTest::newRow("sniffed pls") << "[playlist]\nFile1=/radio\n"
                                     << "text/plain"
                                     << "/listen" << true;
        QTest::newRow("nested") << "[playlist]\nFile1=/inner.m3u\n"
                                << "audio/x-scpls"
                                << "/o.pls" << true;
        QTest::newRow("names itself") << "[playlist]\nFile1=/self.pls\n"
                                      << "audio/x-scpls"
                                      << "/self.pls" << false;
        QTest::newRow("empty") << "[playlist]\nNumberOfEntries=0\n"
                               << "audio/x-scpls"
                               << "/e.pls" << false;
        QTest::newRow("only other schemes") << "#EXTM3U\nfile:///etc/passwd\nrtsp://x/y\n"
                                            << "audio/x-mpegurl"
                                            << "/f.m3u" << false;
    }
    void playlists() {
        QFETCH(QString, body);
        QFETCH(QString, contentType);
        QFETCH(QString, path);
        QFETCH(bool, opens);
        server_->setRoute("/radio", StreamRoute::audio(mp3_));
        server_->setRoute("/inner.m3u",
                          StreamRoute::playlist("#EXTM3U\n/radio\n", "audio/x-mpegurl"));
        const std::string p = path.toStdString();
        server_->setRoute(p, StreamRoute::playlist(body.toStdString(), contentType.toStdString()));
        const auto t0 = std::chrono::steady_clock::now();
        const HSTREAM h =
            e().StreamCreateURL(server_->url(p).c_str(), 0, STREAM_STATUS, nullptr, nullptr);
        QCOMPARE(h != 0, opens);
        if (!opens) {
            QVERIFY(e().ErrorGetCode() != ERROR_OK);
            QVERIFY(std::chrono::steady_clock::now() - t0 < std::chrono::seconds(8));
        } else {
            QVERIFY(e().ChannelPlay(h, 0));
            QVERIFY(pollUntil([&] { return leftLevel(h) > 10000; }, 3000));
        }
    }

    void playlists_deeperThanThreeLevels_fail_andOffMeansNotFollowed() {
        server_->setRoute("/radio", StreamRoute::audio(mp3_));
        server_->setRoute("/d3.pls", StreamRoute::playlist("[playlist]\nFile1=/radio\n"));
        server_->setRoute("/d2.pls", StreamRoute::playlist("[playlist]\nFile1=/d3.pls\n"));
        server_->setRoute("/d1.pls", StreamRoute::playlist("[playlist]\nFile1=/d2.pls\n"));
        server_->setRoute("/d0.pls", StreamRoute::playlist("[playlist]\nFile1=/d1.pls\n"));
        QVERIFY(e().StreamCreateURL(server_->url("/d1.pls").c_str(), 0, 0, nullptr, nullptr));
        QCOMPARE(e().StreamCreateURL(server_->url("/d0.pls").c_str(), 0, 0, nullptr, nullptr), 0u);
        QCOMPARE(e().ErrorGetCode(), ERROR_FILEFORM);
        e().SetConfig(CONFIG_NET_PLAYLIST, 0);
        QCOMPARE(e().StreamCreateURL(server_->url("/d3.pls").c_str(), 0, 0, nullptr, nullptr), 0u);
        QCOMPARE(e().ErrorGetCode(), ERROR_FILEFORM);
    }

    // ------------------------------------------------------------ redirects

    void redirects_fiveAreFollowed_sixAreNot() {
        server_->setRoute("/radio", StreamRoute::audio(mp3_));
        for (int i = 1; i <= 6; ++i)
            server_->setRoute(
                "/r" + std::to_string(i),
                StreamRoute::redirect(i == 1 ? "/radio" : "/r" + std::to_string(i - 1)));
        QVERIFY(e().StreamCreateURL(server_->url("/r5").c_str(), 0, 0, nullptr, nullptr));
        QCOMPARE(e().StreamCreateURL(server_->url("/r6").c_str(), 0, 0, nullptr, nullptr), 0u);
        QCOMPARE(e().ErrorGetCode(), ERROR_FILEOPEN);
    }

    // ------------------------------------------------------------ bad servers

    void badServers_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("error");
        QTest::newRow("404") << int(StreamRoute::Kind::Body) << ERROR_FILEOPEN;
        QTest::newRow("no answer") << int(StreamRoute::Kind::Stall) << ERROR_TIMEOUT;
        QTest::newRow("endless header") << int(StreamRoute::Kind::EndlessHeader) << ERROR_FILEFORM;
        QTest::newRow("header line of megabytes") << int(StreamRoute::Kind::HugeHeaderLine) << -2;
        QTest::newRow("closes at once") << int(StreamRoute::Kind::CloseAtOnce) << ERROR_FILEOPEN;
    }
    void badServers() {
        QFETCH(int, kind);
        QFETCH(int, error);
        auto route = StreamRoute::fault(static_cast<StreamRoute::Kind>(kind));
        if (route.kind == StreamRoute::Kind::Body)
            route = StreamRoute::error(404);
        server_->setRoute("/bad", route);
        const auto t0 = std::chrono::steady_clock::now();
        QCOMPARE(open("/bad"), 0u);
        const int code = e().ErrorGetCode();
        if (error == -2)
            QVERIFY(code == ERROR_FILEFORM || code == ERROR_FILEOPEN || code == ERROR_MEM);
        else
            QCOMPARE(code, error);
        // Connect time-out 3 s + read time-out 1.5 s bound every case.
        QVERIFY(std::chrono::steady_clock::now() - t0 < std::chrono::seconds(6));
    }

    void refusedConnection_failsWithFileOpen() {
        StreamServer gone;
        QVERIFY(gone.start());
        const std::string url = gone.url("/radio");
        gone.stop();
        QCOMPARE(e().StreamCreateURL(url.c_str(), 0, 0, nullptr, nullptr), 0u);
        QCOMPARE(e().ErrorGetCode(), ERROR_FILEOPEN);
        QCOMPARE(e().StreamCreateURL("ftp://127.0.0.1/x", 0, 0, nullptr, nullptr), 0u);
        QCOMPARE(e().ErrorGetCode(), ERROR_FILEOPEN);
        QCOMPARE(e().StreamCreateURL(nullptr, 0, 0, nullptr, nullptr), 0u);
    }

    // Random bytes, or a frame header followed by random bytes, under
    // each decoder's content type: never played as noise.
    void junkAudio_failsWithFileForm_data() {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<bool>("framesFirst");
        QTest::newRow("MP3") << QByteArray("audio/mpeg") << false;
        QTest::newRow("AAC") << QByteArray("audio/aacp") << false;
        QTest::newRow("AAC, junk after a frame header") << QByteArray("audio/aacp") << true;
    }
    void junkAudio_failsWithFileForm() {
        QFETCH(QByteArray, contentType);
        QFETCH(bool, framesFirst);
        const std::string aac = AudioSamples::tone(SampleFormat::Aac);
        auto route = StreamRoute::audio(contentType.startsWith("audio/aac") ? aac : mp3_);
        route.contentType = contentType.toStdString();
        route.junkAudio = true;
        // The first frame's header, then junk where its body would be.
        route.junkAfter = framesFirst ? 7 : 0;
        server_->setRoute("/junk", route);
        QCOMPARE(open("/junk"), 0u);
        QCOMPARE(e().ErrorGetCode(), ERROR_FILEFORM);
    }

    void lyingMetaint_data() {
        QTest::addColumn<QString>("header");
        QTest::addColumn<int>("sent");
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("absurd") << "99999999999999" << 0;
        QTest::newRow("not a number") << "lots" << 0;
        QTest::newRow("says none, sends junk blocks") << "" << -1;
    }
    void lyingMetaint() {
        QFETCH(QString, header);
        QFETCH(int, sent);
        auto route = StreamRoute::audio(mp3_, true, sent == -1 ? 4000 : 0);
        route.metaintHeader = header.toStdString();
        route.junkMetadata = sent == -1;
        server_->setRoute("/radio", route);
        const HSTREAM h = open("/radio");
        QVERIFY(h);
        QVERIFY(e().ChannelPlay(h, 0));
        QVERIFY(pollUntil([&] { return e().nullOutput()->framesPlayed > 44100; }, 4000));
        QVERIFY(e().ChannelGetTags(h, TAG_META) == nullptr); // junk is no title
    }

    void dropMidStream_endsTheChannel() {
        auto route = StreamRoute::audio(mp3_);
        route.dropAfter = 30000;
        server_->setRoute("/radio", route);
        CallbackLog log;
        const HSTREAM h = open("/radio", &log);
        QVERIFY(h);
        QVERIFY(e().ChannelPlay(h, 0));
        QVERIFY(pollUntil([&] { return log.endCalls == 1; }, 3000));
        QCOMPARE(e().StreamGetFilePosition(h, FILEPOS_END), kBad);
        QVERIFY(pollUntil([&] { return e().ChannelGetLevel(h) == 0xFFFFFFFFu; }, 5000));
        QVERIFY(e().StreamFree(h));
        QCOMPARE(e().StreamFree(h), 0);
    }

    // ------------------------------------------------------------ threads and teardown

    void free_duringAnOpening_returnsQuickly() {
        server_->setRoute("/stall", StreamRoute::fault(StreamRoute::Kind::Stall));
        e().SetConfig(CONFIG_NET_READTIMEOUT, 15000);
        std::atomic<HSTREAM> result{1};
        std::atomic<int> code{0};
        std::thread opener([&] {
            result = open("/stall");
            code = e().ErrorGetCode();
        });
        QTest::qWait(300);
        const auto t0 = std::chrono::steady_clock::now();
        QVERIFY(e().Free());
        opener.join();
        QVERIFY(std::chrono::steady_clock::now() - t0 < std::chrono::seconds(2));
        QCOMPARE(result.load(), 0u);
        QCOMPARE(code.load(), ERROR_INIT);
    }

    void freeingMidChunk_noCallbackFollowsOnceItBegan() {
        // Sixteen bytes of audio between metadata blocks: each chunk of the
        // download is split into many pieces, and freeing begins while one
        // piece is being handed on.
        server_->setRoute("/radio", StreamRoute::audio(mp3_, true, 16));
        struct Watch {
            std::atomic<int> pieces{0};
            std::atomic<bool> held{false};
            std::atomic<bool> freeing{false};
            std::atomic<int> late{0};
        };
        // On the heap: a callback after StreamFree returns reads freed
        // memory, which the sanitizer build reports.
        auto* watch = new Watch;
        const HSTREAM h = e().StreamCreateURL(
            server_->url("/radio").c_str(), 0, STREAM_STATUS,
            [](const void* buffer, DWORD length, void* user) {
                auto* w = static_cast<Watch*>(user);
                if (w->freeing)
                    ++w->late;
                if (!buffer || length == 0 || ++w->pieces != 200)
                    return;
                // Hold this piece until freeing has begun and has had
                // ample time to raise its stop flag.
                w->held = true;
                pollUntil([&] { return w->freeing.load(); }, 5000);
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            },
            watch);
        QVERIFY(h);
        QVERIFY(pollUntil([&] { return watch->held.load(); }, 5000));
        watch->freeing = true;
        QVERIFY(e().StreamFree(h));
        QCOMPARE(watch->late.load(), 0);
        delete watch;
        QTest::qWait(300); // room for a late callback to touch freed memory
    }

    void manyThreads_openPlayAndFreeAtOnce() {
        server_->setRoute("/radio", StreamRoute::audio(mp3_));
        server_->setRoute("/bad", StreamRoute::error(404));
        std::atomic<int> opened{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < 5; ++i) {
                    const HSTREAM h = open(t % 2 ? "/radio" : "/bad");
                    if (!h)
                        continue;
                    ++opened;
                    e().ChannelPlay(h, 0);
                    e().ChannelGetLevel(h);
                    e().StreamGetFilePosition(h, FILEPOS_CURRENT);
                    e().Stop();
                    e().Start();
                    e().StreamFree(h);
                }
            });
        }
        for (auto& t : threads)
            t.join();
        QCOMPARE(opened.load(), 10);
    }

    void freeFromTheSyncCallback_doesNotDeadlock() {
        server_->setRoute("/radio", paced(StreamRoute::audio(mp3_, true, 2000), 16000, 40000));
        const HSTREAM h = open("/radio");
        QVERIFY(h);
        struct Ctx {
            Engine* e;
            std::atomic<int> freed{0};
        } ctx{engine_.get()};
        QVERIFY(e().ChannelSetSync(
            h, SYNC_META, 0,
            [](HSYNC, DWORD ch, DWORD, void* u) {
                auto* c = static_cast<Ctx*>(u);
                if (c->e->StreamFree(ch))
                    ++c->freed;
            },
            &ctx));
        QVERIFY(e().ChannelPlay(h, 0));
        server_->setTitle("Next");
        QVERIFY(pollUntil([&] { return ctx.freed == 1; }, 4000));
        QCOMPARE(e().ChannelPlay(h, 0), 0);
    }
};

QTEST_GUILESS_MAIN(EngineStreamsTest)
#include "tst_engine_streams.moc"
