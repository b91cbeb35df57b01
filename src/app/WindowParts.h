#pragma once
// Small helpers the windows share to build their controls: each control
// carries its name as objectName, and every field is named for keyboard and
// screen-reader users by the label in front of it.

#include <QGridLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QWidget>

namespace tolvane::ui {

template <typename W> W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

inline QLabel* caption(const char* name, const QString& text, QWidget* parent) {
    return named(new QLabel(text, parent), name);
}

// The field's accessible name: the label's text without its colon and
// mnemonic marker.
inline void nameByLabel(QLabel* label, QWidget* field) {
    label->setBuddy(field);
    field->setAccessibleName(label->text().remove(u':').remove(u'&').trimmed());
}

// Escape closes the window as its title bar's close button does: a keyboard
// user gets out of it without a window manager's key.
inline void closeOnEscape(QWidget* window) {
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    escape->setContext(Qt::WindowShortcut);
    QObject::connect(escape, &QShortcut::activated, window, &QWidget::close);
}

// A label and its field on one row of a grid.
inline void addRow(QGridLayout* grid, int row, QLabel* label, QWidget* field) {
    nameByLabel(label, field);
    grid->addWidget(label, row, 0);
    grid->addWidget(field, row, 1);
}

inline QPushButton* standardButton(const char* name, const QString& text,
                                   QStyle::StandardPixmap icon, QWidget* parent) {
    auto* b = named(new QPushButton(parent->style()->standardIcon(icon), text, parent), name);
    b->setAccessibleName(text);
    b->setAutoDefault(false);
    return b;
}

// A heading: bold and larger than the text around it.
inline QLabel* heading(const char* name, const QString& text, QWidget* parent) {
    QLabel* l = caption(name, text, parent);
    QFont font = l->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.4);
    l->setFont(font);
    return l;
}

} // namespace tolvane::ui
