#pragma once
// A program folder in a temporary directory and the real application on
// the engine's null output, driven on Qt's offscreen platform.

#include "MessageRecorder.h"
#include "TestSupport.h"
#include "app/Application.h"
#include "app/TForm1.h"
#include "online/TForm10.h"
#include "online/TForm6.h"
#include "online/TForm7.h"
#include "online/TForm9.h"
#include "update/TForm5.h"

#include "app/StationListView.h"
#include <QFile>

#include <memory>

namespace tolvane::test {

inline const QByteArray SmallCatalog =
    "[Rock FM]\r\ngenre=Rock\r\nlanguage=English\r\n"
    "website=http://rock.example\r\nstreaming=http://127.0.0.1:9/rock\r\n"
    "bitrate=128\r\n\r\n"
    "[Jazz Radio]\r\ngenre=Jazz\r\nlanguage=French\r\n"
    "website=http://jazz.example\r\nstreaming=http://127.0.0.1:9/jazz\r\n"
    "bitrate=64\r\n\r\n"
    "[ambient waves]\r\ngenre=Ambient\r\nlanguage=English\r\n"
    "streaming=http://127.0.0.1:9/ambient\r\nbitrate=320\r\n";

struct AppFixture {
    TestFolder folder;
    MessageRecorder messages;
    std::unique_ptr<Application> app;
    bool connected = true;
    // Whether Timer2 may start the update pass; tests of other things keep
    // it from showing its window and messages.
    bool runUpdatePass = false;
    // Whether the player goes on the session bus (a test of its own starts
    // a private bus for it).
    bool mediaPlayerInterface = false;

    AppFixture() {
        pointServicesAt(QStringLiteral("http://127.0.0.1:9"));
        // The window sets the master volume at start: never the desktop's own
        // sound server. A test that wants sound starts a PulseServer first.
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
            qputenv("PULSE_SERVER", QFile::encodeName("unix:" + folder.file("no-sound-server")));
            ownsPulseServerVariable = true;
        }
    }
    ~AppFixture() {
        app.reset();
        if (ownsPulseServerVariable)
            qunsetenv("PULSE_SERVER");
    }
    bool ownsPulseServerVariable = false;

    // The shipped files a normal installation has, without settings.dat.
    void installProgramFolder() {
        folder.write("radiolist.dat", SmallCatalog);
        folder.write("settings/language.dat", "English\r\nFrench\r\n");
        folder.write("settings/genre.dat", "Ambient\r\nJazz\r\nRock\r\n");
    }

    // Every outside host of the program folder at one local address, so no
    // test reaches beyond this machine.
    void pointServicesAt(const QString& base) {
        QByteArray services = "[services]\n";
        for (const char* key : {"main", "radio", "site", "lyrics", "facebook", "twitter",
                                "facebookpage", "twitterpage", "directory"})
            services += QByteArray(key) + "=" + base.toUtf8() + "\n";
        folder.write("settings/services.dat", services);
    }

    bool start(engine::OutputKind output = engine::OutputKind::Null) {
        Application::Options options;
        options.output = output;
        options.isConnected = [this] { return connected; };
        options.mediaPlayerInterface = mediaPlayerInterface;
        app = std::make_unique<Application>(options);
        const bool started = app->start();
        if (started && !runUpdatePass)
            form().Timer2->stop();
        return started;
    }

    TForm1& form() { return *app->form1(); }

    QStringList listNames() {
        QStringList names;
        StationListView* list = form().ListView1;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            names << list->topLevelItem(i)->text(0);
        return names;
    }

    // Closes the main window and destroys the windows, as quitting does.
    void quit() {
        form().close();
        app->destroyWindows();
    }
};

} // namespace tolvane::test
