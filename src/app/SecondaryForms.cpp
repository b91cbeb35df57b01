#include "SecondaryForms.h"

#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace tolvane {

SecondaryForm::SecondaryForm(const char* name, const QString& caption, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setObjectName(QString::fromLatin1(name));
    setWindowTitle(caption);
}

namespace {

template <typename W> W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* caption(const char* name, const QString& text, QWidget* parent) {
    return named(new QLabel(text, parent), name);
}

// A label with its field: the label names the field for keyboard and
// screen-reader users.
void addRow(QGridLayout* grid, int row, QLabel* label, QWidget* field) {
    label->setBuddy(field);
    field->setAccessibleName(label->text().remove(u':').remove(u'&'));
    grid->addWidget(label, row, 0);
    grid->addWidget(field, row, 1);
}

QPushButton* standardButton(const char* name, const QString& text, QStyle::StandardPixmap icon,
                            QWidget* parent) {
    auto* b = named(new QPushButton(parent->style()->standardIcon(icon), text, parent), name);
    b->setAutoDefault(false);
    return b;
}

} // namespace

TForm2::TForm2(QWidget* parent)
    : SecondaryForm("Form2", QStringLiteral("Add Radio Station"), parent) {
    // A fixed dialog border, sized to its contents.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    auto* column = new QVBoxLayout(this);
    column->setSizeConstraint(QLayout::SetFixedSize);

    // Upper panel: the stream URL and its test.
    Panel1 = named(new QFrame(this), "Panel1");
    Panel1->setFrameShape(QFrame::StyledPanel);
    auto* upper = new QGridLayout(Panel1);
    sLabelFX1 = caption("sLabelFX1", QStringLiteral("Add radio station"), Panel1);
    QFont heading = sLabelFX1->font();
    heading.setBold(true);
    heading.setPointSizeF(heading.pointSizeF() * 1.4);
    sLabelFX1->setFont(heading);
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
    sLabel3 = caption("sLabel3", QStringLiteral("Bitrate:"), Panel1);
    Edit4 = named(new QLineEdit(Panel1), "Edit4");
    Edit4->setReadOnly(true);
    addRow(upper, 3, sLabel3, Edit4);
    Edit4->hide();
    Label7 = caption("Label7", QString(), Panel1);
    Label7->setAccessibleName(QStringLiteral("Test progress"));
    upper->addWidget(Label7, 4, 0, 1, 2);
    sBitBtn1 =
        standardButton("sBitBtn1", QStringLiteral("Test Streaming"), QStyle::SP_MediaPlay, Panel1);
    sBitBtn2 =
        standardButton("sBitBtn2", QStringLiteral("Cancel"), QStyle::SP_DialogCancelButton, Panel1);
    auto* testRow = new QHBoxLayout;
    testRow->addStretch();
    testRow->addWidget(sBitBtn1);
    testRow->addWidget(sBitBtn2);
    upper->addLayout(testRow, 5, 0, 1, 2);
    column->addWidget(Panel1);

    // Lower panel: the station's data.
    Panel2 = named(new QFrame(this), "Panel2");
    Panel2->setFrameShape(QFrame::StyledPanel);
    auto* lower = new QGridLayout(Panel2);
    sLabel4 = caption("sLabel4", QStringLiteral("Radio Station name:"), Panel2);
    Edit2 = named(new QLineEdit(Panel2), "Edit2");
    addRow(lower, 0, sLabel4, Edit2);
    sLabel5 = caption("sLabel5", QStringLiteral("Language:"), Panel2);
    ComboBox1 = named(new QComboBox(Panel2), "ComboBox1");
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    addRow(lower, 1, sLabel5, ComboBox1);
    sLabel6 = caption("sLabel6", QStringLiteral("Genre:"), Panel2);
    ComboBox2 = named(new QComboBox(Panel2), "ComboBox2");
    ComboBox2->setEditable(true);
    ComboBox2->setInsertPolicy(QComboBox::NoInsert);
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
}

void TForm2::sEdit1Change() {
    Edit4->show();
}

} // namespace tolvane
