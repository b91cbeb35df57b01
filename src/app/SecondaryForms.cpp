#include "SecondaryForms.h"

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace tolvane {

SecondaryForm::SecondaryForm(const char* name, const QString& caption, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setObjectName(QString::fromLatin1(name));
    setWindowTitle(caption);
}

TForm2::TForm2(QWidget* parent)
    : SecondaryForm("Form2", QStringLiteral("Add Radio Station"), parent) {
    auto* column = new QVBoxLayout(this);
    Label7 = new QLabel(this);
    Label7->setObjectName(QStringLiteral("Label7"));
    Edit4 = new QLineEdit(this);
    Edit4->setObjectName(QStringLiteral("Edit4"));
    Edit4->setReadOnly(true);
    Edit4->setAccessibleName(QStringLiteral("Bitrate"));
    Edit4->hide();
    column->addWidget(Edit4);
    column->addWidget(Label7);
    connect(Edit4, &QLineEdit::textChanged, this, [this] { sEdit1Change(); });
}

void TForm2::sEdit1Change() {
    Edit4->show();
}

} // namespace tolvane
