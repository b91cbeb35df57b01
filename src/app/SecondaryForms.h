#pragma once
// The windows besides the main window. Each is created hidden at start and
// lives until the end; closing one only hides it.

#include "catalog/TForm2.h"

#include <QDialog>
#include <QWidget>

namespace tolvane {

// A secondary window with its caption; the base of every window below.
class SecondaryForm : public QWidget {
    Q_OBJECT
public:
    SecondaryForm(const char* name, const QString& caption, QWidget* parent = nullptr);
};

} // namespace tolvane
