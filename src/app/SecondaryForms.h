#pragma once
// The windows besides the main window. Each is created hidden at start and
// lives until the end; closing one only hides it.

#include <QDialog>
#include <QWidget>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tolvane {

// A secondary window with its caption; the base of every window below.
class SecondaryForm : public QWidget {
    Q_OBJECT
public:
    SecondaryForm(const char* name, const QString& caption, QWidget* parent = nullptr);
};

// "Add Radio Station": a stream URL to test through the main window's stream
// opener, and the station's data to save. The stream opener writes the
// test's buffering progress into Label7 and the stream's bitrate into Edit4.
class TForm2 : public SecondaryForm {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    // Upper panel: the URL and its test.
    QFrame* Panel1 = nullptr;
    QLabel* sLabelFX1 = nullptr; // heading
    QLabel* sLabel1 = nullptr;   // what to do
    QLabel* sLabel2 = nullptr;
    QLineEdit* Edit1 = nullptr; // stream URL
    QLabel* sLabel3 = nullptr;
    QLineEdit* Edit4 = nullptr;      // bitrate, hidden until its text changes
    QLabel* Label7 = nullptr;        // buffering progress of the test
    QPushButton* sBitBtn1 = nullptr; // "Test Streaming"
    QPushButton* sBitBtn2 = nullptr; // Cancel

    // Lower panel: the station's data.
    QFrame* Panel2 = nullptr;
    QLabel* sLabel4 = nullptr;
    QLineEdit* Edit2 = nullptr; // station name
    QLabel* sLabel5 = nullptr;
    QComboBox* ComboBox1 = nullptr; // language
    QLabel* sLabel6 = nullptr;
    QComboBox* ComboBox2 = nullptr; // genre
    QLabel* sLabel7 = nullptr;
    QLineEdit* Edit3 = nullptr;      // website
    QPushButton* sBitBtn3 = nullptr; // OK
    QPushButton* sBitBtn4 = nullptr; // Cancel

    // The bitrate field becomes visible whenever its text changes.
    void sEdit1Change();
};

} // namespace tolvane
