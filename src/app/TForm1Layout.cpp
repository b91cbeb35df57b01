// The main window's controls and their layout: the status area, the
// transport row, the catalog area, the banner strip and the panels shown
// on demand, each control named as the rest of the program knows it.

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

constexpr int ClientWidth = 313;
constexpr int ClientHeight = 454;
constexpr int StatusHeight = 105;
constexpr int TransportHeight = 34;
constexpr int BannerHeight = 73;
constexpr int SkinPanelHeight = 46;
constexpr QSize SharePanelSize(265, 89);

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
// not as a hole. The bars are drawn on whichever of the two panels is in
// front (the text panel shows at start with empty labels); a banner picture
// or text replaces them.
class BannerPlaceholder : public QObject {
public:
    BannerPlaceholder(QWidget* picturePanel, QWidget* textPanel, const QLabel* picture,
                      const QLabel* heading, const QLabel* text)
        : QObject(picturePanel), picturePanel_(picturePanel), textPanel_(textPanel),
          picture_(picture), heading_(heading), text_(text) {
        picturePanel->installEventFilter(this);
        textPanel->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if ((watched != picturePanel_ && watched != textPanel_) || event->type() != QEvent::Paint ||
            !isEmpty())
            return false;
        auto* panel = static_cast<QWidget*>(watched);
        // The panel paints its skin first; the bars go on top.
        static_cast<QObject*>(panel)->event(event);
        paint(panel);
        return true;
    }

private:
    bool isEmpty() const {
        const bool noPicture =
            picture_->isHidden() || (picture_->pixmap().isNull() && picture_->text().isEmpty());
        const bool noWords =
            textPanel_->isHidden() || (heading_->text().isEmpty() && text_->text().isEmpty());
        return noPicture && noWords;
    }

    static void paint(QWidget* panel) {
        QPainter p(panel);
        p.setRenderHint(QPainter::Antialiasing);
        QColor ink = panel->palette().color(QPalette::WindowText);
        const QRect area = panel->rect().adjusted(14, 14, -14, -14);
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

    QWidget* picturePanel_;
    QWidget* textPanel_;
    const QLabel* picture_;
    const QLabel* heading_;
    const QLabel* text_;
};

} // namespace

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
    Image2->setPixmap(ProgramPicture(QStringLiteral("Images/station.png")));
    Image2->hide();
    column->addWidget(sPanel1);

    // The share panel lies over the top of the status area when shown.
    share = panel("share", sPanel1);
    share->setGeometry((ClientWidth - SharePanelSize.width()) / 2, 0, SharePanelSize.width(),
                       SharePanelSize.height());
    share->setAutoFillBackground(true);
    auto* shareBox = new QVBoxLayout(share);
    shareBox->setContentsMargins(4, 4, 4, 4);
    shareBox->setSpacing(2);
    auto* shareText =
        label("ShareText", QStringLiteral("Share radio station on facebook and twitter"), share);
    shareText->setAlignment(Qt::AlignCenter);
    shareText->setWordWrap(true);
    auto* shareRow = new QHBoxLayout;
    Image4 = label("Image4", QString(), share);
    Image4->setPixmap(ProgramPicture(QStringLiteral("Images/share-facebook.png")));
    Image4->setCursor(Qt::PointingHandCursor);
    Image4->setAccessibleName(QStringLiteral("Facebook"));
    Image5 = label("Image5", QString(), share);
    Image5->setPixmap(ProgramPicture(QStringLiteral("Images/share-twitter.png")));
    Image5->setCursor(Qt::PointingHandCursor);
    Image5->setAccessibleName(QStringLiteral("Twitter"));
    sWebLabel1 = label("sWebLabel1", QStringLiteral("Close"), share);
    sWebLabel1->setCursor(Qt::PointingHandCursor);
    sWebLabel1->setAccessibleName(QStringLiteral("Close"));
    // The two pictures side by side, "Close" at the right of their row, so
    // that all of it fits the panel's 89 pixels.
    for (QLabel* picture : {Image4, Image5}) {
        picture->setFixedSize(94, 33);
        picture->setAlignment(Qt::AlignCenter);
    }
    shareRow->addStretch();
    shareRow->addWidget(Image4);
    shareRow->addWidget(Image5);
    shareRow->addStretch();
    shareRow->addWidget(sWebLabel1, 0, Qt::AlignBottom);
    shareBox->addWidget(shareText);
    shareBox->addLayout(shareRow);
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
    // A typed name applies as it stands, letter by letter: no completion
    // may turn "Mid" into another skin's name on the way.
    sComboBox1->setCompleter(nullptr);
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
    textColumn->setContentsMargins(6, 2, 6, 2);
    textColumn->setSpacing(2);
    // The heading bold in 13 pixels, the text in 11, both wrapped in boxes
    // of a fixed size; Qt falls back to a similar family where Arial is
    // missing.
    Label6 = label("Label6", QString(), sPanel5);
    QFont heading(QStringLiteral("Arial"));
    heading.setPixelSize(13);
    heading.setBold(true);
    Label6->setFont(heading);
    Label6->setFixedSize(279, 22);
    Label7 = label("Label7", QString(), sPanel5);
    QFont text(QStringLiteral("Arial"));
    text.setPixelSize(11);
    Label7->setFont(text);
    Label7->setFixedSize(287, 41);
    for (QLabel* l : {Label6, Label7}) {
        l->setWordWrap(true);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->setCursor(Qt::PointingHandCursor);
    }
    textColumn->addWidget(Label6);
    textColumn->addWidget(Label7);
    textColumn->addStretch();
    bannerStack->addWidget(nekipanel, 0, 0);
    bannerStack->addWidget(sPanel5, 0, 0);
    // At start the text panel is in front with both labels empty: the strip
    // is blank (the picture panel's placeholder shows through) and an ad of
    // words alone shows at once.
    new BannerPlaceholder(nekipanel, sPanel5, Image3, Label6, Label7);
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

    setFocusProxy(ListView1);
    // The list has the focus when the window first comes up: arrow keys
    // pick a station and Enter plays it.
    ListView1->setFocus();
}

} // namespace tolvane
