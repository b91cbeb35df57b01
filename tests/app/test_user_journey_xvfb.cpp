// A new user's way through their own stations on a real X display (a
// private Xvfb): add a loopback station through "Test Streaming" and OK,
// find it after Ctrl+R, make it a favorite, list the favorites with F12,
// remove it from both files, and change every setting. Keys go through the
// window's shortcuts; message boxes are answered in advance. Skipped when
// Xvfb is not installed.

#include "../playback/PlaybackFixture.h"
#include "XvfbDesktop.h"
#include "catalog/TForm3.h"
#include "settings/TSettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

using namespace tolvane;
using namespace tolvane::test;

namespace {

Desktop* desktop = nullptr;

// Makes a window active and waits until it is.
bool activate(QWidget* window) {
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

// Selects the row of `name` with the keyboard: search box, then Enter.
void findByKeyboard(TForm1& form, const QString& name) {
    form.Edit2->clear();
    QTest::keyClicks(form.Edit2, name);
    QTest::keyClick(form.Edit2, Qt::Key_Return);
}

} // namespace

class UserJourneyXvfbTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!desktop->ready() || QGuiApplication::platformName() != "xcb")
            QSKIP("no Xvfb on this machine");
    }
    void addFavoriteRemoveAndSettings_asAUserDoes();
};

void UserJourneyXvfbTest::addFavoriteRemoveAndSettings_asAUserDoes() {
    PlaybackFixture f;
    f.folder.write("settings/settings.dat", "[radio]\n");
    QVERIFY(f.startPlayer({{"Jazz FM", "/jazz"}}));
    StreamRoute mine = f.audio();
    mine.bitrate = "96";
    f.server.setRoute("/mine", mine);
    TForm1& form = f.form();
    form.Timer2->stop(); // the update window would take the activation
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(activate(&form));

    // Insert: the Add Radio Station window replaces the player.
    TForm2* add = f.app->forms().Form2;
    QTest::keySequence(&form, QKeySequence(Qt::Key_Insert));
    QTRY_VERIFY(add->isVisible());
    QTRY_VERIFY(!form.isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(add));
    QTest::keyClicks(add->Edit1, f.url("/mine"));
    QTest::mouseClick(add->sBitBtn1, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(add->Edit4->text(), QString("96"), 15000);
    QVERIFY(add->Edit4->isVisible());
    QTest::keyClicks(add->Edit2, "My Loopback");
    QTest::keyClicks(add->ComboBox1, "English");
    QTest::keyClicks(add->ComboBox2, "Jazz");
    QTest::keyClicks(add->Edit3, "http://mine.example");
    QTest::mouseClick(add->sBitBtn3, Qt::LeftButton);
    QCOMPARE(f.messages.texts(), QStringList{"Radio My Loopback has been added successfully"});
    QCOMPARE(f.folder.read("radiouser.dat"),
             "[My Loopback]\ngenre=Jazz\nlanguage=English\nwebsite=http://mine.example\n"
             "streaming=" +
                 f.url("/mine").toUtf8() + "\nbitrate=96\n");
    QTRY_VERIFY(form.isVisible());
    QVERIFY(activate(&form));

    // Ctrl+R lists it; it plays from the list.
    QVERIFY(!f.listNames().contains("My Loopback"));
    QTest::keySequence(&form, QKeySequence("Ctrl+R"));
    QCOMPARE(f.listNames(), QStringList({"Jazz FM", "My Loopback"}));
    findByKeyboard(form, "loopback");
    QCOMPARE(form.ListView1->selectedRow(), 1);
    QTest::keyClick(form.ListView1, Qt::Key_Return); // Run, as Enter in the list does
    form.sListView1DblClick();
    QTRY_COMPARE_WITH_TIMEOUT(form.Label5->text(), QString("bitrate: 96"), 15000);

    // Ctrl+F makes it a favorite; F12 lists the favorites.
    f.messages.clear();
    QTest::keySequence(&form, QKeySequence("Ctrl+F"));
    QCOMPARE(f.messages.texts(),
             QStringList{"My Loopback has been added successfully to favorites"});
    QVERIFY(f.folder.read("favorites.dat").contains("streaming=" + f.url("/mine").toUtf8()));
    QTest::keySequence(&form, QKeySequence(Qt::Key_F12));
    QCOMPARE(f.listNames(), QStringList{"My Loopback"});

    // Ctrl+Alt+R and Ctrl+D remove it from the favorites and the own stations.
    auto* remove = qobject_cast<TForm3*>(f.app->forms().Form3);
    const auto deleteFirstRow = [&] {
        remove->ListView1->topLevelItem(0)->setSelected(true);
        f.messages.answerNext(true);
        QTest::mouseClick(remove->Button1, Qt::LeftButton);
    };
    f.messages.clear();
    QTest::keySequence(&form, QKeySequence("Ctrl+Alt+R"));
    QTRY_VERIFY(remove->isVisible());
    QCOMPARE(remove->ListView1->topLevelItemCount(), 1);
    deleteFirstRow();
    QCOMPARE(f.messages.texts(), QStringList({"Delete Selected?", "Radio has been deleted"}));
    QVERIFY(!f.folder.read("favorites.dat").contains("[My Loopback]"));
    QVERIFY(activate(&form));
    QTest::keySequence(&form, QKeySequence("Ctrl+D"));
    QCOMPARE(remove->ListView1->topLevelItemCount(), 1);
    deleteFirstRow();
    QVERIFY(!f.folder.read("radiouser.dat").contains("[My Loopback]"));
    remove->close();

    // Ctrl+S: every setting changed by keyboard, then "Save".
    auto* settings = qobject_cast<TSettings*>(f.app->forms().Settings);
    QVERIFY(activate(&form));
    QTest::keySequence(&form, QKeySequence("Ctrl+S"));
    QTRY_VERIFY(settings->isVisible());
    for (QCheckBox* box : {settings->CheckBox1, settings->CheckBox2, settings->CheckBox3,
                           settings->CheckBox4, settings->CheckBox5})
        QTest::keyClick(box, Qt::Key_Space);
    for (int i = 0; i < 7; ++i)
        QTest::keyClick(settings->UpDown1, Qt::Key_Up);
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(settings->Edit2, Qt::Key_Up);
    QTest::keyClicks(settings->edit3, f.folder.file("Recorded by me"));
    QTest::mouseClick(settings->sButton2, Qt::LeftButton);
    QTRY_VERIFY(!settings->isVisible());
    QCOMPARE(f.folder.read("settings/settings.dat"),
             "[radio]\nautostart=true\nsongimage=true\nseparate=true\ninterval=7\n"
             "interval2=3\nballoon=true\nreconnect=false\n[record]\nrecdir=" +
                 f.folder.file("Recorded by me").toUtf8() +
                 "\nexact=false\nfromstart=false\nformat=lame\n");
    QVERIFY(f.workersDone());
    f.timedQuit();
}

int main(int argc, char** argv) {
    Desktop x(false);
    desktop = &x;
    QApplication app(argc, argv);
    UserJourneyXvfbTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_user_journey_xvfb.moc"
