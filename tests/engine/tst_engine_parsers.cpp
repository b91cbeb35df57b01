// The engine's pure parts: ICY demultiplexing at every cut, response heads
// with their limits, playlists and HLS playlists, text conversion, the
// download buffer, the encoder's command line and WAV header.

#include "ByteHistory.h"
#include "ByteRing.h"
#include "EncoderFeed.h"
#include "Hls.h"
#include "HttpHead.h"
#include "IcyDemuxer.h"
#include "Playlist.h"
#include "Text.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace tolvane::engine;

namespace {

struct Collect : IcyDemuxer::Sink {
    std::string audioBytes;
    std::vector<std::string> metas;
    void audio(const std::uint8_t* d, std::size_t n) override {
        audioBytes.append(reinterpret_cast<const char*>(d), n);
    }
    void metadata(const std::string& t) override { metas.push_back(t); }
};

std::string metaBlock(const std::string& text) {
    const std::size_t blocks = (text.size() + 15) / 16;
    std::string b(1, static_cast<char>(blocks));
    b += text;
    b.resize(1 + blocks * 16, '\0');
    return b;
}

// Body: audio runs of `metaint` with the given metadata after each.
std::string icyBody(std::size_t metaint, const std::vector<std::string>& metas,
                    std::string& audio) {
    std::string body;
    std::mt19937 rng(1);
    for (const auto& m : metas) {
        std::string run(metaint, '\0');
        for (auto& c : run)
            c = static_cast<char>(rng());
        audio += run;
        body += run;
        body += m.empty() ? std::string(1, '\0') : metaBlock(m);
    }
    return body;
}

} // namespace

class EngineParsersTest : public QObject {
    Q_OBJECT

private slots:
    // ------------------------------------------------------------ ICY

    void icy_splitAtEveryOffset_givesSameAudioAndTitles() {
        std::string audio;
        const std::vector<std::string> metas = {"StreamTitle='One';", "",
                                                "StreamTitle='Two';StreamUrl='';", "",
                                                "StreamTitle='Three';"};
        const std::string body = icyBody(37, metas, audio);
        for (std::size_t cut1 = 0; cut1 <= body.size(); ++cut1) {
            for (std::size_t step : {std::size_t(1), std::size_t(7), body.size()}) {
                IcyDemuxer demux(37);
                Collect c;
                const auto* p = reinterpret_cast<const std::uint8_t*>(body.data());
                demux.feed(p, cut1, c);
                for (std::size_t at = cut1; at < body.size(); at += step)
                    demux.feed(p + at, std::min(step, body.size() - at), c);
                QCOMPARE(c.audioBytes, audio);
                QCOMPARE(c.metas, (std::vector<std::string>{"StreamTitle='One';",
                                                            "StreamTitle='Two';StreamUrl='';",
                                                            "StreamTitle='Three';"}));
            }
        }
    }

    void icy_withoutMetaint_passesEverything() {
        IcyDemuxer demux(0);
        Collect c;
        const std::string body = "\x03StreamTitle='x';abc";
        demux.feed(reinterpret_cast<const std::uint8_t*>(body.data()), body.size(), c);
        QCOMPARE(c.audioBytes, body);
        QVERIFY(c.metas.empty());
    }

    void icy_metadataCleaning_data() {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("padded") << QByteArray("StreamTitle='A';\0\0\0", 19) << true
                                << QByteArray("StreamTitle='A';");
        QTest::newRow("latin-1") << QByteArray("StreamTitle='Caf\xE9';") << true
                                 << QByteArray("StreamTitle='Caf\xC3\xA9';");
        QTest::newRow("utf-8 stays") << QByteArray("StreamTitle='Caf\xC3\xA9';") << true
                                     << QByteArray("StreamTitle='Caf\xC3\xA9';");
        QTest::newRow("all padding") << QByteArray(16, '\0') << false << QByteArray();
        QTest::newRow("control junk") << QByteArray("\x01\x02\x1b[31m") << false << QByteArray();
    }
    void icy_metadataCleaning() {
        QFETCH(QByteArray, raw);
        QFETCH(bool, kept);
        QFETCH(QByteArray, text);
        std::string out;
        QCOMPARE(cleanMetadata(std::string_view(raw.data(), raw.size()), out), kept);
        if (kept)
            QCOMPARE(QByteArray::fromStdString(out), text);
    }

    // ------------------------------------------------------------ heads

    void head_icyAndHttp_areParsed() {
        HeaderCollector c;
        QCOMPARE(c.addLine("HTTP/1.1 302 Found\r\n"), HeaderCollector::Result::More);
        QCOMPARE(c.addLine("Location: /x\r\n"), HeaderCollector::Result::More);
        QCOMPARE(c.addLine("\r\n"), HeaderCollector::Result::Complete);
        QVERIFY(c.head().isRedirect());
        QCOMPARE(c.addLine("ICY 200 OK\r\n"), HeaderCollector::Result::More);
        c.addLine("Content-Type: audio/mpeg; charset=x\r\n");
        c.addLine("icy-metaint:16000\r\n");
        c.addLine("icy-br:128,128\r\n");
        c.addLine("icy-name:Jazz FM\r\n");
        QCOMPARE(c.addLine("\r\n"), HeaderCollector::Result::Complete);
        const ResponseHead& h = c.head();
        QVERIFY(h.icy);
        QCOMPARE(h.status, 200);
        QCOMPARE(h.contentType(), std::string("audio/mpeg"));
        QCOMPARE(h.metaint().value(), std::size_t(16000));
        QCOMPARE(h.bitrateKbps(), 128);
        const std::string block = h.tagBlock();
        static const char expected[] = "ICY 200 OK\0Content-Type: audio/mpeg; charset=x\0"
                                       "icy-metaint:16000\0icy-br:128,128\0icy-name:Jazz FM\0";
        QCOMPARE(block, std::string(expected, sizeof expected)); // the final NUL ends the block
    }

    void head_limits_data() {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("lineLength");
        QTest::addColumn<bool>("tooLarge");
        // Every other line a status line again: it must not start the
        // count afresh inside a head.
        QTest::addColumn<bool>("statusLinesBetween");
        QTest::newRow("normal") << 20 << 40 << false << false;
        QTest::newRow("long line") << 2 << 9000 << true << false;
        QTest::newRow("many lines") << 500 << 20 << true << false;
        QTest::newRow("many bytes") << 100 << 1000 << true << false;
        QTest::newRow("normal, status lines between") << 20 << 40 << false << true;
        QTest::newRow("many lines, status lines between") << 500 << 20 << true << true;
        QTest::newRow("many bytes, status lines between") << 100 << 1000 << true << true;
    }
    void head_limits() {
        QFETCH(int, lines);
        QFETCH(int, lineLength);
        QFETCH(bool, tooLarge);
        QFETCH(bool, statusLinesBetween);
        HeaderCollector c;
        c.addLine("HTTP/1.0 200 OK\r\n");
        bool over = false;
        bool complete = false;
        for (int i = 0; i < lines && !over; ++i) {
            const std::string line = statusLinesBetween && i % 2 == 1
                                         ? "ICY 200 OK " + std::string(lineLength, 'a')
                                         : "X-A: " + std::string(lineLength, 'a');
            const HeaderCollector::Result r = c.addLine(line);
            over = r == HeaderCollector::Result::TooLarge;
            complete = complete || r == HeaderCollector::Result::Complete;
        }
        QCOMPARE(over, tooLarge);
        QVERIFY(!complete);
        // The head is the first one, whatever came inside it.
        QCOMPARE(c.head().statusLine, std::string("HTTP/1.0 200 OK"));
    }

    void head_withoutStatusLine_isInvalid() {
        HeaderCollector c;
        QCOMPARE(c.addLine("Content-Type: audio/mpeg\r\n"), HeaderCollector::Result::Invalid);
    }

    void metaint_sanity_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("parsed"); // -1: rejected
        QTest::newRow("icecast") << "16000" << 16000;
        QTest::newRow("blank around") << " 8192 " << 8192;
        QTest::newRow("zero") << "0" << -1;
        QTest::newRow("tiny") << "3" << -1;
        QTest::newRow("absurd") << "99999999999" << -1;
        QTest::newRow("over a megabyte") << "2000000" << -1;
        QTest::newRow("negative") << "-5" << -1;
        QTest::newRow("words") << "8192abc" << -1;
        QTest::newRow("empty") << "" << -1;
    }
    void metaint_sanity() {
        QFETCH(QString, value);
        QFETCH(int, parsed);
        const auto v = parseMetaint(value.toStdString());
        QCOMPARE(v.has_value(), parsed >= 0);
        if (v)
            QCOMPARE(int(*v), parsed);
    }

    // ------------------------------------------------------------ playlists

    void playlistKind_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("kind");
        QTest::newRow("pls type") << "http://h/x"
                                  << "audio/x-scpls" << int(PlaylistKind::Pls);
        QTest::newRow("pls ext") << "http://h/x.PLS?sid=1"
                                 << "text/plain" << int(PlaylistKind::Pls);
        QTest::newRow("m3u8 ext") << "http://h/a/b.m3u8"
                                  << "" << int(PlaylistKind::M3u);
        QTest::newRow("asx type") << "http://h/x"
                                  << "video/x-ms-asx" << int(PlaylistKind::Asx);
        QTest::newRow("audio type beats ext") << "http://h/x.m3u"
                                              << "audio/mpeg" << int(PlaylistKind::None);
        QTest::newRow("plain stream") << "http://h/stream"
                                      << "audio/aacp" << int(PlaylistKind::None);
        QTest::newRow("asx under asf type") << "http://h/x.asx"
                                            << "video/x-ms-asf" << int(PlaylistKind::None);
    }
    void playlistKind() {
        QFETCH(QString, url);
        QFETCH(QString, type);
        QFETCH(int, kind);
        QCOMPARE(int(playlistKindFor(url.toStdString(), type.toStdString())), kind);
    }

    void parse_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QStringList>("urls");
        const QString base = "http://h:8000/dir/list";
        QTest::newRow("pls ordered by number") << int(PlaylistKind::Pls)
                                               << "[playlist]\r\nFile2=http://b/2\r\nfile1 = "
                                                  "http://a/1\r\nTitle1=x\r\nFile2=http://dup\r\n"
                                               << QStringList{"http://a/1", "http://b/2"};
        QTest::newRow("m3u comments and relative")
            << int(PlaylistKind::M3u)
            << "#EXTM3U\n#EXTINF:-1,Name\nstream.mp3\n\n/root\nhttps://s/x\n"
            << QStringList{"http://h:8000/dir/stream.mp3", "http://h:8000/root", "https://s/x"};
        QTest::newRow("asx refs and entryrefs")
            << int(PlaylistKind::Asx)
            << "<asx version='3.0'><entry><ref href='mms://w/live'/></entry><ENTRYREF "
               "HREF=\"http://x/y.asx?a=1&amp;b=2\"/><reference href='no'/></asx>"
            << QStringList{"http://w/live", "http://x/y.asx?a=1&b=2"};
        QTest::newRow("other schemes dropped")
            << int(PlaylistKind::M3u)
            << "file:///etc/passwd\nrtsp://a/b\njavascript:alert(1)\nhttp://ok/\n"
            << QStringList{"http://h:8000/dir/javascript:alert(1)", "http://ok/"};
        QTest::newRow("pls without entries")
            << int(PlaylistKind::Pls) << "[playlist]\nNumberOfEntries=0\n"
            << QStringList{};
        QTest::newRow("binary junk")
            << int(PlaylistKind::Pls) << QString::fromLatin1("\x01\x02\xff\xfe") << QStringList{};
    }
    void parse() {
        QFETCH(int, kind);
        QFETCH(QString, body);
        QFETCH(QStringList, urls);
        const auto got = parsePlaylist(static_cast<PlaylistKind>(kind), body.toStdString(),
                                       "http://h:8000/dir/list");
        QStringList list;
        for (const auto& u : got)
            list << QString::fromStdString(u);
        QCOMPARE(list, urls);
    }

    void parse_boundsEntries() {
        std::string body = "#EXTM3U\n";
        for (int i = 0; i < 1000; ++i)
            body += "http://h/" + std::to_string(i) + "\n";
        QCOMPARE(parsePlaylist(PlaylistKind::M3u, body, "http://h/").size(), kMaxPlaylistEntries);
    }

    // ------------------------------------------------------------ text

    void utf8_validity_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("ascii") << QByteArray("abc") << true;
        QTest::newRow("two bytes") << QByteArray("\xC3\xA9") << true;
        QTest::newRow("four bytes") << QByteArray("\xF0\x9F\x8E\xB5") << true;
        QTest::newRow("lone latin-1") << QByteArray("\xE9t\xE9") << false;
        QTest::newRow("overlong") << QByteArray("\xC0\xAF") << false;
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
        QTest::newRow("cut short") << QByteArray("\xE2\x82") << false;
    }
    void utf8_validity() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        QCOMPARE(isValidUtf8(bytes.toStdString()), valid);
        QVERIFY(isValidUtf8(toUtf8(bytes.toStdString())));
    }

    // ------------------------------------------------------------ buffer

    void ring_countsAndBounds() {
        ByteRing ring(100);
        std::vector<std::uint8_t> data(250);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>(i);
        QCOMPARE(ring.write(data.data(), 250), std::size_t(100)); // never grows
        QCOMPARE(ring.write(data.data(), 1), std::size_t(0));
        std::uint8_t out[64];
        QCOMPARE(ring.read(out, 60, false), std::size_t(60));
        QCOMPARE(out[59], std::uint8_t(59));
        QCOMPARE(ring.write(data.data() + 100, 150), std::size_t(60)); // wraps
        std::vector<std::uint8_t> rest(100);
        QCOMPARE(ring.read(rest.data(), 100, false), std::size_t(100));
        QCOMPARE(rest[0], std::uint8_t(60));
        QCOMPARE(rest[99], std::uint8_t(159));
        QCOMPARE(ring.totalWritten(), std::uint64_t(160));
        QCOMPARE(ring.totalRead(), std::uint64_t(160));
    }

    // A song kept in the station's frames goes back at most the limit, to
    // within a second: 0.1 s blocks, a frame in most of them.
    void songTimeBound_keepsAtMostTheLimit() {
        SongTimeBound bound(3 * 44100);
        std::map<std::uint64_t, double> heardAt; // a frame's byte: when it was heard
        std::uint64_t next = 0;                  // where the next frame begins
        std::uint64_t byte = 0;                  // where the last frame heard began
        std::uint64_t last = 0;
        for (int block = 1; block <= 200; ++block) {
            const double seconds = block / 10.0;
            const bool frame = block % 7 != 0; // some blocks begin no frame
            if (frame) {
                heardAt[byte = next] = seconds;
                next += 1600;
            }
            const std::uint64_t earliest = bound.earliest(4410, frame, byte);
            QVERIFY(earliest >= last && earliest <= byte); // never back, never ahead
            QVERIFY(heardAt.count(earliest));              // a frame's beginning
            last = earliest;
            const double kept = seconds - heardAt[earliest];
            if (seconds <= 3.0)
                QCOMPARE(earliest, std::uint64_t{0}); // all of a short song
            else
                QVERIFY2(kept >= 1.8 && kept <= 3.0 + 1e-9, qPrintable(QString::number(kept)));
        }
    }

    void ring_blockingReadEndsAtFinishAndCancel() {
        ByteRing ring(64);
        std::thread writer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const std::uint8_t b[3] = {1, 2, 3};
            ring.write(b, 3);
            ring.finish();
        });
        std::uint8_t out[8];
        QCOMPARE(ring.read(out, 8, true), std::size_t(3));
        QCOMPARE(ring.read(out, 8, true), std::size_t(0)); // finished and drained
        writer.join();
        ByteRing other(64);
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            other.cancel();
        });
        QCOMPARE(other.read(out, 8, true), std::size_t(0));
        canceller.join();
    }

    void ring_wakesTheWriterWhenRoomIsFree() {
        ByteRing ring(100);
        std::vector<std::uint8_t> data(100, 7);
        ring.write(data.data(), 100);
        std::atomic<int> woken{0};
        ring.notifyWhenFree(40, [&] { ++woken; });
        std::uint8_t out[30];
        ring.read(out, 30, false);
        QCOMPARE(woken.load(), 0);
        ring.read(out, 30, false);
        QCOMPARE(woken.load(), 1);
        ring.read(out, 30, false);
        QCOMPARE(woken.load(), 1); // once
    }

    void ring_limitHoldsTheWriterBack_andGrowingKeepsWhatItHolds() {
        ByteRing ring(100);
        std::vector<std::uint8_t> data(300);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>(i);
        std::uint8_t out[200];
        QCOMPARE(ring.write(data.data(), 70), std::size_t(70));
        QCOMPARE(ring.read(out, 50, false), std::size_t(50)); // the next write wraps
        ring.setLimit(40);
        QCOMPARE(ring.write(data.data() + 70, 100), std::size_t(20));
        std::atomic<int> woken{0};
        ring.notifyWhenFree(10, [&] { ++woken; });
        ring.setLimit(45); // five bytes of room: not yet
        QCOMPARE(woken.load(), 0);
        ring.setLimit(60);
        QCOMPARE(woken.load(), 1);
        ring.grow(250);
        QCOMPARE(ring.capacity(), std::size_t(250));
        QCOMPARE(ring.limit(), std::size_t(60));
        ring.setLimit(1000); // never above the capacity
        QCOMPARE(ring.limit(), std::size_t(250));
        QCOMPARE(ring.write(data.data() + 90, 210), std::size_t(210));
        QCOMPARE(ring.read(out, 200, false), std::size_t(200));
        for (std::size_t i = 0; i < 200; ++i)
            QCOMPARE(out[i], std::uint8_t(50 + i)); // in order across the wrap and the growth
        QCOMPARE(ring.fill(), std::size_t(50));
    }

    // ------------------------------------------------------------ HLS

    void hls_playlists_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("kind");
        // For a media playlist: target, the segments (address@sequence) and
        // whether it ended or holds what the engine does not play.
        QTest::addColumn<double>("target");
        QTest::addColumn<QStringList>("segments");
        QTest::addColumn<bool>("endList");
        QTest::addColumn<bool>("unsupported");
        const QString live = "#EXTM3U\r\n#EXT-X-VERSION:3\r\n#EXT-X-TARGETDURATION:6\r\n"
                             "#EXT-X-MEDIA-SEQUENCE:41\r\n#EXTINF:5.96,\r\nseg41.aac\r\n"
                             "#EXTINF:6.0,Title\r\n/abs/seg42.aac?t=1\r\n#EXTINF:6,\r\n"
                             "https://cdn.example/seg43.aac\r\n";
        QTest::newRow("live media")
            << live << int(HlsKind::Media) << 6.0
            << QStringList{"http://h/radio/seg41.aac@41", "http://h/abs/seg42.aac?t=1@42",
                           "https://cdn.example/seg43.aac@43"}
            << false << false;
        QTest::newRow("ended, no sequence")
            << "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\na.ts\n#EXT-X-ENDLIST\n"
            << int(HlsKind::Media) << 10.0 << QStringList{"http://h/radio/a.ts@0"} << true << false;
        QTest::newRow("encrypted")
            << "#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXT-X-KEY:METHOD=AES-128,URI=\"k\"\n"
               "#EXTINF:4,\na.aac\n"
            << int(HlsKind::Media) << 4.0 << QStringList{"http://h/radio/a.aac@0"} << false << true;
        QTest::newRow("byte ranges")
            << "#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXTINF:4,\n#EXT-X-BYTERANGE:1000@0\n"
               "all.aac\n"
            << int(HlsKind::Media) << 4.0 << QStringList{"http://h/radio/all.aac@0"} << false
            << true;
        QTest::newRow("master") << "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=64000\nlo.m3u8\n"
                                << int(HlsKind::Master) << 0.0 << QStringList{} << false << false;
        QTest::newRow("a plain m3u with #EXTINF is no HLS")
            << "#EXTM3U\n#EXTINF:-1,Radio\nhttp://h/stream\n"
            << int(HlsKind::None) << 0.0 << QStringList{} << false << false;
    }
    void hls_playlists() {
        QFETCH(QString, body);
        QFETCH(int, kind);
        QFETCH(double, target);
        QFETCH(QStringList, segments);
        QFETCH(bool, endList);
        QFETCH(bool, unsupported);
        const std::string text = body.toStdString();
        QCOMPARE(int(hlsKindOf(text)), kind);
        const auto media = parseHlsMedia(text, "http://h/radio/list.m3u8");
        QCOMPARE(media.has_value(), kind == int(HlsKind::Media));
        if (!media)
            return;
        QCOMPARE(media->targetSeconds, target);
        QStringList got;
        for (const HlsSegment& seg : media->segments)
            got << QString::fromStdString(seg.url + "@" + std::to_string(seg.sequence));
        QCOMPARE(got, segments);
        QCOMPARE(media->endList, endList);
        QCOMPARE(media->unsupported, unsupported);
    }

    // A user's locale with a decimal comma must not change what a playlist
    // says: segments of 5.96 s stay 5.96 s. The locale is built here from
    // the system's sources (none but C is installed on a build machine).
    void hls_segmentSeconds_areTheSameInADecimalCommaLocale() {
        QTemporaryDir locales;
        QProcess localedef;
        localedef.start(QStringLiteral("localedef"),
                        {"-i", "de_DE", "-f", "UTF-8", locales.filePath("de_DE.UTF-8")});
        if (!localedef.waitForFinished(60000) ||
            !QFileInfo::exists(locales.filePath("de_DE.UTF-8")))
            QSKIP("localedef cannot build de_DE.UTF-8 here");
        qputenv("LOCPATH", QFile::encodeName(locales.path()));
        const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
        const bool set = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
        const double asTheLocaleReadsIt = std::strtod("5.96", nullptr);
        const auto media = parseHlsMedia("#EXTM3U\n#EXT-X-TARGETDURATION:6\n#EXTINF:5.96,\na.aac\n"
                                         "#EXTINF:6.5,Title\nb.aac\n",
                                         "http://h/radio/list.m3u8");
        std::setlocale(LC_NUMERIC, previous.c_str());
        qunsetenv("LOCPATH");
        if (!set || asTheLocaleReadsIt == 5.96)
            QSKIP("the decimal-comma locale did not take effect");
        QVERIFY(media.has_value());
        QCOMPARE(media->segments.size(), std::size_t(2));
        QCOMPARE(media->segments[0].seconds, 5.96);
        QCOMPARE(media->segments[1].seconds, 6.5);
    }

    void hls_masterChoosesTheVariantNearest128k() {
        const std::string master =
            "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=48000,CODECS=\"mp4a.40.5\"\nlow/index.m3u8\n"
            "#EXT-X-STREAM-INF:CODECS=\"mp4a.40.2,x\",BANDWIDTH=150000\nmid/index.m3u8\n"
            "#EXT-X-STREAM-INF:BANDWIDTH=320000\nhttp://other/high.m3u8\n";
        const auto variants = parseHlsMaster(master, "https://h/live/master.m3u8?token=1");
        QCOMPARE(variants.size(), std::size_t(3));
        QCOMPARE(variants[0].url, std::string("https://h/live/low/index.m3u8"));
        QCOMPARE(variants[1].bandwidth, 150000L);
        QCOMPARE(nearestVariant(variants, 128000)->url,
                 std::string("https://h/live/mid/index.m3u8"));
        QCOMPARE(nearestVariant(variants, 300000)->url, std::string("http://other/high.m3u8"));
        QVERIFY(!nearestVariant({}, 128000));
    }

    void hls_queue_startsNearTheLiveEdge_andTakesOnlyNewSegments() {
        auto playlist = [](std::int64_t first, int count, bool ended) {
            HlsMediaPlaylist p;
            p.targetSeconds = 4;
            p.endList = ended;
            for (std::int64_t s = first; s < first + count; ++s)
                p.segments.push_back({"s" + std::to_string(s), 4, s});
            return p;
        };
        auto taken = [](HlsQueue& q) {
            std::string all;
            while (auto s = q.next())
                all += s->url + " ";
            return all;
        };
        HlsQueue live(playlist(10, 6, false));
        QCOMPARE(taken(live), std::string("s13 s14 s15 ")); // three before the end
        QVERIFY(!live.update(playlist(11, 5, false)));      // nothing new
        QCOMPARE(live.reloadDelayMs(false), 2000);          // then ask again sooner
        QVERIFY(live.update(playlist(12, 6, false)));
        QCOMPARE(live.reloadDelayMs(true), 4000);
        QCOMPARE(taken(live), std::string("s16 s17 "));
        // Fallen behind the window: what is no longer listed is skipped.
        QVERIFY(live.update(playlist(16, 6, false)));
        QVERIFY(live.update(playlist(30, 3, true)));
        QVERIFY(!live.finished());
        QCOMPARE(taken(live), std::string("s30 s31 s32 "));
        QVERIFY(live.finished());
        HlsQueue ended(playlist(0, 5, true)); // a finished list plays from its start
        QCOMPARE(taken(ended), std::string("s0 s1 s2 s3 s4 "));
        // Fragmented MP4: the initialisation section first, again when it changes.
        auto mp4 = playlist(0, 2, false);
        mp4.mapUrl = "init1";
        HlsQueue fragments(mp4);
        QCOMPARE(taken(fragments), std::string("init1 s0 s1 "));
        mp4 = playlist(1, 2, false);
        mp4.mapUrl = "init2";
        QVERIFY(fragments.update(mp4));
        QCOMPARE(taken(fragments), std::string("init2 s2 "));
        QVERIFY(parseHlsMedia("#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXT-X-MAP:URI=\"i.mp4\"\n"
                              "#EXTINF:4,\na.m4s\n",
                              "http://h/r/x.m3u8")
                    ->mapUrl == "http://h/r/i.mp4");
    }

    // ------------------------------------------------------------ encoder bits

    void commandLine_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("parts");
        QTest::newRow("recorder") << "system/lame - Recorded/Recording.mp3"
                                  << QStringList{"system/lame", "-", "Recorded/Recording.mp3"};
        QTest::newRow("extra blanks")
            << "  lame   -b 128  - out.mp3 " << QStringList{"lame", "-b", "128", "-", "out.mp3"};
        QTest::newRow("quoted") << "\"my enc\" \"a b.mp3\"" << QStringList{"my enc", "a b.mp3"};
        QTest::newRow("no shell") << "lame; rm -rf x" << QStringList{"lame;", "rm", "-rf", "x"};
        QTest::newRow("empty") << "   " << QStringList{};
    }
    void commandLine() {
        QFETCH(QString, line);
        QFETCH(QStringList, parts);
        QStringList got;
        for (const auto& p : splitCommandLine(line.toStdString()))
            got << QString::fromStdString(p);
        QCOMPARE(got, parts);
    }

    void wavHeader_saysStereo44100WithUnknownLength() {
        const auto h = wavHeaderUnknownLength();
        QCOMPARE(h.size(), std::size_t(44));
        const std::string s(h.begin(), h.end());
        QCOMPARE(s.substr(0, 4), std::string("RIFF"));
        QCOMPARE(s.substr(8, 8), std::string("WAVEfmt "));
        auto u32 = [&](int at) {
            return std::uint32_t(h[at]) | std::uint32_t(h[at + 1]) << 8 |
                   std::uint32_t(h[at + 2]) << 16 | std::uint32_t(h[at + 3]) << 24;
        };
        QCOMPARE(u32(4), 0xFFFFFFFFu);
        QCOMPARE(int(h[22]), 2);
        QCOMPARE(u32(24), 44100u);
        QCOMPARE(int(h[34]), 16);
        QCOMPARE(s.substr(36, 4), std::string("data"));
        QCOMPARE(u32(40), 0xFFFFFFFFu);
    }
};

QTEST_GUILESS_MAIN(EngineParsersTest)
#include "tst_engine_parsers.moc"
