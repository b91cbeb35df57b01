// The notification-area icon on a real X display: a private Xvfb with a
// notification area of its own (trayer). Hiding to the icon, a click on the
// icon and its menu, and the behaviour once the notification area is gone.
// Skipped when Xvfb or trayer is not installed.

#include "AppFixture.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace tolvane;
using tolvane::test::AppFixture;

namespace {

// A child process ended by SIGTERM and reaped when the object goes.
struct Child {
    pid_t pid = -1;
    void stop() {
        if (pid <= 0)
            return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    ~Child() { stop(); }
};

// Xvfb on a free display number, and trayer as its notification area. It
// must outlive the QApplication that connects to it.
class Desktop {
public:
    Desktop() {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        xvfb_.pid = fork();
        if (xvfb_.pid == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
                   "-nolisten", "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        // Xvfb writes the display number it took once it accepts clients.
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (number.empty())
            return;
        display_ = ":" + number;
        setenv("DISPLAY", display_.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        // The icon goes through the X notification-area protocol, not a
        // session bus that may belong to someone else's desktop.
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        trayer_.pid = fork();
        if (trayer_.pid == 0) {
            execlp("trayer", "trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel",
                   "--width", "120", "--heighttype", "pixel", "--height", "28",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        ready_ = trayer_.pid > 0;
    }
    ~Desktop() {
        trayer_.stop();
        xvfb_.stop();
    }
    bool ready() const { return ready_; }
    void removeNotificationArea() { trayer_.stop(); }

private:
    Child xvfb_, trayer_;
    std::string display_;
    bool ready_ = false;
};

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
