// The station directory's replies read strictly, its addresses, the mirror
// order and the record a found station becomes; then the client against a
// loopback directory: searches, pages, a failing mirror, replies that are
// malformed, too big or too slow.

#include "DirectoryServer.h"
#include "TestSupport.h"
#include "directory/DirectoryClient.h"

#include <QSignalSpy>
#include <QTest>

using namespace tolvane;
using namespace tolvane::directory;
using test::DirectoryServer;
using test::FakeStation;

namespace {

QByteArray station(const QByteArray& extra) {
    return "{\"stationuuid\":\"u1\",\"name\":\"A\",\"url\":\"http://a/s\"" + extra + "}";
}

FakeStation fake(const char* name, const char* tags, int votes) {
    FakeStation s;
    s.uuid = QString::fromLatin1(name).toLower();
    s.name = QString::fromLatin1(name);
    s.url = QStringLiteral("http://127.0.0.1:9/") + s.uuid;
    s.tags = QString::fromLatin1(tags);
    s.votes = votes;
    return s;
}

DirectoryLimits quick() {
    DirectoryLimits l;
    l.connectTimeoutMs = 1000;
    l.totalTimeoutMs = 1500;
    return l;
}

// The names of a search's results, or its failure's message.
QStringList searchNames(DirectoryClient& client, const StationQuery& query, int offset = 0,
                        int limit = PageSize) {
    QSignalSpy arrived(&client, &DirectoryClient::stationsArrived);
    QSignalSpy failed(&client, &DirectoryClient::searchFailed);
    client.search(query, offset, limit);
    if (!test::waitFor([&] { return !arrived.isEmpty() || !failed.isEmpty(); }, 10000))
        return {QStringLiteral("(no answer)")};
    if (!failed.isEmpty())
        return {failed[0][1].toString()};
    QStringList names;
    for (const DirectoryStation& s : arrived[0][2].value<QVector<DirectoryStation>>())
        names << s.name;
    return names;
}

} // namespace

class TestDirectory : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<QVector<DirectoryStation>>(); }

    void parseStations_refusesWhatTheDirectoryNeverSends_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("not JSON") << QByteArray("<html>busy</html>");
        QTest::newRow("an object") << QByteArray("{\"name\":\"A\"}");
        QTest::newRow("not an object") << QByteArray("[1]");
        QTest::newRow("no url") << QByteArray("[{\"stationuuid\":\"u\",\"name\":\"A\"}]");
        QTest::newRow("empty uuid")
            << QByteArray("[{\"stationuuid\":\"\",\"name\":\"A\",\"url\":\"\"}]");
        QTest::newRow("name a number") << "[" + station(",\"name\":5") + "]";
        QTest::newRow("bitrate a text") << "[" + station(",\"bitrate\":\"128\"") + "]";
        QTest::newRow("votes negative") << "[" + station(",\"votes\":-1") + "]";
        QTest::newRow("clicks a fraction") << "[" + station(",\"clickcount\":1.5") + "]";
        QTest::newRow("lastcheckok 2") << "[" + station(",\"lastcheckok\":2") + "]";
        QTest::newRow("field too long")
            << "[" + station(",\"tags\":\"" + QByteArray(MaxFieldLength + 1, 'x') + "\"") + "]";
        QTest::newRow("more than asked")
            << "[" + (station("") + ",").repeated(3) + station("") + "]";
        QTest::newRow("good, then bad")
            << "[" + station("") + "," + station(",\"hls\":\"no\"") + "]";
    }
    void parseStations_refusesWhatTheDirectoryNeverSends() {
        QFETCH(QByteArray, reply);
        const auto parsed = parseStations(reply, 3);
        QVERIFY(!parsed.ok());
        QVERIFY(parsed.value.isEmpty()); // never half a list
    }

    void parseStations_readsFieldsAndOrdersByVotesThenClicks() {
        const QByteArray reply =
            "[" + station(",\"name\":\"Low\",\"votes\":1,\"clickcount\":9") + "," +
            station(",\"name\":\"Tie\\nless\",\"votes\":5,\"clickcount\":1,\"tags\":\"jazz, "
                    ",Jazz,smooth\"") +
            "," +
            station(",\"name\":\"Tie more\",\"votes\":5,\"clickcount\":7,\"lastcheckok\":0,"
                    "\"url_resolved\":\"http://r/s\",\"bitrate\":96,\"geo_lat\":null,"
                    "\"homepage\":\"file:///etc/passwd\"") +
            "]";
        const auto parsed = parseStations(reply, 50);
        QVERIFY2(parsed.ok(), qPrintable(parsed.error));
        QStringList names;
        for (const auto& s : parsed.value)
            names << s.name;
        QCOMPARE(names, QStringList({"Tie more", "Tie less", "Low"}));
        QCOMPARE(parsed.value[1].tags, QStringList({"jazz", "smooth"}));
        QCOMPARE(parsed.value[0].streamUrl(), QStringLiteral("http://r/s"));
        QCOMPARE(parsed.value[2].streamUrl(), QStringLiteral("http://a/s"));
        QVERIFY(!parsed.value[0].lastCheckOk && parsed.value[2].lastCheckOk);
        QCOMPARE(parsed.value[0].bitrate, 96);
        QCOMPARE(parsed.value[0].homepage, QString());
    }

    // The pool's mirrors come from its server list, only the directory's own
    // hosts and over https; addresses written in services.dat are used as
    // written, in their order.
    void addresses_poolOrAsWritten() {
        QCOMPARE(directoryAddresses(QString()).servers, QStringList{PoolAddress});
        QVERIFY(directoryAddresses(PoolAddress + "/").pool);
        const DirectoryAddresses written =
            directoryAddresses("http://127.0.0.1:1/, http://127.0.0.1:2 http://127.0.0.1:1");
        QVERIFY(!written.pool);
        QCOMPARE(written.servers, QStringList({"http://127.0.0.1:1", "http://127.0.0.1:2"}));
        const auto parsed = parseServers(
            "[{\"ip\":\"1\",\"name\":\"de1.api.radio-browser.info\"},{\"name\":\"evil.example\"},"
            "{\"name\":\"DE1.api.radio-browser.info\"},{\"name\":\"x.radio-browser.info.evil."
            "example\"},"
            "{\"name\":\"nl1.api.radio-browser.info\"}]");
        QCOMPARE(parsed.value, QStringList({"https://de1.api.radio-browser.info",
                                            "https://nl1.api.radio-browser.info"}));
        QVERIFY(!parseServers("[{\"name\":\"evil.example\"}]").ok());
        QVERIFY(!parseServers("[{\"name\":1}]").ok());
    }

    void stationRecord_mapsOntoOurListsOrKeepsTheDirectorys_data() {
        QTest::addColumn<QString>("tags");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("genre");
        QTest::addColumn<QString>("ourLanguage");
        auto row = [](const char* name, QString tags, QString language, QString genre,
                      QString ours) { QTest::newRow(name) << tags << language << genre << ours; };
        row("listed", "smooth,jazz,Rock", "dutch,english", "Jazz", "English");
        row("unlisted", "smooth,chill", "frisian", "smooth", "frisian");
        row("none", "", "", "", "");
    }
    void stationRecord_mapsOntoOurListsOrKeepsTheDirectorys() {
        QFETCH(QString, tags);
        QFETCH(QString, language);
        FakeStation f = fake("X", qPrintable(tags), 0);
        f.language = language;
        f.homepage = QStringLiteral("https://x.example");
        f.urlResolved = QStringLiteral("http://r/x");
        f.bitrate = 0;
        const auto parsed = parseStations("[" + DirectoryServer::stationJson(f) + "]", 1);
        QVERIFY(parsed.ok());
        const catalog::NewStation r =
            stationRecord(parsed.value[0], {"Jazz", "Rock"}, {"English", "French"});
        QTEST(r.genre, "genre");
        QTEST(r.language, "ourLanguage");
        QCOMPARE(r.website, f.homepage);
        QCOMPARE(r.streaming, f.urlResolved);
        QCOMPARE(r.bitrate, QString());
    }

    // The query reaches the directory whole ("&" and blanks encoded), and
    // the pages follow one another.
    void client_searchesByNameAndTagAndPages() {
        DirectoryServer server;
        QVERIFY(server.start());
        server.addStation(fake("Rock & Roll FM", "rock", 9));
        server.addStation(fake("Blue Note", "Jazz", 5));
        server.addNumberedStations(120);
        DirectoryClient client(server.base(), quick());
        StationQuery query;
        query.name = QStringLiteral("rock & roll");
        QCOMPARE(searchNames(client, query), QStringList({"Rock & Roll FM"}));
        QVERIFY(server.lastUserAgent().startsWith("Tolvane/"));
        query = {};
        query.tag = QStringLiteral("jazz"); // 1 + 120, by votes
        const QStringList first = searchNames(client, query);
        QCOMPARE(first.size(), PageSize);
        QCOMPARE(first.mid(0, 2), QStringList({"Station 1", "Station 2"}));
        QCOMPARE(searchNames(client, query, 100).size(), 21);
    }

    void client_triesTheNextMirrorAndKeepsTheOneThatAnswered() {
        DirectoryServer failing, answering;
        QVERIFY(failing.start() && answering.start());
        failing.setBehaviour(DirectoryServer::Behaviour::Status503);
        answering.addStation(fake("Jazz FM", "jazz", 1));
        DirectoryClient client(failing.base() + u' ' + answering.base(), quick());
        QCOMPARE(searchNames(client, {}), QStringList({"Jazz FM"}));
        QCOMPARE(searchNames(client, {}), QStringList({"Jazz FM"}));
        QCOMPARE(failing.hits("/json/stations/search"), 1);
        QCOMPARE(answering.hits("/json/stations/search"), 2);

        QSignalSpy sent(&client, &DirectoryClient::clickSent);
        client.reportClick(QStringLiteral("jazz fm"));
        QVERIFY(test::waitFor([&] { return !sent.isEmpty(); }));
        QCOMPARE(answering.targets().last(), QByteArray("/json/url/jazz%20fm"));
    }

    void client_refusesBadRepliesWithAMessage_data() {
        QTest::addColumn<int>("behaviour");
        QTest::addColumn<QString>("message");
        QTest::newRow("malformed") << int(DirectoryServer::Behaviour::Malformed)
                                   << refusedText(QStringLiteral("name is not a text"));
        QTest::newRow("too big") << int(DirectoryServer::Behaviour::Huge)
                                 << refusedText(QStringLiteral("it is larger than 16 MB"));
        QTest::newRow("too slow") << int(DirectoryServer::Behaviour::Stall)
                                  << unreachableText(QStringLiteral("Operation timed out"));
        QTest::newRow("failing") << int(DirectoryServer::Behaviour::Status503)
                                 << unreachableText(QStringLiteral("the server answered with "
                                                                   "status 503"));
    }
    void client_refusesBadRepliesWithAMessage() {
        QFETCH(int, behaviour);
        QFETCH(QString, message);
        DirectoryServer server;
        QVERIFY(server.start());
        server.setBehaviour(DirectoryServer::Behaviour(behaviour));
        DirectoryClient client(server.base(), quick());
        const QStringList got = searchNames(client, {});
        QCOMPARE(got.size(), 1);
        QVERIFY2(got[0].startsWith(message), qPrintable(got[0]));
    }

    // The user typed on: the older search's page never arrives.
    void client_dropsTheOlderSearch() {
        DirectoryServer slow, quickOne;
        QVERIFY(slow.start() && quickOne.start());
        slow.setBehaviour(DirectoryServer::Behaviour::Stall);
        DirectoryClient client(slow.base(), quick());
        QSignalSpy arrived(&client, &DirectoryClient::stationsArrived);
        QSignalSpy failed(&client, &DirectoryClient::searchFailed);
        client.search({}, 0);
        QVERIFY(test::waitFor([&] { return slow.hits("/json/stations/search") == 1; }));
        const quint64 newer = client.search({}, 0);
        QVERIFY(test::waitFor([&] { return failed.size() == 1; }, 10000));
        QCOMPARE(failed[0][0].toULongLong(), newer);
        QTest::qWait(200);
        QCOMPARE(failed.size() + arrived.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDirectory)
#include "test_directory.moc"
