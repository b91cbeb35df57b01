#include "RecordingTags.h"

#include "Recorder.h"
#include "common/IniFile.h"
#include "common/ThreadHandoff.h"
#include "common/WriteGate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <taglib/attachedpictureframe.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/urllinkframe.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace tolvane::recording {

namespace {

TagLib::String utf8(const QString& text) {
    return TagLib::String(text.toUtf8().toStdString(), TagLib::String::UTF8);
}

void addText(TagLib::ID3v2::Tag& tag, const char* id, const QString& text) {
    if (text.isEmpty())
        return;
    auto* frame = new TagLib::ID3v2::TextIdentificationFrame(id, TagLib::String::UTF8);
    frame->setText(utf8(text));
    tag.addFrame(frame);
}

// URL frames hold ISO-8859-1 only: a web address goes in its encoded form
// (punycode host, percent-escaped path), which is plain ASCII.
QByteArray asciiUrl(const QString& website) {
    const QUrl url = QUrl::fromUserInput(website.trimmed());
    return url.isValid() ? url.toEncoded() : QByteArray();
}

QByteArray path8(const QString& path) {
    return QFile::encodeName(path);
}

// Reads up to `size` bytes at the file's current offset; fewer only at its
// end. Negative on an error.
qint64 readFully(int fd, char* data, qint64 size) {
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, data + done, static_cast<size_t>(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Where the audio starts: after an ID3v2 tag the file begins with.
qint64 audioStart(int fd, qint64 fileSize) {
    constexpr std::size_t HeaderBytes = 10; // TagLib::ID3v2::Header::size()
    char head[HeaderBytes];
    const qint64 n = readFully(fd, head, sizeof head);
    if (n != static_cast<qint64>(sizeof head) || std::memcmp(head, "ID3", 3) != 0)
        return 0;
    const TagLib::ID3v2::Header header(TagLib::ByteVector(head, sizeof head));
    const qint64 size = header.completeTagSize();
    return size > 0 && size <= fileSize ? size : 0;
}

// Writes `tag` and then the audio of `in` (from `start`) to the new file
// `copy`, flushed to disk. False on any error.
bool writeTaggedCopy(int in, qint64 start, qint64 audioBytes, const QByteArray& tag,
                     const QString& copy, mode_t mode) {
    const int out = ::open(path8(copy).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0)
        return false;
    WriteGate gate(copy, tag.size() + audioBytes);
    bool ok =
        ::lseek(in, start, SEEK_SET) == start && gate.writeToFd(out, tag.constData(), tag.size());
    static constexpr qint64 Chunk = 256 * 1024;
    QByteArray buffer(Chunk, Qt::Uninitialized);
    while (ok) {
        const qint64 n = readFully(in, buffer.data(), Chunk);
        if (n < 0)
            ok = false;
        else if (n > 0)
            ok = gate.writeToFd(out, buffer.constData(), n);
        if (n < Chunk)
            break;
    }
    ok = ok && ::fchmod(out, mode & 07777) == 0;
    ok = ok && ::fsync(out) == 0;
    ok = ::close(out) == 0 && ok;
    return ok;
}

// Flushes the file `path` to disk; false when it cannot be.
bool synced(const QString& path) {
    const int fd = ::open(path8(path).constData(), O_RDONLY | O_CLOEXEC);
    const bool done = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    return done;
}

// Gives the .m4a file `path` the tags as MP4 atoms (TagLib rewrites the
// file), flushed to disk. The station's website has no atom of its own and
// is left out. False on any error.
bool writeMp4Tags(const QString& path, const RecordingTags& tags) {
    bool saved = false;
    {
        TagLib::MP4::File file(path8(path).constData(), false);
        TagLib::MP4::Tag* tag = file.isValid() ? file.tag() : nullptr;
        if (!tag)
            return false;
        tag->setArtist(utf8(tags.artist));
        tag->setTitle(utf8(tags.title));
        tag->setAlbum(utf8(tags.album));
        if (tags.recorded.isValid())
            tag->setItem("\251day", TagLib::StringList(utf8(tags.recorded.toString(
                                        QStringLiteral("yyyy-MM-ddTHH:mm:ss")))));
        if (!tags.picture.isEmpty()) {
            TagLib::MP4::CoverArtList covers;
            covers.append(TagLib::MP4::CoverArt(
                TagLib::MP4::CoverArt::JPEG,
                TagLib::ByteVector(tags.picture.constData(),
                                   static_cast<unsigned>(tags.picture.size()))));
            tag->setItem("covr", covers);
        }
        saved = file.save();
    }
    return saved && synced(path);
}

// An Ogg recording (Vorbis, Opus, FLAC in Ogg) takes Vorbis comments, not
// an ID3v2 tag.
bool isOggName(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("ogg") || suffix == QLatin1String("opus") ||
           suffix == QLatin1String("oga");
}

// The tags as Vorbis comments of `copy`, the hidden copy of the Ogg file
// `path` (which nobody else sees), TagLib rewriting its comment header;
// flushed to disk. False on any error.
bool tagOggCopy(const QString& path, const QString& copy, const RecordingTags& tags) {
    const QByteArray name = path8(copy);
    const QString suffix = QFileInfo(path).suffix();
    std::unique_ptr<TagLib::Ogg::File> file;
    if (suffix == QLatin1String("opus"))
        file = std::make_unique<TagLib::Ogg::Opus::File>(name.constData(), false);
    else if (suffix == QLatin1String("oga"))
        file = std::make_unique<TagLib::Ogg::FLAC::File>(name.constData(), false);
    else
        file = std::make_unique<TagLib::Ogg::Vorbis::File>(name.constData(), false);
    auto* comment = dynamic_cast<TagLib::Ogg::XiphComment*>(file->tag());
    if (!file->isValid() || !comment)
        return false;
    comment->setArtist(utf8(tags.artist));
    comment->setTitle(utf8(tags.title));
    comment->setAlbum(utf8(tags.album));
    if (tags.recorded.isValid())
        comment->addField("DATE",
                          utf8(tags.recorded.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))));
    const QByteArray url = tags.website.isEmpty() ? QByteArray() : asciiUrl(tags.website);
    if (!url.isEmpty())
        comment->addField("CONTACT", TagLib::String(url.toStdString(), TagLib::String::Latin1));
    if (!tags.picture.isEmpty()) {
        auto* picture = new TagLib::FLAC::Picture;
        picture->setType(TagLib::FLAC::Picture::FrontCover);
        picture->setMimeType("image/jpeg");
        picture->setData(TagLib::ByteVector(tags.picture.constData(),
                                            static_cast<unsigned>(tags.picture.size())));
        comment->addPicture(picture);
    }
    if (!file->save())
        return false;
    file.reset();
    return synced(copy);
}

} // namespace

std::pair<QString, QString> tagArtistTitle(const QString& songTitle) {
    const qsizetype dash = songTitle.lastIndexOf(QLatin1String(" - "));
    if (dash < 0)
        return {QString(), songTitle.trimmed()};
    return {songTitle.left(dash).trimmed(), songTitle.mid(dash + 3).trimmed()};
}

RecordingTags recordingTags(const QString& songTitle, const QString& station,
                            const QString& website, const QDateTime& started,
                            const QByteArray& picture) {
    RecordingTags tags;
    std::tie(tags.artist, tags.title) = tagArtistTitle(songTitle);
    tags.album = station;
    tags.recorded = started;
    tags.website = website.trimmed();
    if (picture.size() <= MaxTagPictureBytes)
        tags.picture = picture;
    return tags;
}

QByteArray renderId3v2(const RecordingTags& tags) {
    TagLib::ID3v2::Tag tag;
    addText(tag, "TPE1", tags.artist);
    addText(tag, "TIT2", tags.title);
    addText(tag, "TALB", tags.album);
    if (tags.recorded.isValid())
        addText(tag, "TDRC", tags.recorded.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")));
    const QByteArray url = tags.website.isEmpty() ? QByteArray() : asciiUrl(tags.website);
    if (!url.isEmpty()) {
        auto* frame = new TagLib::ID3v2::UrlLinkFrame(TagLib::ByteVector("WOAS"));
        frame->setUrl(TagLib::String(url.toStdString(), TagLib::String::Latin1));
        tag.addFrame(frame);
    }
    if (!tags.picture.isEmpty()) {
        auto* frame = new TagLib::ID3v2::AttachedPictureFrame;
        frame->setTextEncoding(TagLib::String::UTF8);
        frame->setMimeType("image/jpeg");
        frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        frame->setPicture(TagLib::ByteVector(tags.picture.constData(),
                                             static_cast<unsigned>(tags.picture.size())));
        tag.addFrame(frame);
    }
    const TagLib::ByteVector bytes = tag.render(TagLib::ID3v2::v4);
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString taggingCopyPath(const QString& path) {
    const QFileInfo info(path);
    return info.dir().filePath(QStringLiteral(".") + info.fileName() + QStringLiteral(".tagging"));
}

TagResult tagRecording(const QString& path, const RecordingTags& tags) {
    // An .m4a file takes its tags inside, an Ogg file its comments: its
    // copy is tagged by TagLib.
    const bool mp4 = path.endsWith(QLatin1String(".m4a"), Qt::CaseInsensitive);
    const bool ogg = isOggName(path);
    const QByteArray tag = mp4 || ogg ? QByteArray() : renderId3v2(tags);
    const QString copy = taggingCopyPath(path);
    // A copy left by a tagging that was cut short (the player was killed).
    ::unlink(path8(copy).constData());

    const int in = ::open(path8(path).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return errno == ENOENT ? TagResult::FileChanged : TagResult::Failed;
    struct stat before {};
    if (::fstat(in, &before) != 0 || !S_ISREG(before.st_mode)) {
        ::close(in);
        return TagResult::Failed;
    }
    const qint64 start = mp4 || ogg ? 0 : audioStart(in, before.st_size);
    const bool written =
        writeTaggedCopy(in, start, before.st_size - start, tag, copy, before.st_mode) &&
        (!mp4 || writeMp4Tags(copy, tags)) && (!ogg || tagOggCopy(path, copy, tags));
    struct stat after {};
    const bool unchanged = ::fstat(in, &after) == 0 && sameFile(before, after);
    ::close(in);
    if (!written || !unchanged) {
        ::unlink(path8(copy).constData());
        return written ? TagResult::FileChanged : TagResult::Failed;
    }
    // The name must still be the file that was copied: never put the copy
    // over a file that took its place meanwhile.
    struct stat now {};
    if (::lstat(path8(path).constData(), &now) != 0 || !sameFile(before, now)) {
        ::unlink(path8(copy).constData());
        return TagResult::FileChanged;
    }
    if (::rename(path8(copy).constData(), path8(path).constData()) != 0) {
        ::unlink(path8(copy).constData());
        return TagResult::Failed;
    }
    return TagResult::Tagged;
}

RecordingTagger::RecordingTagger() {
    pool_.setMaxThreadCount(1);
    // The thread stays for the next recording a while, then goes.
    pool_.setExpiryTimeout(30000);
}

RecordingTagger::~RecordingTagger() {
    pool_.waitForDone();
}

void RecordingTagger::tag(const QString& path, const RecordingTags& tags) {
#if defined(__SANITIZE_THREAD__)
    // The pool hands the task over through Qt's locks, which ThreadSanitizer
    // cannot see (see common/ThreadHandoff.h): what is written before, and
    // the task itself, are published here and taken up when it runs.
    __tsan_release(&detail::handOverToken);
    AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
    pool_.start([path, tags] {
        __tsan_acquire(&detail::handOverToken);
        tagRecording(path, tags);
    });
    AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
#else
    pool_.start([path, tags] { tagRecording(path, tags); });
#endif
}

bool RecordingTagger::waitIdle(int timeoutMs) {
    return pool_.waitForDone(timeoutMs);
}

namespace {
const QString PendingSection = QStringLiteral("recording");
const QString TitleKey = QStringLiteral("title");
const QString StationKey = QStringLiteral("station");
const QString WebsiteKey = QStringLiteral("website");
const QString StartedKey = QStringLiteral("started");
} // namespace

QString pendingTagsFile() {
    return QDir(Recorder::defaultRoot()).filePath(QStringLiteral(".Recording.tags"));
}

void writePendingTags(const QString& songTitle, const QString& station, const QString& website,
                      const QDateTime& started) {
    // Only a help for a recording that might be left behind: a title that
    // an IniFile cannot hold, or a write that fails, leaves it untagged.
    // Written when "rec" is pressed, so it does not wait for the disk: a
    // busy disk would hold the window for up to a second. What the player
    // wrote outlives the player being killed; only a power cut loses it.
    try {
        IniFile file(pendingTagsFile(), SyncToDisk::No);
        file.WriteStrings(PendingSection, {{TitleKey, songTitle},
                                           {StationKey, station},
                                           {WebsiteKey, website},
                                           {StartedKey, started.toString(Qt::ISODate)}});
    } catch (...) {
        removePendingTags();
    }
}

RecordingTags readPendingTags(const QString& leftover) {
    QDateTime changed = QFileInfo(leftover).lastModified();
    try {
        IniFile file(pendingTagsFile());
        if (file.exists()) {
            const QDateTime started =
                QDateTime::fromString(file.ReadString(PendingSection, StartedKey), Qt::ISODate);
            return recordingTags(file.ReadString(PendingSection, TitleKey),
                                 file.ReadString(PendingSection, StationKey),
                                 file.ReadString(PendingSection, WebsiteKey),
                                 started.isValid() ? started : changed, QByteArray());
        }
    } catch (...) {
    }
    RecordingTags tags;
    tags.recorded = changed;
    return tags;
}

void removePendingTags() {
    QFile::remove(pendingTagsFile());
}

} // namespace tolvane::recording
