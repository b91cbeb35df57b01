#include "TForm1.h"

#include "Accessibility.h"
#include "Forms.h"
#include "StationListView.h"
#include "common/Errors.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "online/Pictures.h"
#include "online/TForm10.h"
#include "online/TForm6.h"
#include "online/TForm7.h"
#include "online/TForm9.h"
#include "online/WebService.h"
#include "playback/SleepTimer.h"
#include "playback/engine/Engine.h"
#include "recording/Recorder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QSlider>
#include <QSystemTrayIcon>
#include <QThread>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace tolvane {

namespace {

// The window's menu shortcuts win over whatever control has the focus: a
// line edit, list or combo box would otherwise keep keys such as Ctrl+E or
// Ctrl+D (end of line, delete) for itself. Installed on the application so
// that every control of the window, present or added later, is covered.
class ShortcutKeeper : public QObject {
public:
    explicit ShortcutKeeper(QMainWindow* window) : QObject(window), window_(window) {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::ShortcutOverride || !watched->isWidgetType())
            return false;
        if (static_cast<QWidget*>(watched)->window() != window_)
            return false;
        const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
        for (const QAction* a : window_->actions()) {
            if (a->isEnabled() && a->shortcuts().contains(pressed)) {
                // Left unaccepted, the key goes on to the window's shortcut.
                event->ignore();
                return true;
            }
        }
        return false;
    }

private:
    QMainWindow* window_;
};

} // namespace

TForm1::TForm1(engine::Engine& engine, QWidget* parent) : QMainWindow(parent), engine_(engine) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tolvane"));
    // Fixed single border with system menu and minimize box, no maximize box.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    buildLayout();
    buildTimers();
    buildCommands();
    buildMenus();
    new ShortcutKeeper(this);
    connectControls();
    startPlayback();
    // Not resizable: the window keeps the size of its panels and menu.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    IsConnected = [] { return ::tolvane::IsConnected(); };
    SystemTrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    created_ = FormCreate();
}

TForm1::~TForm1() {
    if (created_ && !destroyed_)
        FormDestroy();
}

void TForm1::buildTimers() {
    struct Row {
        tolvane::Timer** slot;
        const char* name;
        int interval;
        void (TForm1::*tick)();
    };
    const Row rows[] = {
        {&Timer1, "Timer1", 1500, &TForm1::Timer1Timer},
        {&Timer2, "Timer2", 100, &TForm1::Timer2Timer},
        {&Timer3, "Timer3", 1000, &TForm1::Timer3Timer},
        {&Timer4, "Timer4", 0, &TForm1::Timer4Timer},
        {&Timer5, "Timer5", 1500, &TForm1::Timer5Timer},
        {&Timer6, "Timer6", 0, &TForm1::Timer6Timer},
        {&Timer7, "Timer7", 8000, &TForm1::Timer7Timer},
        {&Timer8, "Timer8", 20, &TForm1::Timer8Timer},
    };
    for (const Row& r : rows) {
        auto* t = new tolvane::Timer(QString::fromLatin1(r.name), r.interval, this);
        const auto tick = r.tick;
        t->OnTimer = [this, tick] { runGuarded([&] { (this->*tick)(); }); };
        *r.slot = t;
    }
}

const std::vector<CommandEntry>& TForm1::commandTable() {
    static const std::vector<CommandEntry> table = {
        {"Run", "Run", [](TForm1& f) { f.RunClick(); }},
        {"Button3", "Load Playlist", [](TForm1& f) { f.Button3Click(); }},
        {"duplicates", "duplicates", [](TForm1& f) { f.duplicatesClick(); }},
        {"Button4", "Add to fav", [](TForm1& f) { f.Button4Click(); }},
        {"Button5", "Remove from fav", [](TForm1& f) { f.Button5Click(); }},
        {"Button6", "Add radio", [](TForm1& f) { f.Button6Click(); }},
        {"Button7", "Remove Radio", [](TForm1& f) { f.Button7Click(); }},
        {"Button8", "Reload list", [](TForm1& f) { f.Button8Click(); }},
        {"Button9", "Load favorites", [](TForm1& f) { f.Button9Click(); }},
        {"reload", "reload", [](TForm1& f) { f.reloadClick(); }},
        {"Button10", "Update", [](TForm1& f) { f.Button10Click(); }},
        {"Button11", "Start Clock", [](TForm1& f) { f.Button11Click(); }},
        {"Button12", "Reset Clock", [](TForm1& f) { f.Button12Click(); }},
        {"Button13x", "LoadImage", [](TForm1& f) { f.Button13xClick(); }},
        {"Button15", "show song tip", [](TForm1& f) { f.Button15Click(); }},
        {"Button13", "reklame", [](TForm1& f) { f.Button13Click(); }},
        {"Button16", "playreklame", [](TForm1& f) { f.Button16Click(); }},
        {"FindStations", "Find stations", [](TForm1& f) { f.FindStationsClick(); }},
    };
    return table;
}

void TForm1::buildCommands() {
    for (const CommandEntry& c : commandTable()) {
        auto* a = new QAction(QString::fromLatin1(c.caption), sPanel6);
        a->setObjectName(QString::fromLatin1(c.name));
        const auto handler = c.handler;
        connect(a, &QAction::triggered, this,
                [this, handler] { runGuarded([&] { handler(*this); }); });
        sPanel6->addAction(a);
    }
}

QAction* TForm1::command(const QString& name) const {
    for (QAction* a : sPanel6->actions()) {
        if (a->objectName() == name)
            return a;
    }
    return nullptr;
}

void TForm1::invoke(const QString& name) {
    if (QAction* a = command(name))
        a->trigger();
}

QPoint TForm1::popupPoint(const QRect& g) {
    return {g.left() + g.width() / 2 - 40, g.top() + g.height() / 2 + 50};
}

void TForm1::buildMenus() {
    auto entry = [this](QMenu* menu, const char* name, const QString& text, const QString& keys,
                        const std::function<void()>& action) {
        auto* a = new QAction(text, this);
        a->setObjectName(QString::fromLatin1(name));
        if (!keys.isEmpty())
            a->setShortcut(QKeySequence(keys));
        connect(a, &QAction::triggered, this, [action] { runGuarded(action); });
        if (menu)
            menu->addAction(a);
        addAction(a); // the window's shortcuts (see ShortcutKeeper)
        return a;
    };
    auto showWindow = [](QWidget* w) {
        if (w) {
            w->show();
            w->raise();
            w->activateWindow();
        }
    };

    QMenu* menu = menuBar()->addMenu(QStringLiteral("&Menu"));
    menu->setObjectName(QStringLiteral("Menu1"));
    entry(menu, "Addradiostation1", QStringLiteral("&Add radio station"), QStringLiteral("Ins"),
          [this] {
              invoke(QStringLiteral("Button6"));
              stopClick();
          });
    entry(menu, "Findstationsonline1", QStringLiteral("Find stations online..."),
          QStringLiteral("Ctrl+K"), [this] { invoke(QStringLiteral("FindStations")); });
    entry(menu, "Removeradiostation1", QStringLiteral("&Remove radio station"),
          QStringLiteral("Ctrl+D"), [this] { invoke(QStringLiteral("Button7")); });
    entry(menu, "ReloadPlaylist1", QStringLiteral("&Reload Playlist"), QStringLiteral("Ctrl+R"),
          [this] { invoke(QStringLiteral("Button8")); });
    entry(menu, "Lyrics1", QStringLiteral("Lyrics"), QStringLiteral("Ctrl+I"),
          [this, showWindow] { showWindow(forms_ ? forms_->Form6 : nullptr); });
    entry(menu, "Minimizetosystemtray1", QStringLiteral("Minimize to system tray"),
          QStringLiteral("Ctrl+M"), [this] { MinimizeToTray(); });
    entry(menu, "ShareonFacebookandTwitter1", QStringLiteral("Share on Facebook and Twitter"),
          QString(), [this] { ShareonFacebookandtwitter1Click(); });
    menu->addSeparator();
    entry(menu, "Exit1", QStringLiteral("&Exit"), QStringLiteral("Ctrl+E"), [this] { close(); });

    QMenu* option = menuBar()->addMenu(QStringLiteral("&Option"));
    option->setObjectName(QStringLiteral("Option1"));
    entry(option, "Settings1", QStringLiteral("&Settings"), QStringLiteral("Ctrl+S"),
          [this, showWindow] { showWindow(forms_ ? forms_->Settings : nullptr); });
    entry(option, "ColorThemes1", QStringLiteral("Skins"), QStringLiteral("Ctrl+Alt+S"),
          [this] { ColorThemes1Click(); });
    buildSleepMenu(option);

    QMenu* favorites = menuBar()->addMenu(QStringLiteral("&Favorites"));
    favorites->setObjectName(QStringLiteral("Favorites1"));
    entry(favorites, "Addtofavorites1", QStringLiteral("&Add to favorites"),
          QStringLiteral("Ctrl+F"), [this] { invoke(QStringLiteral("Button4")); });
    entry(favorites, "Removefromfavorites2", QStringLiteral("&Remove from favorites"),
          QStringLiteral("Ctrl+Alt+R"), [this] { invoke(QStringLiteral("Button5")); });
    entry(favorites, "LoadPlaylist1", QStringLiteral("&Load Playlist"), QStringLiteral("F12"),
          [this] { invoke(QStringLiteral("Button9")); });

    QMenu* info = menuBar()->addMenu(QStringLiteral("&Info"));
    info->setObjectName(QStringLiteral("Info1"));
    entry(info, "About1", QStringLiteral("&About"), QString(),
          [this, showWindow] { showWindow(forms_ ? forms_->Form9 : nullptr); });
    entry(info, "Help1", QStringLiteral("&Help"), QString(),
          [this, showWindow] { showWindow(forms_ ? forms_->Form10 : nullptr); });

    // A menu-bar item without entries: choosing it acts at once.
    QAction* tray = entry(nullptr, "SystemTray1", QStringLiteral("SystemTray"), QString(),
                          [this] { MinimizeToTray(); });
    menuBar()->addAction(tray);

    // Popup menus under the list buttons.
    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    entry(PopupMenu, "sdfsdfsdf1", QStringLiteral("Add Radio Station"), QString(), [this] {
        invoke(QStringLiteral("Button6"));
        stopClick();
    });
    entry(PopupMenu, "Findstationsonline2", QStringLiteral("Find stations online..."), QString(),
          [this] { invoke(QStringLiteral("FindStations")); });
    entry(PopupMenu, "emoveradio1", QStringLiteral("Remove Radio"), QString(),
          [this] { invoke(QStringLiteral("Button7")); });
    entry(PopupMenu, "Settings2", QStringLiteral("Settings"), QString(),
          [this, showWindow] { showWindow(forms_ ? forms_->Settings : nullptr); });

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    entry(PopupMenu1, "Addtofavorites2", QStringLiteral("Add to favorites"), QString(),
          [this] { invoke(QStringLiteral("Button4")); });
    entry(PopupMenu1, "Removefromfavorites1", QStringLiteral("Remove from favorites"), QString(),
          [this] { invoke(QStringLiteral("Button5")); });
    entry(PopupMenu1, "LoadFavorites1", QStringLiteral("Load Favorites"), QString(),
          [this] { invoke(QStringLiteral("Button9")); });

    // The notification-area icon's menu.
    PopupMenu3 = new QMenu(this);
    PopupMenu3->setObjectName(QStringLiteral("PopupMenu3"));
    entry(PopupMenu3, "Play1", QStringLiteral("&Play"), QString(), [this] { playClick(); });
    entry(PopupMenu3, "Stop1", QStringLiteral("&Stop"), QString(), [this] { stopClick(); });
    entry(PopupMenu3, "Exit2", QStringLiteral("&Exit"), QString(), [this] { close(); });

    // The notification-area icon stays from start to end, shown or hidden.
    QIcon icon(ProgramPicture(QStringLiteral("Images/tolvane-64.png")));
    setWindowIcon(icon);
    CoolTrayIcon1 = new QSystemTrayIcon(icon, this);
    CoolTrayIcon1->setObjectName(QStringLiteral("CoolTrayIcon1"));
    CoolTrayIcon1->setContextMenu(PopupMenu3);
    connect(CoolTrayIcon1, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    ShowFromTray();
            });
    CoolTrayIcon1->show();
}

void TForm1::connectControls() {
    auto guarded = [](const std::function<void()>& f) { return [f] { runGuarded(f); }; };
    connect(SpeedButton3, &QToolButton::clicked, this, guarded([this] { PreviousStation(); }));
    connect(play, &QToolButton::clicked, this, guarded([this] { playClick(); }));
    connect(stop, &QToolButton::clicked, this, guarded([this] { stopClick(); }));
    connect(SpeedButton2, &QToolButton::clicked, this, guarded([this] { sButton3Click(); }));
    connect(next, &QToolButton::clicked, this, guarded([this] { NextStation(); }));
    connect(mute, &QToolButton::clicked, this, guarded([this] { muteClick(); }));
    connect(TrackBar1, &QSlider::valueChanged, this, guarded([this] { TrackBar1Change(); }));

    // A change of either filter box, picked or typed, lists the catalog anew.
    connect(ComboBox1, &QComboBox::editTextChanged, this,
            guarded([this] { invoke(QStringLiteral("Button3")); }));
    connect(ComboBox2, &QComboBox::editTextChanged, this,
            guarded([this] { invoke(QStringLiteral("Button3")); }));

    // Mouse presses on the list's empty space are the window's own (see
    // eventFilter), so a double click there acts on the row still selected.
    ListView1->viewport()->installEventFilter(this);
    ListView1->installEventFilter(this);
    Edit2->installEventFilter(this);
    connect(searchbutton, &QPushButton::clicked, this, guarded([this] { FindStation(); }));

    connect(sButton14, &QPushButton::clicked, this, [this] {
        PopupMenu->popup(
            mapToGlobal(centralWidget()->mapTo(this, popupPoint(sButton14->geometry()))));
    });
    connect(sButton12, &QPushButton::clicked, this, [this] {
        PopupMenu1->popup(
            mapToGlobal(centralWidget()->mapTo(this, popupPoint(sButton12->geometry()))));
    });

    Label4->installEventFilter(this);
    // The clickable pictures and labels take the keyboard focus too, and
    // Enter or Space acts like a click.
    for (QLabel* l : {Image3, Label6, Label7, Image4, Image5, sWebLabel1}) {
        l->installEventFilter(this);
        l->setFocusPolicy(l->text().isEmpty() && l->pixmap().isNull() && l != Image3
                              ? Qt::NoFocus // the banner's words, until an ad has some
                              : Qt::TabFocus);
    }

    connect(sComboBox1, &QComboBox::editTextChanged, this, guarded([this] { sComboBox1Change(); }));
    connect(sBitBtn1, &QPushButton::clicked, this, guarded([this] { sBitBtn1Click(); }));
    connect(Edit5, &QLineEdit::textChanged, this, guarded([this] { Edit5Change(); }));
}

QString TForm1::SongTitle() const {
    return Edit5->text();
}

QString TForm1::TestStreamUrl() const {
    return Edit8->text();
}

void TForm1::setSongTitle(const QString& title) {
    // Only a different text is a song change.
    if (Edit5->text() != title)
        Edit5->setText(title);
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!closing_) {
        closing_ = true;
        runGuarded([this] { FormClose(); });
    }
    event->accept();
    // Ends the message loop without asking the other windows to close: one
    // of them (the update window during its pass) may refuse, which would
    // leave the player running with no main window. exit() would also end
    // every loop started later, so it is used only inside a running loop.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(0);
    else
        QApplication::quit();
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Restoring from the minimized state is not a showing of the window.
    if (!event->spontaneous())
        runGuarded([this] { FormShow(); });
}

bool TForm1::clickLabel(QObject* watched) {
    const std::pair<QLabel*, void (TForm1::*)()> clicks[] = {
        {Image3, &TForm1::Image3Click}, {Label6, &TForm1::Label6Click},
        {Label7, &TForm1::Label7Click}, {Image4, &TForm1::Image4Click},
        {Image5, &TForm1::Image5Click},
    };
    for (const auto& [label, handler] : clicks) {
        if (watched == label) {
            runGuarded([this, h = handler] { (this->*h)(); });
            return true;
        }
    }
    if (watched == sWebLabel1) {
        share->hide();
        return true;
    }
    return false;
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ListView1 && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            runGuarded([this] { invoke(QStringLiteral("Run")); });
            return true;
        }
        return false;
    }
    if (watched == ListView1->viewport()) {
        const QEvent::Type type = event->type();
        if (type == QEvent::MouseButtonDblClick) {
            runGuarded([this] { sListView1DblClick(); });
            return true;
        }
        // A click below the rows would clear the selection; it keeps it.
        if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease) &&
            !ListView1->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint()).isValid()) {
            ListView1->setFocus(Qt::MouseFocusReason);
            return true;
        }
        return false;
    }
    if (watched == Edit2 && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (!Edit2->text().isEmpty())
                runGuarded([this] { FindStation(); });
            return true;
        }
        return false;
    }
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == Label4) {
            runGuarded([this] { Label4Click(); });
            return true;
        }
        if (clickLabel(watched))
            return true;
    }
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) &&
            clickLabel(watched))
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace tolvane
