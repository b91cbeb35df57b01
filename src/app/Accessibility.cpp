#include "Accessibility.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>
#include <QMainWindow>

namespace tolvane {

namespace {

// Qt reads a plain top-level widget as a "client" area, which the
// accessibility bus shows as a filler that nobody announces. The program's
// own windows (its classes live in this namespace) are dialogs; Qt's own
// windows (menus, message boxes, tool tips) keep the roles Qt gives them.
QAccessibleInterface* secondaryWindow(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType() || !className.startsWith(QLatin1String("tolvane::")))
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (!widget->isWindow() || qobject_cast<QMainWindow*>(widget))
        return nullptr;
    // Without a name of its own, a window is read by its caption.
    return new QAccessibleWidget(widget, QAccessible::Dialog);
}

} // namespace

void announceSecondaryWindowsAsDialogs() {
    static const bool installed = [] {
        QAccessible::installFactory(secondaryWindow);
        return true;
    }();
    (void)installed;
}

void setCaption(QAbstractButton* button, const QString& caption) {
    button->setText(caption);
    // A doubled '&' shows one; a single one only marks the shortcut letter.
    QString spoken = caption;
    spoken.replace(QLatin1String("&&"), QStringLiteral("\x01")).remove(u'&').replace(u'\x01', u'&');
    button->setAccessibleName(spoken);
}

void describeChangingLabel(QLabel* label, const QString& what) {
    // These texts come from the station's server (its name, its titles):
    // shown as sent, never taken for markup.
    label->setTextFormat(Qt::PlainText);
    // Without a fixed accessible name, the label's text is its name.
    label->setAccessibleName(QString());
    label->setAccessibleDescription(what);
}

void showText(QLabel* label, const QString& text) {
    if (label->text() == text)
        return;
    label->setText(text);
    if (label->accessibleName().isEmpty()) {
        QAccessibleEvent changed(label, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&changed);
    }
}

} // namespace tolvane
