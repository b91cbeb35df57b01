#pragma once
// "Find Stations": searches the public station directory by name (as the
// user types), tag, country, language, codec and lowest bitrate, lists the
// results by popularity a page at a time, plays one through the main
// window's Run and adds one to the user's stations or favorites. Every
// request runs on the directory client's worker thread; the window only
// shows what comes back. The last search is remembered in the settings
// file's [directory] section.

#include "directory/DirectoryClient.h"

#include <QDialog>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QTreeView;

namespace tolvane {

class TForm1;

namespace directory {
class ResultsModel;
}

class TForm11 : public QDialog {
    Q_OBJECT
public:
    explicit TForm11(TForm1* mainWindow = nullptr);
    ~TForm11() override;

    QLineEdit* nameEdit = nullptr;
    QComboBox* tagBox = nullptr;
    QComboBox* countryBox = nullptr;
    QComboBox* languageBox = nullptr;
    QComboBox* codecBox = nullptr;
    QComboBox* bitrateBox = nullptr; // entries carry the kbit/s, 0 for any
    QCheckBox* brokenBox = nullptr;
    QTreeView* resultList = nullptr;
    QLabel* statusLabel = nullptr; // "Searching...", the count, or what failed
    QPushButton* playButton = nullptr;
    QPushButton* addButton = nullptr;
    QPushButton* favoritesButton = nullptr;
    QPushButton* closeButton = nullptr;

    // The search the fields describe now.
    directory::StationQuery query() const;
    // Starts it at once (the fields' changes start it after a short pause).
    void startSearch();
    void playSelected();
    void addSelected(); // to radiouser.dat
    void addSelectedToFavorites();

    directory::ResultsModel& results() { return *model_; }
    // The client of the directory named in services.dat when the window
    // was last shown; made anew when that address changes.
    directory::DirectoryClient* client() const { return client_.get(); }
    // Bounds of the requests; tests shorten them.
    directory::DirectoryLimits limits;
    // Results asked for at a time (the benchmark asks for the most at once).
    int pageSize = directory::PageSize;
    // The pause after typing before the search starts.
    int typingPauseMs = 400;

protected:
    void showEvent(class QShowEvent* event) override;
    void hideEvent(class QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void useDirectoryOfServicesFile();
    void restoreQuery();
    void rememberQuery();
    void requestMore();
    void showStations(quint64 request, int offset, const QVector<directory::DirectoryStation>& page,
                      int asked);
    void showFailure(quint64 request, const QString& message);
    void fillList(directory::ListKind kind, const QVector<directory::ListEntry>& entries);
    void showCount();
    // The selected result, or nullptr (with a hint in the status line).
    const directory::DirectoryStation* selected();
    // Writes the selected station into a station file, asking before a
    // name the file holds is replaced.
    void saveSelected(const QString& file, const QString& what, QString (*added)(const QString&));

    TForm1* main_;
    directory::ResultsModel* model_;
    std::unique_ptr<directory::DirectoryClient> client_;
    QString clientAddress_;
    QTimer* typingPause_;
    quint64 request_ = 0;           // the search whose pages are shown
    bool loadingMore_ = false;      // a further page is asked for
    int nextOffset_ = 0;            // where the directory's next page starts
    bool listsLoaded_ = false;      // the filter boxes got their entries
    directory::StationQuery shown_; // the query of the results shown
    bool restored_ = false;
};

} // namespace tolvane
