#include "Application.h"

#include "Accessibility.h"
#include "Mpris.h"
#include "SecondaryForms.h"
#include "TForm1.h"
#include "catalog/TForm3.h"
#include "common/LaunchTrace.h"
#include "directory/TForm11.h"
#include "online/TForm10.h"
#include "online/TForm6.h"
#include "online/TForm7.h"
#include "online/TForm9.h"
#include "settings/TSettings.h"
#include "update/TForm5.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>

namespace tolvane {

namespace {

void centre(QWidget* w) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        // A window given a size of its own keeps it: the lyrics window holds
        // nothing visible before its first showing, and would shrink to
        // nothing, which the display server then never shows.
        if (!w->testAttribute(Qt::WA_Resized))
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
    announceSecondaryWindowsAsDialogs();
    form1_ = std::make_unique<TForm1>(*engine_);
    if (!form1_->created()) {
        form1_.reset();
        return false;
    }
    traceStep("main window made, engine initialised");
    if (options_.isConnected)
        form1_->IsConnected = options_.isConnected;
    // The main window is visible from the start: its first showing runs
    // before any other window exists.
    if (options_.showMainWindow) {
        centre(form1_.get());
        form1_->show();
    } else
        form1_->FormShow();

    traceStep("first showing done");
    forms_.Form2 = new TForm2(form1_.get());
    forms_.Form3 = new TForm3;
    forms_.Settings = new TSettings;
    TForm1* main = form1_.get();
    forms_.Form5 = new TForm5({[main] { return main->IsConnected(); },
                               [main](const QString& name) { main->invoke(name); },
                               [main] { return main->closing(); }});
    forms_.Form6 = new TForm6;
    forms_.Form7 = new TForm7;
    forms_.Form9 = new TForm9([main] { return main->Image2->pixmap(); });
    forms_.Form10 = new TForm10;
    forms_.Form11 = new TForm11(main);
    for (QWidget* w :
         {static_cast<QWidget*>(forms_.Form2), forms_.Settings, static_cast<QWidget*>(forms_.Form5),
          static_cast<QWidget*>(forms_.Form6), static_cast<QWidget*>(forms_.Form9),
          static_cast<QWidget*>(forms_.Form10), static_cast<QWidget*>(forms_.Form11)})
        centre(w);
    form1_->setForms(&forms_);
    traceStep("other windows made");
    if (options_.mediaPlayerInterface) {
        mpris_ = std::make_unique<Mpris>(*form1_);
        if (!mpris_->start())
            mpris_.reset();
    }
    return true;
}

int Application::exec() {
    if (launchTraceOn())
        QTimer::singleShot(0, [] { traceStep("message loop running"); });
    return QApplication::exec();
}

void Application::destroyWindows() {
    mpris_.reset(); // off the bus before the window goes
    if (form1_) {
        form1_->setForms(nullptr);
        form1_.reset(); // runs the destroy step
    }
    delete forms_.Form2;
    delete forms_.Form3;
    delete forms_.Settings;
    delete forms_.Form5;
    delete forms_.Form6;
    delete forms_.Form7;
    delete forms_.Form9;
    delete forms_.Form10;
    delete forms_.Form11;
    forms_ = Forms{};
}

} // namespace tolvane
