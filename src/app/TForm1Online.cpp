// Online commands of the main window: the song picture (LoadImage) and the
// song-info popup with their one-shot timer, the banner rotation and its
// clicks, and the share panel.

#include "TForm1.h"

#include "Forms.h"
#include "common/IniFile.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "online/Addresses.h"
#include "online/Banners.h"
#include "online/Desktop.h"
#include "online/Fetch.h"
#include "online/Pictures.h"
#include "online/TForm7.h"
#include "online/WebService.h"
#include "recording/RecordingTags.h"
#include "settings/SettingsFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>

namespace tolvane {

namespace {

const QString PictureLookupFile = QStringLiteral("\\songimage.dat");
const QString PictureFile = QStringLiteral("\\songimage.jpg");
const QString BannerList = QStringLiteral("\\reklame.dat");
// The lookup's reply is a short reference; the picture a small JPEG.
constexpr qint64 LookupReplyBytes = 4 * 1024;

// A picture shown in a box of fixed size, in proportion.
QPixmap fitted(const QPixmap& picture, const QSize& box) {
    if (picture.isNull() || box.isEmpty())
        return picture;
    return picture.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

} // namespace

// --- Song picture and popup ------------------------------------------------------------

void TForm1::Button13xClick() {
    // One picture fetch at a time: a song change during the downloads asks
    // for another fetch once this one is done.
    if (loadingImage_) {
        loadImageAgain_ = true;
        return;
    }
    struct Running {
        TForm1& f;
        explicit Running(TForm1& form) : f(form) { f.loadingImage_ = true; }
        ~Running() {
            f.loadingImage_ = false;
            if (f.loadImageAgain_ && !f.closing()) {
                f.loadImageAgain_ = false;
                f.Timer5->start();
            }
        }
    } running(*this);
    const auto abandon = [this] { return closing(); };
    auto pump = [] { QCoreApplication::processEvents(); };

    // 1, 2. No picture from an earlier song is left to show.
    if (ProgramFileExists(PictureFile))
        QFile::remove(ProgramPath(PictureFile));
    QStringList lines;
    pump();
    // 3. No title, nothing to look up.
    const QString title = Label3->text();
    const Services services = Services::FromProgramFolder();
    bool done = title.isEmpty();
    // 4. The lookup; its reply is used only right after a good download.
    DownloadLimits lookupLimits;
    lookupLimits.maxBytes = LookupReplyBytes;
    if (!done &&
        FetchToFile(PictureLookupUrl(services.radio, title), ProgramPath(PictureLookupFile),
                    abandon, lookupLimits) == FetchResult::Done)
        lines = ReadTextLines(ProgramPath(PictureLookupFile));
    pump();
    // 5. The picture's reference.
    const QString reference = PictureReference(lines);
    done = done || reference.isEmpty();
    // 6. The picture.
    DownloadLimits pictureLimits;
    pictureLimits.maxBytes = PictureLimits{}.maxBytes;
    if (!done &&
        FetchToFile(PictureUrl(services.radio, reference), ProgramPath(PictureFile), abandon,
                    pictureLimits) == FetchResult::Done &&
        ProgramFileExists(PictureFile)) {
        // 7. A picture that does not decode, or is too large, gives the
        // default one.
        const QPixmap picture =
            QPixmap::fromImage(ReadPictureOffThread(ProgramPath(PictureFile), "JPG", abandon));
        Image1->setPixmap(picture.isNull() ? Image2->pixmap() : picture);
        setSongPictureFile(picture.isNull() ? QString() : ProgramPath(PictureFile));
        // Kept for the recording of this song, which may be filed after the
        // next song's picture has replaced this one.
        if (!picture.isNull()) {
            QFile file(ProgramPath(PictureFile));
            if (file.size() <= recording::MaxTagPictureBytes && file.open(QIODevice::ReadOnly))
                rememberSongPicture(title, file.readAll());
        }
    }
}

void TForm1::Button15Click() {
    const bool balloon = settings::readFlag(settings::RadioSection, settings::BalloonKey);
    if (SongTitle().isEmpty() || !balloon)
        return;
    if (forms_ && forms_->Form7)
        forms_->Form7->showSongTip(SongTitle(), Image1->pixmap());
}

void TForm1::Timer5Timer() {
    // A one-shot: off before its downloads start, so it never runs nested.
    Timer5->stop();
    invoke(QStringLiteral("Button13x"));
    if (!loadingImage_)
        invoke(QStringLiteral("Button15"));
}

// --- Banners ---------------------------------------------------------------------------

void TForm1::Button13Click() {
    int count = 0;
    if (ProgramFileExists(BannerList))
        count = CountBannerSections(ReadTextLines(ProgramPath(BannerList)));
    BannerCount = count;
    BannerIndex = 0;
    Timer7->start();
}

void TForm1::Timer7Timer() {
    invoke(QStringLiteral("Button16"));
}

void TForm1::Button16Click() {
    const int i = BannerIndex;
    if (!ProgramFileExists(BannerList))
        return;
    const BannerAd ad = ReadBannerAd(IniFile(ProgramPath(BannerList)).document(), i);
    if (!ad.website.isEmpty()) {
        sPanel5->show();
        Image3->hide();
    }
    Edit7->setText(ad.website);
    Label6->setText(ad.name);
    Label7->setText(ad.text);
    // Labels whose text changes say it to screen readers; an empty one is
    // nothing to go to.
    Label6->setAccessibleName(ad.name);
    Label7->setAccessibleName(ad.text);
    for (QLabel* words : {Label6, Label7})
        words->setFocusPolicy(words->text().isEmpty() ? Qt::NoFocus : Qt::TabFocus);
    const QString picturePath =
        ad.image.isEmpty() ? QString() : ProgramPath(QStringLiteral("\\banners\\") + ad.image);
    QPixmap picture;
    // The format follows the file's extension.
    if (!picturePath.isEmpty() && QFile::exists(picturePath))
        picture = QPixmap::fromImage(ReadPictureOffThread(
            picturePath, QFileInfo(picturePath).suffix().toLatin1(), [this] { return closing(); }));
    if (!picturePath.isEmpty() && QFile::exists(picturePath)) {
        sPanel5->hide();
        Image3->show();
        // A picture that cannot be decoded leaves the strip blank.
        Image3->setPixmap(fitted(picture, QSize(281, 57)));
        Image3->setAccessibleName(ad.name.isEmpty() ? QStringLiteral("Banner") : ad.name);
    } else {
        Image3->hide();
    }
    BannerIndex = NextBannerIndex(i, BannerCount);
}

void TForm1::Image3Click() {
    OpenWebAddress(Edit7->text());
}

void TForm1::Label6Click() {
    if (!Label6->text().isEmpty())
        OpenWebAddress(Edit7->text());
}

void TForm1::Label7Click() {
    if (!Label7->text().isEmpty())
        OpenWebAddress(Edit7->text());
}

// --- Sharing ---------------------------------------------------------------------------

void TForm1::ShareonFacebookandtwitter1Click() {
    if (Edit4->text().isEmpty()) {
        ShowMessage(QStringLiteral("Radio station is not active"));
        return;
    }
    share->raise();
    share->show();
}

void TForm1::Image4Click() {
    OpenWebAddress(
        FacebookShareUrl(Services::FromProgramFolder().facebook, Edit3->text(), Edit4->text()));
}

void TForm1::Image5Click() {
    OpenWebAddress(
        TwitterShareUrl(Services::FromProgramFolder().twitter, Edit3->text(), Edit4->text()));
}

} // namespace tolvane
