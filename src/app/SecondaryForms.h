#pragma once
// The windows besides the main window. Each is created hidden at start and
// lives until the end; closing one only hides it.

#include <QDialog>
#include <QWidget>

class QLabel;
class QLineEdit;

namespace tolvane {

// A secondary window with its caption; the base of every window below.
class SecondaryForm : public QWidget {
    Q_OBJECT
public:
    SecondaryForm(const char* name, const QString& caption, QWidget* parent = nullptr);
};

// "Add Radio Station": the stream opener writes the test's buffering
// progress into Label7 and the stream's bitrate into Edit4.
class TForm2 : public SecondaryForm {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    QLabel* Label7 = nullptr;
    QLineEdit* Edit4 = nullptr;

    // The bitrate field becomes visible whenever its text changes.
    void sEdit1Change();
};

} // namespace tolvane
