#pragma once
// The program's windows besides the main window, created hidden at start in
// this order and living until the end.

class QWidget;

namespace tolvane {

class TForm2;

struct Forms {
    TForm2* Form2 = nullptr;     // "Add Radio Station"
    QWidget* Form3 = nullptr;    // "Remove Radio"
    QWidget* Settings = nullptr; // "Settings"
    QWidget* Form5 = nullptr;    // "Update"
    QWidget* Form6 = nullptr;    // "Lyrics"
    QWidget* Form7 = nullptr;    // "Song info"
    QWidget* Form9 = nullptr;    // "About"
    QWidget* Form10 = nullptr;   // "Help"
};

} // namespace tolvane
