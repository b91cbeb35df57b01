#pragma once
// "Remove Radio": lists the stations of one of the user's station files
// (radiouser.dat or favorites.dat, chosen by whoever opens it) and erases
// the selected one from that file.

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace tolvane {

class TForm3 : public QWidget {
    Q_OBJECT
public:
    TForm3();

    QLabel* sLabelFX1 = nullptr;
    QTreeWidget* ListView1 = nullptr;
    QPushButton* Button1 = nullptr; // "Delete Selected"
    QPushButton* Button2 = nullptr; // "Load List", hidden
    QLineEdit* Edit1 = nullptr;     // the file's name, hidden

    // Sets the file, shows the window and lists the file, also when the
    // window was already showing another file.
    void openFor(const QString& fileName);

    void FormShow();
    void Button2Click(); // Load List
    void Button1Click(); // Delete Selected

protected:
    void showEvent(class QShowEvent* event) override;
};

} // namespace tolvane
