#pragma once
// "About": the program's name and version, its author, and three picture
// links to the publisher's Facebook group, Twitter page and radio site.

#include <QPixmap>
#include <QWidget>

#include <functional>

class QLabel;
class QToolButton;

namespace tolvane {

class TForm9 : public QWidget {
    Q_OBJECT
public:
    // defaultPicture gives the main window's default picture at each showing.
    explicit TForm9(std::function<QPixmap()> defaultPicture, QWidget* parent = nullptr);

    void Image2Click(); // the publisher's Facebook group
    void Image3Click(); // the publisher's Twitter page
    void Image4Click(); // the radio site's home page

    QLabel* Image1 = nullptr; // the picture
    QLabel* Label1 = nullptr; // "Tolvane 1.3"
    QToolButton* Image2 = nullptr;
    QToolButton* Image3 = nullptr;
    QToolButton* Image4 = nullptr;

protected:
    void showEvent(QShowEvent* event) override; // FormShow

private:
    std::function<QPixmap()> defaultPicture_;
};

} // namespace tolvane
