#include "UpdatePass.h"

#include "common/Convert.h"

#include <QDir>
#include <QFileInfo>

#include <set>

namespace tolvane::update {

Manifest readManifest(const IniDocument& manifest) {
    Manifest m;
    m.offeredVersion = manifest.value(QStringLiteral("program"), QStringLiteral("version"));
    m.extraCount = manifest.value(QStringLiteral("counter"), QStringLiteral("br"));
    m.lists.sources << manifest.value(QStringLiteral("playlist"), QStringLiteral("from"));
    m.lists.targets << manifest.value(QStringLiteral("playlist"), QStringLiteral("to"));
    if (m.extraCount.isEmpty())
        return m;
    const int n = StrToInt(m.extraCount);
    if (n <= 0)
        return m;
    // Only "file0" to "fileN" sections that the manifest holds can add to
    // the lists, so the count is walked through them rather than number by
    // number: a count of two thousand million must not keep the pass busy.
    std::set<int> numbers;
    for (const QString& name : manifest.sectionNames()) {
        const QString folded = foldCase(name);
        if (!folded.startsWith(QLatin1String("file")))
            continue;
        bool ok = false;
        const int i = folded.sliced(4).toInt(&ok);
        if (ok && i >= 0 && i <= n && QStringLiteral("file%1").arg(i) == folded)
            numbers.insert(i);
    }
    for (const int i : numbers) {
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

std::optional<QString> resolveTarget(const QString& programDir, const QString& target) {
    QString rel = target.trimmed();
    rel.replace(u'\\', u'/');
    if (rel.isEmpty() || rel.startsWith(u'/') || QDir::isAbsolutePath(rel) ||
        (rel.size() >= 2 && rel[1] == u':'))
        return std::nullopt;
    const QStringList parts = rel.split(u'/', Qt::SkipEmptyParts);
    if (parts.isEmpty() || parts.contains(QStringLiteral("..")))
        return std::nullopt;
    const QString base = QDir::cleanPath(programDir);
    const QString path = QDir::cleanPath(base + u'/' + parts.join(u'/'));
    if (!path.startsWith(base + u'/'))
        return std::nullopt;
    return path;
}

bool asksAboutNewVersion(const QString& installed, const QString& offered, const QString& website) {
    return installed != offered && !website.isEmpty();
}

PassResult runDownloads(const DownloadLists& lists, const QString& programDir, const Fetcher& fetch,
                        const std::function<void(int)>& progress) {
    PassResult result;
    for (qsizetype i = 0; i < lists.sources.size(); ++i) {
        const QString& source = lists.sources[i];
        const std::optional<QString> target =
            i < lists.targets.size() ? resolveTarget(programDir, lists.targets[i]) : std::nullopt;
        bool fetched = false;
        if (target && !source.isEmpty() && QDir().mkpath(QFileInfo(*target).path())) {
            for (int attempt = 0; attempt < MaxAttempts && !fetched; ++attempt) {
                const FetchResult r = fetch(source, *target);
                if (r == FetchResult::Interrupted) {
                    result.interrupted = true;
                    return result;
                }
                fetched = r == FetchResult::Done;
            }
        }
        if (fetched)
            ++result.fetched;
        else
            result.skipped << source;
        if (progress)
            progress(static_cast<int>(i + 1));
    }
    return result;
}

} // namespace tolvane::update
