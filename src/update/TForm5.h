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

    explicit TForm5(Host host, QWidget* parent = nullptr);

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
    FetchResult fetch(const QString& url, const QString& path);
    // Lets pending window messages run between the steps.
    static void pump();

    Host host_;
    update::DownloadLists lists_; // the targets as the manifest gives them
    bool busy_ = false;
};

} // namespace tolvane
