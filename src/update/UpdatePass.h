#pragma once
// The decisions of the update pass, apart from its window: reading the
// manifest downloadlist.dat into the download lists, where a listed file may
// go inside the program folder, whether to ask about a new version, and the
// downloads themselves in order with a bounded number of attempts.
//
// QtCore only; the window (TForm5) shows what these return.

#include "common/IniFile.h"
#include "online/Fetch.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

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

// The absolute path a target value names inside programDir, or nothing when
// the value may not be written: empty, absolute ("/x", "\x", "C:\x"), or
// with a ".." part that could climb out of the folder.
std::optional<QString> resolveTarget(const QString& programDir, const QString& target);

// The question about a new version is asked when the installed and offered
// versions differ as texts and the update site is known.
bool asksAboutNewVersion(const QString& installed, const QString& offered, const QString& website);

// How often one file is tried before the pass skips it.
inline constexpr int MaxAttempts = 3;

// Fetches one source to one absolute path (FetchToFile in the program).
using Fetcher = std::function<FetchResult(const QString& url, const QString& path)>;

struct PassResult {
    int fetched = 0;     // files replaced by a complete download
    QStringList skipped; // sources given up on (refused target, attempts used up)
    bool interrupted = false;
};

// Downloads every source to its target in order. A refused or missing
// target skips its source; missing folders inside programDir are made; a
// source that fails MaxAttempts times is skipped. After each source,
// progress(number of sources dealt with) is called. Stops at once when a
// fetch reports Interrupted.
PassResult runDownloads(const DownloadLists& lists, const QString& programDir, const Fetcher& fetch,
                        const std::function<void(int)>& progress);

} // namespace tolvane::update
