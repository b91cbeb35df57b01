// The main window's menus, popup menus and shortcuts: every entry reaches
// its command, checked by what the command does to the window, and every
// shortcut works wherever the focus is. Also the popup placement, the
// accessible names and the window's layout with and without a skin.

#include "AppFixture.h"
#include "app/Accessibility.h"
#include "app/Forms.h"
#include "catalog/TForm2.h"
#include "common/IniFile.h"
#include "directory/TForm11.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSlider>
#include <QToolButton>
#include <QtTest>

#include <functional>
#include <memory>

using namespace tolvane;
using tolvane::test::AppFixture;

namespace {

// What an entry does, as the user sees it.
enum class Effect {
    AddRadio,       // Button6, then stop
    RemoveRadio,    // Button7
    ReloadList,     // Button8: filters to "All", whole catalog
    Lyrics,         // the Lyrics window
    HideToTray,     // hidden to the notification area
    Share,          // the share panel
    Exit,           // closed, settings saved
    Settings,       // the Settings window
    Skins,          // the skin panel
    AddFavorite,    // Button4
    RemoveFavorite, // Button5
    LoadFavorites,  // Button9: the favorites listed
    About,          // the About window
    Help,           // the Help window
    Play,           // selected row current, then Run
    Stop,           // playback stopped, clock reset
    FindStations,   // the Find Stations window
};

// Every entry of the main menu, of the menu-bar item and of the three
// popup menus. `menu` is a main-menu title, "" for the menu-bar item, or
// the objectName of a popup menu.
struct Entry {
    const char* menu;
    const char* text;
    const char* name; // the action's objectName
    const char* keys;
    Effect effect;
};

const Entry Entries[] = {
    {"&Menu", "&Add radio station", "Addradiostation1", "Ins", Effect::AddRadio},
    {"&Menu", "Find stations online...", "Findstationsonline1", "Ctrl+K", Effect::FindStations},
    {"&Menu", "&Remove radio station", "Removeradiostation1", "Ctrl+D", Effect::RemoveRadio},
    {"&Menu", "&Reload Playlist", "ReloadPlaylist1", "Ctrl+R", Effect::ReloadList},
    {"&Menu", "Lyrics", "Lyrics1", "Ctrl+I", Effect::Lyrics},
    {"&Menu", "Minimize to system tray", "Minimizetosystemtray1", "Ctrl+M", Effect::HideToTray},
    {"&Menu", "Share on Facebook and Twitter", "ShareonFacebookandTwitter1", "", Effect::Share},
    {"&Menu", "&Exit", "Exit1", "Ctrl+E", Effect::Exit},
    {"&Option", "&Settings", "Settings1", "Ctrl+S", Effect::Settings},
    {"&Option", "Skins", "ColorThemes1", "Ctrl+Alt+S", Effect::Skins},
    {"&Favorites", "&Add to favorites", "Addtofavorites1", "Ctrl+F", Effect::AddFavorite},
    {"&Favorites", "&Remove from favorites", "Removefromfavorites2", "Ctrl+Alt+R",
     Effect::RemoveFavorite},
    {"&Favorites", "&Load Playlist", "LoadPlaylist1", "F12", Effect::LoadFavorites},
    {"&Info", "&About", "About1", "", Effect::About},
    {"&Info", "&Help", "Help1", "", Effect::Help},
    {"", "SystemTray", "SystemTray1", "", Effect::HideToTray},
    {"PopupMenu", "Add Radio Station", "sdfsdfsdf1", "", Effect::AddRadio},
    {"PopupMenu", "Find stations online...", "Findstationsonline2", "", Effect::FindStations},
    {"PopupMenu", "Remove Radio", "emoveradio1", "", Effect::RemoveRadio},
    {"PopupMenu", "Settings", "Settings2", "", Effect::Settings},
    {"PopupMenu1", "Add to favorites", "Addtofavorites2", "", Effect::AddFavorite},
    {"PopupMenu1", "Remove from favorites", "Removefromfavorites1", "", Effect::RemoveFavorite},
    {"PopupMenu1", "Load Favorites", "LoadFavorites1", "", Effect::LoadFavorites},
    {"PopupMenu3", "&Play", "Play1", "", Effect::Play},
    {"PopupMenu3", "&Stop", "Stop1", "", Effect::Stop},
    {"PopupMenu3", "&Exit", "Exit2", "", Effect::Exit},
};

// The entry's action, found the way a user finds it: by the menu's title
// and the entry's text.
QAction* findEntry(TForm1& form, const Entry& e) {
    QList<QAction*> actions;
    const QString menu = QString::fromLatin1(e.menu);
    if (menu.isEmpty()) {
        actions = form.menuBar()->actions();
    } else if (menu.startsWith("PopupMenu")) {
        if (auto* popup = form.findChild<QMenu*>(menu))
            actions = popup->actions();
    } else {
        for (QAction* a : form.menuBar()->actions()) {
            if (a->menu() && a->text() == menu)
                actions = a->menu()->actions();
        }
    }
    for (QAction* a : actions) {
        if (a->text() == QString::fromLatin1(e.text) && (!menu.isEmpty() || !a->menu()))
            return a;
    }
    return nullptr;
}

// Sets the window up so that an effect can be seen, then checks it.
class Probe {
public:
    Probe(AppFixture& f, Effect effect) : f_(f), effect_(effect) {
        TForm1& form = f.form();
        for (const char* name : {"Button4", "Button5", "Button6", "Button7", "Run"})
            spies_[name] = std::make_shared<QSignalSpy>(form.command(name), &QAction::triggered);
        switch (effect) {
        case Effect::AddRadio:
        case Effect::Stop:
            // A running clock shows whether stop ran.
            form.invoke("Button11");
            form.Timer->setText("00:01:02");
            QObject::connect(form.command("Button6"), &QAction::triggered, &form, [this, &form] {
                addWindowOpenAtButton6_ = f_.app->forms().Form2->isVisible() && !form.isVisible();
            });
            break;
        case Effect::ReloadList:
            form.ComboBox2->setCurrentIndex(1); // Jazz
            break;
        case Effect::HideToTray:
            form.SystemTrayAvailable = [] { return true; };
            break;
        case Effect::LoadFavorites:
            f.folder.write("favorites.dat", "[Rock FM]\ngenre=Rock\nbitrate=128\n");
            break;
        case Effect::Play:
            form.ListView1->topLevelItem(1)->setSelected(true); // Jazz Radio
            break;
        case Effect::Share:
            form.Edit4->setText("http://jazz.example"); // a station to share
            break;
        default:
            break;
        }
    }

    void verify() {
        TForm1& form = f_.form();
        Forms& forms = f_.app->forms();
        switch (effect_) {
        case Effect::AddRadio:
            QCOMPARE(count("Button6"), 1);
            QVERIFY2(addWindowOpenAtButton6_, "Button6 opens the Add window and hides the player");
            verifyStopped();
            verifyClosedByEscape(forms.Form2);
            QVERIFY(form.isVisible());
            break;
        case Effect::Stop:
            verifyStopped();
            QCOMPARE(count("Button6"), 0);
            break;
        case Effect::RemoveRadio:
            QCOMPARE(count("Button7"), 1);
            QCOMPARE(count("Button5"), 0);
            break;
        case Effect::ReloadList:
            QCOMPARE(form.ComboBox2->currentText(), QString("All"));
            QCOMPARE(f_.listNames(), QStringList({"ambient waves", "Jazz Radio", "Rock FM"}));
            break;
        case Effect::Lyrics:
            QVERIFY(forms.Form6->isVisible());
            verifyClosedByEscape(forms.Form6);
            break;
        case Effect::HideToTray:
            QVERIFY(form.HiddenToTray);
            QVERIFY(!form.isVisible());
            break;
        case Effect::Share:
            QVERIFY(form.share->isVisible());
            break;
        case Effect::Exit: {
            QVERIFY(form.closing());
            f_.app->destroyWindows();
            QVERIFY(!f_.folder.exists("temp.dat"));
            IniFile saved(f_.folder.file("settings/settings.dat"));
            QCOMPARE(saved.ReadString("radio", "version"), QString("1.3"));
            break;
        }
        case Effect::Settings:
            QVERIFY(forms.Settings->isVisible());
            verifyClosedByEscape(forms.Settings);
            break;
        case Effect::Skins:
            QVERIFY(form.skinpanel->isVisible());
            break;
        case Effect::AddFavorite:
            QCOMPARE(count("Button4"), 1);
            QCOMPARE(count("Button5"), 0);
            break;
        case Effect::RemoveFavorite:
            QCOMPARE(count("Button5"), 1);
            QCOMPARE(count("Button4"), 0);
            break;
        case Effect::LoadFavorites:
            QCOMPARE(f_.listNames(), QStringList({"Rock FM"}));
            break;
        case Effect::About:
            QVERIFY(forms.Form9->isVisible());
            verifyClosedByEscape(forms.Form9);
            break;
        case Effect::Help:
            QVERIFY(forms.Form10->isVisible());
            verifyClosedByEscape(forms.Form10);
            break;
        case Effect::FindStations:
            QVERIFY(forms.Form11->isVisible());
            verifyClosedByEscape(forms.Form11);
            break;
        case Effect::Play:
            QCOMPARE(form.Edit1->text(), QString("http://127.0.0.1:9/jazz"));
            QCOMPARE(form.Edit3->text(), QString("Jazz Radio"));
            QCOMPARE(count("Run"), 1);
            break;
        }
    }

private:
    int count(const char* name) { return spies_[name]->count(); }

    // The window the command opened closes with Escape, for keyboard users
    // without a window manager's key.
    static void verifyClosedByEscape(QWidget* window) {
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, Qt::Key_Escape);
        QVERIFY(!window->isVisible());
    }

    void verifyStopped() {
        QVERIFY(!f_.form().Timer3->Enabled());
        QCOMPARE(f_.form().Timer->text(), QString("00:00:00"));
    }

    AppFixture& f_;
    Effect effect_;
    std::map<std::string, std::shared_ptr<QSignalSpy>> spies_;
    bool addWindowOpenAtButton6_ = false;
};

// Stands for a control that keeps every key for itself, as a line edit does
// on desktops where Ctrl+E moves to the end of the line and Ctrl+D deletes.
class KeyClaimer : public QObject {
public:
    int claimed = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::ShortcutOverride)
            return false;
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Control:
        case Qt::Key_Alt:
        case Qt::Key_Shift:
        case Qt::Key_Meta:
            return false; // pressing a modifier alone
        default:
            event->accept();
            ++claimed;
            return false;
        }
    }
};

// Starts the program with the main window active (the update window that
// Timer2 would open is kept away, so it cannot take the activation).
bool startActive(AppFixture& f) {
    f.installProgramFolder();
    f.folder.write("settings/settings.dat", "[radio]\n");
    if (!f.start())
        return false;
    f.form().Timer2->stop();
    f.form().activateWindow();
    return QTest::qWaitForWindowActive(&f.form());
}

void finish(AppFixture& f) {
    if (f.app && f.app->form1())
        f.quit();
}

} // namespace

Q_DECLARE_METATYPE(const Entry*)

class CommandsTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { qApp->setStyleSheet(QString()); }

    void menuEntry_runsItsCommand_data();
    void menuEntry_runsItsCommand();
    void shortcut_runsItsCommandWhereverTheFocusIs_data();
    void shortcut_runsItsCommandWhereverTheFocusIs();
    void otherKeys_stillReachTheFocusedControl();
    void mainMenu_holdsEveryEntryInOrder();
    void popupPoint_isButtonCentreMoved40LeftAnd50Down();
    void listButtons_openTheirMenusAtTheComputedScreenPoint();
    void statusLabelClick_withNoStationDoesNothing();
    void everyControlAUserReaches_hasAnAccessibleName();
    void changingTexts_areReadAsTheyChange();
    void layout_fixedClientAreaWithEveryControlInside_data();
    void layout_fixedClientAreaWithEveryControlInside();
};

void CommandsTest::menuEntry_runsItsCommand_data() {
    QTest::addColumn<const Entry*>("entry");
    for (const Entry& e : Entries)
        QTest::addRow("%s / %s", e.menu[0] ? e.menu : "menu bar", e.text) << &e;
}

void CommandsTest::menuEntry_runsItsCommand() {
    QFETCH(const Entry*, entry);
    AppFixture f;
    QVERIFY(startActive(f));
    QAction* action = findEntry(f.form(), *entry);
    QVERIFY2(action, "no such entry");
    QCOMPARE(action->objectName(), QString::fromLatin1(entry->name));
    QCOMPARE(action->shortcut(), QKeySequence(QString::fromLatin1(entry->keys)));
    Probe probe(f, entry->effect);
    action->trigger();
    probe.verify();
    if (QTest::currentTestFailed())
        return;
    finish(f);
}

void CommandsTest::shortcut_runsItsCommandWhereverTheFocusIs_data() {
    QTest::addColumn<const Entry*>("entry");
    QTest::addColumn<QString>("focus");
    for (const Entry& e : Entries) {
        if (!e.keys[0])
            continue;
        for (const char* focus : {"Edit2", "ComboBox1", "ComboBox2", "ListView1", "sComboBox1"}) {
            // The skin chooser lives on the skin panel: with the focus there the
            // panel is already open, and opening it shows nothing new.
            if (e.effect == Effect::Skins && QByteArray(focus) == "sComboBox1")
                continue;
            QTest::addRow("%s in %s", e.keys, focus) << &e << QString::fromLatin1(focus);
        }
    }
}

void CommandsTest::shortcut_runsItsCommandWhereverTheFocusIs() {
    QFETCH(const Entry*, entry);
    QFETCH(QString, focus);
    AppFixture f;
    QVERIFY(startActive(f));
    TForm1& form = f.form();
    if (focus == "sComboBox1")
        form.ColorThemes1Click();
    // An editable combo box takes the focus itself and passes the keys on to
    // its text line.
    QWidget* target = form.findChild<QWidget*>(focus);
    QVERIFY(target);
    target->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), target);

    // Even a control that would keep the key for itself does not get it.
    KeyClaimer claimer;
    target->installEventFilter(&claimer);
    Probe probe(f, entry->effect);
    QTest::keySequence(target, QKeySequence(QString::fromLatin1(entry->keys)));
    probe.verify();
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(claimer.claimed, 0);
    if (f.app->form1())
        target->removeEventFilter(&claimer);
    finish(f);
}

void CommandsTest::otherKeys_stillReachTheFocusedControl() {
    AppFixture f;
    QVERIFY(startActive(f));
    QLineEdit* search = f.form().Edit2;
    search->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), search);
    QTest::keyClicks(search, "bbc");
    QTest::keyClick(search, Qt::Key_Home);
    QCOMPARE(search->cursorPosition(), 0);
    QTest::keyClick(search, Qt::Key_End);
    QCOMPARE(search->cursorPosition(), 3);
    QTest::keySequence(search, QKeySequence::SelectAll);
    QCOMPARE(search->selectedText(), QString("bbc"));
    QVERIFY(f.form().isVisible());
    finish(f);
}

void CommandsTest::mainMenu_holdsEveryEntryInOrder() {
    AppFixture f;
    QVERIFY(startActive(f));
    QStringList bar;
    for (QAction* a : f.form().menuBar()->actions())
        bar << a->text();
    QCOMPARE(bar, QStringList({"&Menu", "&Option", "&Favorites", "&Info", "SystemTray"}));
    QMap<QString, QStringList> expected;
    for (const Entry& e : Entries)
        expected[QString::fromLatin1(e.menu)] << QString::fromLatin1(e.text);
    // The sleep timer's submenu (its entries: test_media_controls).
    expected[QStringLiteral("&Option")] << QStringLiteral("Sleep &timer");
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (it.key().isEmpty())
            continue;
        QMenu* menu = nullptr;
        if (it.key().startsWith("PopupMenu"))
            menu = f.form().findChild<QMenu*>(it.key());
        for (QAction* a : f.form().menuBar()->actions()) {
            if (a->text() == it.key())
                menu = a->menu();
        }
        QVERIFY2(menu, qPrintable(it.key()));
        QStringList texts;
        for (QAction* a : menu->actions()) {
            if (!a->isSeparator())
                texts << a->text();
        }
        QCOMPARE(texts, it.value());
    }
    finish(f);
}

void CommandsTest::popupPoint_isButtonCentreMoved40LeftAnd50Down() {
    QCOMPARE(TForm1::popupPoint(QRect(10, 20, 60, 24)), QPoint(0, 82));
    QCOMPARE(TForm1::popupPoint(QRect(5, 7, 75, 25)), QPoint(2, 69)); // halves round down
    QCOMPARE(TForm1::popupPoint(QRect(0, 0, 40, 0)), QPoint(-20, 50));
}

void CommandsTest::listButtons_openTheirMenusAtTheComputedScreenPoint() {
    AppFixture f;
    QVERIFY(startActive(f));
    TForm1& form = f.form();
    // Near the screen's top left, so the menus open where they were asked to.
    form.move(form.screen()->availableGeometry().topLeft() + QPoint(20, 10));
    QTRY_COMPARE(form.pos(), form.screen()->availableGeometry().topLeft() + QPoint(20, 10));
    const std::pair<QPushButton*, QMenu*> buttons[] = {{form.sButton14, form.PopupMenu},
                                                       {form.sButton12, form.PopupMenu1}};
    for (auto [button, menu] : buttons) {
        QVERIFY(!menu->isVisible());
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY(menu->isVisible());
        // The button's centre in its own panel, 40 left and 50 down, taken as
        // a point of the client area (below the menu bar).
        const QRect g = button->geometry();
        const QPoint inClientArea(g.x() + g.width() / 2 - 40, g.y() + g.height() / 2 + 50);
        QCOMPARE(button->parentWidget(), form.sPanel4);
        QCOMPARE(menu->pos(), form.centralWidget()->mapToGlobal(inClientArea));
        menu->close();
    }
    finish(f);
}

void CommandsTest::statusLabelClick_withNoStationDoesNothing() {
    AppFixture f;
    QVERIFY(startActive(f));
    QVERIFY(f.form().Edit4->text().isEmpty());
    QTest::mouseClick(f.form().Label4, Qt::LeftButton);
    QVERIFY(f.messages.texts().isEmpty());
    QCOMPARE(f.form().Label4->text(), QString("No active station"));
    finish(f);
}

void CommandsTest::everyControlAUserReaches_hasAnAccessibleName() {
    AppFixture f;
    QVERIFY(startActive(f));
    TForm1& form = f.form();
    auto name = [](QWidget* w) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
        return iface ? iface->text(QAccessible::Name) : QString();
    };
    // The short words of the controls without a caption.
    QCOMPARE(name(form.TrackBar1), QString("Volume"));
    QCOMPARE(name(form.sGauge1), QString("Level"));
    QCOMPARE(name(form.ListView1), QString("Stations"));
    QCOMPARE(name(form.Edit2), QString("Search"));
    // A combo box's accessible name on this desktop is its text; screen
    // readers name it by the label it is labelled by, and by its own name.
    const std::pair<QComboBox*, const char*> boxes[] = {
        {form.ComboBox1, "Language"}, {form.ComboBox2, "Genre"}, {form.sComboBox1, "Skin"}};
    for (auto [box, word] : boxes) {
        QCOMPARE(box->accessibleName(), QString(word));
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(box);
        QStringList labels;
        for (const auto& relation : iface->relations(QAccessible::Label))
            labels << relation.first->text(QAccessible::Name);
        QVERIFY2(labels.contains(QString(word) + ":") || labels.contains("Select Skin:"),
                 qPrintable(labels.join(", ")));
    }
    // Captioned controls are named by their captions.
    QCOMPARE(name(form.play), QString("play"));
    QCOMPARE(name(form.SpeedButton3), QString("<<"));
    QCOMPARE(name(form.sButton12), QString("Favorites"));
    QCOMPARE(name(form.sBitBtn1), QString("Save"));

    // Every control the focus can reach, the panels shown on demand
    // included, and every label that acts on a click.
    form.ColorThemes1Click();
    form.share->show();
    QStringList unnamed;
    for (QWidget* w : form.centralWidget()->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&form))
            continue;
        // A label acts on a click when it shows something (the banner's
        // words are empty until an ad comes).
        const auto* label = qobject_cast<QLabel*>(w);
        const bool reachable = (w->focusPolicy() & Qt::TabFocus) ||
                               (label && w->cursor().shape() == Qt::PointingHandCursor &&
                                (!label->text().isEmpty() || !label->pixmap().isNull()));
        // A combo box's text line is named through its combo box.
        if (!reachable || qobject_cast<QComboBox*>(w->parentWidget()))
            continue;
        if (w->accessibleName().trimmed().isEmpty() && name(w).trimmed().isEmpty())
            unnamed << w->objectName() + " (" + w->metaObject()->className() + ")";
    }
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));

    // The main window is a frame; every other window of the program a
    // dialog, named by its caption, so that a screen reader announces it.
    QStringList windows;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        const QString type = QString::fromLatin1(w->metaObject()->className());
        if (!type.startsWith("tolvane::"))
            continue;
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
        QVERIFY(iface);
        const QAccessible::Role role = w == &form ? QAccessible::Window : QAccessible::Dialog;
        QVERIFY2(iface->role() == role, qPrintable(type));
        QCOMPARE(iface->text(QAccessible::Name), w->windowTitle());
        windows << w->windowTitle();
    }
    for (const char* caption : {"Tolvane", "Add Radio Station", "Remove Radio", "Settings",
                                "Update", "Lyrics", "Song info", "About", "Help"})
        QVERIFY2(windows.contains(caption), qPrintable(windows.join(", ")));
    finish(f);
}

void CommandsTest::changingTexts_areReadAsTheyChange() {
    AppFixture f;
    QVERIFY(startActive(f));
    TForm1& form = f.form();
    auto text = [](QWidget* w, QAccessible::Text kind) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
        return iface ? iface->text(kind) : QString();
    };
    struct Row {
        QWidget* control;
        std::function<void()> change;
        QString name;        // read after the change
        QString description; // what the control is, or its state
    };
    const Row rows[] = {
        {form.Label3, [&] { form.StatusMessage(7, 0, "Artist - First Song"); },
         "Artist - First Song", "Song title"},
        {form.Label4, [&] { form.StatusMessage(3, 0, "Rock FM"); }, "Rock FM", "Status"},
        {form.Label4, [&] { form.StatusMessage(0, 0, QString()); }, "connecting...", "Status"},
        {form.Label5, [&] { form.StatusMessage(4, 0, "128 kbps"); }, "128 kbps", "Bitrate"},
        {form.Timer, [&] { form.Timer3Timer(); }, "00:00:01", "Elapsed time"},
        {form.SpeedButton2, [&] { setCaption(form.SpeedButton2, "..."); }, "...", QString()},
        {form.SpeedButton2, [&] { setCaption(form.SpeedButton2, "&rec"); }, "rec", QString()},
        {form.mute, [&] { form.mute->click(); }, "mute", "Volume off"},
        {form.mute, [&] { form.mute->click(); }, "mute", "Volume on"},
    };
    form.Button11Click(); // the clock from 00:00:00, ticked by hand below
    form.Timer3->stop();
    for (const Row& row : rows) {
        row.change();
        const QByteArray where = row.control->objectName().toUtf8() + " after " + row.name.toUtf8();
        QVERIFY2(text(row.control, QAccessible::Name) == row.name, where);
        QVERIFY2(text(row.control, QAccessible::Description) == row.description, where);
    }
    finish(f);
}

void CommandsTest::layout_fixedClientAreaWithEveryControlInside_data() {
    QTest::addColumn<QString>("skin");
    QTest::newRow("no skin") << QString();
    for (const char* skin : {"Midnight", "Daylight", "Ocean"})
        QTest::newRow(skin) << QString::fromLatin1(skin);
}

void CommandsTest::layout_fixedClientAreaWithEveryControlInside() {
    QFETCH(QString, skin);
    AppFixture f;
    f.installProgramFolder();
    QByteArray settings = "[radio]\n";
    if (!skin.isEmpty()) {
        QFile shipped(test::sourceDir() + "/data/Skins/" + skin + ".qss");
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        f.folder.write("Skins/" + skin + ".qss", shipped.readAll());
        settings += "skin=" + skin.toUtf8() + "\n";
    }
    f.folder.write("settings/settings.dat", settings);
    // A skin that does not parse is reported by Qt as a warning.
    QTest::failOnWarning(
        QRegularExpression("style ?sheet", QRegularExpression::CaseInsensitiveOption));
    QVERIFY(f.start());
    TForm1& form = f.form();
    QCOMPARE(qApp->styleSheet().isEmpty(), skin.isEmpty());
    QApplication::processEvents();

    QCOMPARE(form.windowTitle(), QString("Tolvane"));
    QCOMPARE(form.centralWidget()->size(), QSize(313, 454));
    QVERIFY(form.menuBar()->isVisible());
    QVERIFY(form.menuBar()->geometry().bottom() < form.centralWidget()->geometry().top());
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    const QPoint screenCentre = form.screen()->availableGeometry().center();
    // Centred, give or take the window frame that the desktop adds.
    const QSize frame = form.frameGeometry().size() - form.geometry().size();
    QVERIFY((form.frameGeometry().center() - screenCentre).manhattanLength() <=
            frame.width() + frame.height() + 2);
    QCOMPARE(form.sPanel1->height(), 105);
    QCOMPARE(form.nekipanel->height(), 73);
    form.ColorThemes1Click();
    QCOMPARE(form.skinpanel->height(), 46);
    QCOMPARE(form.skinpanel->width(), 313);
    QCOMPARE(form.ListView1->header()->count(), 3);
    QVERIFY(form.ListView1->columnWidth(0) >= 110);
    QCOMPARE(form.ListView1->columnWidth(1), 50);
    QCOMPARE(form.ListView1->columnWidth(2), 80);
    // The banner's words and the share panel, shown for the check below.
    QCOMPARE(form.Label6->size(), QSize(279, 22));
    QCOMPARE(form.Label7->size(), QSize(287, 41));
    QVERIFY(form.Label6->wordWrap() && form.Label7->wordWrap());
    QCOMPARE(form.Label6->font().pixelSize(), 13);
    QVERIFY(form.Label6->font().bold());
    QCOMPARE(form.Label7->font().pixelSize(), 11);
    form.share->show();
    QCOMPARE(form.share->size(), QSize(265, 89));
    QCOMPARE(form.share->y(), 0);

    // Nothing is cut off by the fixed size: every shown control lies wholly
    // inside the client area, and inside the panel that holds it.
    QWidget* client = form.centralWidget();
    for (QWidget* w : client->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&form) || w->isWindow())
            continue;
        const QRect inClient(w->mapTo(client, QPoint(0, 0)), w->size());
        QVERIFY2(client->rect().contains(inClient),
                 qPrintable(w->objectName() + " lies outside the client area"));
        QVERIFY2(w->parentWidget()->rect().contains(w->geometry()),
                 qPrintable(w->objectName() + " is cut off by its panel"));
    }
    // The captions fit their buttons, and the volume bar and the search box
    // keep a useful size next to them.
    for (QAbstractButton* b : client->findChildren<QAbstractButton*>()) {
        if (b->isVisibleTo(&form))
            QVERIFY2(b->width() >= b->fontMetrics().horizontalAdvance(b->text()) + 6,
                     qPrintable(b->objectName()));
    }
    QVERIFY2(form.TrackBar1->width() >= 72, qPrintable(QString::number(form.TrackBar1->width())));
    QVERIFY2(form.Edit2->width() >= 90, qPrintable(QString::number(form.Edit2->width())));
    QVERIFY(form.Edit2->width() > form.sButton12->width());
    finish(f);
}

QTEST_MAIN(CommandsTest)
#include "test_commands.moc"
