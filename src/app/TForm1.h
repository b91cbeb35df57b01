#pragma once
// The main window: the station list with its filters and search, the
// transport row, the status area and the hidden commands through which
// menus, shortcuts, timers and the other windows reach every operation.

#include "common/Timer.h"
#include "common/Version.h"
#include "online/Fetch.h"
#include "recording/Recorder.h"

#include <QAction>
#include <QDateTime>
#include <QMainWindow>
#include <QPoint>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QSlider;
class QSystemTrayIcon;
class QToolButton;

namespace tolvane::engine {
class Engine;
}
namespace tolvane::playback {
class SleepTimer;
class StreamOpener;
} // namespace tolvane::playback
namespace tolvane::catalog {
struct StationRow;
}
namespace tolvane::recording {
class Recorder;
class RecordingTagger;
struct RecordingTags;
struct Filing;
} // namespace tolvane::recording

namespace tolvane {

struct Forms;
class StationListView;

// One entry of the command table: a hidden command of the main window.
struct CommandEntry {
    const char* name;    // objectName of the action, e.g. "Button3"
    const char* caption; // its caption, e.g. "Load Playlist"
    void (*handler)(class TForm1&);
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // Runs the create step. When it fails (wrong engine version, no output
    // device) created() is false and the window must not be shown.
    explicit TForm1(engine::Engine& engine, QWidget* parent = nullptr);
    ~TForm1() override;

    bool created() const { return created_; }
    engine::Engine& Engine() { return engine_; }

    // The other windows, set once they exist (process start).
    void setForms(Forms* forms) { forms_ = forms; }
    Forms* forms() const { return forms_; }

    // The program's constant version, written at every shutdown.
    static constexpr const char* ProgramVersion = TolvaneVersion;

    // --- Commands --------------------------------------------------------
    // Every hidden command as an action; `command("Button3")->trigger()`
    // runs its handler exactly as a click would.
    QAction* command(const QString& name) const;
    static const std::vector<CommandEntry>& commandTable();
    // Invokes a command by name (menus, timers and other windows use this).
    void invoke(const QString& name);

    // --- Handlers: start-up and shutdown -------------------------------
    void FormShow();
    void reloadClick();
    void FormClose();
    void FormDestroy();
    void Timer1Timer();
    void Timer2Timer();

    // --- Handlers: catalog ------------------------------------------------
    void Button3Click();
    void duplicatesClick();
    void Button8Click();
    void Button9Click();
    void UseSelectedStation();
    void sListView1DblClick();
    void NextStation();
    void PreviousStation();
    void FindStation();

    // --- Handlers: playback -----------------------------------------------
    void RunClick();
    void playClick();
    void stopClick();
    void muteClick();
    void TrackBar1Change();
    void Button11Click();
    void Button12Click();
    void Timer3Timer();
    void Timer8Timer();
    void Edit5Change();
    // The status message, handled on the user-interface thread. `number`
    // carries codes 1, 2; `text` codes 3, 4, 7, 8.
    Q_INVOKABLE void StatusMessage(int code, qint64 number, const QString& text);
    // Shows "text\r\n(error code: N)" without caption, owned by this window.
    void EngineErrorBox(const QString& text);
    // The stream opener behind Run (its workers, the streams they opened).
    playback::StreamOpener& streamOpener();
    // Whether a station is being opened or plays: from the start of an
    // opening until the stop command or a failed opening. What media
    // controls on the desktop show as playing or stopped.
    bool isPlaying() const { return playing_; }
    // The song picture shown in Image1 as a file, empty while the default
    // picture shows.
    QString songPictureFile() const { return songPictureFile_; }

    // --- Sleep timer (TForm1Sleep.cpp) -------------------------------------
    // Stops playback after a number of minutes, filing a running recording
    // first; a new time replaces the old.
    playback::SleepTimer& sleepTimer();
    void startSleepTimer(int minutes);
    void cancelSleepTimer();
    // The end of the sleep time: the record command's stop, then stop.
    void SleepTimerEnd();
    // A reconnect put stream `to` in place of `from` after `silentMs` of
    // silence: a recording of `from` goes on in the same file across a gap
    // up to ReconnectGapLimitMs, and in a new file after a longer one.
    void StreamReplaced(std::uint32_t from, std::uint32_t to, qint64 silentMs);
    // The longest gap a recording is carried across; tests shorten it.
    qint64 ReconnectGapLimitMs = 10000;
    // Shows what the Add-station window's test found about a stream that
    // now plays. A stream that names no bitrate is measured as it decodes:
    // while no rate is known yet, it looks again `triesLeft` more times.
    void ShowTestFindings(std::uint32_t handle, int triesLeft);

    // --- Handlers: commands reaching later windows ------------------------
    void Button4Click();
    void Button5Click();
    void Button6Click();
    void Button7Click();
    void Button10Click();
    void Button13xClick();
    void Button15Click();
    void Button13Click();
    void Button16Click();
    // Opens the "Find Stations" window (the station directory).
    void FindStationsClick();
    // The record command: starts or stops a recording of the current stream.
    void sButton3Click();
    void Timer4Timer();
    void Timer5Timer();
    void Timer6Timer();
    void Timer7Timer();
    void Label4Click();

    // --- Handlers: online services (TForm1Online.cpp) ----------------------
    void Image3Click();
    void Label6Click();
    void Label7Click();
    void ShareonFacebookandtwitter1Click();
    void Image4Click();
    void Image5Click();
    // Banner rotation: the section count and the index of the next ad.
    int BannerCount = 0;
    int BannerIndex = 0;

    // --- Handlers: window visibility and skins ---------------------------
    void MinimizeToTray();
    void ShowFromTray();
    void ColorThemes1Click();
    void sComboBox1Change();
    void sBitBtn1Click();
    void FillSkinList();
    // The skin names a folder offers (its entries but plain sub-folders).
    static QStringList skinNames(const QString& folder);
    void ApplySkin(const QString& skinDirectory, const QString& skinName);

    // --- Shared state (hidden fields and process-wide values) -------------
    // CurrentStation: stream URL (Edit1), name (Edit3), website (Edit4).
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLineEdit* Edit4 = nullptr;
    // The current station's `charset` key from the working catalog, read
    // with its URL and website; empty for the guess.
    QString CurrentCharset;
    QLineEdit* Edit5 = nullptr; // SongTitle
    QLineEdit* Edit6 = nullptr; // song title when the recording started
    QLineEdit* Edit7 = nullptr; // web address of the banner shown
    QLineEdit* Edit8 = nullptr; // TestStreamUrl

    QString SongTitle() const;
    QString TestStreamUrl() const;
    void setSongTitle(const QString& title);

    bool HiddenToTray = false;
    // Set by the first showing, so the start-up block runs once.
    bool startupDone_ = false;
    // True while the first showing's start-up block runs.
    bool inFirstShowing_ = false;
    bool IsRecording = false;
    // Waits at most `timeoutMs` (negative: no limit) until the recordings
    // filed so far carry their tags; false when some are still being tagged.
    bool waitForRecordingTags(int timeoutMs = -1);
    int MutedVolume = 0;
    int LevelPeak = 0;
    int ClockHours = 0, ClockMinutes = 0, ClockSeconds = 0;
    // The engine handle of the stream opened last. Written by stream-opener
    // workers, read on the user-interface thread.
    std::atomic<std::uint32_t> CurrentStream{0};

    // --- Visible controls ----------------------------------------------------
    QFrame* sPanel1 = nullptr; // status area
    QProgressBar* sGauge1 = nullptr;
    QLabel* Label3 = nullptr; // song title
    QLabel* Label4 = nullptr; // status / station name (click: website)
    QLabel* Label5 = nullptr; // bitrate
    QLabel* Timer = nullptr;  // elapsed-time clock
    QFrame* sPanel2 = nullptr;
    QLabel* Image1 = nullptr; // station picture
    QLabel* Image2 = nullptr; // default picture (hidden)

    QFrame* sPanel3 = nullptr; // transport row
    QToolButton* SpeedButton3 = nullptr;
    QToolButton* play = nullptr;
    QToolButton* stop = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    QToolButton* next = nullptr;
    QToolButton* mute = nullptr;
    QSlider* TrackBar1 = nullptr;

    QFrame* sPanel4 = nullptr; // catalog area
    QLabel* LanguageLabel = nullptr;
    QLabel* GenreLabel = nullptr;
    QComboBox* ComboBox1 = nullptr; // Language filter
    QComboBox* ComboBox2 = nullptr; // Genre filter
    StationListView* ListView1 = nullptr;
    QPushButton* sButton14 = nullptr; // "Add"
    QPushButton* sButton12 = nullptr; // "Favorites"
    QLineEdit* Edit2 = nullptr;       // search box
    QPushButton* searchbutton = nullptr;

    QFrame* nekipanel = nullptr; // banner picture
    QLabel* Image3 = nullptr;
    QFrame* sPanel5 = nullptr; // banner text
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;

    QFrame* skinpanel = nullptr;
    QComboBox* sComboBox1 = nullptr;
    QPushButton* sBitBtn1 = nullptr;

    QFrame* share = nullptr;
    QLabel* Image4 = nullptr;
    QLabel* Image5 = nullptr;
    QLabel* sWebLabel1 = nullptr;

    QMenu* PopupMenu = nullptr;  // under "Add"
    QMenu* PopupMenu1 = nullptr; // under "Favorites"
    QMenu* PopupMenu3 = nullptr; // tray icon
    QSystemTrayIcon* CoolTrayIcon1 = nullptr;

    // --- Timers ----------------------------------------------------------------
    tolvane::Timer* Timer1 = nullptr;
    tolvane::Timer* Timer2 = nullptr;
    tolvane::Timer* Timer3 = nullptr;
    tolvane::Timer* Timer4 = nullptr;
    tolvane::Timer* Timer5 = nullptr;
    tolvane::Timer* Timer6 = nullptr;
    tolvane::Timer* Timer7 = nullptr;
    tolvane::Timer* Timer8 = nullptr;

    // The point at which a popup under a list button opens: the button's
    // centre in its panel, 40 left and 50 down, as a client-area point.
    static QPoint popupPoint(const QRect& buttonGeometry);

    // The connection test used at start-up and before each opening.
    std::function<bool()> IsConnected;
    // Whether the desktop has a notification area to hide the window to.
    std::function<bool()> SystemTrayAvailable;

    // Whether the close step and destroy step have run.
    bool closing() const { return closing_; }

signals:
    void playingChanged(bool playing);
    void songPictureChanged();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool FormCreate();
    // Makes the volume component (full volume, not muted) and the stream
    // opener; part of building the window.
    void startPlayback();
    // Closes the stream opener, frees the engine (the one place that does)
    // and then waits, bounded, for the opener's workers.
    void shutdownPlayback();
    void startRecording(const QString& recordingFolder);
    void stopRecording(const QString& recordingFolder);
    // While recording: when the encoder has ended by itself (its disk is
    // full, it failed), files what it wrote and tells the user.
    void watchRecording();
    recording::Recorder& recorder();
    void setPlaying(bool playing);
    // Image1 shows the song picture of `file`, or the default picture when
    // `file` is empty.
    void setSongPictureFile(const QString& file);
    // The remaining sleep time in the status label's tooltip and
    // accessible description.
    void showSleepTime();
    void buildSleepMenu(QMenu* option);
    void buildLayout();
    void buildCommands();
    void buildMenus();
    void buildTimers();
    void connectControls();
    // Runs the click handler of a clickable picture or label; false for
    // any other object.
    bool clickLabel(QObject* watched);
    // Makes the row `step` picks current, selects it and plays it.
    void stepToStation(std::optional<int> (*step)(int selected, int rowCount));
    void showRows(const QVector<catalog::StationRow>& rows);
    void fillFilterBoxes(const QStringList& languages, const QStringList& genres);
    void selectLastEntries();

    engine::Engine& engine_;
    Forms* forms_ = nullptr;
    bool created_ = false;
    bool closing_ = false;
    bool destroyed_ = false;
    // LoadImage is running; another fetch was asked for meanwhile.
    bool loadingImage_ = false;
    bool loadImageAgain_ = false;
    std::unique_ptr<BackgroundGet> WebBrowser1; // installation ping, its reply dropped
    QFrame* sPanel6 = nullptr;                  // holds the hidden commands

    // The volume component and the stream opener (TForm1Playback.cpp).
    struct PlaybackParts;
    struct PlaybackPartsDeleter {
        void operator()(PlaybackParts* parts) const;
    };
    std::unique_ptr<PlaybackParts, PlaybackPartsDeleter> playback_;
    std::unique_ptr<recording::Recorder> recorder_;
    // "Service Unavailable   " for a failed opening, unless one is open.
    void showFailureBox();
    // The stream opener's failure box is on screen (at most one is).
    bool failureBoxOpen_ = false;
    // While reconnecting: what the status label said before, shown again
    // once the station is back or the user stops.
    bool reconnecting_ = false;
    QString statusBeforeReconnect_;
    QTimer* recordingWatch_ = nullptr; // ticks while IsRecording
    bool playing_ = false;
    QString songPictureFile_;
    std::unique_ptr<playback::SleepTimer> sleepTimer_;
    // Tags filed recordings off this thread.
    std::unique_ptr<recording::RecordingTagger> tagger_;
    // The running recording's start and its station's website (the website
    // of the station heard, also when another one is current at the stop).
    QDateTime recordingStarted_;
    QString recordingWebsite_;
    // The song pictures fetched last, with the title each was fetched for:
    // a recording gets the picture of its own song, also when the next
    // song's picture came before the recording was filed.
    QList<std::pair<QString, QByteArray>> songPictures_;
    void rememberSongPicture(const QString& title, const QByteArray& picture);
    QByteArray songPicture(const QString& title) const;
    // Hands a filed recording to the tagger.
    void tagFiled(const QString& path, const recording::RecordingTags& tags);
    void tagStopped(const QString& station, const recording::Filing& filing);
    // A recording cut at songs: tags each song filed with its own title.
    void tagSongs(const QString& station, const std::vector<recording::Recorder::FiledPart>& songs);
    void tagStopped(const QString& station, const recording::Recorder::StopResult& stopped);
};

} // namespace tolvane
