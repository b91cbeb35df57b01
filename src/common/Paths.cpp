#include "Paths.h"

#include "Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <QStringConverter>
#include <cstdio>

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
    const QString text = DecodeText(ReadFileBytes(absolutePath));
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
    if (sync == SyncToDisk::No) {
        // QSaveFile always syncs; a scratch file goes through a temporary
        // file of its own instead.
        QTemporaryFile file(absolutePath + QStringLiteral(".XXXXXX"));
        if (!file.open() || file.write(bytes) != bytes.size() || !file.flush())
            throw IniWriteError(absolutePath);
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                            QFileDevice::ReadGroup | QFileDevice::ReadOther);
        if (::rename(QFile::encodeName(file.fileName()).constData(),
                     QFile::encodeName(absolutePath).constData()) != 0)
            throw IniWriteError(absolutePath);
        file.setAutoRemove(false); // it has the target's name now
        return;
    }
    QSaveFile f(absolutePath);
    if (!f.open(QIODevice::WriteOnly))
        throw IniWriteError(absolutePath);
    if (f.write(bytes) != bytes.size()) {
        f.cancelWriting();
        throw IniWriteError(absolutePath);
    }
    if (!f.commit())
        throw IniWriteError(absolutePath);
}

} // namespace tolvane
