// The title a station sends: the StreamTitle arithmetic, the artist and
// song split for the lyrics window, and the decoding of tag bytes; and the
// line that says what a tested stream turned out to be.

#include "playback/NowPlaying.h"
#include "playback/StreamFacts.h"

#include <QtTest>

Q_DECLARE_METATYPE(tolvane::engine::StreamInfo)

using tolvane::playback::decodeTagText;
using tolvane::playback::parseStreamTitle;
using tolvane::playback::splitArtistSong;
using tolvane::playback::streamFactsText;

class NowPlayingTest : public QObject {
    Q_OBJECT
private slots:
    void parseStreamTitle_takesTextBetweenQuotesBeforeFirstSemicolon_data();
    void parseStreamTitle_takesTextBetweenQuotesBeforeFirstSemicolon();
    void parseStreamTitle_withoutStreamTitle_publishesNothing();
    void splitArtistSong_splitsAtLastDashKeepingBlanks_data();
    void splitArtistSong_splitsAtLastDashKeepingBlanks();
    void decodeTagText_readsUtf8AndFallsBackToLatin1();
    void streamFactsText_saysWhatIsKnown_data();
    void streamFactsText_saysWhatIsKnown();
};

void NowPlayingTest::parseStreamTitle_takesTextBetweenQuotesBeforeFirstSemicolon_data() {
    QTest::addColumn<QString>("metadata");
    QTest::addColumn<QString>("title");
    QTest::newRow("artist and song") << "StreamTitle='Artist - Song';StreamUrl='';"
                                     << "Artist - Song";
    QTest::newRow("two dashes") << "StreamTitle='A - B - C';"
                                << "A - B - C";
    QTest::newRow("no dash") << "StreamTitle='News';"
                             << "News";
    QTest::newRow("empty title") << "StreamTitle='';"
                                 << "";
    // The first ";" ends the title, even inside the quotes.
    QTest::newRow("semicolon inside") << "StreamTitle='AB;C';"
                                      << "A";
    QTest::newRow("semicolon right after quote") << "StreamTitle=';x';"
                                                 << "";
    // A ";" before "StreamTitle=" leaves a negative length: empty title.
    QTest::newRow("semicolon before") << "a;StreamTitle='Song';"
                                      << "";
    // Without any ";" the length is negative as well.
    QTest::newRow("no semicolon") << "StreamTitle='Song'"
                                  << "";
    // Text before StreamTitle moves p and q alike.
    QTest::newRow("prefix") << "xyzStreamTitle='Jazz';"
                            << "Jazz";
    // The opening and closing characters are dropped whatever they are.
    QTest::newRow("no quotes") << "StreamTitle=Song;"
                               << "on";
    QTest::newRow("stops at title") << "StreamTitle='"
                                    << "";
    QTest::newRow("non-ASCII") << QString::fromUtf8("StreamTitle='Café – Ümlaut';")
                               << QString::fromUtf8("Café – Ümlaut");
}

void NowPlayingTest::parseStreamTitle_takesTextBetweenQuotesBeforeFirstSemicolon() {
    QFETCH(QString, metadata);
    QFETCH(QString, title);
    const std::optional<QString> parsed = parseStreamTitle(metadata);
    QVERIFY(parsed.has_value());
    QCOMPARE(*parsed, title);
}

void NowPlayingTest::parseStreamTitle_withoutStreamTitle_publishesNothing() {
    QVERIFY(!parseStreamTitle(QString()).has_value());
    QVERIFY(!parseStreamTitle(QStringLiteral("StreamUrl='http://x';")).has_value());
    // The name is matched exactly, letter case included.
    QVERIFY(!parseStreamTitle(QStringLiteral("streamtitle='Song';")).has_value());
}

void NowPlayingTest::splitArtistSong_splitsAtLastDashKeepingBlanks_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("artist");
    QTest::addColumn<QString>("song");
    QTest::newRow("artist and song") << "Artist - Song"
                                     << "Artist "
                                     << " Song";
    QTest::newRow("two dashes") << "A - B - C"
                                << "A - B "
                                << " C";
    QTest::newRow("no dash") << "News"
                             << ""
                             << "News";
    QTest::newRow("dash first") << "-Song"
                                << ""
                                << "Song";
    QTest::newRow("dash last") << "Artist-"
                               << "Artist"
                               << "";
    QTest::newRow("hyphenated song") << "Jay-Z"
                                     << "Jay"
                                     << "Z";
}

void NowPlayingTest::splitArtistSong_splitsAtLastDashKeepingBlanks() {
    QFETCH(QString, title);
    QFETCH(QString, artist);
    QFETCH(QString, song);
    const auto parts = splitArtistSong(title);
    QCOMPARE(parts.artist, artist);
    QCOMPARE(parts.song, song);
}

void NowPlayingTest::decodeTagText_readsUtf8AndFallsBackToLatin1() {
    QCOMPARE(decodeTagText("plain"), QStringLiteral("plain"));
    QCOMPARE(decodeTagText("Caf\xc3\xa9"), QString::fromUtf8("Café"));
    // Bytes that are no UTF-8 are ISO-8859-1, as most stations send.
    QCOMPARE(decodeTagText("Caf\xe9"), QString::fromUtf8("Café"));
    QCOMPARE(decodeTagText("\xff\xfe"), QString::fromUtf8("ÿþ"));
}

// What the loopback streams of the window tests cannot show: formats the
// test machine cannot encode, and facts the engine does not know.
void NowPlayingTest::streamFactsText_saysWhatIsKnown_data() {
    using tolvane::engine::StreamInfo;
    QTest::addColumn<StreamInfo>("info");
    QTest::addColumn<QString>("text");

    StreamInfo he;
    he.codec = "HE-AAC v2";
    he.container = "ADTS";
    he.codecKbps = 48; // the station's header wins over the codec's and the measure
    he.headerKbps = 32;
    he.measuredKbps = 40;
    he.sampleRate = 44100;
    he.channels = 2;
    he.icyMetadata = true;
    he.url = "https://host/mount";
    he.encrypted = true;
    QTest::newRow("header first")
        << he
        << "HE-AAC v2 · 32 kbit/s · 44.1 kHz · stereo · titles in stream · "
           "https://host/mount (encrypted)";
    StreamInfo flac;
    flac.codec = "FLAC";
    flac.container = "Ogg";
    flac.measuredKbps = 700;
    flac.sampleRate = 96000;
    flac.channels = 6;
    flac.url = "http://host/" + std::string(200, 'a') + "/end";
    QTest::newRow("measured, long address")
        << flac
        << "Ogg FLAC · about 700 kbit/s (measured) · 96 kHz · 6 channels · no titles in "
           "stream · http://host/" +
               QString(47, u'a') + QChar(0x2026) + QString(55, u'a') + "/end (not encrypted)";
    QTest::newRow("nothing known") << StreamInfo{} << "no titles in stream";
}

void NowPlayingTest::streamFactsText_saysWhatIsKnown() {
    QFETCH(tolvane::engine::StreamInfo, info);
    QFETCH(QString, text);
    QCOMPARE(streamFactsText(info), text);
}

QTEST_GUILESS_MAIN(NowPlayingTest)
#include "test_now_playing.moc"
