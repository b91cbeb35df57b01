#include "Messages.h"

#include "Errors.h"

#include <QTextStream>

#include <atomic>

namespace tolvane {

namespace {

// Used until the program installs its own: writes to standard error and
// declines confirmations, so nothing silently says yes.
class StderrSink final : public MessageSink {
public:
    void show(const Message& message) override { QTextStream(stderr) << message.text << Qt::endl; }
    bool confirm(const QString& text, const QString&, ConfirmButtons) override {
        QTextStream(stderr) << text << Qt::endl;
        return false;
    }
};

StderrSink fallbackSink;
std::atomic<MessageSink*> currentSink{&fallbackSink};

} // namespace

MessageSink* setMessageSink(MessageSink* sink) {
    return currentSink.exchange(sink ? sink : &fallbackSink);
}

MessageSink* messageSink() {
    return currentSink.load();
}

void ShowMessage(const QString& text) {
    messageSink()->show({MessageKind::Information, text, {}});
}

void PlainMessage(const QString& text) {
    messageSink()->show({MessageKind::Plain, text, {}});
}

void ErrorMessage(const QString& text, const QString& caption) {
    messageSink()->show({MessageKind::Error, text, caption});
}

bool Confirm(const QString& text, ConfirmButtons buttons, const QString& caption) {
    return messageSink()->confirm(text, caption, buttons);
}

bool runGuarded(const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (const UserError& e) {
        ErrorMessage(e.message());
        return false;
    }
}

} // namespace tolvane
