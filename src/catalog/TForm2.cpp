#include "TForm2.h"

#include "app/Accessibility.h"
#include "app/TForm1.h"
#include "app/WindowParts.h"
#include "catalog/StationEdits.h"
#include "common/Errors.h"
#include "common/Messages.h"
#include "common/Paths.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QShowEvent>
#include <QVBoxLayout>

namespace tolvane {

using namespace ui;

namespace {

QComboBox* editableBox(const char* name, QWidget* parent) {
    auto* box = named(new QComboBox(parent), name);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    // The box holds exactly what the user typed: no completion into an entry.
    box->setCompleter(nullptr);
    return box;
}

// Replaces a box's entries by a list file's lines, keeping its text; false
// when the file is missing.
bool fillFromList(QComboBox* box, const QString& listFile) {
    if (!ProgramFileExists(listFile))
        return false;
    const QStringList lines = ReadTextLines(ProgramPath(listFile));
    const QString text = box->currentText();
    box->clear();
    box->addItems(lines);
    box->setEditText(text);
    return true;
}

} // namespace

TForm2::TForm2(TForm1* mainWindow) : QWidget(nullptr, Qt::Window), main_(mainWindow) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Add Radio Station"));
    ui::closeOnEscape(this);
    // A fixed dialog border, sized to its contents.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    auto* column = new QVBoxLayout(this);
    column->setSizeConstraint(QLayout::SetFixedSize);

    // Upper panel: the stream URL and its test.
    Panel1 = named(new QFrame(this), "Panel1");
    Panel1->setFrameShape(QFrame::StyledPanel);
    auto* upper = new QGridLayout(Panel1);
    sLabelFX1 = heading("sLabelFX1", QStringLiteral("Add radio station"), Panel1);
    sLabel1 = caption("sLabel1",
                      QStringLiteral("Enter a URL of radio streaming and test it. If radio is "
                                     "active,in form  fill other data and add radio in your list."),
                      Panel1);
    sLabel1->setWordWrap(true);
    sLabel1->setMinimumWidth(320);
    upper->addWidget(sLabelFX1, 0, 0, 1, 2);
    upper->addWidget(sLabel1, 1, 0, 1, 2);
    sLabel2 = caption("sLabel2", QStringLiteral("Streaming URL:"), Panel1);
    Edit1 = named(new QLineEdit(Panel1), "Edit1");
    Edit1->setMinimumWidth(240);
    addRow(upper, 2, sLabel2, Edit1);
    TestFindings = caption("TestFindings", QString(), Panel1);
    // The text comes from the stream's server: never read as markup.
    TestFindings->setTextFormat(Qt::PlainText);
    TestFindings->setWordWrap(true);
    TestFindings->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    TestFindings->setFocusPolicy(Qt::NoFocus); // a tab stop only while it says something
    describeChangingLabel(TestFindings, QStringLiteral("What the stream test found"));
    upper->addWidget(TestFindings, 3, 1);
    sLabel3 = caption("sLabel3", QStringLiteral("Bitrate:"), Panel1);
    Edit4 = named(new QLineEdit(Panel1), "Edit4");
    Edit4->setReadOnly(true);
    addRow(upper, 4, sLabel3, Edit4);
    Edit4->hide();
    Label7 = caption("Label7", QString(), Panel1);
    // Read by its text (no fixed name), which changes as the test buffers.
    Label7->setAccessibleDescription(QStringLiteral("Buffering progress of the stream test"));
    upper->addWidget(Label7, 5, 0, 1, 2);
    sBitBtn1 =
        standardButton("sBitBtn1", QStringLiteral("Test Streaming"), QStyle::SP_MediaPlay, Panel1);
    sBitBtn2 =
        standardButton("sBitBtn2", QStringLiteral("Cancel"), QStyle::SP_DialogCancelButton, Panel1);
    auto* testRow = new QHBoxLayout;
    testRow->addStretch();
    testRow->addWidget(sBitBtn1);
    testRow->addWidget(sBitBtn2);
    upper->addLayout(testRow, 6, 0, 1, 2);
    column->addWidget(Panel1);

    // Lower panel: the station's data.
    Panel2 = named(new QFrame(this), "Panel2");
    Panel2->setFrameShape(QFrame::StyledPanel);
    auto* lower = new QGridLayout(Panel2);
    sLabel4 = caption("sLabel4", QStringLiteral("Radio Station name:"), Panel2);
    Edit2 = named(new QLineEdit(Panel2), "Edit2");
    addRow(lower, 0, sLabel4, Edit2);
    sLabel5 = caption("sLabel5", QStringLiteral("Language:"), Panel2);
    ComboBox1 = editableBox("ComboBox1", Panel2);
    addRow(lower, 1, sLabel5, ComboBox1);
    sLabel6 = caption("sLabel6", QStringLiteral("Genre:"), Panel2);
    ComboBox2 = editableBox("ComboBox2", Panel2);
    addRow(lower, 2, sLabel6, ComboBox2);
    sLabel7 = caption("sLabel7", QStringLiteral("Radio Website:"), Panel2);
    Edit3 = named(new QLineEdit(Panel2), "Edit3");
    addRow(lower, 3, sLabel7, Edit3);
    sBitBtn3 = standardButton("sBitBtn3", QStringLiteral("OK"), QStyle::SP_DialogOkButton, Panel2);
    sBitBtn4 =
        standardButton("sBitBtn4", QStringLiteral("Cancel"), QStyle::SP_DialogCancelButton, Panel2);
    auto* saveRow = new QHBoxLayout;
    saveRow->addStretch();
    saveRow->addWidget(sBitBtn3);
    saveRow->addWidget(sBitBtn4);
    lower->addLayout(saveRow, 4, 0, 1, 2);
    column->addWidget(Panel2);

    connect(Edit4, &QLineEdit::textChanged, this, [this] { sEdit1Change(); });
    // Findings belong to the URL that was tested.
    connect(Edit1, &QLineEdit::textChanged, this, [this] { clearTestFindings(); });
    auto guarded = [](auto handler) { return [handler] { runGuarded(handler); }; };
    connect(sBitBtn1, &QPushButton::clicked, this, guarded([this] { sBitBtn1Click(); }));
    connect(sBitBtn3, &QPushButton::clicked, this, guarded([this] { sBitBtn3Click(); }));
    connect(sBitBtn2, &QPushButton::clicked, this, guarded([this] { sBitBtn2Click(); }));
    connect(sBitBtn4, &QPushButton::clicked, this, guarded([this] { sBitBtn2Click(); }));
}

void TForm2::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        runGuarded([this] { FormShow(); });
}

void TForm2::closeEvent(QCloseEvent* event) {
    event->accept();
    runGuarded([this] { FormClose(); });
}

void TForm2::FormShow() {
    Edit1->clear();
    clearTestFindings();
    if (main_)
        main_->stopClick();
    Edit4->hide();
    Edit4->clear();
    if (!fillFromList(ComboBox1, catalog::LanguageListFile))
        ShowMessage(catalog::LanguageListMissingText);
    if (!fillFromList(ComboBox2, catalog::GenreListFile))
        ShowMessage(catalog::GenreListMissingText);
    // A URL on the clipboard is offered only when it names a playlist or a
    // known stream kind; of several lines, the first that holds text.
    Edit1->setText(catalog::urlFromClipboard(QGuiApplication::clipboard()->text()));
}

void TForm2::sEdit1Change() {
    Edit4->show();
}

void TForm2::sBitBtn1Click() {
    if (!main_)
        return;
    main_->Edit8->clear();
    clearTestFindings();
    if (Edit1->text().isEmpty()) {
        ShowMessage(catalog::TestUrlEmptyText);
        return;
    }
    main_->stopClick();
    main_->Edit8->setText(Edit1->text());
    main_->invoke(QStringLiteral("Run"));
}

void TForm2::sBitBtn3Click() {
    catalog::NewStation station;
    station.name = Edit2->text();
    station.streaming = Edit1->text();
    station.genre = ComboBox2->currentText();
    station.language = ComboBox1->currentText();
    station.website = Edit3->text();
    station.bitrate = Edit4->text();
    if (const QString problem = catalog::checkNewStation(station); !problem.isEmpty()) {
        ShowMessage(problem);
        return;
    }
    catalog::saveNewStation(station); // a failed write ends here; the window stays
    ShowMessage(catalog::stationAddedText(station.name));
    Edit2->clear();
    Edit1->clear();
    ComboBox2->setEditText(QString());
    ComboBox1->setEditText(QString());
    Edit3->clear();
    if (main_)
        main_->stopClick();
    close();
}

void TForm2::sBitBtn2Click() {
    close();
}

void TForm2::showTestFindings(const QString& testedUrl, const QString& text) {
    if (testedUrl.isEmpty() || testedUrl != Edit1->text())
        return;
    showText(TestFindings, text);
    TestFindings->setFocusPolicy(text.isEmpty() ? Qt::NoFocus : Qt::StrongFocus);
}

void TForm2::clearTestFindings() {
    showText(TestFindings, QString());
    TestFindings->setFocusPolicy(Qt::NoFocus);
}

void TForm2::FormClose() {
    if (!main_)
        return;
    main_->show();
    main_->Edit8->clear();
}

} // namespace tolvane
