// The Settings window through the real program: each showing loads every
// key, "Save" writes every key back, and nothing is written without a file.

#include "../app/AppFixture.h"
#include "settings/TSettings.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QtTest>

using namespace tolvane;
using namespace tolvane::test;

namespace {

TSettings* settingsWindow(AppFixture& f) {
    return qobject_cast<TSettings*>(f.app->forms().Settings);
}

// The next control the Tab key reaches.
QWidget* nextTabStop(QWidget* w) {
    QWidget* next = w->nextInFocusChain();
    while (next != w && (!(next->focusPolicy() & Qt::TabFocus) || !next->isVisibleTo(w->window())))
        next = next->nextInFocusChain();
    return next;
}

} // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT
private slots:
    void showAndSave_roundTripEveryKey();
    void numberFields_stepFromShownNumberWithinBounds();
    void browse_cancelKeepsFolder();
    void withoutSettingsFile_keepsControlsAndWritesNothing();
};

void SettingsWindowTest::showAndSave_roundTripEveryKey() {
    AppFixture f;
    f.installProgramFolder();
    f.folder.write("settings/settings.dat",
                   "[radio]\nautostart=true\nsongimage=True\nballoon=true\nseparate=TRUE\n"
                   "interval=5\ninterval2=junk\nVolume=40\n[record]\nrecdir=/srv/rec\n");
    QVERIFY(f.start());
    TSettings* w = settingsWindow(f);
    f.form().findChild<QAction*>("Settings1")->trigger(); // Ctrl+S
    QVERIFY(w->isVisible());
    QVERIFY(w->CheckBox1->isChecked());
    QVERIFY(!w->CheckBox2->isChecked()); // only exactly "true" is on
    QVERIFY(!w->CheckBox3->isChecked());
    QVERIFY(w->CheckBox4->isChecked());
    QCOMPARE(w->edit1->text(), QString("5"));
    QCOMPARE(w->Edit2->text(), QString("junk")); // shown as stored
    QCOMPARE(w->edit3->text(), QString("/srv/rec"));
    QVERIFY(w->CheckBox5->isChecked()); // no reconnect key: on

    // Keyboard order, as the window lists its controls.
    QVERIFY(!w->CheckBox6->isChecked()); // no exact key
    const QList<QWidget*> order{w->CheckBox1,    w->CheckBox2, w->CheckBox4, w->CheckBox5,
                                w->CheckBox3,    w->CheckBox6, w->CheckBox7, w->edit1,
                                w->UpDown1,      w->Edit2,     w->UpDown2,   w->RadioButton1,
                                w->RadioButton2, w->edit3,     w->sButton1,  w->sButton2};
    for (qsizetype i = 1; i < order.size(); ++i)
        QCOMPARE(nextTabStop(order[i - 1]), order[i]);
    for (QWidget* c : order)
        QVERIFY2(!c->accessibleName().isEmpty(), qPrintable(c->objectName()));

    w->CheckBox1->setChecked(false);
    w->CheckBox2->setChecked(true);
    w->CheckBox3->setChecked(true);
    w->CheckBox4->setChecked(false);
    w->CheckBox5->setChecked(false);
    w->CheckBox6->setChecked(true);
    QVERIFY(w->RadioButton1->isChecked()); // no format key: lame
    w->RadioButton2->setChecked(true);
    w->edit1->clear(); // an empty field saves "2"
    w->edit3->setText("typed, not checked");
    w->sButton2->click();
    QVERIFY(!w->isVisible());
    QCOMPARE(
        f.folder.read("settings/settings.dat"),
        QByteArray("[radio]\nautostart=false\nsongimage=true\nballoon=false\nseparate=true\n"
                   "interval=2\ninterval2=junk\nVolume=40\nreconnect=false\n[record]\n"
                   "recdir=typed, not checked\nexact=true\nfromstart=false\nformat=original\n"));

    // The close box hides without writing; a new showing reloads.
    f.form().findChild<QAction*>("Settings2")->trigger(); // "Settings" under "Add"
    w->CheckBox1->setChecked(true);
    w->close();
    QVERIFY(!w->isVisible());
    QVERIFY(f.folder.read("settings/settings.dat").contains("autostart=false"));
    w->show();
    QVERIFY(!w->CheckBox1->isChecked());
    f.quit();
}

void SettingsWindowTest::numberFields_stepFromShownNumberWithinBounds() {
    AppFixture f;
    f.installProgramFolder();
    f.folder.write("settings/settings.dat", "[radio]\ninterval=5\ninterval2=100\n");
    QVERIFY(f.start());
    TSettings* w = settingsWindow(f);
    w->show();
    w->UpDown1->up->click();
    QCOMPARE(w->edit1->text(), QString("6"));
    QTest::keyClick(w->UpDown1, Qt::Key_Down);
    QTest::keyClick(w->edit1, Qt::Key_Down);
    QCOMPARE(w->edit1->text(), QString("4"));
    for (int i = 0; i < 6; ++i)
        w->UpDown1->down->click();
    QCOMPARE(w->edit1->text(), QString("0"));
    w->UpDown2->up->click();
    QCOMPARE(w->Edit2->text(), QString("100"));
    w->UpDown2->down->click();
    QCOMPARE(w->Edit2->text(), QString("99"));
    QTest::keyClicks(w->edit1, "77"); // the field cannot be typed into
    QCOMPARE(w->edit1->text(), QString("0"));
    f.quit();
}

void SettingsWindowTest::browse_cancelKeepsFolder() {
    AppFixture f;
    f.installProgramFolder();
    f.folder.write("settings/settings.dat", "[record]\nrecdir=/srv/rec\n");
    QVERIFY(f.start());
    TSettings* w = settingsWindow(f);
    w->show();
    QString answer;
    int asked = 0;
    w->PickFolder = [&] {
        ++asked;
        return answer;
    };
    w->sButton1->click(); // cancelled
    QCOMPARE(asked, 1);
    QCOMPARE(w->edit3->text(), QString("/srv/rec"));
    answer = "/home/me/Music";
    w->sButton1->click();
    QCOMPARE(w->edit3->text(), QString("/home/me/Music"));
    f.quit();
}

void SettingsWindowTest::withoutSettingsFile_keepsControlsAndWritesNothing() {
    AppFixture f;
    f.installProgramFolder();
    QVERIFY(f.start());
    TSettings* w = settingsWindow(f);
    w->show();
    QCOMPARE(w->edit1->text(), QString("0"));
    QCOMPARE(w->Edit2->text(), QString("0"));
    QVERIFY(!w->CheckBox1->isChecked() && w->edit3->text().isEmpty());
    w->CheckBox1->setChecked(true);
    w->sButton2->click();
    QVERIFY(!w->isVisible());
    QVERIFY(f.messages.texts().isEmpty());
    QVERIFY(!f.folder.exists("settings/settings.dat"));
    w->show();
    QVERIFY(w->CheckBox1->isChecked()); // kept while no file exists
    f.quit();
}

QTEST_MAIN(SettingsWindowTest)
#include "test_settings_window.moc"
