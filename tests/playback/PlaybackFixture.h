#pragma once
// The real player on the engine's null output, with its stations served by
// a loopback stream server, and a log of what the window showed after each
// status message its workers sent.

#include "../app/AppFixture.h"
#include "AudioSamples.h"
#include "StreamServer.h"
#include "app/Forms.h"
#include "app/SecondaryForms.h"
#include "playback/StreamOpener.h"
#include "playback/engine/Engine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTcpServer>

namespace tolvane::test {

// The window's status area after each window action of a worker or an
// engine callback. Those actions reach the window as queued calls; the log
// runs each one itself and then takes a snapshot, so no state is missed.
class WindowLog : public QObject {
public:
    struct Snapshot {
        QString status;  // Label4
        QString title;   // Label3
        QString bitrate; // Label5
        QString songTitle;
    };

    explicit WindowLog(TForm1& form) : form_(form) { form.installEventFilter(this); }
    ~WindowLog() override { form_.removeEventFilter(this); }

    // The distinct texts one label went through, in order.
    QStringList statuses() const { return distinct(&Snapshot::status); }
    QStringList titles() const { return distinct(&Snapshot::title); }
    QStringList bitrates() const { return distinct(&Snapshot::bitrate); }
    void clear() { snapshots_.clear(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::MetaCall || watched != &form_)
            return false;
        watched->event(event);
        snapshots_.append(
            {form_.Label4->text(), form_.Label3->text(), form_.Label5->text(), form_.SongTitle()});
        return true;
    }

private:
    QStringList distinct(QString Snapshot::*field) const {
        QStringList texts;
        for (const Snapshot& s : snapshots_) {
            if (texts.isEmpty() || texts.last() != s.*field)
                texts << s.*field;
        }
        return texts;
    }

    TForm1& form_;
    QList<Snapshot> snapshots_;
};

// A port on 127.0.0.1 that refuses connections: bound, then let go.
inline quint16 refusingPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

struct PlaybackFixture : AppFixture {
    StreamServer server;
    std::string mp3;
    std::unique_ptr<WindowLog> log;

    // A station of the catalog, served at `path`.
    struct Station {
        QString name;
        std::string path;
        QString url = {}; // instead of the server's `path`, a station elsewhere
    };

    // Starts the server and the player with a catalog of these stations.
    bool startPlayer(const QList<Station>& stations) {
        mp3 = AudioSamples::tone(SampleFormat::Mp3);
        if (mp3.empty() || !server.start())
            return false;
        QByteArray catalog;
        for (const Station& s : stations) {
            catalog += "[" + s.name.toUtf8() + "]\r\ngenre=Jazz\r\nlanguage=English\r\n" +
                       "website=http://" + s.path.substr(1).c_str() + ".example\r\n" +
                       "streaming=" + (s.url.isEmpty() ? url(s.path) : s.url).toUtf8() +
                       "\r\nbitrate=128\r\n\r\n";
        }
        folder.write("radiolist.dat", catalog);
        folder.write("settings/language.dat", "English\r\n");
        folder.write("settings/genre.dat", "Jazz\r\n");
        if (!start())
            return false;
        log = std::make_unique<WindowLog>(form());
        return true;
    }

    QString url(const std::string& path) const { return QString::fromStdString(server.url(path)); }

    // An audio route paced at `bytesPerSecond` after a burst (0: unpaced).
    StreamRoute audio(double bytesPerSecond = 0, std::size_t burst = 0) const {
        StreamRoute r = StreamRoute::audio(mp3);
        r.bytesPerSecond = bytesPerSecond;
        r.burstBytes = burst;
        return r;
    }

    void invokeRun() { form().invoke(QStringLiteral("Run")); }

    engine::Engine& engine() { return app->engine(); }
    playback::StreamOpener& opener() { return form().streamOpener(); }

    // Waits until every worker has ended.
    bool workersDone(int timeoutMs = 15000) {
        return waitFor([this] { return opener().runningWorkers() == 0; }, timeoutMs);
    }

    // Whether the engine plays this stream now (the level is measurable
    // only for a playing stream).
    bool playing(std::uint32_t handle) { return engine().ChannelGetLevel(handle) != 0xFFFFFFFFu; }
    // Whether the engine has freed this stream.
    bool freed(std::uint32_t handle) {
        return engine().StreamGetFilePosition(handle, engine::FILEPOS_CURRENT) ==
                   ~engine::QWORD{0} &&
               engine().ErrorGetCode() == engine::ERROR_HANDLE;
    }

    int selectRow(const QString& name) {
        StationListView* list = form().ListView1;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            if (list->topLevelItem(i)->text(0) == name) {
                list->clearSelection();
                list->topLevelItem(i)->setSelected(true);
                return i;
            }
        }
        return -1;
    }

    // Closes the player as quitting does; returns how long that took.
    qint64 timedQuit() {
        log.reset();
        QElapsedTimer clock;
        clock.start();
        quit();
        app.reset();
        return clock.elapsed();
    }
};

} // namespace tolvane::test
