#include "TForm9.h"

#include "Desktop.h"
#include "WebService.h"
#include "app/WindowParts.h"
#include "common/Version.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QShowEvent>
#include <QToolButton>

namespace tolvane {

namespace {

// A 41 x 33 link picture: a rounded badge with a short mark on it.
QPixmap badge(const QColor& colour, const QString& mark) {
    QPixmap p(41 * 2, 33 * 2);
    p.setDevicePixelRatio(2);
    p.fill(Qt::transparent);
    QPainter painter(&p);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(QRectF(1, 1, 39, 31), 6, 6);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(18);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(0, 0, 41, 33), Qt::AlignCenter, mark);
    return p;
}

QToolButton* pictureLink(const char* name, const QPixmap& picture, const QString& accessible,
                         QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setIcon(picture);
    b->setIconSize(QSize(41, 33));
    b->setFixedSize(45, 37);
    b->setAutoRaise(true);
    b->setCursor(Qt::PointingHandCursor);
    b->setAccessibleName(accessible);
    b->setToolTip(accessible);
    return b;
}

} // namespace

TForm9::TForm9(std::function<QPixmap()> defaultPicture, QWidget* parent)
    : QWidget(parent, Qt::Window), defaultPicture_(std::move(defaultPicture)) {
    setObjectName(QStringLiteral("Form9"));
    setWindowTitle(QStringLiteral("About"));
    ui::closeOnEscape(this);
    setWindowFlags(Qt::Tool | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(281, 177);

    auto* grid = new QGridLayout(this);
    auto* heading = new QLabel(QStringLiteral("About program"), this);
    heading->setObjectName(QStringLiteral("sLabelFX1"));
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    heading->setFont(headingFont);
    grid->addWidget(heading, 0, 0, 1, 2);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setFixedSize(89, 81);
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setAccessibleName(QStringLiteral("Tolvane"));
    grid->addWidget(Image1, 1, 0, 3, 1);

    Label1 = new QLabel(QStringLiteral("Tolvane ") + QLatin1String(TolvaneVersion), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont big = Label1->font();
    big.setBold(true);
    big.setPixelSize(20);
    Label1->setFont(big);
    grid->addWidget(Label1, 1, 1);
    auto* author = new QLabel(QStringLiteral("Written by the Tolvane developers"), this);
    author->setObjectName(QStringLiteral("Label2"));
    grid->addWidget(author, 2, 1);
    auto* mail = new QLabel(QStringLiteral("tolvane@tolvane.org"), this);
    mail->setObjectName(QStringLiteral("Label3"));
    mail->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    grid->addWidget(mail, 3, 1);

    auto* links = new QHBoxLayout;
    Image2 = pictureLink("Image2", badge(QColor(0x3b5998), QStringLiteral("f")),
                         QStringLiteral("Tolvane on Facebook"), this);
    Image3 = pictureLink("Image3", badge(QColor(0x1da1f2), QStringLiteral("t")),
                         QStringLiteral("Tolvane on Twitter"), this);
    Image4 = pictureLink("Image4", badge(QColor(0x1e4a6e), QStringLiteral("www")),
                         QStringLiteral("Tolvane radio site"), this);
    links->addStretch();
    for (QToolButton* b : {Image2, Image3, Image4})
        links->addWidget(b);
    grid->addLayout(links, 4, 0, 1, 2);
    connect(Image2, &QToolButton::clicked, this, [this] { Image2Click(); });
    connect(Image3, &QToolButton::clicked, this, [this] { Image3Click(); });
    connect(Image4, &QToolButton::clicked, this, [this] { Image4Click(); });
}

void TForm9::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (defaultPicture_) {
        const QPixmap picture = defaultPicture_();
        Image1->setPixmap(picture.isNull() ? picture
                                           : picture.scaled(Image1->size(), Qt::KeepAspectRatio,
                                                            Qt::SmoothTransformation));
    }
    if (!event->spontaneous()) {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->geometry().center() - rect().center());
    }
}

void TForm9::Image2Click() {
    OpenWebAddress(Services::FromProgramFolder().facebookPage);
}

void TForm9::Image3Click() {
    OpenWebAddress(Services::FromProgramFolder().twitterPage);
}

void TForm9::Image4Click() {
    OpenWebAddress(Services::FromProgramFolder().site);
}

} // namespace tolvane
