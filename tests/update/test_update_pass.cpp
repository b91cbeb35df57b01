// The update pass against a loopback update site: the manifest's lists,
// the downloads with their gauge and bounded attempts, targets kept inside
// the program folder, the version question, the end of the pass and its
// failures; and the TolvaneUpdate program.

#include "HttpTestServer.h"
#include "MessageRecorder.h"
#include "TestSupport.h"
#include "UrlRecorder.h"
#include "update/TForm5.h"
#include "update/UpdatePass.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>

using namespace tolvane;
using tolvane::test::HttpTestServer;
using tolvane::test::MessageRecorder;
using tolvane::test::TestFolder;
using tolvane::test::UrlRecorder;

namespace {

// A program folder with settings naming the loopback site, the Update
// window, and what the pass asked of the main window.
struct PassFixture {
    HttpTestServer site;
    TestFolder folder;
    MessageRecorder messages;
    QStringList invoked;
    bool connected = true;
    std::unique_ptr<TForm5> form;

    explicit PassFixture(const QByteArray& installedVersion = "1.3") {
        QByteArray settings = "[radio]\nwebsite=" + site.url("/site").toUtf8() + "\n";
        if (!installedVersion.isNull())
            settings += "version=" + installedVersion + "\n";
        folder.write("settings/settings.dat", settings);
        form = std::make_unique<TForm5>(TForm5::Host{[this] { return connected; },
                                                     [this](const QString& c) { invoked << c; },
                                                     [] { return false; }});
    }

    // The manifest with "{site}" standing for the site's address.
    void setManifest(QByteArray manifest) {
        manifest.replace("{site}", site.url("").toUtf8());
        site.setRoute("/site/Download/downloadlist.dat", manifest);
    }

    // Shows the window and waits until the pass has closed it.
    bool runPass() {
        form->show();
        return test::waitFor([&] { return !form->isVisible() && !form->busy(); }, 20000);
    }
};

} // namespace

class UpdatePassTest : public QObject {
    Q_OBJECT
private slots:
    void pass_fetchesListedFilesAndEnds_data();
    void pass_fetchesListedFilesAndEnds();
    void failedCheck_showsMessageAndCloses_data();
    void failedCheck_showsMessageAndCloses();
    void resolveTarget_keepsTargetsInsideTheFolder_data();
    void resolveTarget_keepsTargetsInsideTheFolder();
    void updater_waitsForThePlayerThenStartsItOnce();
};

void UpdatePassTest::pass_fetchesListedFilesAndEnds_data() {
    QTest::addColumn<QByteArray>("installed"); // null: no "version" in the settings
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<QStringList>("fetched"); // files that must hold their route's body
    QTest::addColumn<QStringList>("absent");  // files that must not exist
    QTest::addColumn<bool>("asked");
    QTest::addColumn<int>("brokenHits"); // requests of the failing file

    const QByteArray playlist = "[playlist]\nfrom={site}/f/list\nto=radiolist.dat\n";
    QTest::newRow("br = 0: only the playlist")
        << QByteArray("1.3")
        << "[program]\nversion=1.3\n[counter]\nbr=0\n" + playlist +
               "[file0]\nfrom={site}/f/a\nto=a.txt\n"
        << QStringList{"radiolist.dat"} << QStringList{"a.txt"} << false << 0;
    QTest::newRow("br missing: only the playlist")
        << QByteArray("1.3")
        << "[program]\nversion=1.3\n" + playlist + "[file0]\nfrom={site}/f/a\nto=a.txt\n"
        << QStringList{"radiolist.dat"} << QStringList{"a.txt"} << false << 0;
    QTest::newRow("br = 2: file0 to file2, into a new folder, and a newer version")
        << QByteArray("1.3")
        << "[program]\nversion=1.4\n[counter]\nbr=2\n" + playlist +
               "[file0]\nfrom={site}/f/a\nto=a.txt\n[file1]\nfrom={site}/f/b\nto=banners\\b.png\n"
               "[file2]\nfrom={site}/f/c\nto=banners/deep/c.dat\n[file3]\nfrom={site}/f/d\nto=d\n"
        << QStringList{"radiolist.dat", "a.txt", "banners/b.png", "banners/deep/c.dat"}
        << QStringList{"d"} << true << 0;
    QTest::newRow("no installed version: asked")
        << QByteArray() << "[program]\nversion=1.3\n" + playlist << QStringList{"radiolist.dat"}
        << QStringList{} << true << 0;
    QTest::newRow("a failing file is tried three times and skipped")
        << QByteArray("1.3")
        << "[program]\nversion=1.3\n[counter]\nbr=1\n" + playlist +
               "[file0]\nfrom={site}/broken\nto=broken.txt\n[file1]\nfrom={site}/f/a\nto=a.txt\n"
        << QStringList{"radiolist.dat", "a.txt"} << QStringList{"broken.txt"} << false << 3;
    QTest::newRow("targets outside the folder are refused")
        << QByteArray("1.3")
        << "[program]\nversion=1.3\n[counter]\nbr=2\n" + playlist +
               "[file0]\nfrom={site}/f/a\nto=../escaped.txt\n"
               "[file1]\nfrom={site}/f/b\nto=sub/../../escaped2.txt\n"
               "[file2]\nfrom={site}/f/c\nto=c.txt\n"
        << QStringList{"radiolist.dat", "c.txt"} << QStringList{"../escaped.txt", "../escaped2.txt"}
        << false << 0;
}

void UpdatePassTest::pass_fetchesListedFilesAndEnds() {
    QFETCH(QByteArray, installed);
    QFETCH(QByteArray, manifest);
    QFETCH(QStringList, fetched);
    QFETCH(QStringList, absent);
    QFETCH(bool, asked);
    QFETCH(int, brokenHits);

    UrlRecorder browser;
    PassFixture f(installed);
    // The old catalog stays until a whole new one arrived.
    f.folder.write("radiolist.dat", "[Old]\n");
    for (const char* name : {"list", "a", "b", "c", "d"})
        f.site.setRoute("/f/" + QByteArray(name), "body of " + QByteArray(name));
    f.site.setRoute("/broken", "gone", 404);
    f.setManifest(manifest);
    f.messages.answerNext(false); // "No" to the version question

    QList<int> gauge;
    QObject::connect(f.form->ProgressBar1, &QProgressBar::valueChanged, [&](int v) { gauge << v; });
    QVERIFY(f.runPass());

    for (const QString& file : fetched) {
        const QString route = file == "radiolist.dat" ? "list" : QFileInfo(file).baseName();
        QCOMPARE(f.folder.read(file), "body of " + route.toUtf8());
    }
    for (const QString& file : absent)
        QVERIFY2(!QFile::exists(f.folder.file(file)), qPrintable(file));
    QCOMPARE(f.site.hits("/broken"), brokenHits);

    // The gauge moved with every file (its range is the count less one, so
    // one file gives no steps) and ended full.
    const int files = f.form->ListBox1->count();
    QCOMPARE(f.form->ProgressBar1->maximum(), files - 1);
    QCOMPARE(f.form->ProgressBar1->value(), files - 1);
    QCOMPARE(gauge.size(), files - 1);
    QVERIFY(std::is_sorted(gauge.begin(), gauge.end()));

    const QStringList question{"There is a new version. Do you want to download it?"};
    QCOMPARE(f.messages.texts(), asked ? question : QStringList{});
    QVERIFY(browser.opened.isEmpty()); // "No" opens nothing
    // Answered or not, the catalog is reloaded and the banners start.
    QCOMPARE(f.invoked, (QStringList{"Button8", "Button13"}));
}

void UpdatePassTest::failedCheck_showsMessageAndCloses_data() {
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QByteArray>("settings"); // "{site}" is the site's address
    QTest::addColumn<QByteArray>("manifest"); // empty: the manifest's route fails
    QTest::addColumn<QString>("message");

    const QByteArray site = "[radio]\nwebsite={site}/site\nversion=1.3\n";
    QTest::newRow("offline") << false << site << QByteArray("[playlist]\n")
                             << "No active internet connection";
    QTest::newRow("no website") << true << QByteArray("[radio]\nversion=1.3\n")
                                << QByteArray("[playlist]\n") << "No active internet connection";
    QTest::newRow("no manifest") << true << site << QByteArray() << "Error downloading!";
    QTest::newRow("br is no number")
        << true << site << QByteArray("[counter]\nbr=two\n[playlist]\nfrom=x\n")
        << "'two' is not a valid integer value";
}

void UpdatePassTest::failedCheck_showsMessageAndCloses() {
    QFETCH(bool, connected);
    QFETCH(QByteArray, settings);
    QFETCH(QByteArray, manifest);
    QFETCH(QString, message);

    PassFixture f;
    f.connected = connected;
    f.folder.write("settings/settings.dat", settings.replace("{site}", f.site.url("").toUtf8()));
    if (manifest.isEmpty())
        f.site.setRoute("/site/Download/downloadlist.dat", "none", 404);
    else
        f.setManifest(manifest);
    QVERIFY(f.runPass());
    QCOMPARE(f.messages.texts(), QStringList{message});
    // Nothing further: no downloads armed, no reload, no banners.
    QVERIFY(!f.form->Timer1->Enabled());
    QVERIFY(f.invoked.isEmpty());
    QCOMPARE(f.site.hits("/site/Download/downloadlist.dat"),
             connected && settings.contains("website") ? 1 : 0);
}

void UpdatePassTest::resolveTarget_keepsTargetsInsideTheFolder_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("resolved"); // empty: refused
    QTest::newRow("plain") << "radiolist.dat"
                           << "/p/radiolist.dat";
    QTest::newRow("backslashes") << "banners\\a.png"
                                 << "/p/banners/a.png";
    QTest::newRow("dot part") << "./Skins/x.qss"
                              << "/p/Skins/x.qss";
    QTest::newRow("leading backslash") << "\\radiolist.dat"
                                       << "";
    QTest::newRow("absolute") << "/etc/passwd"
                              << "";
    QTest::newRow("drive") << "C:\\x.dat"
                           << "";
    QTest::newRow("climbing") << "../x"
                              << "";
    QTest::newRow("climbing inside") << "a/../../x"
                                     << "";
    QTest::newRow("any .. part") << "a/../b"
                                 << "";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("folder only") << "/"
                                 << "";
}

void UpdatePassTest::resolveTarget_keepsTargetsInsideTheFolder() {
    QFETCH(QString, target);
    QFETCH(QString, resolved);
    QCOMPARE(update::resolveTarget("/p", target).value_or(QString()), resolved);
}

void UpdatePassTest::updater_waitsForThePlayerThenStartsItOnce() {
    TestFolder folder;
    const QString player = folder.file("tolvane");
    QVERIFY(QFile::copy(FAKE_PROGRAM, player));
    QVERIFY(QFile::setPermissions(player, QFile::permissions(player) | QFile::ExeOwner));

    // The player still running from this folder.
    QProcess running;
    running.setWorkingDirectory(folder.path());
    running.start(player, {"wait"});
    QVERIFY(running.waitForStarted());
    QVERIFY(test::waitFor([&] { return folder.read("starts.log") == "started\n"; }));

    QProcess updater;
    updater.setWorkingDirectory(folder.path());
    updater.start(UPDATER_PROGRAM, {});
    QVERIFY(updater.waitForStarted());
    // It waits while the player runs ...
    QVERIFY(!updater.waitForFinished(1500));
    QCOMPARE(folder.read("starts.log"), QByteArray("started\n"));
    // ... and starts it again, once, in its folder once it has ended.
    ::kill(static_cast<pid_t>(running.processId()), SIGTERM);
    QVERIFY(running.waitForFinished(5000));
    QVERIFY(updater.waitForFinished(10000));
    QCOMPARE(updater.exitCode(), 0);
    QVERIFY(test::waitFor([&] { return folder.read("starts.log") == "started\nstarted\n"; }));
}

QTEST_MAIN(UpdatePassTest)
#include "test_update_pass.moc"
