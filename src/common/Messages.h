#pragma once
// The one way the program talks to the user in message boxes. The program
// installs a sink that shows real message boxes; tests install a recorder
// that keeps the texts in order and answers confirmations.

#include <QString>

namespace tolvane {

enum class MessageKind {
    Information, // informational box with the application's caption and OK
    Plain,       // box without caption, OK button, owned by the main window
    Error,       // error icon, OK button
};

enum class ConfirmButtons { OkCancel, YesNo };

struct Message {
    MessageKind kind = MessageKind::Information;
    QString text;
    QString caption;
};

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void show(const Message& message) = 0;
    // True for OK or Yes.
    virtual bool confirm(const QString& text, const QString& caption, ConfirmButtons buttons) = 0;
};

// Replaces the process-wide sink; returns the previous one. Not owned.
MessageSink* setMessageSink(MessageSink* sink);
MessageSink* messageSink();

// Informational message with OK (the common "show a message").
void ShowMessage(const QString& text);
// Message box without caption and with OK.
void PlainMessage(const QString& text);
// Message box with the error icon and OK.
void ErrorMessage(const QString& text, const QString& caption = QString());
bool Confirm(const QString& text, ConfirmButtons buttons, const QString& caption = QString());

} // namespace tolvane
