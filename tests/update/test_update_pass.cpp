// The update pass against a loopback https update site: the signed
// manifest's lists, the downloads with their gauge and bounded attempts, the
// version question, the end of the pass and its failures; every way a
// manifest or a file is refused, leaving the folder as it was; and the
// TolvaneUpdate program.

#include "HttpTestServer.h"
#include "MessageRecorder.h"
#include "Signing.h"
#include "TestSupport.h"
#include "TlsProxy.h"
#include "UrlRecorder.h"
#include "update/TForm5.h"
#include "update/UpdatePass.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
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

using signing::SigningKey;
using test::TestCertificates;
using test::TlsProxy;

// The update site: a loopback server behind a TLS front whose authority the
// pass is told to trust, and the publisher's (test) key.
struct UpdateSite {
    HttpTestServer http;
    QTemporaryDir certificates;
    TlsProxy tls;
    QString caFile;
    SigningKey key = SigningKey::generate();

    UpdateSite() {
        const auto made = TestCertificates::make(certificates.path().toStdString(), nullptr);
        if (made && tls.start(*made, http.port()))
            caFile = QString::fromStdString(made->caFile);
    }
    QString url(const QString& path) const {
        return QString::fromStdString(tls.url(path.toStdString()));
    }

    // The manifest with "{site}" the https address and "{http}" the plain
    // one; each "from=.../f/NAME" line gains the sha256 and size of
    // "body of NAME", and [program] a serial of 1 and an expiry a day ahead
    // unless it gives them.
    QByteArray complete(QByteArray m) const {
        m.replace("{site}", url("").toUtf8()).replace("{http}", http.url("").toUtf8());
        QByteArray program = "[program]\n";
        if (!m.contains("serial="))
            program += "serial=1\n";
        if (!m.contains("expires="))
            program += "expires=" +
                       QDateTime::currentDateTimeUtc().addDays(1).toString(Qt::ISODate).toUtf8() +
                       "\n";
        m = m.contains("[program]\n") ? m.replace("[program]\n", program) : program + m;
        QByteArray out;
        for (const QByteArray& line : m.split('\n')) {
            out += line + '\n';
            const qsizetype at = line.indexOf("/f/");
            if (!line.startsWith("from=") || at < 0)
                continue;
            const QByteArray body = "body of " + line.mid(at + 3);
            out += "sha256=" + QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() +
                   "\nsize=" + QByteArray::number(body.size()) + '\n';
        }
        return out;
    }

    // Serves the completed manifest, signed by signer (none: no signature).
    void serve(const QByteArray& manifest, const SigningKey* signer) {
        const QByteArray bytes = complete(manifest);
        http.setRoute("/site/Download/downloadlist.dat", bytes);
        http.setRoute("/site/Download/downloadlist.dat.sig",
                      signer ? signing::signatureFileText(signer->sign(bytes)) : "none",
                      signer ? 200 : 404);
    }
};

// A program folder with settings naming the loopback site, the Update
// window, and what the pass asked of the main window.
struct PassFixture {
    UpdateSite site;
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
        form->trustInstead(site.key.publicKey(), site.caFile);
    }

    void setManifest(const QByteArray& manifest) { site.serve(manifest, &site.key); }

    // Shows the window and waits until the pass has closed it.
    bool runPass() {
        form->show();
        return test::waitFor([&] { return !form->isVisible() && !form->busy(); }, 20000);
    }
};

// Everything below dir: each file's bytes, each link's target, each folder.
QMap<QString, QByteArray> snapshot(const QString& dir) {
    QMap<QString, QByteArray> all;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        QFile file(info.filePath());
        all[info.filePath()] = info.isSymLink() ? "link to " + info.symLinkTarget().toUtf8()
                               : info.isDir()   ? QByteArray("folder")
                               : file.open(QIODevice::ReadOnly) ? file.readAll()
                                                                : QByteArray("unreadable");
    }
    return all;
}

} // namespace

class UpdatePassTest : public QObject {
    Q_OBJECT
private slots:
    void pass_fetchesListedFilesAndEnds_data();
    void pass_fetchesListedFilesAndEnds();
    void failedCheck_showsMessageAndCloses_data();
    void failedCheck_showsMessageAndCloses();
    void allowedTarget_onlyCatalogPicturesAndSkins_data();
    void allowedTarget_onlyCatalogPicturesAndSkins();
    void refusedPass_changesNothingAndTellsOnce_data();
    void refusedPass_changesNothingAndTellsOnce();
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
               "[file0]\nfrom={site}/f/a\nto=banners/a.png\n"
        << QStringList{"radiolist.dat"} << QStringList{"banners/a.png"} << false << 0;
    QTest::newRow("br missing: only the playlist")
        << QByteArray("1.3")
        << "[program]\nversion=1.3\n" + playlist + "[file0]\nfrom={site}/f/a\nto=banners/a.png\n"
        << QStringList{"radiolist.dat"} << QStringList{"banners/a.png"} << false << 0;
    QTest::newRow("br = 2: file0 to file2, into a new folder, and a newer version")
        << QByteArray("1.3")
        << "[program]\nversion=1.4\n[counter]\nbr=2\n" + playlist +
               "[file0]\nfrom={site}/f/a\nto=Skins/a.qss\n[file1]\nfrom={site}/f/"
               "b\nto=banners\\b.png\n"
               "[file2]\nfrom={site}/f/c\nto=banners/deep/c.dat\n[file3]\nfrom={site}/f/"
               "d\nto=Images/d\n"
        << QStringList{"radiolist.dat", "Skins/a.qss", "banners/b.png", "banners/deep/c.dat"}
        << QStringList{"Images/d"} << true << 0;
    QTest::newRow("no installed version: asked")
        << QByteArray() << "[program]\nversion=1.3\n" + playlist << QStringList{"radiolist.dat"}
        << QStringList{} << true << 0;
    QTest::newRow("a failing file is tried three times and skipped")
        << QByteArray("1.3")
        << "[program]\nversion=1.3\n[counter]\nbr=1\n" + playlist +
               "[file0]\nfrom={site}/f/broken\nto=Images/broken\n[file1]\nfrom={site}/f/"
               "a\nto=Images/a\n"
        << QStringList{"radiolist.dat", "Images/a"} << QStringList{"Images/broken"} << false << 3;
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
        f.site.http.setRoute("/f/" + QByteArray(name), "body of " + QByteArray(name));
    f.site.http.setRoute("/f/broken", "gone", 404);
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
    QCOMPARE(f.site.http.hits("/f/broken"), brokenHits);
    QVERIFY(!f.folder.exists(update::StagingFolder));
    // An older manifest is refused from now on.
    QVERIFY(f.folder.read(TForm5::SerialFile).contains("serial=1"));

    // The gauge moved with every file (its range is the count less one, so
    // one file gives no steps) and ended full.
    const int files = f.form->ListBox1->count();
    QCOMPARE(f.form->ProgressBar1->maximum(), files - 1);
    QCOMPARE(f.form->ProgressBar1->value(), files - 1);
    QCOMPARE(gauge.size(), files - 1);
    QVERIFY(std::is_sorted(gauge.begin(), gauge.end()));
    // Drawn as a full bar, also when one file gives it an empty range
    // (which Qt would draw as a busy animation).
    QProgressBar full;
    full.setTextVisible(false);
    full.setRange(0, 1);
    full.setValue(1);
    full.resize(f.form->ProgressBar1->size());
    const auto image = [](QWidget& w) {
        return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    QCOMPARE(image(*f.form->ProgressBar1), image(full));

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
    QTest::addColumn<bool>("loader"); // the loader picture is shown

    const QByteArray site = "[radio]\nwebsite={site}/site\nversion=1.3\n";
    QTest::newRow("offline") << false << site << QByteArray("[playlist]\n")
                             << "No active internet connection" << false;
    QTest::newRow("no website") << true << QByteArray("[radio]\nversion=1.3\n")
                                << QByteArray("[playlist]\n") << "No active internet connection"
                                << false;
    QTest::newRow("no manifest") << true << site << QByteArray() << "Error downloading!" << true;
    QTest::newRow("br is no number")
        << true << site << QByteArray("[counter]\nbr=two\n[playlist]\nfrom=x\n")
        << "'two' is not a valid integer value" << false;
}

void UpdatePassTest::failedCheck_showsMessageAndCloses() {
    QFETCH(bool, connected);
    QFETCH(QByteArray, settings);
    QFETCH(QByteArray, manifest);
    QFETCH(QString, message);
    QFETCH(bool, loader);

    PassFixture f;
    f.connected = connected;
    QImage picture(20, 10, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    QVERIFY(QDir().mkpath(f.folder.file("Images")));
    QVERIFY(picture.save(f.folder.file("Images/loader.png")));
    f.folder.write("settings/settings.dat", settings.replace("{site}", f.site.url("").toUtf8()));
    const auto before = snapshot(f.folder.path());
    if (manifest.isEmpty())
        f.site.http.setRoute("/site/Download/downloadlist.dat", "none", 404);
    else
        f.setManifest(manifest);
    QVERIFY(f.runPass());
    QCOMPARE(f.messages.texts(), QStringList{message});
    // Nothing further: no downloads armed, no reload, no banners.
    QVERIFY(!f.form->Timer1->Enabled());
    QVERIFY(f.invoked.isEmpty());
    QCOMPARE(!f.form->Image1->pixmap().isNull(), loader);
    QCOMPARE(f.site.http.hits("/site/Download/downloadlist.dat"),
             connected && settings.contains("website") ? 1 : 0);
    QCOMPARE(snapshot(f.folder.path()), before);
}

void UpdatePassTest::allowedTarget_onlyCatalogPicturesAndSkins_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("parts"); // joined with "|"; empty: refused
    const QStringList allowed{"radiolist.dat", "REKLAME.DAT",           "banners\\a.png",
                              "./Skins/x.qss", "settings/language.dat", "settings/genre.dat",
                              "Images/a/b.png"};
    for (const QString& t : allowed) {
        QString parts = t;
        QTest::newRow(qPrintable("allowed " + t))
            << t << parts.replace("./", "").replace('\\', '|').replace('/', '|');
    }
    for (const char* t : {"tolvane",
                          "TolvaneUpdate",
                          "libtolvane-webview.so",
                          "qt.conf",
                          "imageformats/libqevil.so",
                          "system/lame",
                          "settings/settings.dat",
                          "settings/services.dat",
                          "radiouser.dat",
                          "favorites.dat",
                          "temp.dat",
                          "Recorded/x.mp3",
                          "Skins/x.so",
                          "Skins/.qss",
                          "Skins/a/b.qss",
                          "banners",
                          "banners/",
                          "banners/../tolvane",
                          "banners/.update-staging",
                          "\\radiolist.dat",
                          "/etc/passwd",
                          "C:\\x.dat",
                          "",
                          "banners/a\x01b"})
        QTest::newRow(qPrintable(QStringLiteral("refused ") + t)) << QString(t) << QString();
}

void UpdatePassTest::allowedTarget_onlyCatalogPicturesAndSkins() {
    QFETCH(QString, target);
    QFETCH(QString, parts);
    QCOMPARE(update::allowedTarget(target).value_or(QStringList()).join('|'), parts);
}

void UpdatePassTest::refusedPass_changesNothingAndTellsOnce_data() {
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<QString>("how"); // signing and planting, see below
    QTest::addColumn<int>("refusal");

    const QByteArray catalog =
        "[playlist]\nfrom={site}/f/list\nto=radiolist.dat\n[counter]\nbr=1\n";
    const QByteArray attack =
        "[counter]\nbr=3\n[playlist]\nfrom={site}/f/a\nto=TolvaneUpdate\n[file0]\nfrom={site}/"
        "f/b\nto=settings/settings.dat\n[file1]\nfrom={site}/f/c\nto=banners/lame.png\n";
    using R = update::Refusal;
    QTest::newRow("unsigned, offering the updater, settings and a link")
        << attack << "unsigned" << int(R::Unsigned);
    QTest::newRow("signed by another key") << catalog << "other key" << int(R::BadSignature);
    QTest::newRow("changed after signing") << catalog << "tampered" << int(R::BadSignature);
    QTest::newRow("expired") << "[program]\nexpires=2020-01-01T00:00:00Z\n" + catalog << ""
                             << int(R::Expired);
    QTest::newRow("rolled back") << "[program]\nserial=4\n" + catalog << "serial 5"
                                 << int(R::RolledBack);
    QTest::newRow("a file whose hash differs")
        << catalog + "[file0]\nfrom={site}/f/a\nto=banners/a.png\n"
        << "a differs" << int(R::Mismatch);
    QTest::newRow("the updater as a target")
        << catalog + "[file0]\nfrom={site}/f/a\nto=TolvaneUpdate\n"
        << "" << int(R::TargetNotAllowed);
    QTest::newRow("a target that is a link")
        << catalog + "[file0]\nfrom={site}/f/c\nto=banners/lame.png\n"
        << "link" << int(R::LinkTarget);
    QTest::newRow("a folder on the way that is a link")
        << catalog + "[file0]\nfrom={site}/f/c\nto=Images/x/c.png\n"
        << "link" << int(R::LinkTarget);
    QTest::newRow("a link planted while the files download")
        << catalog + "[file0]\nfrom={site}/f/c\nto=Images/x/c.png\n"
        << "link later" << int(R::LinkTarget);
    QTest::newRow("an http source") << catalog + "[file0]\nfrom={http}/f/a\nto=banners/a.png\n"
                                    << "" << int(R::InsecureSource);
    QTest::newRow("an https redirect to http")
        << catalog + "[file0]\nfrom={site}/f/moved\nto=banners/a.png\n"
        << "" << int(R::InsecureSource);
    QTest::newRow("a file over the size limit")
        << catalog + "[file0]\nfrom={site}/g\nto=banners/a.png\nsha256=" + QByteArray(64, '0') +
               "\nsize=99999999999\n"
        << "" << int(R::OverLimits);
}

void UpdatePassTest::refusedPass_changesNothingAndTellsOnce() {
    QFETCH(QByteArray, manifest);
    QFETCH(QString, how);
    QFETCH(int, refusal);

    PassFixture f;
    for (const char* name : {"list", "a", "b", "c"})
        f.site.http.setRoute("/f/" + QByteArray(name), "body of " + QByteArray(name));
    f.site.http.setRoute("/f/moved", f.site.http.url("/f/a").toUtf8(), 302);
    if (how == "a differs")
        f.site.http.setRoute("/f/a", "body of A");
    // What an attacker would like to replace, and a file outside the folder
    // that links in the folder lead to.
    f.folder.write("radiolist.dat", "[Old]\n");
    f.folder.write("TolvaneUpdate", "#!/bin/sh\n");
    f.folder.write("settings/settings.dat",
                   f.folder.read("settings/settings.dat") + "update=false\n");
    QTemporaryDir outside;
    QFile(outside.filePath("lame")).open(QIODevice::WriteOnly);
    QVERIFY(QDir().mkpath(f.folder.file("banners")));
    QVERIFY(QFile::link(outside.filePath("lame"), f.folder.file("banners/lame.png")));
    if (how == "link")
        QVERIFY(QFile::link(outside.path(), f.folder.file("Images")));
    if (how == "link later") {
        // Once the catalog has arrived, before the picture does.
        QObject::connect(f.form->ProgressBar1, &QProgressBar::valueChanged, [&](int done) {
            if (done == 1)
                QFile::link(outside.path(), f.folder.file("Images"));
        });
    }
    if (how == "serial 5")
        f.folder.write(TForm5::SerialFile, "[update]\nserial=5\n");

    const SigningKey other = SigningKey::generate();
    f.site.serve(manifest, how == "unsigned" ? nullptr : how == "other key" ? &other : &f.site.key);
    if (how == "tampered")
        f.site.http.setRoute("/site/Download/downloadlist.dat",
                             f.site.complete(manifest).replace("radiolist", "radiolisu"));
    const auto before = snapshot(f.folder.path());
    const auto outsideBefore = snapshot(outside.path());

    QVERIFY(f.runPass());
    QCOMPARE(int(f.form->refusal()), refusal);
    QCOMPARE(f.messages.texts(), QStringList{TForm5::RefusedMessage});
    if (how == "link later")
        QVERIFY(QFile::remove(f.folder.file("Images"))); // the link, not what it names
    QCOMPARE(snapshot(f.folder.path()), before);
    QCOMPARE(snapshot(outside.path()), outsideBefore);
    // The pass ends as after a failed download.
    QCOMPARE(f.invoked, (QStringList{"Button8", "Button13"}));
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
