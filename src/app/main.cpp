// Tolvane: a desktop internet-radio player.

#include "Application.h"
#include "QtMessageSink.h"
#include "TForm1.h"
#include "TerminationSignals.h"

#include <QApplication>
#include <QIcon>

#include <unistd.h>

int main(int argc, char** argv) {
    // The lyrics window's web view shares OpenGL contexts with the windows;
    // this must be said before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The browser engine's sandbox refuses to run for the superuser.
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tolvane"));
    QApplication::setWindowIcon(QIcon(QStringLiteral("Images/tolvane-256.png")));

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
