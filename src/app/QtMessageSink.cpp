#include "QtMessageSink.h"

#include <QApplication>
#include <QMessageBox>

namespace tolvane {

namespace {

// Every box is owned by the main window, whichever window is active, so it
// comes up over the player and stays with it.
QWidget* owner() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("Form1"))
            return w;
    }
    return nullptr;
}

} // namespace

void QtMessageSink::show(const Message& message) {
    switch (message.kind) {
    case MessageKind::Information:
        QMessageBox::information(owner(), QApplication::applicationName(), message.text);
        break;
    case MessageKind::Plain:
        QMessageBox(QMessageBox::NoIcon, QString(), message.text, QMessageBox::Ok, owner()).exec();
        break;
    case MessageKind::Error:
        QMessageBox(QMessageBox::Critical, message.caption, message.text, QMessageBox::Ok, nullptr)
            .exec();
        break;
    }
}

bool QtMessageSink::confirm(const QString& text, const QString& caption, ConfirmButtons buttons) {
    const auto choices = buttons == ConfirmButtons::YesNo ? QMessageBox::Yes | QMessageBox::No
                                                          : QMessageBox::Ok | QMessageBox::Cancel;
    const auto answer = QMessageBox::question(
        owner(), caption.isEmpty() ? QApplication::applicationName() : caption, text, choices);
    return answer == QMessageBox::Yes || answer == QMessageBox::Ok;
}

} // namespace tolvane
