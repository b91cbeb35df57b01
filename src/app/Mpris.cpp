#include "Mpris.h"

#include "StationListView.h"
#include "TForm1.h"
#include "catalog/Catalog.h"
#include "common/Errors.h"
#include "playback/NowPlaying.h"

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QSlider>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace tolvane {

namespace {

// The desktop entry the program installs (packaging/), without ".desktop".
const QString DesktopEntryName = QStringLiteral("org.tolvane.Tolvane");
const QString TrackPathPrefix = QStringLiteral("/org/tolvane/Tolvane/track/");

// A session bus this process can reach without starting one: libdbus would
// otherwise launch a bus of its own for an X display ("autolaunch"), which
// outlives the player.
bool sessionBusPresent() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

} // namespace

// org.mpris.MediaPlayer2: the player as an application.
class MprisRoot : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ none)
    Q_PROPERTY(QStringList SupportedMimeTypes READ none)
public:
    explicit MprisRoot(Mpris* player) : QDBusAbstractAdaptor(player), player_(player) {}
    bool canQuit() const { return true; }
    bool canRaise() const { return true; }
    bool hasTrackList() const { return false; }
    QString identity() const { return QStringLiteral("Tolvane"); }
    QString desktopEntry() const { return DesktopEntryName; }
    QStringList none() const { return {}; }

public slots:
    void Raise() { player_->raise(); }
    void Quit() { player_->quit(); }

private:
    Mpris* player_;
};

// org.mpris.MediaPlayer2.Player: playback of the current station.
class MprisPlayer : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoPrevious)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ yes)
    Q_PROPERTY(bool CanSeek READ no)
    Q_PROPERTY(bool CanControl READ yes)
public:
    explicit MprisPlayer(Mpris* player) : QDBusAbstractAdaptor(player), player_(player) {}
    QString playbackStatus() const { return player_->playbackStatus(); }
    double rate() const { return 1.0; }
    void setRate(double) {} // a live stream plays at its own pace
    QVariantMap metadata() const { return player_->metadata(); }
    double volume() const { return player_->volume(); }
    void setVolume(double volume) { player_->setVolume(volume); }
    qlonglong position() const { return player_->position(); }
    bool canGoNext() const { return player_->canGoNext(); }
    bool canGoPrevious() const { return player_->canGoPrevious(); }
    bool canPlay() const { return player_->canPlay(); }
    bool yes() const { return true; }
    bool no() const { return false; }

public slots:
    void Play() { player_->play(); }
    void Pause() { player_->pause(); }
    void PlayPause() { player_->playPause(); }
    void Stop() { player_->stop(); }
    void Next() { player_->next(); }
    void Previous() { player_->previous(); }
    // A live stream has no position to go to.
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath&, qlonglong) {}
    void OpenUri(const QString&) {}

signals:
    void Seeked(qlonglong position);

private:
    Mpris* player_;
};

Mpris::Mpris(TForm1& form, QObject* parent) : QObject(parent), form_(form) {
    refreshTimer_.setSingleShot(true);
    refreshTimer_.setInterval(0);
    connect(&refreshTimer_, &QTimer::timeout, this, [this] { runGuarded([this] { refresh(); }); });
}

Mpris::~Mpris() {
    if (service_.isEmpty())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(QString::fromLatin1(ObjectPath));
    bus.unregisterService(service_);
}

bool Mpris::start() {
    if (!sessionBusPresent())
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    new MprisRoot(this);
    new MprisPlayer(this);
    if (!bus.registerObject(QString::fromLatin1(ObjectPath), this, QDBusConnection::ExportAdaptors))
        return false;
    // A second player keeps the first one's name free, as the media player
    // interface asks: it takes one with its process number.
    QString name = QString::fromLatin1(ServiceName);
    if (!bus.registerService(name)) {
        name += QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid());
        if (!bus.registerService(name)) {
            bus.unregisterObject(QString::fromLatin1(ObjectPath));
            return false;
        }
    }
    service_ = name;

    auto changed = [this] { scheduleRefresh(); };
    connect(&form_, &TForm1::playingChanged, this, changed);
    connect(&form_, &TForm1::songPictureChanged, this, [this] {
        takeSongPicture();
        scheduleRefresh();
    });
    for (QLineEdit* field : {form_.Edit1, form_.Edit3, form_.Edit5})
        connect(field, &QLineEdit::textChanged, this, changed);
    connect(form_.TrackBar1, &QSlider::valueChanged, this, changed);
    StationListView* list = form_.ListView1;
    connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this, changed);
    connect(list->model(), &QAbstractItemModel::modelReset, this, changed);
    connect(list->model(), &QAbstractItemModel::rowsInserted, this, changed);
    connect(list->model(), &QAbstractItemModel::rowsRemoved, this, changed);
    // Changes are told from here on.
    sent_ = changingProperties();
    sentMetadataKey_ = QString::number(track_) + u'\n' + pictureUrl_;
    return true;
}

// --- Properties ------------------------------------------------------------------

QString Mpris::playbackStatus() const {
    return form_.isPlaying() ? QStringLiteral("Playing") : QStringLiteral("Stopped");
}

QVariantMap Mpris::metadata() const {
    const QString station = form_.Edit3->text();
    const QString title = form_.SongTitle();
    if (station.isEmpty() && title.isEmpty())
        return {};
    const QString key = station + u'\n' + title;
    if (key != trackKey_) {
        trackKey_ = key;
        ++track_;
    }
    QVariantMap map;
    map.insert(QStringLiteral("mpris:trackid"),
               QVariant::fromValue(QDBusObjectPath(TrackPathPrefix + QString::number(track_))));
    // "Artist - Song" as the stations send it; a title without a dash is
    // the song's alone, and before any title the station names what plays.
    const playback::ArtistSong parts = playback::splitArtistSong(title);
    const QString artist = parts.artist.trimmed();
    const QString song = parts.song.trimmed();
    map.insert(QStringLiteral("xesam:title"), song.isEmpty() ? station : song);
    if (!artist.isEmpty())
        map.insert(QStringLiteral("xesam:artist"), QStringList{artist});
    if (!station.isEmpty())
        map.insert(QStringLiteral("xesam:album"), station);
    if (!pictureUrl_.isEmpty())
        map.insert(QStringLiteral("mpris:artUrl"), pictureUrl_);
    return map;
}

double Mpris::volume() const {
    const QSlider* bar = form_.TrackBar1;
    return double(bar->value() - bar->minimum()) / (bar->maximum() - bar->minimum());
}

void Mpris::setVolume(double volume) {
    if (form_.closing() || !std::isfinite(volume))
        return;
    // Through the bar, as the user's drag: its change handling sets the
    // master volume.
    QSlider* bar = form_.TrackBar1;
    const double share = std::clamp(volume, 0.0, 1.0);
    bar->setValue(bar->minimum() + int(std::lround(share * (bar->maximum() - bar->minimum()))));
}

qlonglong Mpris::position() const {
    // The clock counts the time since the song began.
    const qlonglong seconds =
        (qlonglong{form_.ClockHours} * 60 + form_.ClockMinutes) * 60 + form_.ClockSeconds;
    return form_.isPlaying() ? seconds * 1000000 : 0;
}

bool Mpris::canGoNext() const {
    const StationListView* list = form_.ListView1;
    return catalog::workingCatalogExists() &&
           catalog::nextStationRow(list->selectedRow(), list->rowCount()).has_value();
}

bool Mpris::canGoPrevious() const {
    const StationListView* list = form_.ListView1;
    return catalog::workingCatalogExists() &&
           catalog::previousStationRow(list->selectedRow(), list->rowCount()).has_value();
}

bool Mpris::canPlay() const {
    // "play" plays the selected row, or else the current station.
    return (form_.ListView1->selectedRow() >= 0 && catalog::workingCatalogExists()) ||
           !form_.Edit1->text().isEmpty();
}

// --- Methods --------------------------------------------------------------------

void Mpris::trigger(const char* name) {
    if (form_.closing())
        return;
    const QString objectName = QString::fromLatin1(name);
    if (auto* action = form_.findChild<QAction*>(objectName))
        action->trigger();
    else if (auto* button = form_.findChild<QAbstractButton*>(objectName))
        button->click();
}

void Mpris::play() {
    if (!form_.isPlaying() && canPlay())
        trigger("Play1"); // the tray menu's "&Play", the "play" button's handler
}

void Mpris::pause() {
    // A live stream cannot wait: pausing stops it.
    stop();
}

void Mpris::playPause() {
    if (form_.isPlaying())
        pause();
    else
        play();
}

void Mpris::stop() {
    if (form_.isPlaying())
        trigger("Stop1"); // the tray menu's "&Stop"
}

void Mpris::next() {
    trigger("next");
}

void Mpris::previous() {
    trigger("SpeedButton3");
}

void Mpris::raise() {
    if (!form_.closing())
        runGuarded([this] { form_.ShowFromTray(); });
}

void Mpris::quit() {
    // After the reply has gone: quitting ends the event loop.
    QTimer::singleShot(0, this, [this] { trigger("Exit1"); });
}

// --- Changes --------------------------------------------------------------------------

void Mpris::scheduleRefresh() {
    refreshTimer_.start();
}

QVariantMap Mpris::changingProperties() const {
    return {
        {QStringLiteral("PlaybackStatus"), playbackStatus()},
        {QStringLiteral("Metadata"), metadata()},
        {QStringLiteral("Volume"), volume()},
        {QStringLiteral("CanGoNext"), canGoNext()},
        {QStringLiteral("CanGoPrevious"), canGoPrevious()},
        {QStringLiteral("CanPlay"), canPlay()},
    };
}

void Mpris::refresh() {
    if (service_.isEmpty())
        return;
    const QVariantMap now = changingProperties();
    // The metadata's track number and picture stand for all of it.
    const QString metadataKey = QString::number(track_) + u'\n' + pictureUrl_;
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        const bool differs = it.key() == QLatin1String("Metadata")
                                 ? metadataKey != sentMetadataKey_
                                 : sent_.value(it.key()) != it.value();
        if (differs)
            changed.insert(it.key(), it.value());
    }
    sent_ = now;
    sentMetadataKey_ = metadataKey;
    if (changed.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(
        QString::fromLatin1(ObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(PlayerInterface) << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

void Mpris::takeSongPicture() {
    if (!pictureUrl_.isEmpty())
        QFile::remove(QUrl(pictureUrl_).toLocalFile());
    pictureUrl_.clear();
    const QString file = form_.songPictureFile();
    if (file.isEmpty())
        return;
    if (!pictures_)
        pictures_ = std::make_unique<QTemporaryDir>();
    if (!pictures_->isValid())
        return;
    const QString copy = pictures_->filePath(QStringLiteral("song-%1.jpg").arg(++pictureCount_));
    if (QFile::copy(file, copy))
        pictureUrl_ = QUrl::fromLocalFile(copy).toString();
}

} // namespace tolvane

#include "Mpris.moc"
