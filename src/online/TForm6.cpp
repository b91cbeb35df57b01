#include "TForm6.h"

#include "Addresses.h"
#include "WebService.h"
#include "WebViewModule.h"
#include "app/WindowParts.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include <unistd.h>

namespace tolvane {

namespace {

// Said in place of the page when the browser cannot be started.
QLabel* unavailableNotice(QWidget* parent, const QString& text) {
    auto* notice = new QLabel(text, parent);
    notice->setWordWrap(true);
    notice->setAlignment(Qt::AlignCenter);
    notice->setMargin(12);
    notice->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    notice->setFocusPolicy(Qt::StrongFocus);
    notice->setAccessibleName(text);
    notice->setAccessibleDescription(QStringLiteral("Lyrics page"));
    return notice;
}

// The browser engine's sandbox does not run for the superuser, and without
// it a page's code would run with root's rights. Root goes without it only
// when asked to through the engine's own switch.
bool sandboxWouldBeOff() {
    return ::geteuid() == 0 && qgetenv("QTWEBENGINE_DISABLE_SANDBOX") != "1";
}

} // namespace

TForm6::ViewMaker& TForm6::viewMaker() {
    static ViewMaker maker;
    return maker;
}

TForm6::View TForm6::moduleView(QWidget* parent) {
    if (sandboxWouldBeOff())
        return View{
            unavailableNotice(
                parent, QStringLiteral("Lyrics cannot be shown while Tolvane runs as root: its web "
                                       "view would have to run without the browser's sandbox.\n\n"
                                       "Start Tolvane as an ordinary user, or set "
                                       "QTWEBENGINE_DISABLE_SANDBOX=1 in its environment to show "
                                       "lyrics without the sandbox.")),
            {}};
    const webview::Module module = webview::loadModule();
    if (module.usable()) {
        if (QWidget* view = module.create(parent))
            return View{view, [view, load = module.load](const QUrl& url) { load(view, url); }};
    }
    // The reason goes on a line of its own for whoever looks into it.
    return View{
        unavailableNotice(
            parent, QStringLiteral("Lyrics cannot be shown: the web view of Tolvane could "
                                   "not be loaded.\n\n%1")
                        .arg(module.usable() ? QStringLiteral("No view was made.") : module.error)),
        {}};
}

TForm6::TForm6(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("Form6"));
    setWindowTitle(QStringLiteral("Lyrics"));
    ui::closeOnEscape(this);
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
    View view = viewMaker() ? viewMaker()(this) : moduleView(this);
    WebBrowser1 = view.widget;
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    if (WebBrowser1->accessibleName().isEmpty())
        WebBrowser1->setAccessibleName(QStringLiteral("Lyrics page"));
    layout()->addWidget(WebBrowser1);
    load_ = view.load;
    if (load_ && !query_.isEmpty())
        load_(query_);
}

} // namespace tolvane
