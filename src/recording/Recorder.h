#pragma once
// One recording at a time of a playing stream: the engine feeds the stream's
// audio to the encoder program, which writes the temporary file; stopping
// waits for the encoder to finish and files the temporary file into the
// station's folder under the title the recording started with.
//
// The recorder remembers the stream's encoder and the station it recorded,
// so a recording stopped after another station became current is filed
// under the station that was heard. User-interface thread only.

#include "RecordingFiles.h"
#include "RecordingTags.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace tolvane::engine {
class Engine;
}

namespace tolvane::recording {

class Recorder {
public:
    explicit Recorder(engine::Engine& engine) : engine_(engine) {}

    struct StartResult {
        bool started = false;
        // For the user: why recording did not start, or what happened to a
        // recording an earlier session left behind. Empty when nothing is
        // to be said.
        QString message;
        // A recording an earlier session left behind, filed now, and what
        // is known to tag it with.
        Filing recovered;
        RecordingTags recoveredTags;
    };
    // One song of a recording cut exactly at song changes, filed.
    struct FiledPart {
        Filing filing;
        QString title; // the song's title, as it was filed
    };
    struct StopResult {
        bool recorded = false; // the encoder wrote a file
        Filing filing;
        // For the user when the recording is not where it was meant to go.
        QString message;
        // Cut at song changes: the songs filed now, the last one included
        // (`filing` is the last one's).
        std::vector<FiledPart> parts;
    };
    // The title a song's metadata text gives (empty: none).
    using TitleOf = std::function<QString(const QByteArray& metadata)>;

    // Starts the encoder on `stream` for `station`. `recordingFolder` is the
    // user's folder (empty: the default root); the station's folder is made
    // there now, with its parents.
    // With `cutAtSongs`, the recording is cut where each song begins (on the
    // audio thread, at its first sample) into a file per song, named after
    // the title `cutAtSongs` gives its metadata.
    // With `stationFormat`, an MP3 station's own frames are kept as they
    // are (no decoding, no encoding), an AAC station's in .m4a files, an Ogg
    // station's pages (Vorbis, Opus, FLAC) in .ogg, .opus or .oga files;
    // other stations are encoded by lame.
    // With `fromStart`, the recording begins with what the engine kept of
    // the song being heard (CONFIG_SONG_BUFFER).
    StartResult start(std::uint32_t stream, const QString& station, const QString& recordingFolder,
                      TitleOf cutAtSongs = {}, bool fromStart = false, bool stationFormat = false);
    // Cut at song changes: files the songs finished so far. Call it often.
    std::vector<FiledPart> fileFinishedSongs(const QString& recordingFolder);
    bool cutsAtSongs() const { return static_cast<bool>(titleOf_); }
    // Stops the encoder (returns once it has finished) and files its file
    // as `title` (empty: a numbered name) into the station's folder under
    // `recordingFolder`; when that folder cannot take it, into the default
    // root's folder of the station, or the default root itself.
    StopResult stop(const QString& recordingFolder, const QString& title);

    // The stream being recorded (0 when none).
    std::uint32_t stream() const { return encoder_ != 0 ? stream_ : 0; }
    // Goes on recording from `stream` into the same file (a reconnected
    // station); false when the encoder could not be moved.
    bool moveTo(std::uint32_t stream);

    // Whether the encoder started last still takes audio: false once it
    // has ended by itself (its disk is full, it failed) or was stopped.
    bool encoderRunning() const;
    // Whether the disk that holds the temporary file is (all but) full.
    static bool temporaryDiskFull();

    // The station the running recording is filed under.
    const QString& station() const { return station_; }

    // Paths under the current directory at the moment of the call.
    static QString defaultRoot();
    // (`suffix`: the kind of file, ".mp3" by lame.)
    static QString temporaryFile(const QString& suffix = QStringLiteral(".mp3"));
    // The temporary file of song `number` of a recording cut at songs.
    static QString temporaryPart(int number, const QString& suffix = QStringLiteral(".mp3"));
    // The user's recording folder, or the default root when it is empty; a
    // relative folder is taken from the current directory.
    static QString recordingRoot(const QString& recordingFolder);
    static QString stationFolder(const QString& recordingFolder, const QString& station);

private:
    // The folders a recording of `station` is filed into, in order.
    QStringList foldersFor(const QString& recordingFolder, const QString& station) const;
    std::vector<FiledPart> fileParts(const QString& recordingFolder, const QString& station);

    engine::Engine& engine_;
    TitleOf titleOf_;
    std::uint32_t encoder_ = 0;
    std::uint32_t stream_ = 0;
    QString station_;
    QString suffix_ = QStringLiteral(".mp3"); // of the running recording's files
};

} // namespace tolvane::recording
