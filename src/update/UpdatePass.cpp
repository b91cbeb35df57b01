#include "UpdatePass.h"

#include "SafeFolder.h"
#include "Signature.h"
#include "common/Convert.h"
#include "common/Paths.h"
#include "common/WriteGate.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

#include <set>

namespace tolvane::update {

namespace {

// The numbers i of the "file"i sections, 0 <= i <= the count br gives, that
// the manifest holds, in order. Throws ConvertError for a br that is no
// whole number.
std::set<int> fileSections(const IniDocument& manifest) {
    const QString count = manifest.value(QStringLiteral("counter"), QStringLiteral("br"));
    std::set<int> numbers;
    if (count.isEmpty())
        return numbers;
    const int n = StrToInt(count);
    if (n <= 0)
        return numbers;
    // Only "file0" to "fileN" sections that the manifest holds can add to
    // the lists, so the count is walked through them rather than number by
    // number: a count of two thousand million must not keep the pass busy.
    for (const QString& name : manifest.sectionNames()) {
        const QString folded = foldCase(name);
        if (!folded.startsWith(QLatin1String("file")))
            continue;
        bool ok = false;
        const int i = folded.sliced(4).toInt(&ok);
        if (ok && i >= 0 && i <= n && QStringLiteral("file%1").arg(i) == folded)
            numbers.insert(i);
    }
    return numbers;
}

} // namespace

Manifest readManifest(const IniDocument& manifest) {
    Manifest m;
    m.offeredVersion = manifest.value(QStringLiteral("program"), QStringLiteral("version"));
    m.extraCount = manifest.value(QStringLiteral("counter"), QStringLiteral("br"));
    m.lists.sources << manifest.value(QStringLiteral("playlist"), QStringLiteral("from"));
    m.lists.targets << manifest.value(QStringLiteral("playlist"), QStringLiteral("to"));
    for (const int i : fileSections(manifest)) {
        const QString section = QStringLiteral("file%1").arg(i);
        const QStringList fromTo =
            manifest.values(section, {QStringLiteral("from"), QStringLiteral("to")});
        if (!fromTo[0].isEmpty())
            m.lists.sources << fromTo[0];
        if (!fromTo[1].isEmpty())
            m.lists.targets << fromTo[1];
    }
    return m;
}

bool asksAboutNewVersion(const QString& installed, const QString& offered, const QString& website) {
    return installed != offered && !website.isEmpty();
}

namespace {

bool plainPart(const QString& part) {
    if (part.isEmpty() || part.startsWith(u'.'))
        return false;
    for (const QChar c : part) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

bool sameName(const QString& a, const char* b) {
    return a.compare(QLatin1String(b), Qt::CaseInsensitive) == 0;
}

} // namespace

std::optional<QStringList> allowedTarget(const QString& target) {
    QString rel = target.trimmed();
    rel.replace(u'\\', u'/');
    if (rel.startsWith(u'/'))
        return std::nullopt;
    QStringList parts = rel.split(u'/');
    // "./Skins/x.qss" names Skins/x.qss.
    while (parts.size() > 1 && parts.first() == u".")
        parts.removeFirst();
    for (const QString& part : parts) {
        if (!plainPart(part))
            return std::nullopt;
    }
    const QString& first = parts.first();
    const QString& last = parts.last();
    bool allowed = false;
    if (parts.size() == 1)
        allowed = sameName(first, "radiolist.dat") || sameName(first, "reklame.dat");
    else if (sameName(first, "banners") || sameName(first, "Images"))
        allowed = true;
    else if (parts.size() == 2 && sameName(first, "settings"))
        allowed = sameName(last, "language.dat") || sameName(last, "genre.dat");
    else if (parts.size() == 2 && sameName(first, "Skins"))
        allowed = last.size() > 4 && last.endsWith(QLatin1String(".qss"), Qt::CaseInsensitive);
    if (!allowed)
        return std::nullopt;
    return parts;
}

ManifestCheck checkManifest(const QByteArray& bytes, const QByteArray& signature,
                            const QByteArray& publicKey, qint64 lastSerial, const QDateTime& now,
                            const PassLimits& limits) {
    ManifestCheck check;
    auto refuse = [&](Refusal why) {
        check.refusal = why;
        check.manifest = {};
        return check;
    };
    if (bytes.size() > limits.manifestBytes)
        return refuse(Refusal::OverLimits);
    if (signature.size() != SignatureBytes)
        return refuse(Refusal::Unsigned);
    if (!verifySignature(bytes, signature, publicKey))
        return refuse(Refusal::BadSignature);

    // From here on the text is the publisher's own.
    const IniDocument doc = IniDocument::fromText(DecodeText(bytes));
    VerifiedManifest& m = check.manifest;
    const QString program = QStringLiteral("program");
    m.offeredVersion = doc.value(program, QStringLiteral("version"));
    m.extraCount = doc.value(QStringLiteral("counter"), QStringLiteral("br"));
    bool serialOk = false;
    m.serial = doc.value(program, QStringLiteral("serial")).toLongLong(&serialOk);
    const QDateTime expires =
        QDateTime::fromString(doc.value(program, QStringLiteral("expires")), Qt::ISODate);
    if (!serialOk || m.serial < 0 || !expires.isValid())
        return refuse(Refusal::Malformed);
    if (expires < now)
        return refuse(Refusal::Expired);
    if (m.serial < lastSerial)
        return refuse(Refusal::RolledBack);

    QStringList sections{QStringLiteral("playlist")};
    for (const int i : fileSections(doc))
        sections << QStringLiteral("file%1").arg(i);
    const QStringList keys{QStringLiteral("from"), QStringLiteral("to"), QStringLiteral("sha256"),
                           QStringLiteral("size")};
    qint64 total = 0;
    for (const QString& section : sections) {
        const QStringList v = doc.values(section, keys);
        if (std::all_of(v.begin(), v.end(), [](const QString& s) { return s.isEmpty(); }))
            continue;
        if (std::any_of(v.begin(), v.end(), [](const QString& s) { return s.isEmpty(); }))
            return refuse(Refusal::Malformed);
        FileEntry f;
        f.source = v[0];
        f.target = v[1];
        const QUrl source(f.source, QUrl::StrictMode);
        if (!source.isValid() || source.scheme().toLower() != u"https" || source.host().isEmpty())
            return refuse(Refusal::InsecureSource);
        const auto parts = allowedTarget(f.target);
        if (!parts)
            return refuse(Refusal::TargetNotAllowed);
        f.parts = *parts;
        f.sha256 = QByteArray::fromHex(v[2].toLatin1());
        bool sizeOk = false;
        f.size = v[3].toLongLong(&sizeOk);
        if (v[2].size() != 64 || f.sha256.size() != 32 || f.sha256.toHex() != v[2].toLower() ||
            !sizeOk || f.size < 0)
            return refuse(Refusal::Malformed);
        total += std::min(f.size, limits.totalBytes + 1);
        if (f.size > limits.fileBytes || total > limits.totalBytes ||
            static_cast<int>(m.files.size()) >= limits.files)
            return refuse(Refusal::OverLimits);
        m.files.push_back(std::move(f));
    }
    return check;
}

namespace {

// One staged download: its bytes counted and hashed while they arrive.
struct Staged {
    int fd = -1;
    qint64 bytes = 0;
    QCryptographicHash hash{QCryptographicHash::Sha256};
    bool arrived = false;
};

// Writes the body into fd while counting and hashing it; a body longer than
// the entry's size is cut off (and then fails the size check).
Got fetchInto(Staged& s, const FileEntry& entry, const Download& download, int timeoutMs) {
    if (::ftruncate(s.fd, 0) != 0 || ::lseek(s.fd, 0, SEEK_SET) != 0)
        return Got::Failed;
    s.bytes = 0;
    s.hash.reset();
    WriteGate gate(entry.target);
    return download(entry.source, entry.size, timeoutMs, [&](const char* data, qint64 length) {
        if (s.bytes + length > entry.size)
            return false;
        if (!gate.write(data, length, [&](const char* piece, qint64 size) -> qint64 {
                return ::write(s.fd, piece, static_cast<size_t>(size));
            }))
            return false;
        s.hash.addData(QByteArrayView(data, length));
        s.bytes += length;
        return true;
    });
}

} // namespace

PassResult runDownloads(const VerifiedManifest& manifest, const QString& programDir,
                        const Download& download, const std::function<void(int)>& progress,
                        const PassLimits& limits) {
    PassResult result;
    const FolderFd root = FolderFd::open(programDir);
    auto refuse = [&](Refusal why) {
        result.refusal = why;
        return result;
    };
    if (!root.valid())
        return refuse(Refusal::LinkTarget);
    // No download starts while a target could send a write elsewhere.
    for (const FileEntry& f : manifest.files) {
        if (checkPath(root, f.parts) != PathState::Ok)
            return refuse(Refusal::LinkTarget);
    }

    // A staging folder left by a pass that was killed goes first.
    removeFolderOfFiles(root, StagingFolder);
    if (::mkdirat(root.get(), QFile::encodeName(StagingFolder).constData(), 0700) != 0)
        return refuse(Refusal::LinkTarget);
    PathState state = PathState::Failed;
    const FolderFd staging = openFolders(root, {StagingFolder, QStringLiteral("x")}, &state);
    struct Cleanup {
        const FolderFd& root;
        std::vector<Staged>& files;
        ~Cleanup() {
            for (Staged& s : files) {
                if (s.fd >= 0)
                    ::close(s.fd);
            }
            removeFolderOfFiles(root, StagingFolder);
        }
    };
    std::vector<Staged> files(manifest.files.size());
    const Cleanup cleanup{root, files};
    if (!staging.valid())
        return refuse(Refusal::LinkTarget);

    QElapsedTimer clock;
    clock.start();
    for (size_t i = 0; i < manifest.files.size(); ++i) {
        const FileEntry& entry = manifest.files[i];
        Staged& s = files[i];
        s.fd = createFile(staging, QString::number(i));
        for (int attempt = 0; s.fd >= 0 && attempt < MaxAttempts && !s.arrived; ++attempt) {
            const qint64 left = limits.passMs - clock.elapsed();
            if (left <= 0)
                return refuse(Refusal::OverLimits);
            const Got got = fetchInto(s, entry, download, static_cast<int>(left));
            if (got == Got::Interrupted) {
                result.interrupted = true;
                return result;
            }
            if (got == Got::Insecure)
                return refuse(Refusal::InsecureSource);
            if (got == Got::Done) {
                if (s.bytes != entry.size || s.hash.result() != entry.sha256)
                    return refuse(Refusal::Mismatch);
                s.arrived = true;
            }
        }
        if (!s.arrived)
            result.skipped << entry.source;
        if (progress)
            progress(static_cast<int>(i + 1));
    }

    // The downloads took a while: a link planted meanwhile at any target
    // refuses the pass before the first file is put in place, so that a
    // refused pass leaves every file as it was.
    for (size_t i = 0; i < manifest.files.size(); ++i) {
        if (files[i].arrived && checkPath(root, manifest.files[i].parts) != PathState::Ok)
            return refuse(Refusal::LinkTarget);
    }

    // Everything that arrived is right: put it in place.
    for (size_t i = 0; i < manifest.files.size(); ++i) {
        Staged& s = files[i];
        if (!s.arrived)
            continue;
        const FileEntry& entry = manifest.files[i];
        ::fsync(s.fd);
        const FolderFd folder = openFolders(root, entry.parts, &state);
        if (folder.valid())
            state = replaceFile(staging, QString::number(i), folder, entry.parts.last());
        if (state == PathState::Link)
            return refuse(Refusal::LinkTarget);
        if (state == PathState::Ok)
            ++result.fetched;
        else
            result.skipped << entry.source;
    }
    return result;
}

} // namespace tolvane::update
