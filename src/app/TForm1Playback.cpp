// Playback commands of the main window. Placeholder bodies until the stream
// opener lands: the commands exist so that the start-up order is fixed.

#include "TForm1.h"

#include "common/Messages.h"
#include "playback/engine/Engine.h"

namespace tolvane {

void TForm1::RunClick() {}
void TForm1::playClick() {}
void TForm1::stopClick() {}
void TForm1::muteClick() {}
void TForm1::TrackBar1Change() {}
void TForm1::Button11Click() {}
void TForm1::Button12Click() {}
void TForm1::Timer3Timer() {}
void TForm1::Timer8Timer() {}
void TForm1::Edit5Change() {}
void TForm1::StatusMessage(int, qint64, const QString&) {}
void TForm1::shutdownPlayback() {}

void TForm1::EngineErrorBox(const QString& text) {
    PlainMessage(text + QStringLiteral("\r\n(error code: ") +
                 QString::number(engine_.ErrorGetCode()) + u')');
}

} // namespace tolvane
