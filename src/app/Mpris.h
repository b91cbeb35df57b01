#pragma once
// The player on the desktop's session bus as an MPRIS 2 media player, so
// media keys, panels and tools such as playerctl can play, stop, step
// through the stations and set the volume, and show what plays.
//
// Every request goes through the main window's own commands (the tray
// menu's "&Play" and "&Stop", the "<<" and ">>" buttons, the volume bar,
// "&Exit"), so it does exactly what the user's click would. A live stream
// cannot pause: Pause stops, and Play starts the station again.
//
// Properties are read from the window when asked; changes of the playback
// status, the metadata, the volume and what can be done next are sent as
// PropertiesChanged, gathered over one turn of the event loop.
//
// Without a session bus, nothing is registered and nothing is said.

#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariantMap>

#include <memory>

namespace tolvane {

class TForm1;

class Mpris : public QObject {
    Q_OBJECT
public:
    static constexpr const char* ServiceName = "org.mpris.MediaPlayer2.tolvane";
    static constexpr const char* ObjectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char* PlayerInterface = "org.mpris.MediaPlayer2.Player";

    explicit Mpris(TForm1& form, QObject* parent = nullptr);
    ~Mpris() override;

    // Registers on the session bus: under ServiceName, or under a name of
    // this process's own when another player holds it. False when there is
    // no session bus (then the player runs without).
    bool start();
    // The bus name taken by start(), empty before.
    QString serviceName() const { return service_; }

    // --- What the interfaces read and do -----------------------------------
    QString playbackStatus() const;
    QVariantMap metadata() const;
    double volume() const;
    void setVolume(double volume);
    qlonglong position() const;
    bool canGoNext() const;
    bool canGoPrevious() const;
    bool canPlay() const;

    void play();
    void pause();
    void playPause();
    void stop();
    void next();
    void previous();
    void raise();
    void quit();

private:
    void scheduleRefresh();
    // The Player properties whose changes are told.
    QVariantMap changingProperties() const;
    // Sends PropertiesChanged for what differs from the last values sent.
    void refresh();
    // A copy of a newly fetched song picture, under a name of its own so a
    // panel that keeps pictures by name shows the new one.
    void takeSongPicture();
    // Triggers a command of the window: its action or button of that name.
    void trigger(const char* name);

    TForm1& form_;
    QString service_;
    QTimer refreshTimer_;
    QVariantMap sent_; // the Player properties as last sent
    QString sentMetadataKey_;
    // A number per song and station, for mpris:trackid.
    mutable quint64 track_ = 0;
    mutable QString trackKey_;
    std::unique_ptr<QTemporaryDir> pictures_;
    QString pictureUrl_;
    int pictureCount_ = 0;
};

} // namespace tolvane
