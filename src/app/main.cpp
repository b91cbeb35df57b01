// Tolvane: a desktop internet-radio player.

#include "Application.h"
#include "QtMessageSink.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tolvane"));
    QApplication::setWindowIcon(QIcon(QStringLiteral("Images/tolvane-256.png")));

    tolvane::QtMessageSink messages;
    tolvane::setMessageSink(&messages);

    tolvane::Application tolvaneApp({});
    if (!tolvaneApp.start())
        return 1;
    const int code = tolvaneApp.exec();
    tolvaneApp.destroyWindows();
    tolvane::setMessageSink(nullptr);
    return code;
}
