#include "TForm7.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QShowEvent>

namespace tolvane {

namespace {
constexpr int TitleWidth = 121;
}

TForm7::TForm7(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("Form7"));
    setWindowTitle(QStringLiteral("Song info"));
    // A fixed border with its caption and no caption buttons, above other
    // windows; showing it never takes the focus from the user's window.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(209, 71);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("sPanel1"));
    panel->setGeometry(0, 0, 209, 71);
    panel->setStyleSheet(QStringLiteral("#sPanel1 { background: #142033; }"));

    Label1 = new QLabel(panel);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(8, 8, TitleWidth, 49);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);
    Label1->setTextFormat(Qt::PlainText); // the station's title, never markup
    Label1->setAttribute(Qt::WA_TranslucentBackground);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    Label1->setFont(font);
    Label1->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    Label1->setAccessibleDescription(QStringLiteral("Title of the song playing"));

    Image1 = new QLabel(panel);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(136, 6, 65, 58);
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setAccessibleName(QStringLiteral("Song picture"));

    Timer1 = new tolvane::Timer(QStringLiteral("Timer1"), 4000, this);
    Timer1->OnTimer = [this] { Timer1Timer(); };
}

QPoint TForm7::placement(const QSize& screen, const QSize& outer) {
    return {screen.width() - outer.width() - 20, screen.height() - outer.height() - 50};
}

void TForm7::showSongTip(const QString& title, const QPixmap& picture) {
    show();
    Label1->setText(title);
    Label1->setAccessibleName(title);
    // The picture keeps its proportions inside the box.
    Image1->setPixmap(picture.isNull() ? QPixmap()
                                       : picture.scaled(Image1->size(), Qt::KeepAspectRatio,
                                                        Qt::SmoothTransformation));
}

void TForm7::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The whole primary screen, not its work area, and the outer size.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QSize outer = frameGeometry().size().expandedTo(size());
        const QPoint at = placement(screen->geometry().size(), outer);
        move(screen->geometry().topLeft() + at);
    }
    Timer1->start();
}

void TForm7::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    Timer1->stop();
}

void TForm7::Timer1Timer() {
    hide();
}

} // namespace tolvane
