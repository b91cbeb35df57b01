#pragma once
// ID3v2.4 tags (Vorbis comments for Ogg) for filed recordings: artist and title from the song
// title, the station as album, the recording date, the station's website and the song's picture.
// TagLib renders the tag; the file gets it through a copy that replaces it in one rename, so a
// recording is never left half rewritten, whatever fails and even when the player is killed.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QThreadPool>

#include <utility>

namespace tolvane::recording {

struct RecordingTags {
    QString artist;     // TPE1; empty: none
    QString title;      // TIT2; empty: none
    QString album;      // TALB: the station's name
    QDateTime recorded; // TDRC: when the recording started; invalid: none
    QString website;    // WOAS: the station's web address; empty: none
    QByteArray picture; // APIC, front cover, image/jpeg; empty: none
};

// The most bytes of picture a tag takes; a larger one is left out.
inline constexpr qsizetype MaxTagPictureBytes = qsizetype{4} * 1024 * 1024;

// Artist and title of a song title: split at its last " - " (the lyrics
// window's split, without cutting a hyphenated name), both trimmed. A title
// without " - " is all title.
std::pair<QString, QString> tagArtistTitle(const QString& songTitle);

// The tags of a recording that started at `started` with `songTitle`.
RecordingTags recordingTags(const QString& songTitle, const QString& station,
                            const QString& website, const QDateTime& started,
                            const QByteArray& picture);

// The tag as TagLib renders it: ID3v2.4, text frames in UTF-8.
QByteArray renderId3v2(const RecordingTags& tags);

enum class TagResult {
    Tagged,      // the file now carries the tag
    Failed,      // it could not be done; the file is as it was
    FileChanged, // the file changed or went while the copy was made; left alone
};

// Gives the MP3 file at `path` the tag: a hidden copy beside it
// (".<name>.tagging") gets the tag followed by the file's audio (an ID3v2
// tag the file began with is dropped), is flushed to disk, and replaces the
// file with one rename. On any failure the copy goes and the file stays as
// it was. An .m4a file's copy gets the same tags as MP4 atoms (artist,
// title, album, date and cover; no website), an Ogg file's (".ogg", ".opus",
// ".oga") as Vorbis comments (CONTACT the website, DATE the date, the
// picture as a picture block).
TagResult tagRecording(const QString& path, const RecordingTags& tags);

// The hidden copy tagRecording writes for `path`.
QString taggingCopyPath(const QString& path);

// Tags filed recordings on a thread of its own, one at a time, so a long
// recording does not hold up the window. A kill while it works leaves the
// recording whole and untagged (and a hidden copy beside it, which the next
// tagging of that name removes). User-interface thread only.
class RecordingTagger {
public:
    RecordingTagger();
    // Waits for the taggings under way.
    ~RecordingTagger();
    RecordingTagger(const RecordingTagger&) = delete;
    RecordingTagger& operator=(const RecordingTagger&) = delete;

    void tag(const QString& path, const RecordingTags& tags);
    // Waits at most `timeoutMs` (negative: no limit) until every tagging
    // has ended; false when some still run.
    bool waitIdle(int timeoutMs = -1);

private:
    QThreadPool pool_;
};

// What a recording in progress is to be tagged with, kept beside the
// temporary file so that a recording an earlier session left behind is
// tagged as well. Written when a recording starts, removed when it is filed.
QString pendingTagsFile();
void writePendingTags(const QString& songTitle, const QString& station, const QString& website,
                      const QDateTime& started);
// The tags of the recording left behind, as far as they are known: at the
// least its date from the file's last change.
RecordingTags readPendingTags(const QString& leftover);
void removePendingTags();

} // namespace tolvane::recording
