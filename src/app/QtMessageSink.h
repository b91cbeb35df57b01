#pragma once
// Shows the program's messages in real message boxes.

#include "common/Messages.h"

namespace tolvane {

class QtMessageSink final : public MessageSink {
public:
    void show(const Message& message) override;
    bool confirm(const QString& text, const QString& caption, ConfirmButtons buttons) override;
};

} // namespace tolvane
