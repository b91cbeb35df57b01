#include "Accessibility.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QLabel>

namespace tolvane {

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
