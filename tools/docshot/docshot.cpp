// docshot: the main window with a banner of words alone, for the README.
//
//   cd <a copy of the program folder> && docshot OUT.png [HEADING] [TEXT]
//
// Writes reklame.dat in the current directory with one ad that has a heading
// and a text but neither a website nor a picture, starts the player on the
// engine's null output, counts the ads and shows the first, and saves the
// window as OUT.png. Run it in a copy: it writes the copy's files.

#include "app/Application.h"
#include "app/TForm1.h"
#include "common/IniFile.h"
#include "common/Timer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cstdio>

using namespace tolvane;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: docshot OUT.png [HEADING] [TEXT]\n");
        return 2;
    }
    const QString heading =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("Jazz night at the harbour");
    const QString text = argc > 3 ? QString::fromLocal8Bit(argv[3])
                                  : QStringLiteral("Live music every Friday from 8 pm.");
    QFile ads(QStringLiteral("reklame.dat"));
    if (!ads.open(QIODevice::WriteOnly) ||
        ads.write("[0]\r\nname=" + heading.toUtf8() + "\r\ntext=" + text.toUtf8() + "\r\n") < 0)
        return 1;
    ads.close();

    Application::Options options;
    options.output = engine::OutputKind::Null;
    options.isConnected = [] { return true; };
    options.mediaPlayerInterface = false;
    Application player(options);
    if (!player.start())
        return 1;
    TForm1& form = *player.form1();
    form.Timer2->stop(); // no update pass: the banners start here instead
    form.invoke(QStringLiteral("Button13"));
    form.Timer7->fire();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    const bool saved = form.grab().save(QString::fromLocal8Bit(argv[1]));
    player.destroyWindows();
    return saved ? 0 : 1;
}
