#pragma once
// "Add Radio Station": a stream URL to test through the main window's stream
// opener, and the station's data to save as one of the user's own stations.
// While it is open the main window is hidden. The stream opener writes the
// test's buffering progress into Label7 and the stream's bitrate into Edit4;
// once the tested stream plays (or fails), TestFindings says what it found.

#include <QWidget>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tolvane {

class TForm1;

class TForm2 : public QWidget {
    Q_OBJECT
public:
    // The main window whose stop, Run and TestStreamUrl the test uses, and
    // which is shown again when this window closes.
    explicit TForm2(TForm1* mainWindow = nullptr);

    // Upper panel: the URL and its test.
    QFrame* Panel1 = nullptr;
    QLabel* sLabelFX1 = nullptr; // heading
    QLabel* sLabel1 = nullptr;   // what to do
    QLabel* sLabel2 = nullptr;
    QLineEdit* Edit1 = nullptr; // stream URL
    // What the last test found: codec, bitrate, sample rate, channels,
    // titles, the address that plays; or what failed. Selectable, and read
    // by its text.
    QLabel* TestFindings = nullptr;
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

    void FormShow();
    void sBitBtn1Click(); // Test Streaming
    void sBitBtn3Click(); // OK
    void sBitBtn2Click(); // both Cancel buttons
    void sEdit1Change();  // the bitrate field becomes visible when it changes
    void FormClose();

    // Shows `text` as the findings of a test of `testedUrl`, unless the URL
    // field no longer holds that URL (it was edited meanwhile) or nothing is
    // being tested.
    void showTestFindings(const QString& testedUrl, const QString& text);

protected:
    void showEvent(class QShowEvent* event) override;
    void closeEvent(class QCloseEvent* event) override;

private:
    void clearTestFindings();

    TForm1* main_;
};

} // namespace tolvane
