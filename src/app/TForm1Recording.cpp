// The record command and the automatic split at song changes. The recorder
// itself (encoder, file names, filing) lives in the recording library; the
// window holds IsRecording, the button and the two split timers.

#include "TForm1.h"

#include "Accessibility.h"
#include "common/Messages.h"
#include "recording/Recorder.h"
#include "settings/SettingsFile.h"

#include <QLineEdit>
#include <QToolButton>

namespace tolvane {

recording::Recorder& TForm1::recorder() {
    if (!recorder_)
        recorder_ = std::make_unique<recording::Recorder>(engine_);
    return *recorder_;
}

void TForm1::sButton3Click() {
    const QString recordingFolder =
        settings::readText(settings::RecordSection, settings::RecordFolderKey);
    if (CurrentStream.load() == 0 || Edit3->text().isEmpty()) {
        ShowMessage(QStringLiteral("No active radio station!"));
        return;
    }
    IsRecording = !IsRecording;
    if (IsRecording)
        startRecording(recordingFolder);
    else
        stopRecording(recordingFolder);
}

void TForm1::startRecording(const QString& recordingFolder) {
    Edit6->setText(SongTitle());
    setCaption(SpeedButton2, QStringLiteral("..."));
    const recording::Recorder::StartResult started =
        recorder().start(CurrentStream.load(), Edit3->text(), recordingFolder);
    if (!started.started) {
        IsRecording = false;
        setCaption(SpeedButton2, QStringLiteral("rec"));
    }
    if (!started.message.isEmpty())
        ShowMessage(started.message);
}

void TForm1::stopRecording(const QString& recordingFolder) {
    setCaption(SpeedButton2, QStringLiteral("rec"));
    const recording::Recorder::StopResult stopped = recorder().stop(recordingFolder, Edit6->text());
    if (!stopped.message.isEmpty())
        ShowMessage(stopped.message);
}

void TForm1::Timer4Timer() {
    sButton3Click();
    Timer6->start();
    Timer4->stop();
}

void TForm1::Timer6Timer() {
    sButton3Click();
    Timer6->stop();
}

} // namespace tolvane
