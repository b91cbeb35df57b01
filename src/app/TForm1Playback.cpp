// Playback commands of the main window: Run and the status messages of its
// workers, the song change, play and stop, the volume bar and mute, the
// level meter and the elapsed-time clock.

#include "TForm1.h"

#include "Accessibility.h"
#include "Forms.h"
#include "SecondaryForms.h"
#include "common/Convert.h"
#include "common/Errors.h"
#include "common/IniFile.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "online/TForm6.h"
#include "online/TForm7.h"
#include "playback/NowPlaying.h"
#include "playback/PlayerControls.h"
#include "playback/StationHeaders.h"
#include "playback/StreamFacts.h"
#include "playback/StreamOpener.h"
#include "playback/engine/Engine.h"
#include "playback/mixer/MixerThread.h"
#include "recording/SongSplit.h"
#include "settings/SettingsFile.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QScopeGuard>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

namespace tolvane {

namespace {

// How long quitting waits for the stream opener's workers.
constexpr int WorkerShutdownMs = 5000;

// What the engine keeps of the song heard for a recording from its start:
// in the station's own format, the station's frames alone where it has them.
engine::DWORD songBuffer(bool fromStart, const QString& format) {
    if (!fromStart)
        return 0;
    return format == settings::OriginalFormat ? engine::SONG_BUFFER_OWN_FORMAT : 1;
}

// The width of the song-info popup's label before it is shown.
constexpr int SongTipLabelWidth = 121;

// Triggers a window's hidden command, an action or a button of that name.
void invokeCommand(QWidget* window, const char* name) {
    if (!window)
        return;
    const QString objectName = QString::fromLatin1(name);
    if (auto* action = window->findChild<QAction*>(objectName))
        action->trigger();
    else if (auto* button = window->findChild<QAbstractButton*>(objectName))
        button->click();
}

// Puts the default picture into the station picture.
void showDefaultPicture(const QLabel* defaultPicture, QLabel* stationPicture) {
    if (const QPixmap picture = defaultPicture->pixmap(); !picture.isNull())
        stationPicture->setPixmap(picture);
    else
        stationPicture->clear();
}

} // namespace

struct TForm1::PlaybackParts {
    // The master volume, on the mixer's own thread: the bar never waits
    // for the sound server.
    playback::MixerThread volume;
    std::unique_ptr<playback::StreamOpener> opener;
};

void TForm1::PlaybackPartsDeleter::operator()(PlaybackParts* parts) const {
    delete parts;
}

void TForm1::startPlayback() {
    playback_.reset(new PlaybackParts);

    // The volume component: mute off, full volume on both channels.
    playback::MixerThread& volume = playback_->volume;
    volume.setMute(false);
    volume.setVolume(100);
    volume.setBalance(0);

    // Every window action of the workers runs here, on this thread.
    playback::WindowActions actions;
    actions.isConnected = [this] {
        bool connected = false;
        runGuarded([&] { connected = IsConnected && IsConnected(); });
        return connected;
    };
    actions.noConnection = [] { ShowMessage(QStringLiteral("No internet connection!")); };
    actions.invoke = [this](const QString& command) { invoke(command); };
    actions.status = [this](int code, qint64 number, const QString& text) {
        runGuarded([&] { StatusMessage(code, number, text); });
    };
    actions.streamReplaced = [this](std::uint32_t from, std::uint32_t to, qint64 silentMs) {
        runGuarded([&] { StreamReplaced(from, to, silentMs); });
    };
    actions.dialogBitrate = [this](const QString& bitrate) {
        if (!forms_ || !forms_->Form2)
            return;
        QLineEdit* field = forms_->Form2->Edit4;
        field->setText(bitrate);
        if (field->text().isEmpty())
            field->setText(playback::dialogBitrateText(bitrate));
    };
    // What a test from the Add-station window found, read here on this
    // thread once the stream plays.
    actions.playing = [this](engine::HSTREAM handle) { ShowTestFindings(handle, 8); };
    playback_->opener =
        std::make_unique<playback::StreamOpener>(engine_, CurrentStream, this, std::move(actions));
}

void TForm1::ShowTestFindings(std::uint32_t handle, int triesLeft) {
    engine::StreamInfo info;
    if (!forms_ || !forms_->Form2 || TestStreamUrl().isEmpty() || CurrentStream.load() != handle ||
        !engine_.StreamGetInfo(handle, &info))
        return;
    forms_->Form2->showTestFindings(TestStreamUrl(), playback::streamFactsText(info));
    const bool rateKnown = info.headerKbps > 0 || info.codecKbps > 0 || info.measuredKbps > 0;
    if (!rateKnown && triesLeft > 0) {
        QTimer::singleShot(250, this,
                           [this, handle, triesLeft] { ShowTestFindings(handle, triesLeft - 1); });
    }
}

playback::StreamOpener& TForm1::streamOpener() {
    return *playback_->opener;
}

void TForm1::shutdownPlayback() {
    // Workers waiting on this window return at once; freeing the engine ends
    // the connections under way, so the workers inside it return too.
    playback::StreamOpener* opener = playback_ ? playback_->opener.get() : nullptr;
    if (opener)
        opener->close();
    engine_.Free();
    if (opener)
        opener->shutdown(WorkerShutdownMs);
}

// --- Run and the status messages ------------------------------------------------

void TForm1::RunClick() {
    if (IsRecording)
        sButton3Click();
    if (Edit1->text().isEmpty() && !TestStreamUrl().isEmpty())
        Edit1->setText(TestStreamUrl());
    if (Edit1->text().isEmpty()) {
        ShowMessage(QStringLiteral("Radio streaming does not exist"));
        return;
    }
    showDefaultPicture(Image2, Image1);
    setSongPictureFile(QString());
    // A station's titles come in its record's charset; the Add-station test
    // URL has no record, so its titles are guessed.
    QString charset;
    if (!TestStreamUrl().isEmpty()) {
        Edit1->setText(TestStreamUrl());
    } else {
        UseSelectedStation();
        charset = CurrentCharset;
    }
    // A recording from the song's start keeps the station's audio from its
    // first sound, until a song change starts the next song.
    engine_.SetConfig(
        engine::CONFIG_SONG_BUFFER,
        songBuffer(settings::readFlag(settings::RecordSection, settings::FromStartKey),
                   settings::readText(settings::RecordSection, settings::FormatKey)));
    // While nothing plays (the automatic start, the first play) the
    // connection need not wait for the window's first steps of the opening.
    bool connectEarly = false;
    if (CurrentStream.load() == 0)
        runGuarded([&] { connectEarly = IsConnected && IsConnected(); });
    playback_->opener->open(Edit1->text(), settings::readReconnect(), charset, connectEarly);
}

void TForm1::StatusMessage(int code, qint64 number, const QString& text) {
    QLabel* dialogStatus = forms_ && forms_->Form2 ? forms_->Form2->Label7 : nullptr;
    switch (code) {
    case 0:
        setPlaying(true);
        reconnecting_ = false;
        showText(Label4, QStringLiteral("connecting..."));
        showText(Label3, QString());
        setSongTitle(QString());
        showText(Label5, QString());
        break;
    case 1:
        setPlaying(false);
        showText(Label4, playback::notPlayingText(static_cast<int>(number)));
        if (forms_ && forms_->Form2)
            forms_->Form2->showTestFindings(TestStreamUrl(), Label4->text());
        // Emptying the title at status 0 restarted the clock when a title
        // was shown; nothing plays now, so it stops at 00:00:00.
        invoke(QStringLiteral("Button12"));
        showFailureBox();
        break;
    case 2: {
        const QString progress = playback::bufferingText(number);
        showText(Label4, progress);
        if (dialogStatus)
            dialogStatus->setText(progress);
        break;
    }
    case 3:
        showText(Label4, text);
        if (dialogStatus)
            dialogStatus->clear();
        break;
    case 4:
    case 8:
        showText(Label5, text);
        break;
    case 7:
        showText(Label3, text);
        setSongTitle(text);
        break;
    case playback::StatusReconnecting:
        // The clock holds while nothing comes, and goes on when the station
        // is back: the song may well go on too.
        if (!reconnecting_) {
            reconnecting_ = true;
            statusBeforeReconnect_ = Label4->text();
            Timer3->stop();
        }
        showText(Label4, playback::reconnectingText(static_cast<int>(number)));
        break;
    case playback::StatusReconnected:
        if (reconnecting_) {
            reconnecting_ = false;
            showText(Label4, statusBeforeReconnect_);
            Timer3->start();
        }
        break;
    case playback::StatusEnded:
        // The station went away and what it sent has played out.
        showText(Label4, playback::notPlayingText(engine::ERROR_ENDED));
        invoke(QStringLiteral("Button12"));
        setPlaying(false);
        break;
    default:
        break;
    }
}

void TForm1::showFailureBox() {
    // The box is modal: while it is open, media keys, the tray's menu and
    // the accessibility bus still reach the window's commands, and each
    // failed opening among them would open a box inside the last one until
    // nothing but closing them one by one frees the window. One is enough:
    // the status line tells of the others.
    if (failureBoxOpen_)
        return;
    failureBoxOpen_ = true;
    const auto reopen = qScopeGuard([this] { failureBoxOpen_ = false; });
    PlainMessage(QStringLiteral("Service Unavailable   "));
}

// --- The song change ---------------------------------------------------------------

void TForm1::Edit5Change() {
    // 1. The clock counts from the start of the song.
    invoke(QStringLiteral("Button11"));

    // 2. The settings of this song change.
    IniFile ini = settings::openSettings();
    const QString songImage = ini.ReadString(settings::RadioSection, settings::SongImageKey);
    const QString separate = ini.ReadString(settings::RadioSection, settings::SeparateKey);
    const QString interval = ini.ReadString(settings::RadioSection, settings::IntervalKey);
    const QString interval2 = ini.ReadString(settings::RadioSection, settings::Interval2Key);

    // 3. Artist and song for the lyrics query; an empty title keeps both.
    QWidget* lyrics = forms_ ? forms_->Form6 : nullptr;
    if (!SongTitle().isEmpty() && lyrics) {
        const playback::ArtistSong parts = playback::splitArtistSong(SongTitle());
        if (auto* artist = lyrics->findChild<QLineEdit*>(QStringLiteral("Edit1")))
            artist->setText(parts.artist);
        if (auto* song = lyrics->findChild<QLineEdit*>(QStringLiteral("Edit2")))
            song->setText(parts.song);
    }

    // The engine keeps the new song's audio for a recording from its start.
    engine_.SetConfig(engine::CONFIG_SONG_BUFFER,
                      songBuffer(ini.ReadString(settings::RecordSection, settings::FromStartKey) ==
                                     settings::TrueText,
                                 ini.ReadString(settings::RecordSection, settings::FormatKey)));

    // 4. Arm the split of a running recording at the song change (a
    // recording cut at songs by the engine needs no delays).
    if (recording::splitArms(IsRecording, separate) && !recorder().cutsAtSongs()) {
        Timer4->setInterval(recording::splitDelayMs(interval));
        Timer6->setInterval(recording::splitDelayMs(interval2));
        Timer4->start();
    }

    // 5. Lyrics for the new song.
    invokeCommand(lyrics, "Button1");

    // 6. The song picture, or the song-info popup with the default picture.
    if (songImage == settings::TrueText) {
        Timer5->start();
    } else {
        if (QWidget* songInfo = forms_ ? forms_->Form7 : nullptr) {
            if (auto* label = songInfo->findChild<QLabel*>(QStringLiteral("Label1")))
                label->resize(SongTipLabelWidth, label->height());
        }
        showDefaultPicture(Image2, Image1);
        setSongPictureFile(QString());
        invoke(QStringLiteral("Button15"));
    }
}

// --- Play, stop, volume ---------------------------------------------------------------

void TForm1::playClick() {
    UseSelectedStation();
    invoke(QStringLiteral("Run"));
}

void TForm1::stopClick() {
    // An opening under way would start playing after the stop: it is
    // superseded and frees its stream.
    playback_->opener->supersede();
    engine_.ChannelStop(CurrentStream.load());
    engine_.Stop();
    engine_.Start();
    Button12Click();
    // Stopping ends a reconnect: the label no longer says it is under way.
    if (std::exchange(reconnecting_, false))
        showText(Label4, statusBeforeReconnect_);
    setPlaying(false);
}

void TForm1::setPlaying(bool playing) {
    if (playing_ == playing)
        return;
    playing_ = playing;
    emit playingChanged(playing);
}

void TForm1::setSongPictureFile(const QString& file) {
    // Every fetched picture is news, also under the same file name.
    if (file.isEmpty() && songPictureFile_.isEmpty())
        return;
    songPictureFile_ = file;
    emit songPictureChanged();
}

void TForm1::TrackBar1Change() {
    playback_->volume.setVolume(TrackBar1->value());
    // The mute button keeps its caption; a screen reader hears the outcome.
    mute->setAccessibleDescription(TrackBar1->value() == 0 ? QStringLiteral("Volume off")
                                                           : QStringLiteral("Volume on"));
}

void TForm1::muteClick() {
    if (TrackBar1->value() > 0) {
        MutedVolume = TrackBar1->value();
        TrackBar1->setValue(0);
    } else {
        TrackBar1->setValue(MutedVolume);
    }
}

// --- Level meter and clock ----------------------------------------------------------

void TForm1::Timer8Timer() {
    const playback::MeterState meter = playback::levelMeterTick(
        engine_.ChannelGetLevel(CurrentStream.load()), LevelPeak, sGauge1->maximum());
    LevelPeak = meter.peak;
    if (sGauge1->maximum() != meter.maximum)
        sGauge1->setMaximum(meter.maximum);
    sGauge1->setValue(meter.value);
}

void TForm1::Button11Click() {
    ClockHours = ClockMinutes = ClockSeconds = 0;
    Button12Click();
    Timer3->start();
}

void TForm1::Button12Click() {
    Timer3->stop();
    showText(Timer, playback::clockText({}));
}

void TForm1::Timer3Timer() {
    const playback::ClockCounters next =
        playback::clockTick({ClockHours, ClockMinutes, ClockSeconds});
    ClockHours = next.hours;
    ClockMinutes = next.minutes;
    ClockSeconds = next.seconds;
    showText(Timer, playback::clockText(next));
}

void TForm1::EngineErrorBox(const QString& text) {
    PlainMessage(text + QStringLiteral("\r\n(error code: ") +
                 QString::number(engine_.ErrorGetCode()) + u')');
}

} // namespace tolvane
