#include "TForm6.h"

#include "Addresses.h"
#include "WebService.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QWebEngineView>

namespace tolvane {

TForm6::ViewMaker& TForm6::viewMaker() {
    static ViewMaker maker = [](QWidget* parent) {
        auto* view = new QWebEngineView(parent);
        return View{view, [view](const QUrl& url) { view->load(url); }};
    };
    return maker;
}

TForm6::TForm6(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("Form6"));
    setWindowTitle(QStringLiteral("Lyrics"));
    // A resizable tool window.
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    resize(336, 512);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->hide();
    Edit2 = new QLineEdit(this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->hide();
    Button1 = new QPushButton(this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->hide();
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TForm6::Button1Click() {
    if (Edit2->text().isEmpty())
        return;
    query_ = QUrl(LyricsUrl(Services::FromProgramFolder().lyrics, Edit1->text(), Edit2->text()),
                  QUrl::StrictMode);
    if (load_)
        load_(query_);
}

void TForm6::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (WebBrowser1)
        return;
    // First showing: centred, then the browser and the song asked for last.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
    View view = viewMaker()(this);
    WebBrowser1 = view.widget;
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    WebBrowser1->setAccessibleName(QStringLiteral("Lyrics page"));
    layout()->addWidget(WebBrowser1);
    load_ = view.load;
    if (!query_.isEmpty())
        load_(query_);
}

} // namespace tolvane
