#include "Paths.h"

#include "Errors.h"
#include "WriteGate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <QStringConverter>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace tolvane {

namespace {

QString normalise(const QString& name) {
    QString n = name;
    n.replace(u'\\', u'/');
    while (n.startsWith(u'/'))
        n.remove(0, 1);
    return n;
}

// Finds an entry of dir whose name equals part ignoring letter case.
QString findCaseInsensitive(const QDir& dir, const QString& part) {
    const QStringList entries =
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& e : entries) {
        if (e.compare(part, Qt::CaseInsensitive) == 0)
            return e;
    }
    return {};
}

// Flushes a folder's entries (a rename into it) to the disk. Best effort: a
// file system that cannot sync folders has nothing more to do.
void syncFolder(const QString& folder) {
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

QString ProgramPath(const QString& name) {
    const QString base = QDir::currentPath();
    const QString rel = normalise(name);
    QString exact = rel.isEmpty() ? base : base + u'/' + rel;
    if (QFileInfo::exists(exact))
        return exact;

    // Walk the components, matching each without regard to case.
    QString current = base;
    const QStringList parts = rel.split(u'/', Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        const QString candidate = current + u'/' + part;
        if (QFileInfo::exists(candidate)) {
            current = candidate;
            continue;
        }
        const QString match = findCaseInsensitive(QDir(current), part);
        if (match.isEmpty())
            return exact;
        current += u'/' + match;
    }
    return current;
}

bool ProgramFileExists(const QString& name) {
    return QFileInfo::exists(ProgramPath(name));
}

QString decodeUtf8OrLatin1(QByteArrayView bytes) {
    auto toUtf16 = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = toUtf16(bytes);
    if (toUtf16.hasError())
        return QString::fromLatin1(bytes);
    return text;
}

QString DecodeText(const QByteArray& bytes) {
    QByteArrayView view(bytes);
    if (view.startsWith("\xEF\xBB\xBF"))
        view = view.sliced(3);
    return decodeUtf8OrLatin1(view);
}

QByteArray ReadFileBytes(const QString& absolutePath) {
    QFileInfo info(absolutePath);
    if (!info.exists())
        return {};
    if (info.isDir())
        throw FileReadError(absolutePath);
    QFile f(absolutePath);
    if (!f.open(QIODevice::ReadOnly))
        throw FileReadError(absolutePath);
    QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw FileReadError(absolutePath);
    return bytes;
}

QStringList ReadTextLines(const QString& absolutePath) {
    return TextLines(ReadFileBytes(absolutePath));
}

QStringList TextLines(const QByteArray& bytes) {
    const QString text = DecodeText(bytes);
    QStringList lines = text.split(u'\n');
    // A final line break ends the last line rather than starting an empty one.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
    }
    return lines;
}

void WriteFileAtomically(const QString& absolutePath, const QByteArray& bytes, SyncToDisk sync) {
    // A link (a settings file kept elsewhere) stays a link: its target is
    // what gets replaced.
    const QFileInfo info(absolutePath);
    const QString target = info.isSymLink() ? info.symLinkTarget() : absolutePath;
    // A file made read-only is refused, as writing it in place would be:
    // the rename would otherwise replace it all the same.
    if (::access(QFile::encodeName(target).constData(), F_OK) == 0 &&
        ::access(QFile::encodeName(target).constData(), W_OK) != 0)
        throw IniWriteError(absolutePath);

    // The new content goes to a temporary file beside the target, which
    // takes the target's name only once it is whole (and, for files that
    // matter, on the disk). Until then the old file is untouched; a failure
    // or a kill at any point leaves either the old file or the new one.
    QTemporaryFile file(target + QStringLiteral(".XXXXXX"));
    if (!file.open())
        throw IniWriteError(absolutePath);
    WriteGate gate(target, bytes.size());
    const bool written =
        gate.write(bytes.constData(), bytes.size(),
                   [&](const char* data, qint64 size) { return file.write(data, size); }) &&
        file.flush();
    if (!written || (sync == SyncToDisk::Yes && ::fsync(file.handle()) != 0))
        throw IniWriteError(absolutePath); // the temporary file goes with `file`

    const QFileDevice::Permissions kept = QFileInfo::exists(target)
                                              ? QFile::permissions(target)
                                              : QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                    QFileDevice::ReadGroup | QFileDevice::ReadOther;
    file.setPermissions(kept);
    if (::rename(QFile::encodeName(file.fileName()).constData(),
                 QFile::encodeName(target).constData()) != 0)
        throw IniWriteError(absolutePath);
    file.setAutoRemove(false); // it has the target's name now
    // The rename itself lives in the folder: sync that too, or a power cut
    // may bring back the old name.
    if (sync == SyncToDisk::Yes)
        syncFolder(QFileInfo(target).absolutePath());
}

} // namespace tolvane
