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

} // namespace tolvane
