#pragma once
// "Update": the window of the update pass run once at every start. It
// fetches the manifest from the update site, downloads the files it lists
// into the program folder with a gauge, asks about a newer version, then
// has the main window reload the catalog and start the banners, and closes.

#include "UpdatePass.h"
#include "common/Timer.h"

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace tolvane {

class TForm5 : public QWidget {
    Q_OBJECT
public:
    // What the pass needs from the rest of the program.
    struct Host {
        std::function<bool()> isConnected;
        // Invokes a command of the main window ("Button8", "Button13").
        std::function<void(const QString&)> invokeMain;
        // True once the program is quitting: running downloads stop.
        std::function<bool()> quitting;
    };

    // The one message a refused update shows.
    static const QString RefusedMessage;
    // Where the serial of the last accepted manifest is kept: a file the
    // update itself may not write.
    static const QString SerialFile;

    explicit TForm5(Host host, QWidget* parent = nullptr);

    // What the pass trusts in place of the program's own: the key manifests
    // must be signed with (the publisher's key is built in) and a
    // certificate authority (the system's otherwise). Tests sign with a key
    // of their own and serve their site with an authority of their own.
    void trustInstead(const QByteArray& publisherKey, const QString& caFile);

    // The check: reads the update site, fetches the manifest (FormShow).
    void FormShow();
    // Reads the manifest into the lists and arms Timer1 ("Start Download").
    void Button1Click();
    // The downloads, the version question and the end of the pass.
    void Button2Click();
    // Closes the window.
    void Button3Click();
    void Timer1Timer();

    // Whether a check or download pass is running now.
    bool busy() const { return busy_; }
    // Why the last pass was refused (Refusal::None when it was not).
    update::Refusal refusal() const { return refusal_; }

    QLabel* sLabelFX1 = nullptr; // "Tolvane Update"
    QLabel* Image1 = nullptr;    // the loader picture
    QProgressBar* ProgressBar1 = nullptr;

    // Hidden state of the pass.
    QLineEdit* Edit1 = nullptr;      // installed version
    QLineEdit* Edit2 = nullptr;      // offered version
    QLineEdit* Edit3 = nullptr;      // extra-download count
    QLineEdit* Edit4 = nullptr;      // update site
    QListWidget* ListBox1 = nullptr; // sources
    QListWidget* ListBox2 = nullptr; // targets
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    tolvane::Timer* Timer1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // One https transfer of the pass, handling events meanwhile.
    update::Got download(const QString& url, qint64 maxBytes, int timeoutMs,
                         const std::function<bool(const char*, qint64)>& write);
    update::Got fetchBytes(const QString& url, qint64 maxBytes, QByteArray* bytes);
    // Tells the user once and ends the pass as after its downloads, without
    // the version question.
    void refuse(update::Refusal why);
    // The catalog reload, the banners and the window's close.
    void endPass();
    // Lets pending window messages run between the steps.
    static void pump();

    Host host_;
    QByteArray publisherKey_;           // empty: the built-in key
    QString caFile_;                    // empty: the system's authorities
    update::VerifiedManifest manifest_; // what the check accepted
    update::Refusal refusal_ = update::Refusal::None;
    bool busy_ = false;
};

} // namespace tolvane
