// The notification-area icon on a real X display: a private Xvfb with a
// notification area of its own (trayer). Hiding to the icon, a click on the
// icon and its menu, and the behaviour once the notification area is gone.
// Skipped when Xvfb or trayer is not installed.

#include "AppFixture.h"
#include "XvfbDesktop.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QtTest>

using namespace tolvane;
using tolvane::test::AppFixture;
using tolvane::test::Desktop;

namespace {

Desktop* desktop = nullptr;

// The icon's own window, embedded in the notification area.
QWidget* iconWindow() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (QByteArray(w->metaObject()->className()) == "QSystemTrayIconSys")
            return w;
    }
    return nullptr;
}

QImage imageOf(const QLabel* label) {
    return label->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TrayXvfbTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!desktop->ready() || QGuiApplication::platformName() != "xcb")
            QSKIP("no Xvfb with trayer on this machine");
    }
    void notificationArea_isAvailable();
    void hideToIcon_thenClickOnIcon_bringsWindowBack();
    void iconMenu_opensWithPlayStopExit();
    void withoutNotificationArea_hideMinimisesInstead();
};

void TrayXvfbTest::notificationArea_isAvailable() {
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
}

void TrayXvfbTest::hideToIcon_thenClickOnIcon_bringsWindowBack() {
    AppFixture f;
    f.installProgramFolder();
    f.folder.write("settings/settings.dat", "[radio]\n");
    QVERIFY(f.start());
    TForm1& form = f.form();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTRY_VERIFY_WITH_TIMEOUT(iconWindow() && iconWindow()->isVisible(), 10000);
    form.Image1->setPixmap(QPixmap(8, 8));

    // Ctrl+M, as the user presses it (the update window stays away).
    form.Timer2->stop();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTest::keySequence(&form, QKeySequence("Ctrl+M"));
    QVERIFY(form.HiddenToTray);
    QTRY_VERIFY(!form.isVisible());
    QVERIFY(!form.isMinimized());
    QVERIFY(form.CoolTrayIcon1->isVisible());

    QTest::mouseClick(iconWindow(), Qt::LeftButton);
    QTRY_VERIFY(form.isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(imageOf(form.Image1), imageOf(form.Image2));
    f.quit();
}

void TrayXvfbTest::iconMenu_opensWithPlayStopExit() {
    AppFixture f;
    f.installProgramFolder();
    QVERIFY(f.start());
    TForm1& form = f.form();
    QTRY_VERIFY_WITH_TIMEOUT(iconWindow() && iconWindow()->isVisible(), 10000);
    QTest::mouseClick(iconWindow(), Qt::RightButton);
    QTRY_VERIFY(form.PopupMenu3->isVisible());
    QStringList entries;
    for (QAction* a : form.PopupMenu3->actions())
        entries << a->text();
    QCOMPARE(entries, QStringList({"&Play", "&Stop", "&Exit"}));
    form.PopupMenu3->close();
    f.quit();
}

void TrayXvfbTest::withoutNotificationArea_hideMinimisesInstead() {
    desktop->removeNotificationArea();
    QTRY_VERIFY_WITH_TIMEOUT(!QSystemTrayIcon::isSystemTrayAvailable(), 10000);
    AppFixture f;
    f.installProgramFolder();
    QVERIFY(f.start());
    TForm1& form = f.form();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.MinimizeToTray();
    QVERIFY(form.HiddenToTray);
    QVERIFY(form.isVisible());
    QVERIFY(form.isMinimized());
    f.quit();
}

int main(int argc, char** argv) {
    Desktop x;
    desktop = &x;
    QApplication app(argc, argv);
    TrayXvfbTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_shell_tray_xvfb.moc"
