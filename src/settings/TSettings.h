#pragma once
// The Settings window: automatic restart of the last station, song picture,
// song-info popup, split recording with its two delays, and the recording
// folder, and reconnecting. Each showing loads the controls from the
// settings file; "Save" writes all eight options back and hides the window.

#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace tolvane {

// Up and down arrows bound to a read-only number field: each step changes
// the number the field shows by 1, between 0 and 100, without wrapping. The
// Up and Down keys step as well, on the arrows and on the field.
class UpDown : public QWidget {
    Q_OBJECT
public:
    static constexpr int Minimum = 0;
    static constexpr int Maximum = 100;

    UpDown(QLineEdit* buddy, QWidget* parent);
    // Steps from the number shown (0 when it shows none) by delta.
    void step(int delta);

    QToolButton* up = nullptr;
    QToolButton* down = nullptr;

protected:
    void keyPressEvent(class QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* buddy_;
};

class TSettings : public QWidget {
    Q_OBJECT
public:
    TSettings();

    QLabel* sLabelFX1 = nullptr; // "General"
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QCheckBox* CheckBox4 = nullptr;
    QCheckBox* CheckBox5 = nullptr; // reconnect when the station drops
    QLabel* sLabelFX2 = nullptr;    // "Recording"
    QLabel* sLabel1 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QCheckBox* CheckBox6 = nullptr; // cut exactly where the song changes
    QCheckBox* CheckBox7 = nullptr; // record from the start of the song
    // Save recordings as: lame's MP3, or the station's own format.
    QLabel* FormatLabel = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QLabel* sLabel2 = nullptr;
    QLabel* sLabel3 = nullptr;
    QLineEdit* edit1 = nullptr; // seconds until the recording stops
    UpDown* UpDown1 = nullptr;
    QLabel* sLabel5 = nullptr;
    QLabel* sLabel4 = nullptr;
    QLineEdit* Edit2 = nullptr; // seconds until it starts again
    UpDown* UpDown2 = nullptr;
    QLabel* RecordFolderLabel = nullptr;
    QLineEdit* edit3 = nullptr;      // recording folder
    QPushButton* sButton1 = nullptr; // "... Browse"
    QPushButton* sButton2 = nullptr; // "Save"

    // The folder picker; returns the chosen folder, or an empty text when
    // the user cancelled. Tests replace it.
    std::function<QString()> PickFolder;

    void FormShow();
    void sButton1Click(); // "... Browse"
    void sButton2Click(); // "Save"

protected:
    void showEvent(class QShowEvent* event) override;
};

} // namespace tolvane
