#pragma once
// The program's windows besides the main window, created hidden at start in
// this order and living until the end.

class QWidget;

namespace tolvane {

class TForm2;
class TForm5;
class TForm6;
class TForm7;
class TForm9;
class TForm10;
class TForm11;

struct Forms {
    TForm2* Form2 = nullptr;     // "Add Radio Station"
    QWidget* Form3 = nullptr;    // "Remove Radio"
    QWidget* Settings = nullptr; // "Settings"
    TForm5* Form5 = nullptr;     // "Update"
    TForm6* Form6 = nullptr;     // "Lyrics"
    TForm7* Form7 = nullptr;     // "Song info"
    TForm9* Form9 = nullptr;     // "About"
    TForm10* Form10 = nullptr;   // "Help"
    TForm11* Form11 = nullptr;   // "Find Stations"
};

} // namespace tolvane
