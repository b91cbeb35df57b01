#include "TForm1.h"

#include "Accessibility.h"
#include "Forms.h"
#include "StationListView.h"
#include "common/Errors.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "online/TForm10.h"
#include "online/TForm6.h"
#include "online/TForm7.h"
#include "online/TForm9.h"
#include "online/WebService.h"
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
#include <QNetworkAccessManager>
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

constexpr int ClientWidth = 313;
constexpr int ClientHeight = 454;
constexpr int StatusHeight = 105;
constexpr int TransportHeight = 34;
constexpr int BannerHeight = 73;
constexpr int SkinPanelHeight = 46;

QFrame* panel(const char* name, QWidget* parent) {
    auto* f = new QFrame(parent);
    f->setObjectName(QString::fromLatin1(name));
    return f;
}

QLabel* label(const char* name, const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

QToolButton* toolButton(const char* name, const QString& caption, QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    setCaption(b, caption);
    b->setAutoRaise(false);
    b->setFocusPolicy(Qt::TabFocus);
    b->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    return b;
}

QPushButton* pushButton(const char* name, const QString& caption, QWidget* parent) {
    auto* b = new QPushButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    setCaption(b, caption);
    b->setAutoDefault(false);
    return b;
}

QLineEdit* hiddenField(const char* name, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->hide();
    return e;
}

// Keeps a text button as narrow as its caption allows, so the volume bar and
// the search box get the room that the style's minimum button width would
// take (some styles make every captioned push button 80 pixels wide).
void fitToCaption(QAbstractButton* b, int padding) {
    b->setMaximumWidth(b->fontMetrics().horizontalAdvance(b->text()) + padding);
}

// The banner strip while no banner is shown: a faint row of level bars in
// the panel's own text colour, so the strip reads as part of the player and
// not as a hole. A banner picture or text drawn on top replaces it.
class BannerPlaceholder : public QObject {
public:
    BannerPlaceholder(QWidget* strip, const QLabel* picture, const QWidget* textPanel)
        : QObject(strip), strip_(strip), picture_(picture), textPanel_(textPanel) {
        strip->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != strip_ || event->type() != QEvent::Paint || !isEmpty())
            return false;
        // The strip paints its skin first; the bars go on top.
        static_cast<QObject*>(strip_)->event(event);
        paint();
        return true;
    }

private:
    bool isEmpty() const {
        return picture_->pixmap().isNull() && picture_->text().isEmpty() &&
               !textPanel_->isVisible();
    }

    void paint() const {
        QPainter p(strip_);
        p.setRenderHint(QPainter::Antialiasing);
        QColor ink = strip_->palette().color(QPalette::WindowText);
        const QRect area = strip_->rect().adjusted(14, 14, -14, -14);
        constexpr int Bars = 40;
        const qreal step = qreal(area.width()) / Bars;
        const qreal barWidth = step * 0.55;
        for (int i = 0; i < Bars; ++i) {
            // A still "spectrum": two gentle swells, fading at both ends.
            const qreal x = qreal(i) / (Bars - 1);
            const qreal swell =
                0.55 * std::pow(std::sin(x * M_PI), 1.5) +
                0.30 * std::pow(std::sin(x * 3 * M_PI + 0.6), 2) * std::sin(x * M_PI) + 0.08;
            const qreal h = std::max<qreal>(2, swell * area.height());
            ink.setAlphaF(0.10 + 0.10 * std::sin(x * M_PI));
            p.setPen(Qt::NoPen);
            p.setBrush(ink);
            const QRectF bar(area.left() + i * step + (step - barWidth) / 2,
                             area.center().y() - h / 2, barWidth, h);
            p.drawRoundedRect(bar, barWidth / 2, barWidth / 2);
        }
    }

    QWidget* strip_;
    const QLabel* picture_;
    const QWidget* textPanel_;
};

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

void TForm1::buildLayout() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("ClientArea"));
    central->setFixedSize(ClientWidth, ClientHeight);
    setCentralWidget(central);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // 1. Status area.
    sPanel1 = panel("sPanel1", central);
    sPanel1->setFixedHeight(StatusHeight);
    sPanel1->setFrameShape(QFrame::StyledPanel);
    auto* status = new QHBoxLayout(sPanel1);
    status->setContentsMargins(6, 6, 6, 6);
    status->setSpacing(6);
    sGauge1 = new QProgressBar(sPanel1);
    sGauge1->setObjectName(QStringLiteral("sGauge1"));
    sGauge1->setOrientation(Qt::Vertical);
    sGauge1->setTextVisible(false);
    sGauge1->setRange(0, 100);
    sGauge1->setValue(0);
    sGauge1->setFixedWidth(8);
    sGauge1->setAccessibleName(QStringLiteral("Level"));
    status->addWidget(sGauge1);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    Label3 = label("Label3", QString(), sPanel1);
    Label3->setAlignment(Qt::AlignCenter);
    Label3->setWordWrap(true);
    describeChangingLabel(Label3, QStringLiteral("Song title"));
    QFont titleFont = Label3->font();
    titleFont.setBold(true);
    Label3->setFont(titleFont);
    Label4 = label("Label4", QStringLiteral("No active station"), sPanel1);
    Label4->setAlignment(Qt::AlignCenter);
    Label4->setWordWrap(true);
    Label4->setCursor(Qt::PointingHandCursor);
    describeChangingLabel(Label4, QStringLiteral("Status"));
    Label5 = label("Label5", QString(), sPanel1);
    Label5->setAlignment(Qt::AlignCenter);
    describeChangingLabel(Label5, QStringLiteral("Bitrate"));
    Timer = label("Timer", QStringLiteral("00:00:00"), sPanel1);
    Timer->setAlignment(Qt::AlignCenter);
    describeChangingLabel(Timer, QStringLiteral("Elapsed time"));
    texts->addWidget(Label3, 2);
    texts->addWidget(Label4, 1);
    texts->addWidget(Label5);
    texts->addWidget(Timer);
    status->addLayout(texts, 1);

    sPanel2 = panel("sPanel2", sPanel1);
    sPanel2->setFrameShape(QFrame::StyledPanel);
    sPanel2->setFixedSize(88, 88);
    auto* pictureBox = new QVBoxLayout(sPanel2);
    pictureBox->setContentsMargins(3, 3, 3, 3);
    Image1 = label("Image1", QString(), sPanel2);
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setScaledContents(true);
    Image1->setAccessibleName(QStringLiteral("Station picture"));
    pictureBox->addWidget(Image1);
    status->addWidget(sPanel2, 0, Qt::AlignVCenter);
    Image2 = label("Image2", QString(), sPanel1);
    Image2->setPixmap(QPixmap(ProgramPath(QStringLiteral("Images/station.png"))));
    Image2->hide();
    column->addWidget(sPanel1);

    // The share panel lies over the status area when shown.
    share = panel("share", sPanel1);
    share->setGeometry(0, 0, ClientWidth, StatusHeight);
    share->setAutoFillBackground(true);
    auto* shareBox = new QVBoxLayout(share);
    auto* shareText =
        label("ShareText", QStringLiteral("Share radio station on facebook and twitter"), share);
    shareText->setAlignment(Qt::AlignCenter);
    shareText->setWordWrap(true);
    auto* shareRow = new QHBoxLayout;
    Image4 = label("Image4", QString(), share);
    Image4->setPixmap(QPixmap(ProgramPath(QStringLiteral("Images/share-facebook.png"))));
    Image4->setCursor(Qt::PointingHandCursor);
    Image4->setAccessibleName(QStringLiteral("Facebook"));
    Image5 = label("Image5", QString(), share);
    Image5->setPixmap(QPixmap(ProgramPath(QStringLiteral("Images/share-twitter.png"))));
    Image5->setCursor(Qt::PointingHandCursor);
    Image5->setAccessibleName(QStringLiteral("Twitter"));
    sWebLabel1 = label("sWebLabel1", QStringLiteral("Close"), share);
    sWebLabel1->setCursor(Qt::PointingHandCursor);
    sWebLabel1->setAccessibleName(QStringLiteral("Close"));
    shareRow->addStretch();
    shareRow->addWidget(Image4);
    shareRow->addWidget(Image5);
    shareRow->addStretch();
    shareBox->addWidget(shareText);
    shareBox->addLayout(shareRow);
    shareBox->addWidget(sWebLabel1, 0, Qt::AlignRight);
    share->hide();

    // 2. Transport row.
    sPanel3 = panel("sPanel3", central);
    sPanel3->setFixedHeight(TransportHeight);
    auto* transport = new QHBoxLayout(sPanel3);
    transport->setContentsMargins(4, 3, 6, 3);
    transport->setSpacing(2);
    SpeedButton3 = toolButton("SpeedButton3", QStringLiteral("<<"), sPanel3);
    play = toolButton("play", QStringLiteral("play"), sPanel3);
    stop = toolButton("stop", QStringLiteral("stop"), sPanel3);
    SpeedButton2 = toolButton("SpeedButton2", QStringLiteral("rec"), sPanel3);
    next = toolButton("next", QStringLiteral(">>"), sPanel3);
    mute = toolButton("mute", QStringLiteral("mute"), sPanel3);
    mute->setAccessibleDescription(QStringLiteral("Volume on"));
    for (QToolButton* b : {SpeedButton3, play, stop, SpeedButton2, next, mute}) {
        fitToCaption(b, 12);
        transport->addWidget(b);
    }
    // "rec" and "..." take the same room, so the row keeps still while recording.
    SpeedButton2->setMinimumWidth(SpeedButton2->maximumWidth());
    transport->addSpacing(4);
    TrackBar1 = new QSlider(Qt::Horizontal, sPanel3);
    TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
    TrackBar1->setRange(0, 100);
    TrackBar1->setValue(100);
    TrackBar1->setPageStep(10);
    TrackBar1->setMinimumWidth(72);
    TrackBar1->setFocusPolicy(Qt::StrongFocus);
    TrackBar1->setAccessibleName(QStringLiteral("Volume"));
    TrackBar1->setToolTip(QStringLiteral("Volume"));
    transport->addWidget(TrackBar1, 1);
    column->addWidget(sPanel3);

    // 3. Catalog area.
    sPanel4 = panel("sPanel4", central);
    auto* catalog = new QGridLayout(sPanel4);
    catalog->setContentsMargins(6, 4, 6, 4);
    catalog->setHorizontalSpacing(6);
    catalog->setVerticalSpacing(3);
    LanguageLabel = label("LanguageLabel", QStringLiteral("Language:"), sPanel4);
    GenreLabel = label("GenreLabel", QStringLiteral("Genre:"), sPanel4);
    ComboBox1 = new QComboBox(sPanel4);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setAccessibleName(QStringLiteral("Language"));
    ComboBox2 = new QComboBox(sPanel4);
    ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
    ComboBox2->setEditable(true);
    ComboBox2->setInsertPolicy(QComboBox::NoInsert);
    ComboBox2->setAccessibleName(QStringLiteral("Genre"));
    // A filter is exactly what the user typed: no completion into an entry,
    // which would run a load for each completed text and rewrite the box.
    ComboBox1->setCompleter(nullptr);
    ComboBox2->setCompleter(nullptr);
    LanguageLabel->setBuddy(ComboBox1);
    GenreLabel->setBuddy(ComboBox2);
    catalog->addWidget(LanguageLabel, 0, 0, 1, 2);
    catalog->addWidget(GenreLabel, 0, 2, 1, 2);
    catalog->addWidget(ComboBox1, 1, 0, 1, 2);
    catalog->addWidget(ComboBox2, 1, 2, 1, 2);

    ListView1 = new StationListView(sPanel4);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setAccessibleName(QStringLiteral("Stations"));
    ListView1->setAlternatingRowColors(true);
    ListView1->header()->setSectionsMovable(false);
    // Columns start at 110, 50 and 80 pixels; the user may widen them.
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->setMinimumSectionSize(40);
    ListView1->setColumnWidth(0, 110);
    ListView1->setColumnWidth(1, 50);
    ListView1->setColumnWidth(2, 80);
    catalog->addWidget(ListView1, 2, 0, 1, 4);
    catalog->setRowStretch(2, 1);

    sButton14 = pushButton("sButton14", QStringLiteral("Add"), sPanel4);
    sButton12 = pushButton("sButton12", QStringLiteral("Favorites"), sPanel4);
    Edit2 = new QLineEdit(sPanel4);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setAccessibleName(QStringLiteral("Search"));
    Edit2->setPlaceholderText(QStringLiteral("Station name"));
    Edit2->setClearButtonEnabled(true);
    searchbutton = pushButton("searchbutton", QStringLiteral("Search"), sPanel4);
    // The buttons keep to their captions; the search box takes the rest.
    auto* bottomRow = new QHBoxLayout;
    bottomRow->setSpacing(3);
    for (QPushButton* b : {sButton14, sButton12, searchbutton})
        fitToCaption(b, 18);
    bottomRow->addWidget(sButton14);
    bottomRow->addWidget(sButton12);
    bottomRow->addWidget(Edit2, 1);
    bottomRow->addWidget(searchbutton);
    catalog->addLayout(bottomRow, 3, 0, 1, 4);
    column->addWidget(sPanel4, 1);

    // The skin panel lies over the top of the catalog area when shown.
    skinpanel = panel("skinpanel", sPanel4);
    skinpanel->setGeometry(0, 0, ClientWidth, SkinPanelHeight);
    skinpanel->setAutoFillBackground(true);
    auto* skinRow = new QHBoxLayout(skinpanel);
    skinRow->setContentsMargins(6, 6, 6, 6);
    auto* skinLabel = label("SkinLabel", QStringLiteral("Select Skin:"), skinpanel);
    sComboBox1 = new QComboBox(skinpanel);
    sComboBox1->setObjectName(QStringLiteral("sComboBox1"));
    sComboBox1->setEditable(true);
    sComboBox1->setInsertPolicy(QComboBox::NoInsert);
    sComboBox1->setAccessibleName(QStringLiteral("Skin"));
    skinLabel->setBuddy(sComboBox1);
    sBitBtn1 = pushButton("sBitBtn1", QStringLiteral("Save"), skinpanel);
    skinRow->addWidget(skinLabel);
    skinRow->addWidget(sComboBox1, 1);
    skinRow->addWidget(sBitBtn1);
    skinpanel->hide();

    // 4. Banner area: a picture or a headline with text, one at a time.
    auto* banner = panel("BannerArea", central);
    banner->setFixedHeight(BannerHeight);
    auto* bannerStack = new QGridLayout(banner);
    bannerStack->setContentsMargins(0, 0, 0, 0);
    nekipanel = panel("nekipanel", banner);
    auto* pictureRow = new QHBoxLayout(nekipanel);
    pictureRow->setContentsMargins(0, 0, 0, 0);
    Image3 = label("Image3", QString(), nekipanel);
    Image3->setAlignment(Qt::AlignCenter);
    Image3->setCursor(Qt::PointingHandCursor);
    Image3->setAccessibleName(QStringLiteral("Banner"));
    pictureRow->addWidget(Image3);
    sPanel5 = panel("sPanel5", banner);
    auto* textColumn = new QVBoxLayout(sPanel5);
    textColumn->setContentsMargins(8, 4, 8, 4);
    Label6 = label("Label6", QString(), sPanel5);
    QFont bold = Label6->font();
    bold.setBold(true);
    Label6->setFont(bold);
    Label6->setCursor(Qt::PointingHandCursor);
    Label7 = label("Label7", QString(), sPanel5);
    Label7->setWordWrap(true);
    Label7->setCursor(Qt::PointingHandCursor);
    textColumn->addWidget(Label6);
    textColumn->addWidget(Label7, 1);
    bannerStack->addWidget(nekipanel, 0, 0);
    bannerStack->addWidget(sPanel5, 0, 0);
    sPanel5->hide();
    new BannerPlaceholder(nekipanel, Image3, sPanel5);
    column->addWidget(banner);

    // 6. Hidden: the commands' panel and the shared-state fields.
    sPanel6 = panel("sPanel6", central);
    sPanel6->hide();
    Edit1 = hiddenField("Edit1", sPanel6);
    Edit3 = hiddenField("Edit3", sPanel6);
    Edit4 = hiddenField("Edit4", sPanel6);
    Edit5 = hiddenField("Edit5", sPanel6);
    Edit6 = hiddenField("Edit6", sPanel6);
    Edit7 = hiddenField("Edit7", sPanel6);
    Edit8 = hiddenField("Edit8", sPanel6);

    WebBrowser1 = new QNetworkAccessManager(this);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));

    setFocusProxy(ListView1);
    // The list has the focus when the window first comes up: arrow keys
    // pick a station and Enter plays it.
    ListView1->setFocus();
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
                        std::function<void()> action) {
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

    QMenu* favorites = menuBar()->addMenu(QStringLiteral("&Favorites"));
    favorites->setObjectName(QStringLiteral("Favorites1"));
    entry(favorites, "Addtofavorites1", QStringLiteral("&Add to favorites"),
          QStringLiteral("Ctrl+F"), [this] { invoke(QStringLiteral("Button4")); });
    entry(favorites, "Removefromfavorites1", QStringLiteral("&Remove from favorites"),
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
    entry(PopupMenu, "RemoveRadio1", QStringLiteral("Remove Radio"), QString(),
          [this] { invoke(QStringLiteral("Button7")); });
    entry(PopupMenu, "Settings2", QStringLiteral("Settings"), QString(),
          [this, showWindow] { showWindow(forms_ ? forms_->Settings : nullptr); });

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    entry(PopupMenu1, "Addtofavorites2", QStringLiteral("Add to favorites"), QString(),
          [this] { invoke(QStringLiteral("Button4")); });
    entry(PopupMenu1, "Removefromfavorites2", QStringLiteral("Remove from favorites"), QString(),
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
    QIcon icon(ProgramPath(QStringLiteral("Images/tolvane-64.png")));
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
    auto guarded = [](std::function<void()> f) { return [f] { runGuarded(f); }; };
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
        l->setFocusPolicy(Qt::TabFocus);
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
