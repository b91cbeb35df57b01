#include "Application.h"

#include "SecondaryForms.h"
#include "TForm1.h"
#include "catalog/TForm3.h"
#include "settings/TSettings.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace tolvane {

namespace {

// A window whose own work is not built yet: its caption and one line.
SecondaryForm* shell(const char* name, const QString& caption, const QString& text) {
    auto* form = new SecondaryForm(name, caption);
    auto* column = new QVBoxLayout(form);
    auto* label = new QLabel(text, form);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    column->addWidget(label);
    form->resize(340, 120);
    return form;
}

void centre(QWidget* w) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        w->adjustSize();
        w->move(area.center() -
                QPoint(w->frameGeometry().width() / 2, w->frameGeometry().height() / 2));
    }
}

} // namespace

Application::Application(Options options)
    : options_(std::move(options)), engine_(std::make_unique<engine::Engine>(options_.output)) {}

Application::~Application() {
    destroyWindows();
}

bool Application::start() {
    QApplication::setQuitOnLastWindowClosed(false);
    form1_ = std::make_unique<TForm1>(*engine_);
    if (!form1_->created()) {
        form1_.reset();
        return false;
    }
    if (options_.isConnected)
        form1_->IsConnected = options_.isConnected;
    // The main window is visible from the start: its first showing runs
    // before any other window exists.
    if (options_.showMainWindow) {
        centre(form1_.get());
        form1_->show();
    } else
        form1_->FormShow();

    forms_.Form2 = new TForm2(form1_.get());
    forms_.Form3 = new TForm3;
    forms_.Settings = new TSettings;
    forms_.Form5 = shell("Form5", QStringLiteral("Update"),
                         QStringLiteral("Checking for updates is not available yet."));
    forms_.Form6 =
        shell("Form6", QStringLiteral("Lyrics"), QStringLiteral("Lyrics are not available yet."));
    forms_.Form7 = shell("Form7", QStringLiteral("Song info"), QString());
    forms_.Form9 = shell("Form9", QStringLiteral("About"), QStringLiteral("Tolvane 1.3"));
    forms_.Form10 =
        shell("Form10", QStringLiteral("Help"),
              QStringLiteral("Pick a station in the list and double-click it to listen."));
    for (QWidget* w : {static_cast<QWidget*>(forms_.Form2), forms_.Settings, forms_.Form5,
                       forms_.Form6, forms_.Form9, forms_.Form10})
        centre(w);
    form1_->setForms(&forms_);
    return true;
}

int Application::exec() {
    return QApplication::exec();
}

void Application::destroyWindows() {
    if (form1_) {
        form1_->setForms(nullptr);
        form1_.reset(); // runs the destroy step
    }
    for (QWidget* w : {static_cast<QWidget*>(forms_.Form2), forms_.Form3, forms_.Settings,
                       forms_.Form5, forms_.Form6, forms_.Form7, forms_.Form9, forms_.Form10})
        delete w;
    forms_ = Forms{};
}

} // namespace tolvane
