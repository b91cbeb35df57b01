// Ogg pages rewritten into files of their own: a chained stream of real
// Vorbis, Opus and FLAC songs (made by ffmpeg), cut at each song or in the
// middle of one, begun anywhere, in pieces of any size; and streams that
// lie about their headers.

#include "OggPages.h"

#include "AudioSamples.h"
#include "Mp3Check.h"
#include "SongStation.h"

#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <random>

using namespace tolvane::engine::ogg;
using tolvane::test::AudioSamples;
using tolvane::test::SampleFormat;

namespace {

using Bytes = std::vector<std::uint8_t>;

// The pages of `bytes`, and how many bytes they take.
std::vector<Page> pagesOf(const Bytes& bytes, std::size_t* pageBytes = nullptr) {
    std::vector<Page> pages;
    std::size_t sum = 0;
    PageReader().feed(bytes.data(), bytes.size(), [&](Page&& p) {
        sum += p.bytes.size();
        pages.push_back(std::move(p));
    });
    return pageBytes ? (*pageBytes = sum, pages) : pages;
}

// Offsets of the pages of `bytes`, and of the first audio page of each song.
struct Layout {
    std::vector<std::size_t> pageStarts, songStarts;
    explicit Layout(const Bytes& bytes) {
        StreamFollower follower;
        bool headers = false;
        for (const Page& p : pagesOf(bytes)) {
            const auto kind = follower.take(p);
            if (kind == StreamFollower::Kind::Audio && headers)
                songStarts.push_back(end);
            pageStarts.push_back(end);
            end += p.bytes.size();
            headers = kind == StreamFollower::Kind::Header;
        }
    }
    std::size_t end = 0;
};

} // namespace

class OggPagesTest : public QObject {
    Q_OBJECT
private slots:
    void files_decodeWholeFromTheirStart_data();
    void files_decodeWholeFromTheirStart();
    void headersThatNeverEnd_areRefused();
};

void OggPagesTest::files_decodeWholeFromTheirStart_data() {
    QTest::addColumn<SampleFormat>("format");
    QTest::addColumn<QString>("cuts");  // "songs": where each begins; "middle": inside songs
    QTest::addColumn<QString>("begin"); // "start" of the stream; in the middle song, where the
                                        // stream stands there "told" or "unknown"; or
                                        // "reconnected" in the middle song
    for (const auto& [name, format] :
         {std::pair{"Vorbis", SampleFormat::Vorbis}, std::pair{"Opus", SampleFormat::Opus},
          std::pair{"FLAC", SampleFormat::Flac}}) {
        for (const auto& [row, cuts, begin] : {std::tuple{"cut at songs", "songs", "start"},
                                               {"cut in songs", "middle", "start"},
                                               {"begun mid-song", "songs", "told"},
                                               {"begun where unknown", "middle", "unknown"},
                                               {"reconnected", "songs", "reconnected"}})
            QTest::addRow("%s, %s", name, row) << format << QString(cuts) << QString(begin);
    }
}

// Each file decodes without a word from ffmpeg from its first byte, its
// pages whole with their CRCs, its granules counted from its start; the
// files together hold the songs' audio but for a packet at a cut.
void OggPagesTest::files_decodeWholeFromTheirStart() {
    QFETCH(SampleFormat, format);
    QFETCH(QString, cuts);
    QFETCH(QString, begin);
    const double rate = format == SampleFormat::Opus ? 48000 : 44100;
    Bytes stream;
    for (int hz : {500, 1000, 1500}) {
        const std::string file =
            AudioSamples::tone(format, tolvane::test::ToneShape{.frequencyHz = hz, .seconds = 2},
                               128, "A", std::to_string(hz));
        QVERIFY2(!file.empty(), AudioSamples::lastError().c_str());
        const std::string bytes = AudioSamples::readFile(file);
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    const Layout layout(stream);
    QCOMPARE(layout.songStarts.size(), std::size_t{3});
    std::vector<std::size_t> cutAt{layout.songStarts[1], layout.songStarts[2]};
    if (cuts == "middle")
        cutAt = {layout.songStarts[1] + 2000, layout.songStarts[2] + 3000};
    const std::size_t from = begin == "start" || begin == "reconnected"
                                 ? 0
                                 : *std::upper_bound(layout.pageStarts.begin(),
                                                     layout.pageStarts.end(), layout.songStarts[1]);
    std::erase_if(cutAt, [&](std::size_t c) { return c <= from; });

    OggWriter writer;
    std::vector<Bytes> files(1);
    // Where a recording begins or a reconnected station goes on: the
    // headers in force and where the stream stands, as the engine tells them.
    HeaderTracker tracker;
    tracker.feed(stream.data(), stream.size());
    const auto resume = [&](std::size_t at, bool told) {
        const Bytes bytes =
            tracker.resume(at, Bytes(stream.begin(), stream.begin() + (told ? at : 0)));
        QVERIFY(!bytes.empty());
        writer.feed(bytes.data(), bytes.size(), files.back());
    };
    const auto standsAt = [&](std::size_t at) {
        return double(granuleBefore(stream.data(), at).value_or(-1e9)) / rate;
    };
    double lost = from > 0 ? 2 + standsAt(from) : 0;
    if (from > 0)
        resume(from, begin == "told");
    std::mt19937 rng(static_cast<unsigned>(from));
    std::size_t at = from;
    const auto feedTo = [&](std::size_t end) {
        while (at < end) {
            const std::size_t piece = std::min(end - at, std::size_t{1} + rng() % 9000);
            writer.feed(stream.data() + at, piece, files.back());
            at += piece;
        }
    };
    for (std::size_t next : cutAt) {
        if (begin == "reconnected" && at <= layout.songStarts[1] && next > layout.songStarts[1]) {
            // The second song's second page never comes: the station went
            // and came back, sending its headers again.
            const auto page = std::upper_bound(layout.pageStarts.begin(), layout.pageStarts.end(),
                                               layout.songStarts[1]);
            feedTo(*page);
            at = page[1];
            lost = standsAt(at) - standsAt(*page);
            resume(at, true);
        }
        feedTo(next);
        writer.endFile(files.back());
        files.emplace_back();
    }
    writer.feed(stream.data() + at, stream.size() - at, files.back());
    writer.endFile(files.back());

    QTemporaryDir dir;
    double seconds = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::size_t pageBytes = 0;
        const std::vector<Page> pages = pagesOf(files[i], &pageBytes);
        QCOMPARE(pageBytes, files[i].size());
        QVERIFY(!pages.empty() && pages.front().bos() && pages.back().eos());
        const QString path = dir.filePath(QStringLiteral("%1.ogg").arg(i));
        std::ofstream(path.toStdString(), std::ios::binary)
            .write(reinterpret_cast<const char*>(files[i].data()),
                   std::streamsize(files[i].size()));
        QCOMPARE(tolvane::test::decodeErrors(path), QString());
        const double decoded = double(tolvane::test::decodedPcm(path).size()) / (44100 * 4);
        seconds += decoded;
        // Each stream's last granule in the file: its audio in the file, and
        // a packet more where the file begins with the end of one.
        double counted = 0;
        for (const Page& p : pages)
            counted += p.eos() ? double(p.granule()) / rate : 0;
        qInfo("file %zu: %.3f s decoded, %.3f s counted", i, decoded, counted);
        QVERIFY(decoded <= counted + 0.01 && counted < decoded + 0.15);
    }
    QCOMPARE(files.size(), cutAt.size() + 1);
    // A page at most is lost where the stream's position is not told.
    const double slack = 0.1 * double(files.size()) + (begin == "unknown" ? 1.1 : 0);
    QVERIFY2(std::abs(seconds - (6.0 - lost)) < slack,
             qPrintable(QStringLiteral("%1 s of %2 s").arg(seconds).arg(6.0 - lost)));
}

// A header packet that never ends, and pages of garbage: nothing is kept
// beyond the bounds and nothing is written.
void OggPagesTest::headersThatNeverEnd_areRefused() {
    // A Vorbis identification header, then a comment packet of 255-byte
    // segments page after page, garbage between the pages.
    Bytes stream;
    for (int i = 0; i < 41; ++i) {
        Page p = positionPage(7, 0);
        p.bytes[26] = i == 0 ? 1 : 255;
        p.bytes.insert(p.bytes.end(), p.segments(), i == 0 ? 30 : 255);
        p.bytes.insert(p.bytes.end(), i == 0 ? 30 : 255 * 255, 'x');
        if (i == 0)
            std::memcpy(p.bytes.data() + p.bodyOffset(), "\x01vorbis", 7);
        p.setFlags(i == 0 ? 2 : i == 1 ? 0 : 1);
        p.seal();
        stream.insert(stream.end(), p.bytes.begin(), p.bytes.end());
        stream.insert(stream.end(), {'O', 'g', 'g', 'S', 0, 9});
    }
    StreamFollower follower;
    int headerPages = 0;
    for (const Page& p : pagesOf(stream))
        headerPages += follower.take(p) == StreamFollower::Kind::Header;
    QVERIFY(headerPages > 0 && std::size_t(headerPages) * 255 * 255 <= kMaxHeaderBytes + 65536);
    QVERIFY(!follower.headers());
    OggWriter writer;
    Bytes out;
    writer.feed(stream.data(), stream.size(), out);
    writer.endFile(out);
    QVERIFY(out.empty());
}

QTEST_GUILESS_MAIN(OggPagesTest)
#include "tst_engine_ogg.moc"
