#include "TForm5.h"

#include "Signature.h"
#include "common/Errors.h"
#include "common/IniFile.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "online/Fetch.h"
#include "online/Pictures.h"
#include "settings/SettingsFile.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyleOption>
#include <QStylePainter>
#include <QUrl>
#include <QVBoxLayout>

namespace tolvane {

namespace {

const QString ManifestAddress = QStringLiteral("/Download/downloadlist.dat");
const QString SignatureAddress = QStringLiteral("/Download/downloadlist.dat.sig");
const QString SerialSection = QStringLiteral("update");
const QString SerialKey = QStringLiteral("serial");

// The serial of the last manifest accepted; 0 when none was.
qint64 lastSerial() {
    try {
        bool ok = false;
        const qint64 serial = IniFile(ProgramPath(TForm5::SerialFile))
                                  .ReadString(SerialSection, SerialKey)
                                  .toLongLong(&ok);
        return ok ? serial : 0;
    } catch (const UserError&) {
        return 0;
    }
}

template <typename W> W* named(W* w, const char* name) {
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

// The pass's gauge. Its range is the number of files less one, so a single
// file gives a range of 0 to 0, which Qt draws as a busy animation, as if
// the pass never ended. This gauge draws such a range as an empty bar
// until the pass fills it, then as a full one.
class Gauge final : public QProgressBar {
public:
    using QProgressBar::QProgressBar;
    void setFilled(bool filled) {
        if (filled_ != filled) {
            filled_ = filled;
            update();
        }
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        if (minimum() != maximum()) {
            QProgressBar::paintEvent(event);
            return;
        }
        QStylePainter painter(this);
        QStyleOptionProgressBar option;
        initStyleOption(&option);
        option.minimum = 0;
        option.maximum = 1;
        option.progress = filled_ ? 1 : 0;
        painter.drawControl(QStyle::CE_ProgressBar, option);
    }

private:
    bool filled_ = false;
};

} // namespace

TForm5::TForm5(Host host, QWidget* parent) : QWidget(parent, Qt::Window), host_(std::move(host)) {
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Update"));
    // Fixed single border without caption buttons: the pass closes it.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(361, 265);

    auto* panel = named(new QFrame(this), "sPanel1");
    panel->setGeometry(0, 0, 361, 265);
    sLabelFX1 = named(new QLabel(QStringLiteral("Tolvane Update"), panel), "sLabelFX1");
    sLabelFX1->setGeometry(8, 4, 345, 24);
    QFont heading = sLabelFX1->font();
    heading.setBold(true);
    heading.setPixelSize(16);
    sLabelFX1->setFont(heading);
    sLabelFX1->setStyleSheet(QStringLiteral("color: grey;"));
    Image1 = named(new QLabel(panel), "Image1");
    Image1->setGeometry(8, 30, 345, 193);
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setAccessibleName(QStringLiteral("Update picture"));
    ProgressBar1 = named(new Gauge(panel), "ProgressBar1");
    ProgressBar1->setGeometry(16, 233, 329, 22);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 1);
    ProgressBar1->setValue(0);
    ProgressBar1->setAccessibleName(QStringLiteral("Download progress"));

    // The pass's state, kept in hidden controls.
    auto* group = named(new QGroupBox(this), "GroupBox1");
    group->hide();
    auto* column = new QVBoxLayout(group);
    auto field = [&](const char* caption, const char* name) {
        column->addWidget(new QLabel(QString::fromLatin1(caption), group));
        auto* e = named(new QLineEdit(group), name);
        column->addWidget(e);
        return e;
    };
    Edit1 = field("Curent Version:", "Edit1");
    Edit2 = field("New Version:", "Edit2");
    column->addWidget(new QLabel(QStringLiteral("Download From"), group));
    ListBox1 = named(new QListWidget(group), "ListBox1");
    column->addWidget(ListBox1);
    column->addWidget(new QLabel(QStringLiteral("Download to"), group));
    ListBox2 = named(new QListWidget(group), "ListBox2");
    column->addWidget(ListBox2);
    Edit3 = field("Extra Downloads", "Edit3");
    Edit4 = named(new QLineEdit(group), "Edit4");
    column->addWidget(Edit4);
    Button1 = named(new QPushButton(QStringLiteral("Start Download"), group), "Button1");
    Button2 = named(new QPushButton(QStringLiteral("Downloading"), group), "Button2");
    Button3 = named(new QPushButton(QStringLiteral("Close"), group), "Button3");
    for (QPushButton* b : {Button1, Button2, Button3})
        column->addWidget(b);
    connect(Button1, &QPushButton::clicked, this,
            [this] { runGuarded([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this,
            [this] { runGuarded([this] { Button2Click(); }); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });

    Timer1 = new tolvane::Timer(QStringLiteral("Timer1"), 1000, this);
    Timer1->OnTimer = [this] { runGuarded([this] { Timer1Timer(); }); };
}

const QString TForm5::RefusedMessage = QStringLiteral(
    "The update could not be verified as the publisher's and was refused. No file was changed.");
const QString TForm5::SerialFile = QStringLiteral("settings/updateserial.dat");

void TForm5::trustInstead(const QByteArray& publisherKey, const QString& caFile) {
    publisherKey_ = publisherKey;
    caFile_ = caFile;
}

void TForm5::pump() {
    QCoreApplication::processEvents();
}

update::Got TForm5::download(const QString& url, qint64 maxBytes, int timeoutMs,
                             const std::function<bool(const char*, qint64)>& write) {
    Transfer got = Transfer::Failed;
    const bool finished = RunWhileHandlingEvents(
        [&](const std::atomic<bool>& cancel) {
            DownloadLimits limits;
            limits.httpsOnly = true;
            limits.caFile = caFile_;
            limits.maxBytes = maxBytes;
            limits.totalTimeoutMs = std::max(timeoutMs, 1);
            limits.cancel = &cancel;
            got = DownloadToWriter(url, write, limits);
        },
        host_.quitting);
    if (!finished)
        return update::Got::Interrupted;
    switch (got) {
    case Transfer::Done:
        return update::Got::Done;
    case Transfer::Insecure:
        return update::Got::Insecure;
    case Transfer::Failed:
        break;
    }
    return update::Got::Failed;
}

update::Got TForm5::fetchBytes(const QString& url, qint64 maxBytes, QByteArray* bytes) {
    bytes->clear();
    // The manifest and its signature are small: the usual download bound.
    return download(url, maxBytes, DownloadLimits{}.totalTimeoutMs,
                    [bytes](const char* data, qint64 length) {
                        bytes->append(data, length);
                        return true;
                    });
}

void TForm5::refuse(update::Refusal why) {
    refusal_ = why;
    ShowMessage(RefusedMessage);
    endPass();
}

void TForm5::endPass() {
    if (host_.invokeMain) {
        host_.invokeMain(QStringLiteral("Button8"));
        host_.invokeMain(QStringLiteral("Button13"));
    }
    Button3->click();
    pump();
}

void TForm5::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
    // The check starts once the window is on screen.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (isVisible() && !busy_)
                FormShow();
        },
        Qt::QueuedConnection);
}

void TForm5::closeEvent(QCloseEvent* event) {
    // Only the pass closes the window; a close request meanwhile waits.
    if (busy_)
        event->ignore();
    else
        event->accept();
}

void TForm5::FormShow() {
    busy_ = true;
    bool failed = false;
    std::optional<update::Refusal> refused;
    bool loaderPicture = true;
    runGuarded([&] {
        // 1. The update site from the settings.
        if (settings::settingsFileExists()) {
            pump();
            Edit4->setText(settings::readText(settings::RadioSection, settings::WebsiteKey));
        }
        // 2. An empty gauge and lists.
        ProgressBar1->setMinimum(0);
        ProgressBar1->setValue(0);
        static_cast<Gauge*>(ProgressBar1)->setFilled(false);
        ListBox1->clear();
        ListBox2->clear();
        manifest_ = {};
        refusal_ = update::Refusal::None;
        // 3. Nowhere to go.
        if (!(host_.isConnected && host_.isConnected()) || Edit4->text().isEmpty()) {
            ShowMessage(QStringLiteral("No active internet connection"));
            failed = true;
            return;
        }
        // 4, 5. The manifest and its signature, kept in memory: nothing the
        // site sends is written before it is verified.
        pump();
        const update::PassLimits limits;
        QByteArray manifest;
        QByteArray signature;
        update::Got got =
            fetchBytes(Edit4->text() + ManifestAddress, limits.manifestBytes, &manifest);
        if (got == update::Got::Done) {
            got = fetchBytes(Edit4->text() + SignatureAddress, limits.signatureBytes, &signature);
            // A site that gives no signature offers an unsigned manifest.
            if (got == update::Got::Failed) {
                got = update::Got::Done;
                signature.clear();
            }
        }
        if (got == update::Got::Interrupted) {
            failed = true;
            return;
        }
        if (got == update::Got::Insecure) {
            refused = update::Refusal::InsecureSource;
        } else if (got == update::Got::Done) {
            const QByteArray key = publisherKey_.isEmpty() ? update::publisherKey() : publisherKey_;
            update::ManifestCheck check;
            // A count that is no whole number ends the pass like a failed fetch.
            failed = !runGuarded([&] {
                check =
                    update::checkManifest(manifest, update::decodeSignatureFile(signature), key,
                                          lastSerial(), QDateTime::currentDateTimeUtc(), limits);
            });
            if (failed) {
                return;
            } else if (check.refusal != update::Refusal::None) {
                refused = check.refusal;
            } else {
                manifest_ = check.manifest;
                // A manifest that cannot be read ends the pass like a failed fetch.
                failed = !runGuarded([this] { Button1Click(); });
                loaderPicture = !failed;
            }
        } else {
            ShowMessage(QStringLiteral("Error downloading!"));
            failed = true;
        }
        // 6. The loader picture, also after a failed fetch of the manifest.
        pump();
        if (loaderPicture && ProgramFileExists(QStringLiteral("images/loader.png")))
            Image1->setPixmap(
                ProgramPicture(QStringLiteral("\\Images\\loader.png"), "PNG")
                    .scaled(Image1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    });
    busy_ = false;
    if (refused) {
        refuse(*refused);
        return;
    }
    // A failed check has nothing more to do: the window goes, so it never
    // stays on screen without a way to dismiss it.
    if (failed)
        Button3Click();
}

void TForm5::Button1Click() {
    if (settings::settingsFileExists()) {
        IniFile ini = settings::openSettings();
        Edit4->setText(ini.ReadString(settings::RadioSection, settings::WebsiteKey));
        Edit1->setText(ini.ReadString(settings::RadioSection, settings::VersionKey));
    }
    Edit2->setText(manifest_.offeredVersion);
    Edit3->setText(manifest_.extraCount);
    pump();
    const QString base = QDir::currentPath();
    for (const update::FileEntry& file : manifest_.files) {
        ListBox1->addItem(file.source);
        ListBox2->addItem(base + u'/' + file.target);
    }
    Timer1->start();
}

void TForm5::Timer1Timer() {
    Timer1->stop();
    Button2->click();
}

void TForm5::Button2Click() {
    Timer1->stop();
    busy_ = true;
    const int count = static_cast<int>(manifest_.files.size());
    ProgressBar1->setMaximum(std::max(count - 1, 0));

    const update::PassResult result = update::runDownloads(
        manifest_, QDir::currentPath(),
        [this](const QString& url, qint64 maxBytes, int timeoutMs,
               const std::function<bool(const char*, qint64)>& write) {
            pump();
            return download(url, maxBytes, timeoutMs, write);
        },
        [this](int done) {
            pump();
            ProgressBar1->setValue(std::min(done, ProgressBar1->maximum()));
            repaint();
        });
    busy_ = false;
    if (result.interrupted)
        return;
    if (result.refusal != update::Refusal::None) {
        refuse(result.refusal);
        return;
    }
    ProgressBar1->setValue(ProgressBar1->maximum());
    static_cast<Gauge*>(ProgressBar1)->setFilled(true);
    // Once a manifest's files are in place an older manifest is refused. The
    // file is off the update's own allow-list, so no manifest can lower it.
    if (manifest_.serial > lastSerial()) {
        try {
            IniFile(ProgramPath(SerialFile))
                .WriteString(SerialSection, SerialKey, QString::number(manifest_.serial));
        } catch (const UserError&) {
            // The next pass compares with the serial before this one.
        }
    }

    if (update::asksAboutNewVersion(Edit1->text(), Edit2->text(), Edit4->text()) &&
        Confirm(QStringLiteral("There is a new version. Do you want to download it?"),
                ConfirmButtons::YesNo)) {
        const QUrl site = QUrl::fromUserInput(Edit4->text());
        if (site.scheme() == QLatin1String("http") || site.scheme() == QLatin1String("https"))
            QDesktopServices::openUrl(site);
        pump();
    }
    endPass();
}

void TForm5::Button3Click() {
    if (!isVisible())
        show();
    close();
}

} // namespace tolvane
