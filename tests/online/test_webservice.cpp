// DownloadToFile against a loopback server of the test's own, the
// connection decision, the installation identifier and the service hosts.

#include "HttpTestServer.h"
#include "TestSupport.h"
#include "online/WebService.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QTest>

#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

Q_DECLARE_METATYPE(std::vector<tolvane::InterfaceAddress>)

using namespace tolvane;
using tolvane::test::HttpTestServer;
using tolvane::test::TestFolder;

namespace {

const QByteArray OldContents = "old contents that must survive\n";

// Limits that let the time-out cases end quickly.
DownloadLimits quickLimits() {
    DownloadLimits l;
    l.connectTimeoutMs = 2000;
    l.totalTimeoutMs = 1500;
    return l;
}

// Names in the folder other than the ones given: leftovers of a download.
QStringList strayEntries(const TestFolder& folder, const QStringList& expected) {
    QStringList names =
        QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& e : expected)
        names.removeAll(e);
    return names;
}

InterfaceAddress v4(unsigned flags, std::initializer_list<int> bytes) {
    InterfaceAddress a;
    a.flags = flags;
    a.family = AF_INET;
    for (int b : bytes)
        a.address.append(static_cast<char>(b));
    return a;
}

InterfaceAddress v6(unsigned flags, const char* text) {
    InterfaceAddress a;
    a.flags = flags;
    a.family = AF_INET6;
    const Q_IPV6ADDR raw = QHostAddress(QString::fromLatin1(text)).toIPv6Address();
    a.address = QByteArray(reinterpret_cast<const char*>(raw.c), 16);
    return a;
}

constexpr unsigned Live = IFF_UP | IFF_RUNNING;

// Every address of a Services, in its declared order.
QStringList addresses(const Services& s) {
    return {s.main,    s.radio,        s.site,        s.lyrics,   s.facebook,
            s.twitter, s.facebookPage, s.twitterPage, s.directory};
}

} // namespace

class TestWebService : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { server_ = std::make_unique<HttpTestServer>(); }
    void cleanupTestCase() { server_.reset(); }

    // ---- DownloadToFile: successes ----

    void downloadToFile_completeBodyReplacesFile() {
        TestFolder folder;
        folder.write("target.dat", OldContents);
        QVERIFY(DownloadToFile(server_->url("/body?size=200000"), folder.file("target.dat")));
        QCOMPARE(folder.read("target.dat"), HttpTestServer::Pattern(200000));
        QCOMPARE(strayEntries(folder, {"target.dat"}), QStringList());
    }

    void downloadToFile_createsMissingTargetAndAcceptsBodyEndedByClose() {
        TestFolder folder;
        QVERIFY(DownloadToFile(server_->url("/nolength?size=5000"), folder.file("new.dat")));
        QCOMPARE(folder.read("new.dat"), HttpTestServer::Pattern(5000));
    }

    void downloadToFile_emptyBodyGivesEmptyFile() {
        TestFolder folder;
        folder.write("target.dat", OldContents);
        QVERIFY(DownloadToFile(server_->url("/empty"), folder.file("target.dat")));
        QVERIFY(folder.exists("target.dat"));
        QCOMPARE(folder.read("target.dat"), QByteArray());
    }

    void downloadToFile_followsRedirectsUpToTheLimit() {
        TestFolder folder;
        DownloadLimits limits = quickLimits();
        limits.maxRedirects = 5;
        QVERIFY(DownloadToFile(server_->url("/redirect/5"), folder.file("r.dat"), limits));
        QCOMPARE(folder.read("r.dat"), QByteArray("arrived"));
    }

    // Addresses are joined from texts such as song titles: blanks, a lone
    // "%" and non-ASCII letters must reach the server percent-encoded,
    // while delimiters and escapes already present pass unchanged.
    void downloadToFile_encodesCharactersAUrlCannotCarry() {
        TestFolder folder;
        const QString url =
            server_->url(QStringLiteral("/echo?name=Daft Punk - \u00c9t\u00e9 100%&x=a%20b"));
        QVERIFY(DownloadToFile(url, folder.file("echo.dat")));
        QCOMPARE(server_->lastTarget(),
                 QByteArray("/echo?name=Daft%20Punk%20-%20%C3%89t%C3%A9%20100%25&x=a%20b"));
        QCOMPARE(folder.read("echo.dat"), server_->lastTarget());
    }

    // ---- DownloadToFile: every failure leaves the old file untouched ----

    void downloadToFile_failureKeepsOldFile_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<qint64>("maxBytes");
        QTest::addColumn<int>("maxRedirects");

        const qint64 big = 64 * 1024 * 1024;
        QTest::newRow("404") << server_->url("/status/404") << big << 5;
        QTest::newRow("500") << server_->url("/status/500") << big << 5;
        QTest::newRow("connection refused")
            << QStringLiteral("http://127.0.0.1:%1/x").arg(test::UnusedPort()) << big << 5;
        QTest::newRow("body shorter than its length") << server_->url("/truncated") << big << 5;
        QTest::newRow("chunked body cut short") << server_->url("/chunked-truncated") << big << 5;
        QTest::newRow("server never answers") << server_->url("/stall") << big << 5;
        QTest::newRow("body trickles past the time-out") << server_->url("/trickle") << big << 5;
        QTest::newRow("announced body over the size limit")
            << server_->url("/body?size=5000") << qint64(4096) << 5;
        QTest::newRow("unannounced body over the size limit")
            << server_->url("/nolength?size=5000") << qint64(4096) << 5;
        QTest::newRow("too many redirects") << server_->url("/redirect/6") << big << 5;
        QTest::newRow("redirect without a target") << server_->url("/redirect-nowhere") << big << 5;
        QTest::newRow("file scheme") << QStringLiteral("file:///etc/hostname") << big << 5;
        QTest::newRow("ftp scheme") << QStringLiteral("ftp://127.0.0.1/x") << big << 5;
        QTest::newRow("empty address") << QString() << big << 5;
        QTest::newRow("no host") << QStringLiteral("http:///path") << big << 5;
    }

    void downloadToFile_failureKeepsOldFile() {
        QFETCH(QString, url);
        QFETCH(qint64, maxBytes);
        QFETCH(int, maxRedirects);
        TestFolder folder;
        folder.write("target.dat", OldContents);
        DownloadLimits limits = quickLimits();
        limits.maxBytes = maxBytes;
        limits.maxRedirects = maxRedirects;

        QVERIFY(!DownloadToFile(url, folder.file("target.dat"), limits));
        QCOMPARE(folder.read("target.dat"), OldContents);
        QCOMPARE(strayEntries(folder, {"target.dat"}), QStringList());
    }

    void downloadToFile_failureLeavesNoFileWhereNoneWas() {
        TestFolder folder;
        QVERIFY(!DownloadToFile(server_->url("/status/404"), folder.file("none.dat")));
        QVERIFY(!folder.exists("none.dat"));
        QCOMPARE(strayEntries(folder, {}), QStringList());
    }

    // A server that never completes must not hold the caller beyond the
    // total time-out (with a generous margin for a loaded machine).
    void downloadToFile_stalledServerEndsAtTheTimeOut() {
        TestFolder folder;
        DownloadLimits limits = quickLimits();
        limits.totalTimeoutMs = 700;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!DownloadToFile(server_->url("/stall"), folder.file("t.dat"), limits));
        QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
    }

    void downloadToFile_unwritableTargetFails() {
        TestFolder folder;
        QDir().mkpath(folder.file("adir"));
        QVERIFY(!DownloadToFile(server_->url("/body?size=10"), folder.file("adir")));
        QVERIFY(QFileInfo(folder.file("adir")).isDir());
        QVERIFY(!DownloadToFile(server_->url("/body?size=10"), folder.file("missing/t.dat")));
        QVERIFY(!folder.exists("missing"));
    }

    // ---- IsConnected ----

    void hasUsableInterface_data() {
        QTest::addColumn<std::vector<InterfaceAddress>>("addresses");
        QTest::addColumn<bool>("expected");

        const unsigned lo = Live | IFF_LOOPBACK;
        QTest::newRow("nothing") << std::vector<InterfaceAddress>{} << false;
        QTest::newRow("loopback only")
            << std::vector{v4(lo, {127, 0, 0, 1}), v6(lo, "::1")} << false;
        QTest::newRow("ethernet with IPv4") << std::vector{v4(Live, {192, 168, 1, 5})} << true;
        QTest::newRow("ethernet with global IPv6") << std::vector{v6(Live, "2001:db8::5")} << true;
        QTest::newRow("interface down") << std::vector{v4(IFF_UP, {192, 168, 1, 5})} << false;
        QTest::newRow("interface up without carrier")
            << std::vector{v4(IFF_UP, {10, 0, 0, 2})} << false;
        QTest::newRow("link-local IPv4 only") << std::vector{v4(Live, {169, 254, 3, 4})} << false;
        QTest::newRow("link-local IPv6 only") << std::vector{v6(Live, "fe80::1")} << false;
        InterfaceAddress packet;
        packet.flags = Live;
        packet.family = AF_PACKET;
        QTest::newRow("link layer entry only") << std::vector{packet} << false;
        QTest::newRow("loopback then ethernet")
            << std::vector{v4(lo, {127, 0, 0, 1}), v6(Live, "fe80::1"), v4(Live, {10, 1, 2, 3})}
            << true;
        QTest::newRow("loopback flag with an outside address")
            << std::vector{v4(lo, {10, 1, 2, 3})} << false;
    }

    void hasUsableInterface() {
        QFETCH(std::vector<InterfaceAddress>, addresses);
        QFETCH(bool, expected);
        QCOMPARE(HasUsableInterface(addresses), expected);
    }

    // The real reading of the interfaces agrees with Qt's own view of them.
    void isConnected_agreesWithQtInterfaceList() {
        bool expected = false;
        for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
            const auto f = i.flags();
            if (!(f & QNetworkInterface::IsUp) || !(f & QNetworkInterface::IsRunning) ||
                (f & QNetworkInterface::IsLoopBack))
                continue;
            for (const QNetworkAddressEntry& e : i.addressEntries()) {
                const QHostAddress a = e.ip();
                if (!a.isLoopback() && !a.isLinkLocal())
                    expected = true;
            }
        }
        QCOMPARE(IsConnected(), expected);
    }

    // ---- InstallationId ----

    void installationId_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("expected");

        QTest::newRow("usual") << QByteArray("0123abcd456789ef0123456789abcdef\n") << "0123ABCD";
        QTest::newRow("upper case kept") << QByteArray("DEADBEEF00000000\n") << "DEADBEEF";
        QTest::newRow("leading zeros kept") << QByteArray("000000a1ffff\n") << "000000A1";
        QTest::newRow("no line break") << QByteArray("89abcdef") << "89ABCDEF";
        QTest::newRow("empty") << QByteArray() << "00000000";
        QTest::newRow("too short") << QByteArray("abc\n") << "00000000";
        QTest::newRow("not hexadecimal") << QByteArray("zz23abcd4567\n") << "00000000";
        QTest::newRow("binary junk") << QByteArray("\x01\xff\x00\x10garbage", 11) << "00000000";
    }

    void installationId() {
        QFETCH(QByteArray, contents);
        QFETCH(QString, expected);
        TestFolder folder;
        folder.write("machine-id", contents);
        QCOMPARE(InstallationId(folder.file("machine-id")), expected);
    }

    void installationId_unreadableGivesZeros() {
        TestFolder folder;
        QCOMPARE(InstallationId(folder.file("nothing-here")), QStringLiteral("00000000"));
        QDir().mkpath(folder.file("a-folder"));
        QCOMPARE(InstallationId(folder.file("a-folder")), QStringLiteral("00000000"));
    }

    void installationId_ofThisMachineFollowsItsMachineId() {
        QFile file(QStringLiteral("/etc/machine-id"));
        if (!file.open(QIODevice::ReadOnly))
            QSKIP("this machine has no readable /etc/machine-id");
        const QString expected = QString::fromLatin1(file.read(8)).toUpper();
        if (expected.size() < 8)
            QSKIP("/etc/machine-id is empty here");
        QCOMPARE(InstallationId(), expected);
    }

    // ---- Services ----

    // A missing file, or one that cannot be read (a folder in its place),
    // gives every built-in address.
    void services_missingOrUnreadableFileGivesDefaults() {
        TestFolder folder;
        QCOMPARE(addresses(Services::FromProgramFolder()), addresses(Services::Defaults()));
        QDir().mkpath(folder.file("settings/services.dat"));
        QCOMPARE(addresses(Services::FromProgramFolder()), addresses(Services::Defaults()));
    }

    void services_readsKeysAndFillsTheRestWithDefaults() {
        TestFolder folder;
        folder.write("settings/services.dat", "[other]\r\nmain=http://wrong.example\r\n"
                                              "[SERVICES]\r\n"
                                              "MAIN = http://127.0.0.1:8080/ \r\n"
                                              "radio=\"http://127.0.0.1:9090\"\r\n"
                                              "site=\r\n"
                                              "lyrics=http://127.0.0.1:7070//\r\n");
        const Services s = Services::FromProgramFolder();
        const Services d = Services::Defaults();
        QCOMPARE(s.main, QStringLiteral("http://127.0.0.1:8080"));
        QCOMPARE(s.radio, QStringLiteral("http://127.0.0.1:9090"));
        QCOMPARE(s.site, d.site);
        QCOMPARE(s.lyrics, QStringLiteral("http://127.0.0.1:7070"));
        QCOMPARE(s.facebook, d.facebook);
        QCOMPARE(s.twitterPage, d.twitterPage);
    }

    // The shipped file and the built-in addresses must not drift apart: a
    // lost services.dat should change nothing.
    void services_shippedFileMatchesDefaults() {
        const Services s =
            Services::Load(test::sourceDir() + QStringLiteral("/data/settings/services.dat"));
        const Services d = Services::Defaults();
        QCOMPARE(addresses(s), addresses(d));

        // The radio site's two names differ by one leading label.
        const QString r1 = QUrl(d.radio).host();
        const QString r2 = QUrl(d.site).host();
        QVERIFY(r2.endsWith(u'.' + r1) && !r2.chopped(r1.size() + 1).contains(u'.'));
        for (const QString& host : {d.main, d.radio, d.site, d.lyrics, d.facebook, d.twitter}) {
            const QUrl url(host);
            QVERIFY2(url.isValid() && url.scheme().startsWith(u"http") && url.path().isEmpty(),
                     qPrintable(host));
        }
    }

private:
    std::unique_ptr<HttpTestServer> server_;
};

QTEST_GUILESS_MAIN(TestWebService)
#include "test_webservice.moc"
