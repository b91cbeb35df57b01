#include "TForm10.h"

#include "Desktop.h"
#include "WebService.h"
#include "app/WindowParts.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace tolvane {

namespace {

const QStringList AddStationLines = {
    QStringLiteral("Supported formats: acc, wma, m3u"),
    QStringLiteral("First, find the site radio station."),
    QStringLiteral("Then look for streaming in a format that supports this program."),
    QStringLiteral("Copy the URL and test it."),
    QStringLiteral("If it is a valid station, form will be opened for other data"),
    QStringLiteral("that you must complete before adding station."),
    QStringLiteral("All radio station that you have added, you can delete later ."),
};

const QStringList RecordingLines = {
    QStringLiteral("If you want to record a song on the radio you can do it by"),
    QStringLiteral("clicking the record button (REC)."),
    QStringLiteral("Songs are saved in a folder that has the same name as its own radio "),
    QStringLiteral("station."),
    QStringLiteral("In settings you can choose your own location on the disk where you "),
    QStringLiteral("want to record songs."),
    QStringLiteral("If radio station that you are recording is displaying song tags, song will "),
    QStringLiteral("be renamed automatically. after changing the tags."),
    QStringLiteral("Also, after changing the tags if you do not stop recording the program "),
    QStringLiteral("will automatically stop recording and started him after a few moments."),
    QStringLiteral("More options you can  found in the settings."),
};

QPlainTextEdit* memo(const char* name, const QStringList& lines, const QString& heading,
                     QWidget* parent) {
    auto* m = new QPlainTextEdit(parent);
    m->setObjectName(QString::fromLatin1(name));
    m->setReadOnly(true);
    m->setPlainText(lines.join(u'\n'));
    m->setAccessibleName(heading);
    // Tab moves on to the next control rather than into the text.
    m->setTabChangesFocus(true);
    return m;
}

} // namespace

TForm10::TForm10(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("Form10"));
    setWindowTitle(QStringLiteral("Help"));
    ui::closeOnEscape(this);
    setWindowFlags(Qt::Tool | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(376, 434);

    auto* column = new QVBoxLayout(this);
    auto heading = [&](const QString& text) {
        auto* l = new QLabel(text, this);
        QFont bold = l->font();
        bold.setBold(true);
        l->setFont(bold);
        column->addWidget(l);
        return l;
    };
    const QString addHeading = QStringLiteral("How do I add a radio station?");
    const QString recordHeading = QStringLiteral("Recording songs on the radio?");
    heading(addHeading);
    Memo1 = memo("Memo1", AddStationLines, addHeading, this);
    column->addWidget(Memo1);
    heading(recordHeading);
    Memo2 = memo("Memo2", RecordingLines, recordHeading, this);
    column->addWidget(Memo2, 1);

    sWebLabel1 = new QLabel(this);
    sWebLabel1->setObjectName(QStringLiteral("sWebLabel1"));
    sWebLabel1->setText(QStringLiteral("<a href=\"forum\">If you have other questions, visit our "
                                       "forum</a>"));
    sWebLabel1->setTextFormat(Qt::RichText);
    sWebLabel1->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    sWebLabel1->setFocusPolicy(Qt::StrongFocus);
    sWebLabel1->setCursor(Qt::PointingHandCursor);
    sWebLabel1->setAccessibleName(QStringLiteral("If you have other questions, visit our forum"));
    column->addWidget(sWebLabel1);
    connect(sWebLabel1, &QLabel::linkActivated, this, [this] { sWebLabel1Click(); });
}

void TForm10::sWebLabel1Click() {
    OpenWebAddress(Services::FromProgramFolder().site + QStringLiteral("/forum"));
}

} // namespace tolvane
