#pragma once
// "Help": two short answers and a link to the forum.

#include <QWidget>

class QLabel;
class QPlainTextEdit;

namespace tolvane {

class TForm10 : public QWidget {
    Q_OBJECT
public:
    explicit TForm10(QWidget* parent = nullptr);

    // Opens the radio site's forum.
    void sWebLabel1Click();

    QPlainTextEdit* Memo1 = nullptr; // how to add a station
    QPlainTextEdit* Memo2 = nullptr; // how to record
    QLabel* sWebLabel1 = nullptr;
};

} // namespace tolvane
