// The window's visibility (hiding to the notification area and coming
// back, the icon and its menu) and skins (the list fill, choosing, saving
// and the restore at the next start).

#include "AppFixture.h"
#include "common/IniFile.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <algorithm>

using namespace tolvane;
using tolvane::test::AppFixture;

namespace {

const QByteArray AlphaSkin = "QWidget { color: #102030; }\n";
const QByteArray BetaSkin = "QWidget { color: #405060; }\n";

// Counts the requests that reach a local stand-in for the publisher's site.
class RequestCounter : public QObject {
public:
    RequestCounter() {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* peer = server_.nextPendingConnection()) {
                connect(peer, &QTcpSocket::readyRead, this, [this, peer] {
                    while (peer->canReadLine()) {
                        if (peer->readLine().startsWith("GET "))
                            ++requests;
                    }
                });
            }
        });
    }
    QString base() const { return QString("http://127.0.0.1:%1").arg(server_.serverPort()); }
    int requests = 0;

private:
    QTcpServer server_;
};

QAction* entry(QMenu* menu, const QString& text) {
    for (QAction* a : menu->actions()) {
        if (a->text() == text)
            return a;
    }
    return nullptr;
}

QAction* menuBarItem(TForm1& form, const QString& text) {
    for (QAction* a : form.menuBar()->actions()) {
        if (a->text() == text)
            return a;
    }
    return nullptr;
}

QImage imageOf(const QLabel* label) {
    return label->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
}

QPixmap songPicture() {
    QPixmap p(16, 16);
    p.fill(Qt::red);
    return p;
}

QByteArray png(Qt::GlobalColor color, int size) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPixmap p(size, size);
    p.fill(color);
    p.save(&buffer, "PNG");
    return bytes;
}

QStringList sorted(QStringList list) {
    std::sort(list.begin(), list.end());
    return list;
}

QStringList chooserEntries(TForm1& form) {
    QStringList entries;
    for (int i = 0; i < form.sComboBox1->count(); ++i)
        entries << form.sComboBox1->itemText(i);
    return entries;
}

void installSkins(AppFixture& f) {
    f.folder.write("Skins/Alpha.qss", AlphaSkin);
    f.folder.write("Skins/Beta.qss", BetaSkin);
    QDir(f.folder.path()).mkpath("Skins/Extra");
}

} // namespace

class ShellTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { qApp->setStyleSheet(QString()); }

    void hideAndRestore_showsDefaultPictureAndSkipsStartupBlock();
    void iconClick_whileShown_onlyRaisesTheWindow();
    void noNotificationArea_hideCommandsMinimiseInstead();
    void iconMenuExit_whileHidden_savesAndCloses();
    void iconMenuPlay_whileHidden_startsSelectedStation();
    void icon_showsProgramIconWithItsMenuAndNoTooltip();
    void skinNames_takeEveryEntryButPlainFolders();
    void skinNames_missingOrEmptyFolderGiveNothing();
    void skinChooser_listsSkinsWithNoneChosenAndPanelHidden();
    void choosingSkin_appliesAtOnceAsTheTextChanges();
    void savedSkin_isRestoredAtNextStartWithEmptyChooser();
    void save_withEmptyChoiceOrNoSettingsFile_doesNothing();
};

void ShellTest::hideAndRestore_showsDefaultPictureAndSkipsStartupBlock() {
    RequestCounter publisher;
    AppFixture f;
    f.installProgramFolder();
    installSkins(f);
    f.folder.write("Images/station.png", png(Qt::green, 32)); // the default picture
    f.folder.write("settings/settings.dat", "[radio]\n");
    f.pointServicesAt(publisher.base());
    f.connected = false;
    QVERIFY(f.start());
    TForm1& form = f.form();
    form.SystemTrayAvailable = [] { return true; };
    QTRY_COMPARE(publisher.requests, 1); // the installation ping
    QCOMPARE(f.messages.texts(), QStringList{"There is no active internet connection!"});
    QCOMPARE(form.sComboBox1->count(), 2);

    form.Image1->setPixmap(songPicture());
    form.ComboBox2->setCurrentIndex(1); // Jazz
    QCOMPARE(f.listNames(), QStringList{"Jazz Radio"});
    QSignalSpy loads(form.command("Button3"), &QAction::triggered);
    QSignalSpy autostarts(form.command("reload"), &QAction::triggered);

    // Both hide commands, each followed by a click on the icon.
    const QList<QAction*> hideCommands = {form.findChild<QAction*>("Minimizetosystemtray1"),
                                          menuBarItem(form, "SystemTray")};
    for (QAction* hide : hideCommands) {
        QVERIFY(hide);
        hide->trigger();
        QVERIFY(form.HiddenToTray);
        QVERIFY(!form.isVisible());
        QVERIFY(!form.isMinimized());

        emit form.CoolTrayIcon1->activated(QSystemTrayIcon::Trigger);
        QVERIFY(form.isVisible());
        QCOMPARE(imageOf(form.Image1), imageOf(form.Image2));
        QVERIFY(!form.Image2->pixmap().isNull());
        form.Image1->setPixmap(songPicture());
    }
    // The start-up block did not run again: no catalog load, no automatic
    // start, no connection message, no second ping; the chooser is not
    // filled twice over.
    QCOMPARE(loads.count(), 0);
    QCOMPARE(autostarts.count(), 0);
    QCOMPARE(f.listNames(), QStringList{"Jazz Radio"});
    QCOMPARE(form.ComboBox2->currentText(), QString("Jazz"));
    QCOMPARE(f.messages.texts().size(), 1);
    QCOMPARE(sorted(chooserEntries(form)), QStringList({"Alpha", "Beta"}));
    QTest::qWait(300);
    QCOMPARE(publisher.requests, 1);
    f.quit();
}

void ShellTest::iconClick_whileShown_onlyRaisesTheWindow() {
    AppFixture f;
    f.installProgramFolder();
    QVERIFY(f.start());
    TForm1& form = f.form();
    QSignalSpy loads(form.command("Button3"), &QAction::triggered);
    form.Image1->setPixmap(songPicture());
    for (auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick}) {
        emit form.CoolTrayIcon1->activated(reason);
        QVERIFY(form.isVisible());
    }
    // The showing step did not run: the song picture stays.
    QCOMPARE(imageOf(form.Image1), songPicture().toImage().convertToFormat(QImage::Format_ARGB32));
    QCOMPARE(loads.count(), 0);
    // A right click opens the icon's menu and shows nothing.
    form.hide();
    emit form.CoolTrayIcon1->activated(QSystemTrayIcon::Context);
    QVERIFY(!form.isVisible());
    f.quit();
}

void ShellTest::noNotificationArea_hideCommandsMinimiseInstead() {
    AppFixture f;
    f.installProgramFolder();
    QVERIFY(f.start());
    TForm1& form = f.form();
    // Without a notification area a hidden window could never come back.
    form.SystemTrayAvailable = [] { return false; };
    for (QAction* hide :
         {form.findChild<QAction*>("Minimizetosystemtray1"), menuBarItem(form, "SystemTray")}) {
        hide->trigger();
        QVERIFY(form.HiddenToTray);
        QVERIFY(form.isVisible());
        QVERIFY(form.isMinimized());
        emit form.CoolTrayIcon1->activated(QSystemTrayIcon::Trigger);
        QVERIFY(!form.isMinimized());
        QVERIFY(form.isVisible());
    }
    f.quit();
}

void ShellTest::iconMenuExit_whileHidden_savesAndCloses() {
    AppFixture f;
    f.installProgramFolder();
    f.folder.write("settings/settings.dat", "[radio]\n");
    QVERIFY(f.start());
    TForm1& form = f.form();
    form.SystemTrayAvailable = [] { return true; };
    form.TrackBar1->setValue(40);
    form.MinimizeToTray();
    QVERIFY(!form.isVisible());
    QAction* exit = entry(form.PopupMenu3, "&Exit");
    QVERIFY(exit);
    exit->trigger();
    QVERIFY(form.closing());
    QVERIFY(!form.Timer8->Enabled());
    f.app->destroyWindows();
    IniFile saved(f.folder.file("settings/settings.dat"));
    QCOMPARE(saved.ReadString("radio", "Volume"), QString("40"));
    QCOMPARE(saved.ReadString("radio", "version"), QString("1.3"));
    QVERIFY(!f.folder.exists("temp.dat"));
}

void ShellTest::iconMenuPlay_whileHidden_startsSelectedStation() {
    AppFixture f;
    f.installProgramFolder();
    QVERIFY(f.start());
    TForm1& form = f.form();
    form.SystemTrayAvailable = [] { return true; };
    form.ListView1->topLevelItem(2)->setSelected(true); // Rock FM
    form.MinimizeToTray();
    QSignalSpy runs(form.command("Run"), &QAction::triggered);
    entry(form.PopupMenu3, "&Play")->trigger();
    QCOMPARE(runs.count(), 1);
    QCOMPARE(form.Edit1->text(), QString("http://127.0.0.1:9/rock"));
    QCOMPARE(form.Edit3->text(), QString("Rock FM"));
    QVERIFY(!form.isVisible()); // playing does not bring the window back
    f.quit();
}

void ShellTest::icon_showsProgramIconWithItsMenuAndNoTooltip() {
    AppFixture f;
    f.installProgramFolder();
    f.folder.write("Images/tolvane-64.png", png(Qt::blue, 64));
    QVERIFY(f.start());
    TForm1& form = f.form();
    QVERIFY(form.CoolTrayIcon1->isVisible());
    QVERIFY(!form.CoolTrayIcon1->icon().isNull());
    QCOMPARE(form.CoolTrayIcon1->contextMenu(), form.PopupMenu3);
    QCOMPARE(form.CoolTrayIcon1->toolTip(), QString());
    // The icon stays while the window is hidden.
    form.SystemTrayAvailable = [] { return true; };
    form.MinimizeToTray();
    QVERIFY(form.CoolTrayIcon1->isVisible());
    f.quit();
}

void ShellTest::skinNames_takeEveryEntryButPlainFolders() {
    test::TestFolder folder;
    folder.write("Skins/Alpha.qss", AlphaSkin);
    folder.write("Skins/Beta.qss", BetaSkin);
    folder.write("Skins/Gamma.asz", "skin of another kind");
    folder.write("Skins/.hidden.qss", "");
    folder.write("Skins/abc", "");              // four characters or fewer: an empty name
    QDir(folder.path()).mkpath("Skins/Extra");  // a plain folder: skipped
    QDir(folder.path()).mkpath("Skins/.cache"); // a hidden folder: taken
    const QStringList names = TForm1::skinNames(folder.file("Skins") + "/");
    QCOMPARE(sorted(names), QStringList({"", ".c", ".hidden", "Alpha", "Beta", "Gamma"}));
}

void ShellTest::skinNames_missingOrEmptyFolderGiveNothing() {
    test::TestFolder folder;
    QCOMPARE(TForm1::skinNames(folder.file("Skins") + "/"), QStringList());
    QDir(folder.path()).mkpath("Skins");
    QCOMPARE(TForm1::skinNames(folder.file("Skins") + "/"), QStringList());
}

void ShellTest::skinChooser_listsSkinsWithNoneChosenAndPanelHidden() {
    AppFixture f;
    f.installProgramFolder();
    installSkins(f);
    QVERIFY(f.start());
    TForm1& form = f.form();
    QVERIFY(!form.skinpanel->isVisible());
    QCOMPARE(sorted(chooserEntries(form)), QStringList({"Alpha", "Beta"}));
    QCOMPARE(form.sComboBox1->currentIndex(), -1);
    QCOMPARE(form.sComboBox1->currentText(), QString());
    QVERIFY(qApp->styleSheet().isEmpty());
    f.quit();

    // Without a Skins folder the chooser stays empty and nothing is said.
    AppFixture bare;
    bare.installProgramFolder();
    QVERIFY(bare.start());
    QCOMPARE(bare.form().sComboBox1->count(), 0);
    QVERIFY(bare.messages.texts().isEmpty());
    bare.quit();
}

void ShellTest::choosingSkin_appliesAtOnceAsTheTextChanges() {
    AppFixture f;
    f.installProgramFolder();
    installSkins(f);
    QVERIFY(f.start());
    TForm1& form = f.form();
    form.findChild<QAction*>("ColorThemes1")->trigger();
    QVERIFY(form.skinpanel->isVisible());

    form.sComboBox1->setCurrentIndex(chooserEntries(form).indexOf("Alpha"));
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(AlphaSkin));

    // Typed letter by letter: a text that names no skin changes nothing,
    // the whole name applies that skin.
    QLineEdit* text = form.sComboBox1->lineEdit();
    text->clear();
    // Typed with the focus there, as a user types.
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.sComboBox1->setFocus();
    QTRY_VERIFY(text->hasFocus());
    // Each typed text applies as it stands, never completed to an entry.
    QSignalSpy applied(form.sComboBox1, &QComboBox::editTextChanged);
    QTest::keyClicks(text, "Bet");
    QStringList texts;
    for (const QList<QVariant>& change : applied)
        texts << change.at(0).toString();
    QCOMPARE(texts, (QStringList{"B", "Be", "Bet"}));
    QCOMPARE(form.sComboBox1->currentText(), QString("Bet"));
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(AlphaSkin));
    QTest::keyClicks(text, "a");
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(BetaSkin));
    QVERIFY(form.skinpanel->isVisible()); // only Save hides it
    f.quit();
}

void ShellTest::savedSkin_isRestoredAtNextStartWithEmptyChooser() {
    AppFixture f;
    f.installProgramFolder();
    installSkins(f);
    f.folder.write("settings/settings.dat", "[radio]\n");
    QVERIFY(f.start());
    TForm1& form = f.form();
    form.ColorThemes1Click();
    form.sComboBox1->setEditText("Beta");
    form.sBitBtn1->click();
    QVERIFY(!form.skinpanel->isVisible());
    QCOMPARE(IniFile(f.folder.file("settings/settings.dat")).ReadString("radio", "skin"),
             QString("Beta"));
    f.quit();

    // A new start begins without any style sheet, as a new process does.
    qApp->setStyleSheet(QString());
    QVERIFY(f.start());
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(BetaSkin));
    QCOMPARE(f.form().sComboBox1->currentText(), QString());
    QCOMPARE(f.form().sComboBox1->currentIndex(), -1);
    QCOMPARE(f.form().sComboBox1->count(), 2);

    // A choice not saved is gone at the next start.
    f.form().ColorThemes1Click();
    f.form().sComboBox1->setEditText("Alpha");
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(AlphaSkin));
    f.quit();
    qApp->setStyleSheet(QString());
    QVERIFY(f.start());
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(BetaSkin));
    f.quit();
}

void ShellTest::save_withEmptyChoiceOrNoSettingsFile_doesNothing() {
    AppFixture f;
    f.installProgramFolder();
    installSkins(f);
    f.folder.write("settings/settings.dat", "[radio]\nskin=Alpha\n");
    QVERIFY(f.start());
    TForm1& form = f.form();
    form.ColorThemes1Click();
    form.sBitBtn1->click(); // empty choice
    QVERIFY(form.skinpanel->isVisible());
    QCOMPARE(IniFile(f.folder.file("settings/settings.dat")).ReadString("radio", "skin"),
             QString("Alpha"));

    QVERIFY(QFile::remove(f.folder.file("settings/settings.dat")));
    form.sComboBox1->setEditText("Beta");
    form.sBitBtn1->click(); // no settings file
    QVERIFY(form.skinpanel->isVisible());
    QVERIFY(!f.folder.exists("settings/settings.dat"));
    QVERIFY(f.messages.texts().isEmpty());
    f.quit();
}

QTEST_MAIN(ShellTest)
#include "test_shell.moc"
