#pragma once
// "Song info": the small popup with the song title and its picture that
// comes up in the bottom-right corner of the screen for four seconds at a
// song change. It stays above other windows and never takes the focus.

#include "common/Timer.h"

#include <QWidget>

class QLabel;

namespace tolvane {

class TForm7 : public QWidget {
    Q_OBJECT
public:
    explicit TForm7(QWidget* parent = nullptr);

    // Shows the popup (placing it at its first showing) with a title and
    // a picture; while it is on screen only the text and picture change.
    void showSongTip(const QString& title, const QPixmap& picture);

    // The popup's place on a screen of the given size for its outer size.
    static QPoint placement(const QSize& screen, const QSize& outer);

    QLabel* Label1 = nullptr; // the song title
    QLabel* Image1 = nullptr; // the song picture
    tolvane::Timer* Timer1 = nullptr;

    void Timer1Timer();

protected:
    void showEvent(QShowEvent* event) override; // FormShow
    void hideEvent(QHideEvent* event) override; // FormClose
};

} // namespace tolvane
