#pragma once
// Stands in for the message boxes during a test: keeps every message in
// order and answers confirmations from a queue set up in advance.

#include "common/Messages.h"

#include <QList>
#include <QMutex>
#include <QStringList>

namespace tolvane::test {

class MessageRecorder final : public MessageSink {
public:
    MessageRecorder();           // installs itself
    ~MessageRecorder() override; // puts the previous sink back

    void show(const Message& message) override;
    bool confirm(const QString& text, const QString& caption, ConfirmButtons buttons) override;

    // Answers for the next confirmations, in order; without one, "no".
    void answerNext(bool yes);

    QList<Message> messages() const;
    QStringList texts() const;
    void clear();

private:
    mutable QMutex mutex_;
    QList<Message> messages_;
    QList<bool> answers_;
    MessageSink* previous_ = nullptr;
};

} // namespace tolvane::test
