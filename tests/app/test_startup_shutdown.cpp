#include "AppFixture.h"
#include "UrlRecorder.h"
#include "common/IniFile.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSlider>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using namespace tolvane;
using tolvane::test::AppFixture;
using tolvane::test::UrlRecorder;

class StartupShutdownTest : public QObject {
    Q_OBJECT
private slots:
    void normalExit_removesWorkingCatalogAndSavesTheFiveKeys();
    void firstShowing_listsWholeCatalogSortedWithAllFilters();
    void autostart_reopensSavedStationWithSavedVolume();
    void autostart_onlyExactTrueStartsAndSavedStationIsIgnoredOtherwise();
    void autostart_volumeThatIsNoNumberShowsMessageAndOpensNothing();
    void updateHandoff_writesFalseOnceAndClosesAfterTimer1();
    void missingFiles_reportedInOrderAndStartupGoesOn();
    void shutdownWriteFailure_showsUnableToWriteAndStillEnds();
    void noSoundServer_endsWithEngineErrorAndWritesNothing();
    void timer2_opensUpdateWindowOnceAfterStart();
    void websiteRestoredAtEveryStartEvenWithoutAutostart();
    void installationPing_asksThePublisherPageWithTheId();
    void showingAgainAfterHide_doesNotRepeatStartupBlock();
    void websiteLink_opensOnlyWebAddressesOfTheCurrentStation();
};

void StartupShutdownTest::showingAgainAfterHide_doesNotRepeatStartupBlock() {
    AppFixture f;
    f.installProgramFolder();
    f.connected = false;
    f.folder.write("settings/settings.dat",
                   "[radio]\nautostart=true\nstation=http://127.0.0.1:9/a\n"
                   "name=A\nVolume=30\n");
    QVERIFY(f.start());
    QCOMPARE(f.messages.texts(), QStringList{"There is no active internet connection!"});
    f.form().TrackBar1->setValue(70);
    f.folder.write("radiolist.dat", "[Only One]\n");
    // Hidden by another window (as the Add-station window does) and shown again.
    f.form().hide();
    f.form().show();
    QCOMPARE(f.messages.texts().size(), 1);
    QCOMPARE(f.listNames().size(), 3);
    QCOMPARE(f.form().TrackBar1->value(), 70);
    f.quit();
}

void StartupShutdownTest::websiteLink_opensOnlyWebAddressesOfTheCurrentStation() {
    UrlRecorder recorder;
    AppFixture f;
    f.installProgramFolder();
    QVERIFY(f.start());
    f.form().Label4Click(); // no station yet: nothing
    f.form().Edit4->setText("http://jazz.example/");
    f.form().Label4Click();
    f.form().Edit4->setText("file:///etc/passwd");
    f.form().Label4Click();
    f.form().Edit4->setText("www.rock.example");
    f.form().Label4Click();
    QCOMPARE(recorder.opened,
             QList<QUrl>({QUrl("http://jazz.example/"), QUrl("http://www.rock.example")}));
    f.quit();
}

void StartupShutdownTest::installationPing_asksThePublisherPageWithTheId() {
    QTcpServer publisher;
    QVERIFY(publisher.listen(QHostAddress::LocalHost, 0));
    AppFixture f;
    f.installProgramFolder();
    f.pointServicesAt(QString("http://127.0.0.1:%1").arg(publisher.serverPort()));
    QVERIFY(f.start());
    QVERIFY(publisher.waitForNewConnection(5000));
    QTcpSocket* peer = publisher.nextPendingConnection();
    QTRY_VERIFY_WITH_TIMEOUT(peer->canReadLine(), 5000);
    const QString requestLine = QString::fromLatin1(peer->readLine()).trimmed();
    const QRegularExpression expected("^GET /radio/radio\\.php\\?id=[0-9A-F]{8} HTTP/1\\.1$");
    QVERIFY2(expected.match(requestLine).hasMatch(), qPrintable(requestLine));
    f.quit();
}

void StartupShutdownTest::normalExit_removesWorkingCatalogAndSavesTheFiveKeys() {
    AppFixture f;
    f.installProgramFolder();
    QVERIFY(f.start());
    QVERIFY(f.folder.exists("temp.dat"));
    f.quit();

    QVERIFY(!f.folder.exists("temp.dat"));
    const QString saved = QString::fromUtf8(f.folder.read("settings/settings.dat"));
    QCOMPARE(saved, QString("[radio]\nVolume=100\nstation=\nname=\nversion=1.3\nsajtstanice=\n"));
    QCOMPARE(f.messages.texts(), QStringList());
}

void StartupShutdownTest::firstShowing_listsWholeCatalogSortedWithAllFilters() {
    AppFixture f;
    f.installProgramFolder();
    QVERIFY(f.start());
    QCOMPARE(f.listNames(), QStringList({"ambient waves", "Jazz Radio", "Rock FM"}));
    QCOMPARE(f.form().ComboBox1->currentText(), QString("All"));
    QCOMPARE(f.form().ComboBox2->currentText(), QString("All"));
    QCOMPARE(f.form().ComboBox1->count(), 3);
    QCOMPARE(f.form().ComboBox2->itemText(3), QString("All"));
    QCOMPARE(f.form().windowTitle(), QString("Tolvane"));
    // Picking a filter lists the matching stations at once.
    f.form().ComboBox2->setCurrentIndex(1); // Jazz
    QCOMPARE(f.listNames(), QStringList({"Jazz Radio"}));
    f.quit();
}

void StartupShutdownTest::autostart_reopensSavedStationWithSavedVolume() {
    AppFixture f;
    f.installProgramFolder();
    f.folder.write("settings/settings.dat",
                   "[radio]\nautostart=true\nstation=http://127.0.0.1:9/saved\nname=Saved FM\n"
                   "Volume=40\nsajtstanice=http://saved.example\n");
    QVERIFY(f.start());
    QCOMPARE(f.form().TrackBar1->value(), 40);
    QCOMPARE(f.form().Edit1->text(), QString("http://127.0.0.1:9/saved"));
    QCOMPARE(f.form().Edit3->text(), QString("Saved FM"));
    QCOMPARE(f.form().Edit4->text(), QString("http://saved.example"));
    f.quit();
    IniFile saved(f.folder.file("settings/settings.dat"));
    QCOMPARE(saved.ReadString("radio", "Volume"), QString("40"));
    QCOMPARE(saved.ReadString("radio", "name"), QString("Saved FM"));
    QCOMPARE(saved.ReadString("radio", "autostart"), QString("true"));
}

void StartupShutdownTest::autostart_onlyExactTrueStartsAndSavedStationIsIgnoredOtherwise() {
    for (const char* flag : {"True", "TRUE", "yes", ""}) {
        AppFixture f;
        f.installProgramFolder();
        f.folder.write("settings/settings.dat",
                       QByteArray("[radio]\nautostart=") + flag +
                           "\nstation=http://127.0.0.1:9/saved\nname=Saved FM\nVolume=40\n");
        QVERIFY(f.start());
        QCOMPARE(f.form().TrackBar1->value(), 100);
        QCOMPARE(f.form().Edit1->text(), QString());
        f.quit();
    }
}

void StartupShutdownTest::autostart_volumeThatIsNoNumberShowsMessageAndOpensNothing() {
    AppFixture f;
    f.installProgramFolder();
    f.folder.write(
        "settings/settings.dat",
        "[radio]\nautostart=true\nstation=http://127.0.0.1:9/saved\nname=Saved\nVolume=loud\n");
    QVERIFY(f.start());
    QCOMPARE(f.messages.texts(), QStringList{"'loud' is not a valid integer value"});
    QCOMPARE(f.form().TrackBar1->value(), 100);
    // Running the automatic start again stops at the same point: no opening.
    QSignalSpy runs(f.form().command("Run"), &QAction::triggered);
    f.form().invoke("reload");
    QCOMPARE(runs.count(), 0);
    QCOMPARE(f.messages.texts().size(), 2);
    f.quit();
}

void StartupShutdownTest::updateHandoff_writesFalseOnceAndClosesAfterTimer1() {
    AppFixture f;
    f.installProgramFolder();
    f.folder.write("settings/settings.dat", "[radio]\nupdate=true\nwebsite=http://127.0.0.1:9\n");
    // An updater that notes each start in the program folder.
    const QString updater = f.folder.file("TolvaneUpdate");
    QVERIFY(QFile::copy(FAKE_PROGRAM, updater));
    QVERIFY(QFile::setPermissions(updater, QFile::permissions(updater) | QFile::ExeOwner));
    QVERIFY(f.start());
    IniFile settings(f.folder.file("settings/settings.dat"));
    QCOMPARE(settings.ReadString("radio", "update"), QString("false"));
    QVERIFY(f.form().Timer1->Enabled());
    QVERIFY(f.form().isVisible());
    // About 1500 ms later the window closes by the normal path.
    QTRY_VERIFY_WITH_TIMEOUT(f.form().closing(), 5000);
    QVERIFY(!f.form().Timer1->Enabled());
    f.app->destroyWindows();
    IniFile after(f.folder.file("settings/settings.dat"));
    QCOMPARE(after.ReadString("radio", "version"), QString("1.3"));
    QCOMPARE(after.ReadString("radio", "update"), QString("false"));
    // Started once, in the program folder.
    QVERIFY(test::waitFor([&] { return f.folder.read("starts.log") == "started\n"; }));
}

void StartupShutdownTest::missingFiles_reportedInOrderAndStartupGoesOn() {
    AppFixture f;
    f.folder.write("radiouser.dat", "[Mine]\ngenre=Talk\nbitrate=32\n[Other]\ngenre=News\n");
    f.folder.write("settings/language.dat", "English\n");
    f.connected = false;
    QVERIFY(f.start());
    QCOMPARE(f.messages.texts(),
             QStringList({"There is no active internet connection!",
                          "Some files are missing, try to reinstall the program",
                          "Error: radiolist.dat is missing!"}));
    QCOMPARE(f.form().ComboBox1->count(), 0);
    QCOMPARE(f.form().ComboBox2->count(), 0);
    // The user's own stations are still listed.
    QCOMPARE(f.listNames(), QStringList({"Mine", "Other"}));
    f.quit();
}

void StartupShutdownTest::shutdownWriteFailure_showsUnableToWriteAndStillEnds() {
    AppFixture f;
    f.folder.write("radiolist.dat", test::SmallCatalog);
    QVERIFY(f.start());
    // No "settings" folder: the shutdown's first write fails.
    QVERIFY(QDir(f.folder.file("settings")).removeRecursively());
    f.messages.clear();
    f.quit();
    QCOMPARE(f.messages.texts(),
             QStringList{"Unable to write to " + f.folder.file("settings/settings.dat")});
    QVERIFY(!f.folder.exists("settings/settings.dat"));
    QVERIFY(!f.folder.exists("temp.dat"));
}

void StartupShutdownTest::noSoundServer_endsWithEngineErrorAndWritesNothing() {
    AppFixture f;
    f.installProgramFolder();
    // Point the sound client at a server that does not exist.
    const QByteArray before = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", QFile::encodeName("unix:" + f.folder.file("no-such-socket")));
    const bool started = f.start(engine::OutputKind::PulseAudio);
    qputenv("PULSE_SERVER", before);
    QVERIFY(!started);
    QCOMPARE(f.app->form1(), nullptr);
    const QStringList texts = f.messages.texts();
    QCOMPARE(texts.size(), 1);
    QVERIFY2(texts[0].startsWith("Can't initialize device\r\n(error code: "), qPrintable(texts[0]));
    QVERIFY(texts[0].endsWith(")"));
    f.app->destroyWindows();
    QVERIFY(!f.folder.exists("settings/settings.dat"));
    QVERIFY(!f.folder.exists("temp.dat"));
}

void StartupShutdownTest::timer2_opensUpdateWindowOnceAfterStart() {
    AppFixture f;
    f.runUpdatePass = true;
    f.installProgramFolder();
    QVERIFY(f.start());
    QVERIFY(f.form().Timer2->Enabled());
    QSignalSpy updates(f.form().command("Button10"), &QAction::triggered);
    // No update site in the settings: the pass says so and its window goes.
    QTRY_VERIFY_WITH_TIMEOUT(f.messages.texts().contains("No active internet connection"), 3000);
    QCOMPARE(updates.count(), 1);
    QVERIFY(!f.form().Timer2->Enabled());
    QTRY_VERIFY(!f.app->forms().Form5->isVisible());
    QTest::qWait(300);
    QCOMPARE(updates.count(), 1);
    f.quit();
}

void StartupShutdownTest::websiteRestoredAtEveryStartEvenWithoutAutostart() {
    AppFixture f;
    f.installProgramFolder();
    f.folder.write("settings/settings.dat",
                   "[radio]\nsajtstanice=http://last.example\nstation=x\n");
    QVERIFY(f.start());
    QCOMPARE(f.form().Edit4->text(), QString("http://last.example"));
    QCOMPARE(f.form().Edit1->text(), QString());
    QVERIFY(f.form().Timer8->Enabled());
    f.quit();
    IniFile saved(f.folder.file("settings/settings.dat"));
    QCOMPARE(saved.ReadString("radio", "sajtstanice"), QString("http://last.example"));
    QCOMPARE(saved.ReadString("radio", "station"), QString());
}

QTEST_MAIN(StartupShutdownTest)
#include "test_startup_shutdown.moc"
