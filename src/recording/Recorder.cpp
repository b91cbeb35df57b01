#include "Recorder.h"

#include "playback/engine/Engine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

namespace tolvane::recording {

namespace {

// The name a recording left behind by an earlier session is kept under.
const QString RecoveredName = QStringLiteral("Recovered recording");

QString nativePath(const QString& path) {
    return QDir::toNativeSeparators(QDir::cleanPath(path));
}

// The suffix of the file a station's own audio is kept in; empty for a
// format that is encoded by lame.
QString ownFormatSuffix(const engine::StreamInfo& info) {
    if (info.codec == "MP3" && info.container.empty())
        return QStringLiteral(".mp3");
    if (info.container == "ADTS")
        return QStringLiteral(".m4a");
    if (info.container == "Ogg" && info.codec == "Vorbis")
        return QStringLiteral(".ogg");
    if (info.container == "Ogg" && info.codec == "Opus")
        return QStringLiteral(".opus");
    if (info.container == "Ogg" && info.codec == "FLAC")
        return QStringLiteral(".oga");
    return {};
}

// The file a part of a recording was written to: `temporary`, or while its
// frames have not gone into it (their container could not be finished, the
// disk being full), the file they wait in.
QString writtenFile(const QString& temporary) {
    if (QFileInfo::exists(temporary) || !temporary.endsWith(QLatin1String(".m4a")))
        return temporary;
    QString frames = temporary;
    frames.replace(frames.size() - 3, 3, QStringLiteral("aac"));
    return QFileInfo::exists(frames) ? frames : temporary;
}

// Removes `path` when it is an empty file; true when it did.
bool removeIfEmpty(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.size() == 0 && QFile::remove(path);
}

} // namespace

QString Recorder::defaultRoot() {
    return QDir::current().filePath(QString::fromLatin1(DefaultRootName));
}

QString Recorder::temporaryFile(const QString& suffix) {
    return QDir::current().filePath(QString::fromLatin1(DefaultRootName) +
                                    QStringLiteral("/Recording") + suffix);
}

QString Recorder::temporaryPart(int number, const QString& suffix) {
    return QDir::current().filePath(QStringLiteral("%1/Recording-%2%3")
                                        .arg(QString::fromLatin1(DefaultRootName))
                                        .arg(number)
                                        .arg(suffix));
}

QString Recorder::recordingRoot(const QString& recordingFolder) {
    if (recordingFolder.isEmpty())
        return defaultRoot();
    return QDir::cleanPath(QDir::current().filePath(recordingFolder));
}

QString Recorder::stationFolder(const QString& recordingFolder, const QString& station) {
    QString name = safeFileName(station);
    if (name.isEmpty())
        name = QStringLiteral("_");
    return QDir(recordingRoot(recordingFolder)).filePath(fittedName(name, QString()));
}

bool Recorder::encoderRunning() const {
    return encoder_ != 0 && engine_.Encode_IsActive(encoder_) == engine::ACTIVE_PLAYING;
}

bool Recorder::moveTo(std::uint32_t stream) {
    if (encoder_ == 0 || !engine_.Encode_SetChannel(encoder_, stream))
        return false;
    stream_ = stream;
    return true;
}

bool Recorder::temporaryDiskFull() {
    // Less than an encoder's buffer of room counts as full: the encoder
    // gave up on a write that did not fit.
    constexpr qint64 NearlyFull = 1024 * 1024;
    const QStorageInfo disk(QFileInfo(temporaryFile()).absolutePath());
    return disk.isValid() && disk.bytesAvailable() < NearlyFull;
}

Recorder::StartResult Recorder::start(std::uint32_t stream, const QString& station,
                                      const QString& recordingFolder, TitleOf cutAtSongs,
                                      bool fromStart, bool stationFormat) {
    StartResult result;
    QDir().mkpath(defaultRoot());

    // The encoder writes a fresh temporary file: one still there is a
    // recording an earlier session could not file (the player was killed,
    // or the disk refused it). It is kept under a name of its own first.
    // An empty one holds nothing to keep (the encoder never wrote a frame).
    // The songs of a recording cut at songs are kept the same way.
    QStringList leftovers;
    QStringList partNames;
    for (const char* suffix : RecordingSuffixes) {
        leftovers << temporaryFile(QStringLiteral(".") + QLatin1String(suffix));
        partNames << QStringLiteral("Recording-*.") + QLatin1String(suffix);
    }
    for (const QFileInfo& part :
         QDir(defaultRoot()).entryInfoList(partNames, QDir::Files, QDir::Name))
        leftovers << part.absoluteFilePath();
    for (const QString& leftover : leftovers) {
        removeIfEmpty(leftover);
        if (!QFileInfo::exists(leftover))
            continue;
        RecordingTags tags = readPendingTags(leftover);
        const Filing kept = fileRecording(leftover, RecoveredName, {defaultRoot()});
        if (!kept.filed) {
            result.message = QStringLiteral("An earlier recording is still in \"%1\" and could "
                                            "not be moved. Move it away to record again.")
                                 .arg(nativePath(leftover));
            return result;
        }
        result.message = QStringLiteral("A recording left by an earlier session was kept as "
                                        "\"%1\".")
                             .arg(nativePath(kept.path));
        result.recovered = kept;
        result.recoveredTags = std::move(tags);
    }
    // What a recording left behind was to be tagged with belongs to it alone.
    removePendingTags();

    QDir().mkpath(stationFolder(recordingFolder, station));
    titleOf_ = std::move(cutAtSongs);
    const engine::DWORD flags = engine::ENCODE_AUTOFREE | (titleOf_ ? engine::ENCODE_SONGS : 0) |
                                (fromStart ? engine::ENCODE_FROMSTART : 0);
    encoder_ = 0;
    engine::StreamInfo info;
    suffix_ = QStringLiteral(".mp3");
    const QString own =
        stationFormat && engine_.StreamGetInfo(stream, &info) ? ownFormatSuffix(info) : QString();
    if (!own.isEmpty()) {
        const QByteArray path =
            (QString::fromLatin1(DefaultRootName) +
             (titleOf_ ? QStringLiteral("/Recording-%n") : QStringLiteral("/Recording")) + own)
                .toUtf8();
        encoder_ = engine_.Encode_StartFile(stream, path.constData(), flags);
        if (encoder_ != 0)
            suffix_ = own;
    }
    if (encoder_ == 0)
        encoder_ =
            engine_.Encode_Start(stream, titleOf_ ? EncoderPartsCommandLine : EncoderCommandLine,
                                 flags, nullptr, nullptr);
    if (encoder_ == 0) {
        result.message = QStringLiteral("Recording could not start: the MP3 encoder \"%1\" is "
                                        "missing or cannot be run.")
                             .arg(QString::fromLatin1(EncoderProgram));
        return result;
    }
    station_ = station;
    stream_ = stream;
    result.started = true;
    return result;
}

QStringList Recorder::foldersFor(const QString& recordingFolder, const QString& station) const {
    QStringList folders{stationFolder(recordingFolder, station)};
    for (const QString& fallback : {stationFolder(QString(), station), defaultRoot()}) {
        if (!folders.contains(fallback))
            folders << fallback;
    }
    return folders;
}

std::vector<Recorder::FiledPart> Recorder::fileFinishedSongs(const QString& recordingFolder) {
    if (!titleOf_ || encoder_ == 0)
        return {};
    return fileParts(recordingFolder, station_);
}

std::vector<Recorder::FiledPart> Recorder::fileParts(const QString& recordingFolder,
                                                     const QString& station) {
    std::vector<FiledPart> filed;
    for (const engine::EncoderPart& part : engine_.Encode_TakeParts(encoder_)) {
        const QString temporary = writtenFile(temporaryPart(part.number, suffix_));
        if (!QFileInfo::exists(temporary) || removeIfEmpty(temporary))
            continue; // the encoder wrote nothing of this song
        const QString title = titleOf_(QByteArray::fromStdString(part.title));
        filed.push_back(
            {fileRecording(temporary, title, foldersFor(recordingFolder, station)), title});
    }
    return filed;
}

Recorder::StopResult Recorder::stop(const QString& recordingFolder, const QString& title) {
    StopResult result;
    if (encoder_ != 0)
        engine_.Encode_Stop(encoder_); // returns once the encoder has exited
    if (titleOf_) {
        const QString station = station_;
        result.parts = fileParts(recordingFolder, station);
        encoder_ = 0;
        stream_ = 0;
        titleOf_ = nullptr;
        station_.clear();
        result.recorded = !result.parts.empty();
        removePendingTags();
        if (result.parts.empty())
            return result;
        result.filing = result.parts.back().filing;
        for (const FiledPart& part : result.parts) {
            if (!part.filing.filed)
                result.message = QStringLiteral("The recording could not be filed; it was kept "
                                                "as \"%1\".")
                                     .arg(nativePath(part.filing.path));
            else if (!part.filing.asPlanned && result.message.isEmpty())
                result.message =
                    QStringLiteral("The recording could not be saved in \"%1\"; it was "
                                   "saved as \"%2\".")
                        .arg(nativePath(foldersFor(recordingFolder, station).first()),
                             nativePath(part.filing.path));
        }
        return result;
    }
    encoder_ = 0;
    stream_ = 0;
    const QString station = std::exchange(station_, QString());
    const QString temporary = writtenFile(temporaryFile(suffix_));
    if (!QFileInfo::exists(temporary) || removeIfEmpty(temporary)) {
        // Nothing was recorded (an encoder that ended before its first
        // frame leaves an empty file): nothing to file or tag.
        removePendingTags();
        return result;
    }
    result.recorded = true;

    const QStringList folders = foldersFor(recordingFolder, station);
    result.filing = fileRecording(temporary, title, folders);
    // A recording still in the temporary file keeps what it is to be
    // tagged with, for the next start to find.
    if (result.filing.filed)
        removePendingTags();
    if (!result.filing.filed) {
        result.message = QStringLiteral("The recording could not be filed; it was kept as "
                                        "\"%1\".")
                             .arg(nativePath(result.filing.path));
    } else if (!result.filing.asPlanned) {
        result.message = QStringLiteral("The recording could not be saved in \"%1\"; it was "
                                        "saved as \"%2\".")
                             .arg(nativePath(folders.first()), nativePath(result.filing.path));
    }
    return result;
}

} // namespace tolvane::recording
