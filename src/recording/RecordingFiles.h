#pragma once
// Where a recording goes and under which name. A recording is made in one
// temporary file under the program folder and filed, when it stops, into
// the station's folder under the title of the song it started with.
//
// Filing never replaces a file and never loses the recording: a name that
// is taken gets a number, a title that cannot be a file name is made one,
// missing folders are created whole, and a move that cannot rename across
// file systems copies and then deletes.

#include <QString>
#include <QStringList>

namespace tolvane::recording {

// The encoder's command line: it reads WAV on standard input and writes the
// temporary file; both names are relative to the program folder.
inline constexpr const char* EncoderCommandLine = "system/lame - Recorded/Recording.mp3";
inline constexpr const char* EncoderProgram = "system/lame";
// The same for a recording cut at songs: a temporary file per song ("%n" is
// its number).
inline constexpr const char* EncoderPartsCommandLine = "system/lame - Recorded/Recording-%n.mp3";
// A recording of a station's own audio is "Recorded/Recording" and a file
// per song "Recorded/Recording-%n", each with the suffix of its format:
// ".mp3" for MP3 frames, ".m4a" for AAC (and ".aac" for the AAC frames of a
// song while it is recorded, before they go into their .m4a file), ".ogg",
// ".opus" and ".oga" for Ogg Vorbis, Opus and FLAC pages.
inline constexpr const char* RecordingSuffixes[] = {"mp3", "m4a", "aac", "ogg", "opus", "oga"};
// The default recording folder and the temporary file, relative to the
// program folder.
inline constexpr const char* DefaultRootName = "Recorded";
inline constexpr const char* TemporaryFileName = "Recorded/Recording.mp3";

// The most bytes a file name may take (ext4, XFS, Btrfs).
inline constexpr int MaxNameBytes = 255;

// `text` made fit to be one file or folder name: "/", "\" and control
// characters become "_", leading dots and blanks and trailing blanks go.
// Returns the empty text when nothing is left.
QString safeFileName(const QString& text);

// `base` + `suffix`, with `base` cut (at a character boundary) so that the
// whole name takes at most MaxNameBytes bytes of UTF-8.
QString fittedName(const QString& base, const QString& suffix);

// "Recorded_" with the smallest n from 0 for which `folder` holds no
// "Recorded_n" + `suffix`.
QString numberedBaseName(const QString& folder, const QString& suffix = QStringLiteral(".mp3"));

// The path a new recording named `base` takes in `folder` without replacing
// a file: "base.mp3", else "base (2).mp3", "base (3).mp3", ... (or with
// another `suffix`).
QString freeTargetPath(const QString& folder, const QString& base,
                       const QString& suffix = QStringLiteral(".mp3"));

enum class MoveResult {
    Moved,        // `to` holds the file, `from` is gone
    TargetExists, // `to` was taken; nothing changed
    Failed,       // nothing changed (`from` is whole where it was)
};

// Moves a file to a path that must not exist yet. Never replaces `to`; on
// any failure `from` stays whole. Across file systems the file is copied
// beside the target, flushed, put in place, and only then is `from` removed.
MoveResult moveWithoutReplacing(const QString& from, const QString& to);

struct Filing {
    bool filed = false;     // the recording has a final name
    QString path;           // its final path, or where it was left when not filed
    bool asPlanned = false; // filed into the folder it was meant for
};

// Files the temporary recording `temporary` under `base` (a title, made a
// safe name; empty for a numbered name) with its own suffix into the first
// of `folders` that takes it, creating each folder with its parents. When
// none does, the recording stays where it is.
Filing fileRecording(const QString& temporary, const QString& base, const QStringList& folders);

} // namespace tolvane::recording
