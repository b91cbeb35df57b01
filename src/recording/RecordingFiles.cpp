#include "RecordingFiles.h"

#include "common/WriteGate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace tolvane::recording {

namespace {

// Bounds the search for a free numbered name (a folder of a million
// recordings of one title is not a case to serve).
constexpr int MaxNumber = 1000000;

bool isUnsafe(QChar c) {
    return c == u'/' || c == u'\\' || c.category() == QChar::Other_Control ||
           c.category() == QChar::Other_Format || c == QChar::LineSeparator ||
           c == QChar::ParagraphSeparator;
}

QByteArray path8(const QString& path) {
    return QFile::encodeName(path);
}

// Copies `from` to a new file `part` (which must not exist), flushed to disk.
bool copyToNewFile(const QString& from, const QString& part) {
    const int in = ::open(path8(from).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const int out = ::open(path8(part).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        ::close(in);
        return false;
    }
    struct stat st {};
    WriteGate gate(part, ::fstat(in, &st) == 0 ? static_cast<qint64>(st.st_size) : -1);
    bool ok = true;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (!gate.writeToFd(out, buffer, n)) {
            ok = false;
            break;
        }
    }
    ok = ::fsync(out) == 0 && ok;
    ok = ::close(out) == 0 && ok;
    ::close(in);
    if (!ok)
        ::unlink(path8(part).constData());
    return ok;
}

// Renames without replacing an existing `to`. Returns 0 or an errno value.
int renameNoReplace(const QString& from, const QString& to) {
    const QByteArray f = path8(from);
    const QByteArray t = path8(to);
    if (::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the no-replace flag: a hard link fails when the
    // name is taken; where links are refused too, test and rename.
    if (::link(f.constData(), t.constData()) == 0) {
        ::unlink(f.constData());
        return 0;
    }
    if (errno == EEXIST || errno == EXDEV)
        return errno;
    struct stat st;
    if (::lstat(t.constData(), &st) == 0)
        return EEXIST;
    return ::rename(f.constData(), t.constData()) == 0 ? 0 : errno;
}

} // namespace

QString safeFileName(const QString& text) {
    QString name;
    name.reserve(text.size());
    for (QChar c : text)
        name += isUnsafe(c) ? QChar(u'_') : c;
    qsizetype start = 0;
    while (start < name.size() && (name[start] == u'.' || name[start].isSpace()))
        ++start;
    qsizetype end = name.size();
    while (end > start && name[end - 1].isSpace())
        --end;
    return name.mid(start, end - start);
}

QString fittedName(const QString& base, const QString& suffix) {
    const qsizetype room = MaxNameBytes - suffix.toUtf8().size();
    if (room <= 0)
        return suffix;
    QString cut = base;
    while (cut.toUtf8().size() > room) {
        cut.chop(1);
        // Never leave half of a surrogate pair behind.
        if (!cut.isEmpty() && cut.back().isHighSurrogate())
            cut.chop(1);
    }
    return cut + suffix;
}

QString numberedBaseName(const QString& folder, const QString& suffix) {
    const QDir dir(folder);
    for (int n = 0; n < MaxNumber; ++n) {
        QString base = QStringLiteral("Recorded_") + QString::number(n);
        if (!QFileInfo::exists(dir.filePath(base + suffix)))
            return base;
    }
    return QStringLiteral("Recorded_") + QString::number(MaxNumber);
}

QString freeTargetPath(const QString& folder, const QString& base, const QString& suffix) {
    const QDir dir(folder);
    QString path = dir.filePath(fittedName(base, suffix));
    for (int n = 2; QFileInfo(path).exists() || QFileInfo(path).isSymLink(); ++n) {
        if (n > MaxNumber)
            break;
        path = dir.filePath(fittedName(base, QStringLiteral(" (%1)").arg(n) + suffix));
    }
    return path;
}

MoveResult moveWithoutReplacing(const QString& from, const QString& to) {
    const int rc = renameNoReplace(from, to);
    if (rc == 0)
        return MoveResult::Moved;
    if (rc == EEXIST)
        return MoveResult::TargetExists;
    if (rc != EXDEV)
        return MoveResult::Failed;

    // Another file system: a copy beside the target becomes the target only
    // once it is whole; the original goes last.
    const QFileInfo target(to);
    const QString part =
        target.dir().filePath(QStringLiteral(".") + target.fileName() + QStringLiteral(".part"));
    if (QFileInfo(part).exists() && !QFile::remove(part))
        return MoveResult::Failed;
    if (!copyToNewFile(from, part))
        return MoveResult::Failed;
    const int placed = renameNoReplace(part, to);
    if (placed != 0) {
        ::unlink(path8(part).constData());
        return placed == EEXIST ? MoveResult::TargetExists : MoveResult::Failed;
    }
    ::unlink(path8(from).constData());
    return MoveResult::Moved;
}

Filing fileRecording(const QString& temporary, const QString& base, const QStringList& folders) {
    Filing filing;
    filing.path = temporary;
    const QString safeBase = safeFileName(base);
    // The recording keeps the kind of file it is.
    const QString suffix = QStringLiteral(".") + QFileInfo(temporary).suffix();
    for (qsizetype i = 0; i < folders.size(); ++i) {
        const QString& folder = folders[i];
        if (!QDir().mkpath(folder))
            continue;
        // A name taken between the look and the move is looked for again.
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QString name = safeBase.isEmpty() ? numberedBaseName(folder, suffix) : safeBase;
            const QString target = freeTargetPath(folder, name, suffix);
            const MoveResult moved = moveWithoutReplacing(temporary, target);
            if (moved == MoveResult::Moved) {
                filing.filed = true;
                filing.path = target;
                filing.asPlanned = i == 0;
                return filing;
            }
            if (moved == MoveResult::Failed)
                break;
        }
    }
    return filing;
}

} // namespace tolvane::recording
