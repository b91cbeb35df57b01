#pragma once
// The decisions of the update pass, apart from its window: checking the
// signed manifest downloadlist.dat (signature, expiry, serial, each file's
// source, target, hash and size), and the downloads themselves, staged and
// verified before any file is put in place.
//
// QtCore only; the window (TForm5) shows what these return.

#include "common/IniFile.h"
#include "online/WebService.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace tolvane::update {

// The lists the manifest gives: sources in download order, and the target
// values ("to", relative to the program folder) paired with them by
// position only, as the manifest lists them.
struct DownloadLists {
    QStringList sources;
    QStringList targets;
};

struct Manifest {
    QString offeredVersion; // [program] version
    QString extraCount;     // [counter] br, as written
    DownloadLists lists;
};

// Reads the manifest: [playlist] from/to always, then, when br is a whole
// number N > 0, "file0" to "fileN" (each key only when not empty). A br that
// is not empty and not a whole number throws ConvertError.
Manifest readManifest(const IniDocument& manifest);

// The folders and file name a target value names inside the program folder,
// when it is one an update may write: radiolist.dat, reklame.dat,
// settings/language.dat, settings/genre.dat, Skins/<name>.qss, or a file
// below banners/ or Images/ (folder names without regard to letter case).
// Nothing else: no program, library, plug-in or qt.conf, no settings.dat or
// services.dat, none of the user's station files, nothing in Recorded/. A
// part that is empty, "..", begins with "." or holds a control character
// refuses the target; "\" separates like "/".
std::optional<QStringList> allowedTarget(const QString& target);

// The question about a new version is asked when the installed and offered
// versions differ as texts and the update site is known.
bool asksAboutNewVersion(const QString& installed, const QString& offered, const QString& website);

// Bounds of one pass; what comes from the update site stays within them.
struct PassLimits {
    qint64 manifestBytes = 64 * 1024;
    qint64 signatureBytes = 1024;
    int files = 256;
    qint64 fileBytes = qint64{32} * 1024 * 1024;
    qint64 totalBytes = qint64{64} * 1024 * 1024;
    int passMs = 10 * 60 * 1000; // the downloads of the listed files, all together
};

// Why a pass was refused. The user is told once, in one message; tests
// look at the reason.
enum class Refusal {
    None,
    Unsigned,         // no signature file, or not one signature in it
    BadSignature,     // not signed by the publisher's key
    Malformed,        // no serial or expiry, or a file entry lacking a key
    Expired,          // [program] expires lies in the past
    RolledBack,       // [program] serial below the last one accepted
    TargetNotAllowed, // a target off the allow-list
    InsecureSource,   // a source, the manifest's address or a redirect not https
    OverLimits,       // too many files, too many bytes, too long
    Mismatch,         // a file's bytes differ from its size or sha256
    LinkTarget,       // a target (or a folder on its way) is a link or no plain file
};

struct FileEntry {
    QString source;
    QString target;    // as the manifest gives it
    QStringList parts; // allowedTarget(target)
    QByteArray sha256; // 32 bytes
    qint64 size = 0;
};

struct VerifiedManifest {
    QString offeredVersion;
    QString extraCount;
    qint64 serial = 0;
    std::vector<FileEntry> files;
};

struct ManifestCheck {
    Refusal refusal = Refusal::None;
    VerifiedManifest manifest; // when not refused
};

// Checks a fetched manifest: its bytes must carry signature (the .sig file's
// decoded bytes) by publicKey, [program] "serial" (a whole number not below
// lastSerial) and "expires" (an ISO 8601 date and time not before now), and
// every file ([playlist], then "file0" to "fileN") from, to, sha256 and size
// keys: an https source, an allowed target, 64 hexadecimal digits and a
// size within limits. A section with none of the four keys adds no file. A
// br that is not a whole number throws ConvertError, as readManifest does.
ManifestCheck checkManifest(const QByteArray& bytes, const QByteArray& signature,
                            const QByteArray& publicKey, qint64 lastSerial, const QDateTime& now,
                            const PassLimits& limits = PassLimits{});

// The outcome of one transfer of the pass.
enum class Got { Done, Failed, Insecure, Interrupted };
// Fetches url, handing its body to write, within maxBytes and timeoutMs
// (https only in the program).
using Download = std::function<Got(const QString& url, qint64 maxBytes, int timeoutMs,
                                   const std::function<bool(const char*, qint64)>& write)>;

// How often one file is tried before the pass skips it.
inline constexpr int MaxAttempts = 3;

struct PassResult {
    Refusal refusal = Refusal::None; // refused: no file was put in place
    int fetched = 0;                 // files replaced by a verified download
    QStringList skipped;             // sources that could not be fetched
    bool interrupted = false;        // no file was put in place
};

// The name of the folder in the program folder where downloads wait until
// all of them are verified; removed at the end of every pass.
inline const QString StagingFolder = QStringLiteral(".update-staging");

// Downloads every file of manifest into the staging folder, trying each up
// to MaxAttempts times and skipping it when it never arrives; checks each
// against its size and hash. Only when every file that arrived is right,
// and no target is a link, are they put in place (renameat through folder
// descriptors, no link followed); otherwise nothing changes. After each
// file, progress(number dealt with) is called.
PassResult runDownloads(const VerifiedManifest& manifest, const QString& programDir,
                        const Download& download, const std::function<void(int)>& progress,
                        const PassLimits& limits = PassLimits{});

} // namespace tolvane::update
