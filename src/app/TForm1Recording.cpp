// The record command and the automatic split at song changes. The recorder
// itself (encoder, file names, filing) lives in the recording library; the
// window holds IsRecording, the button and the two split timers.

#include "TForm1.h"

#include "Accessibility.h"
#include "common/Errors.h"
#include "common/Messages.h"
#include "playback/NowPlaying.h"
#include "recording/Recorder.h"
#include "recording/RecordingTags.h"
#include "settings/SettingsFile.h"

#include <QDir>
#include <QLineEdit>
#include <QToolButton>

namespace tolvane {

namespace {
// How soon an encoder that ended by itself is noticed.
constexpr int RecordingWatchMs = 500;
// How many songs' pictures are kept for the recordings still running.
constexpr qsizetype SongPicturesKept = 8;
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
    // Splitting at songs with the exact cut: the engine cuts the recording
    // where each song begins, and each file is named after its song.
    recording::Recorder::TitleOf cutAtSongs;
    if (settings::readFlag(settings::RadioSection, settings::SeparateKey) &&
        settings::readFlag(settings::RecordSection, settings::ExactKey)) {
        cutAtSongs = [](const QByteArray& metadata) {
            return playback::parseStreamTitle(playback::decodeTagText(metadata))
                .value_or(QString());
        };
    }
    const recording::Recorder::StartResult started =
        recorder().start(CurrentStream.load(), Edit3->text(), recordingFolder, cutAtSongs,
                         settings::readFlag(settings::RecordSection, settings::FromStartKey),
                         settings::readText(settings::RecordSection, settings::FormatKey) ==
                             settings::OriginalFormat);
    if (started.recovered.filed)
        tagFiled(started.recovered.path, started.recoveredTags);
    if (started.started) {
        recordingStarted_ = QDateTime::currentDateTime();
        recordingWebsite_ = Edit4->text();
        recording::writePendingTags(Edit6->text(), Edit3->text(), recordingWebsite_,
                                    recordingStarted_);
    }
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
    const QString station = recorder().station();
    const recording::Recorder::StopResult stopped = recorder().stop(recordingFolder, Edit6->text());
    tagStopped(station, stopped);
    if (!stopped.message.isEmpty())
        ShowMessage(stopped.message);
}

void TForm1::watchRecording() {
    if (IsRecording && recorder().cutsAtSongs()) {
        tagSongs(recorder().station(), recorder().fileFinishedSongs(settings::readText(
                                           settings::RecordSection, settings::RecordFolderKey)));
    }
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
    const QString station = recorder().station();
    const recording::Recorder::StopResult stopped = recorder().stop(
        settings::readText(settings::RecordSection, settings::RecordFolderKey), Edit6->text());
    tagStopped(station, stopped);
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

void TForm1::tagFiled(const QString& path, const recording::RecordingTags& tags) {
    if (!tagger_)
        tagger_ = std::make_unique<recording::RecordingTagger>();
    tagger_->tag(path, tags);
}

void TForm1::tagStopped(const QString& station, const recording::Filing& filing) {
    if (!filing.filed)
        return;
    tagFiled(filing.path, recording::recordingTags(Edit6->text(), station, recordingWebsite_,
                                                   recordingStarted_, songPicture(Edit6->text())));
}

void TForm1::tagStopped(const QString& station, const recording::Recorder::StopResult& stopped) {
    if (stopped.parts.empty())
        tagStopped(station, stopped.filing);
    else
        tagSongs(station, stopped.parts);
}

void TForm1::tagSongs(const QString& station,
                      const std::vector<recording::Recorder::FiledPart>& songs) {
    for (const recording::Recorder::FiledPart& song : songs) {
        if (song.filing.filed)
            tagFiled(song.filing.path,
                     recording::recordingTags(song.title, station, recordingWebsite_,
                                              recordingStarted_, songPicture(song.title)));
    }
}

bool TForm1::waitForRecordingTags(int timeoutMs) {
    return !tagger_ || tagger_->waitIdle(timeoutMs);
}

void TForm1::rememberSongPicture(const QString& title, const QByteArray& picture) {
    songPictures_.removeIf([&](const auto& kept) { return kept.first == title; });
    songPictures_.append({title, picture});
    while (songPictures_.size() > SongPicturesKept)
        songPictures_.removeFirst();
}

QByteArray TForm1::songPicture(const QString& title) const {
    if (title.isEmpty())
        return {};
    for (const auto& [keptTitle, picture] : songPictures_) {
        if (keptTitle == title)
            return picture;
    }
    return {};
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
