#pragma once
// "Lyrics": the lyrics page of the current song in an embedded web view.
// The web view (and the browser engine behind it, in the web view module)
// is made only when the window is first shown; until then the latest query
// is kept and loaded at that showing, and from then on every query loads at
// once, whether the window is on screen or not. Where the module cannot be
// loaded the window says so in place of the page.

#include <QUrl>
#include <QWidget>

#include <functional>

class QLineEdit;
class QPushButton;

namespace tolvane {

class TForm6 : public QWidget {
    Q_OBJECT
public:
    explicit TForm6(QWidget* parent = nullptr);

    // The lyrics query for Edit1 (artist) and Edit2 (song).
    void Button1Click();

    // The page asked for last (empty before the first query).
    QUrl query() const { return query_; }
    // The web view (or the notice that lyrics cannot be shown), nullptr
    // before the first showing.
    QWidget* WebBrowser1 = nullptr;

    QLineEdit* Edit1 = nullptr; // artist
    QLineEdit* Edit2 = nullptr; // song
    QPushButton* Button1 = nullptr;

    // How the web view is made: a widget and a way to load a page into it
    // (none: the widget shows no pages).
    struct View {
        QWidget* widget = nullptr;
        std::function<void(const QUrl&)> load;
    };
    using ViewMaker = std::function<View(QWidget* parent)>;
    // Empty by default: the web view module's browser. Replaceable (before
    // the first showing) where no browser engine can run.
    static ViewMaker& viewMaker();
    // The web view of the web view module, or, when the module cannot be
    // loaded, a notice saying that lyrics cannot be shown.
    static View moduleView(QWidget* parent);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QUrl query_;
    std::function<void(const QUrl&)> load_;
};

} // namespace tolvane
