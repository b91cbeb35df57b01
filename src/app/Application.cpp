#include "Application.h"

#include "SecondaryForms.h"
#include "TForm1.h"

#include <QApplication>

namespace tolvane {

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
    if (options_.showMainWindow)
        form1_->show();
    else
        form1_->FormShow();

    forms_.Form2 = new TForm2;
    forms_.Form3 = new SecondaryForm("Form3", QStringLiteral("Remove Radio"));
    forms_.Settings = new SecondaryForm("Settings", QStringLiteral("Settings"));
    forms_.Form5 = new SecondaryForm("Form5", QStringLiteral("Update"));
    forms_.Form6 = new SecondaryForm("Form6", QStringLiteral("Lyrics"));
    forms_.Form7 = new SecondaryForm("Form7", QStringLiteral("Song info"));
    forms_.Form9 = new SecondaryForm("Form9", QStringLiteral("About"));
    forms_.Form10 = new SecondaryForm("Form10", QStringLiteral("Help"));
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
