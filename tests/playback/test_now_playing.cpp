// The title a station sends: the StreamTitle arithmetic, the artist and
// song split for the lyrics window, and the decoding of tag bytes.

#include "playback/NowPlaying.h"

#include <QtTest>

using tolvane::playback::decodeTagText;
using tolvane::playback::parseStreamTitle;
using tolvane::playback::splitArtistSong;

class NowPlayingTest : public QObject {
    Q_OBJECT
private slots:
    void parseStreamTitle_takesTextBetweenQuotesBeforeFirstSemicolon_data();
    void parseStreamTitle_takesTextBetweenQuotesBeforeFirstSemicolon();
    void parseStreamTitle_withoutStreamTitle_publishesNothing();
    void splitArtistSong_splitsAtLastDashKeepingBlanks_data();
    void splitArtistSong_splitsAtLastDashKeepingBlanks();
    void decodeTagText_readsUtf8AndFallsBackToLatin1();
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

QTEST_GUILESS_MAIN(NowPlayingTest)
#include "test_now_playing.moc"
