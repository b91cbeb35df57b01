// Tolvane: a desktop internet-radio player.

#include "Application.h"
#include "QtMessageSink.h"
#include "TForm1.h"
#include "TerminationSignals.h"
#include "common/LaunchTrace.h"
#include "online/Pictures.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv) {
    tolvane::traceStep("main");
    QApplication app(argc, argv);
    tolvane::traceStep("Qt ready");
    QApplication::setApplicationName(QStringLiteral("Tolvane"));
    QApplication::setWindowIcon(
        QIcon(tolvane::ProgramPicture(QStringLiteral("Images/tolvane-256.png"))));

    tolvane::QtMessageSink messages;
    tolvane::setMessageSink(&messages);

    tolvane::Application tolvaneApp({});
    if (!tolvaneApp.start())
        return 1;
    // SIGTERM and SIGINT close the main window as "Exit" does; a second one
    // while closing ends the message loop at once.
    tolvane::TerminationSignals termination;
    QObject::connect(&termination, &tolvane::TerminationSignals::terminationRequested, [&] {
        tolvane::TForm1* form = tolvaneApp.form1();
        if (form && !form->closing())
            form->close();
        else
            QApplication::quit();
    });
    const int code = tolvaneApp.exec();
    tolvaneApp.destroyWindows();
    tolvane::setMessageSink(nullptr);
    return code;
}
