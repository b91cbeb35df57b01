#include "MessageRecorder.h"

namespace tolvane::test {

MessageRecorder::MessageRecorder() {
    previous_ = setMessageSink(this);
}

MessageRecorder::~MessageRecorder() {
    setMessageSink(previous_);
}

void MessageRecorder::show(const Message& message) {
    QMutexLocker lock(&mutex_);
    messages_ << message;
}

bool MessageRecorder::confirm(const QString& text, const QString& caption, ConfirmButtons) {
    QMutexLocker lock(&mutex_);
    messages_ << Message{MessageKind::Information, text, caption};
    return answers_.isEmpty() ? false : answers_.takeFirst();
}

void MessageRecorder::answerNext(bool yes) {
    QMutexLocker lock(&mutex_);
    answers_ << yes;
}

QList<Message> MessageRecorder::messages() const {
    QMutexLocker lock(&mutex_);
    return messages_;
}

QStringList MessageRecorder::texts() const {
    QMutexLocker lock(&mutex_);
    QStringList out;
    for (const Message& m : messages_)
        out << m.text;
    return out;
}

void MessageRecorder::clear() {
    QMutexLocker lock(&mutex_);
    messages_.clear();
}

} // namespace tolvane::test
