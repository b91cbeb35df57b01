// Start-up and shutdown of the main window: the create step, the showing
// step with its one-time start-up block, the automatic start of the last
// station, and the close and destroy steps.

#include "TForm1.h"

#include "Forms.h"
#include "catalog/Catalog.h"
#include "common/Convert.h"
#include "common/Errors.h"
#include "common/IniFile.h"
#include "common/LaunchTrace.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "online/WebService.h"
#include "playback/SleepTimer.h"
#include "playback/engine/Engine.h"
#include "settings/SettingsFile.h"
#include "update/TForm5.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QSlider>
#include <QUrl>

namespace tolvane {

namespace {

const QString ClockFontFamily = QStringLiteral("Digital Readout Thick Upright");

// The clock's font: the system's when it has one of that family, otherwise
// the seven-segment font shipped in "Fonts", registered under that family.
void ensureClockFont() {
    if (QFontDatabase::hasFamily(ClockFontFamily))
        return;
    const QDir fonts(ProgramPath(QStringLiteral("Fonts")));
    const QStringList files =
        fonts.entryList({QStringLiteral("*.ttf"), QStringLiteral("*.otf")}, QDir::Files);
    for (const QString& file : files) {
        const int id = QFontDatabase::addApplicationFont(fonts.filePath(file));
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (!families.isEmpty()) {
            QFont::insertSubstitution(ClockFontFamily, families.first());
            return;
        }
    }
}

} // namespace

bool TForm1::FormCreate() {
    // Formats are built into the engine; loading the plug-ins changes nothing.
    engine_.PluginLoad("system/aac", 0);
    engine_.PluginLoad("system/wma", 0);

    if ((engine_.GetVersion() >> 16) != 0x0204) {
        ErrorMessage(QStringLiteral("An incorrect version of BASS.DLL was loaded"));
        return false;
    }
    if (!engine_.Init(-1, 44100, 0, this, nullptr)) {
        EngineErrorBox(QStringLiteral("Can't initialize device"));
        return false;
    }
    static const char proxy[] = "";
    engine_.SetConfig(engine::CONFIG_NET_PLAYLIST, 1);
    engine_.SetConfig(engine::CONFIG_NET_PREBUF, 0);
    engine_.SetConfigPtr(engine::CONFIG_NET_PROXY, proxy);
    Timer2->start();
    return true;
}

void TForm1::FormShow() {
    // The start-up block runs at the first showing only: showing the window
    // again (after the tray, or after the Add-station window) must not reload
    // the catalog or restart the last station over what plays now.
    if (!HiddenToTray && !startupDone_) {
        startupDone_ = true;
        // Cleared however the block ends (a handler's error ends it early).
        struct FirstShowing {
            bool& flag;
            explicit FirstShowing(bool& f) : flag(f) { flag = true; }
            ~FirstShowing() { flag = false; }
        } firstShowing(inFirstShowing_);
        // 1. The clock's font.
        ensureClockFont();
        QFont clock(ClockFontFamily);
        clock.setPointSize(15);
        Timer->setFont(clock);
        traceStep("showing: 1 clock font");

        // 2. Installation ping, on a thread of its own; the reply is dropped.
        DownloadLimits pingLimits;
        pingLimits.connectTimeoutMs = 5'000;
        pingLimits.totalTimeoutMs = 15'000;
        pingLimits.maxBytes = 1024 * 1024;
        WebBrowser1 = std::make_unique<BackgroundGet>(Services::FromProgramFolder().main +
                                                          QStringLiteral("/radio/radio.php?id=") +
                                                          InstallationId(),
                                                      pingLimits);
        traceStep("showing: 2 installation ping started");

        // 3. Hand-off to the updater program.
        if (settings::openSettings().ReadString(settings::RadioSection, settings::UpdateKey) ==
            settings::TrueText) {
            QProcess::startDetached(ProgramPath(QStringLiteral("\\TolvaneUpdate")), {},
                                    QDir::currentPath());
            settings::openSettings().WriteString(settings::RadioSection, settings::UpdateKey,
                                                 settings::FalseText);
            Timer1->start();
        }

        traceStep("showing: 3 hand-off checked");
        // 4. Skin, website and level meter from the settings file.
        if (settings::settingsFileExists()) {
            IniFile ini = settings::openSettings();
            const QString skin = ini.ReadString(settings::RadioSection, settings::SkinKey);
            Edit4->setText(ini.ReadString(settings::RadioSection, settings::StationWebsiteKey));
            if (!skin.isEmpty())
                ApplySkin(ProgramPath(QStringLiteral("\\Skins\\")), skin);
            Timer8->start();
        }

        traceStep("showing: 4 skin and meter");
        // 5. Connection check.
        if (!IsConnected())
            ShowMessage(QStringLiteral("There is no active internet connection!"));
        traceStep("showing: 5 connection checked");

        // 6. Filter lists.
        if (auto lists = catalog::readFilterLists()) {
            fillFilterBoxes(lists->first, lists->second);
        } else {
            ShowMessage(catalog::ListFilesMissingText);
        }

        traceStep("showing: 6 filter lists");
        // 7, 8. The whole catalog, then the last station.
        invoke(QStringLiteral("Button3"));
        traceStep("showing: 7 catalog listed");
        invoke(QStringLiteral("reload"));
        traceStep("showing: 8 automatic start");
    }

    // 9. The default station picture.
    Image1->setPixmap(Image2->pixmap());
    setSongPictureFile(QString());

    // 10. The skin names, listed afresh so a restore does not repeat them.
    FillSkinList();
}

void TForm1::reloadClick() {
    if (!settings::settingsFileExists())
        return;
    IniFile ini = settings::openSettings();
    if (ini.ReadString(settings::RadioSection, settings::AutostartKey) != settings::TrueText)
        return;
    Edit1->setText(ini.ReadString(settings::RadioSection, settings::StationKey));
    Edit3->setText(ini.ReadString(settings::RadioSection, settings::NameKey));
    // The station's charset, as choosing it in the list would read it; a
    // working catalog that cannot be read leaves its titles to the guess.
    try {
        CurrentCharset = catalog::readStationLink(Edit3->text()).charset;
    } catch (const FileReadError&) {
        CurrentCharset.clear();
    }
    // A volume that is no whole number ends the handler here: nothing opens.
    TrackBar1->setValue(StrToInt(ini.ReadString(settings::RadioSection, settings::VolumeKey)));
    invoke(QStringLiteral("Run"));
}

void TForm1::FormClose() {
    if (IsRecording)
        sButton3Click();
    Timer8->stop();
}

void TForm1::FormDestroy() {
    if (destroyed_)
        return;
    destroyed_ = true;
    WebBrowser1.reset(); // a ping still under way is stopped
    shutdownPlayback();
    // The close step filed the last recording: it gets its tags before the
    // program ends (a kill instead leaves it whole, untagged).
    waitForRecordingTags();

    runGuarded([this] {
        const QString temp = ProgramPath(catalog::WorkingCatalogFile);
        if (QFile::exists(temp))
            QFile::remove(temp);

        IniFile ini = settings::openSettings();
        ini.WriteString(settings::RadioSection, settings::VolumeKey,
                        QString::number(TrackBar1->value()));
        ini.WriteString(settings::RadioSection, settings::StationKey, Edit1->text());
        ini.WriteString(settings::RadioSection, settings::NameKey, Edit3->text());
        ini.WriteString(settings::RadioSection, settings::VersionKey,
                        QString::fromLatin1(ProgramVersion));
        ini.WriteString(settings::RadioSection, settings::StationWebsiteKey, Edit4->text());
    });

    for (tolvane::Timer* t : {Timer1, Timer2, Timer3, Timer4, Timer5, Timer6, Timer7, Timer8})
        t->stop();
    if (sleepTimer_)
        sleepTimer_->cancel();
}

void TForm1::Timer1Timer() {
    close();
    Timer1->stop();
}

void TForm1::Timer2Timer() {
    // A message box of the first showing runs its own event loop, so this
    // can tick before the first showing is over and the other windows
    // exist. The pass waits for them: it runs once per start, afterwards.
    if (!startupDone_ || !forms_ || !forms_->Form5 || inFirstShowing_)
        return;
    invoke(QStringLiteral("Button10"));
}

void TForm1::Button10Click() {
    Timer2->stop();
    if (forms_ && forms_->Form5)
        forms_->Form5->show();
}

void TForm1::Label4Click() {
    if (Edit4->text().isEmpty())
        return;
    // Station files come from outside: only web addresses are opened.
    const QUrl site = QUrl::fromUserInput(Edit4->text());
    if (site.scheme() == QLatin1String("http") || site.scheme() == QLatin1String("https"))
        QDesktopServices::openUrl(site);
}

} // namespace tolvane
