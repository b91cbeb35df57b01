// The record command and the automatic split at song changes. The recorder
// itself (encoder, file names, filing) lives in the recording library; the
// window holds IsRecording, the button and the two split timers.

#include "TForm1.h"

#include "Accessibility.h"
#include "common/Errors.h"
#include "common/Messages.h"
#include "recording/Recorder.h"
#include "settings/SettingsFile.h"

#include <QDir>
#include <QLineEdit>
#include <QToolButton>

namespace tolvane {

namespace {
// How soon an encoder that ended by itself is noticed.
constexpr int RecordingWatchMs = 500;
} // namespace

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
    } else {
        if (!recordingWatch_) {
            recordingWatch_ = new QTimer(this);
            recordingWatch_->setInterval(RecordingWatchMs);
            connect(recordingWatch_, &QTimer::timeout, this,
                    [this] { runGuarded([this] { watchRecording(); }); });
        }
        recordingWatch_->start();
    }
    if (!started.message.isEmpty())
        ShowMessage(started.message);
}

void TForm1::stopRecording(const QString& recordingFolder) {
    if (recordingWatch_)
        recordingWatch_->stop();
    setCaption(SpeedButton2, QStringLiteral("rec"));
    const recording::Recorder::StopResult stopped = recorder().stop(recordingFolder, Edit6->text());
    if (!stopped.message.isEmpty())
        ShowMessage(stopped.message);
}

void TForm1::watchRecording() {
    if (!IsRecording || recorder().encoderRunning())
        return;
    // The encoder stopped while the stream plays on: most often its disk is
    // full. What it wrote is filed as a stop would, the split's pending
    // presses are dropped (they would start a new recording), and playback
    // is left alone.
    const bool diskFull = recording::Recorder::temporaryDiskFull();
    IsRecording = false;
    Timer4->stop();
    Timer6->stop();
    recordingWatch_->stop();
    setCaption(SpeedButton2, QStringLiteral("rec"));
    const recording::Recorder::StopResult stopped = recorder().stop(
        settings::readText(settings::RecordSection, settings::RecordFolderKey), Edit6->text());
    QString text = diskFull ? QStringLiteral("Recording stopped: the disk is full.")
                            : QStringLiteral("Recording stopped: the MP3 encoder ended "
                                             "unexpectedly.");
    if (!stopped.recorded)
        text += QStringLiteral(" Nothing was recorded.");
    else if (stopped.filing.filed && stopped.message.isEmpty())
        text += QStringLiteral(" What was recorded is saved as \"%1\".")
                    .arg(QDir::toNativeSeparators(stopped.filing.path));
    else
        text += u' ' + stopped.message;
    ShowMessage(text);
}

void TForm1::StreamReplaced(std::uint32_t from, std::uint32_t to, qint64 silentMs) {
    if (!IsRecording || recorder().stream() != from)
        return;
    // A short gap is carried over: the file goes on with the station's
    // audio as it comes back.
    if (silentMs <= ReconnectGapLimitMs && recorder().moveTo(to))
        return;
    // After a long one the song heard so far is filed as it is, and the
    // recording goes on in a new file, named after the title heard now.
    sButton3Click();
    if (!IsRecording && CurrentStream.load() == to)
        sButton3Click();
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
