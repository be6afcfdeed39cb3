#include "SafeCleanupService.h"

#include "TreeRemover.h"
#include "platform/ScopedDirectory.h"
#include "scan/CacheClassifier.h"

#include <algorithm>
#include <vector>

namespace {

// Folders this small are not worth offering.
constexpr qint64 minimumSize = qint64(1) << 20;


} // namespace

SafeCleanupService::SafeCleanupService(FileSystemPtr fileSystem, TrustedRoots roots)
    : m_fs(std::move(fileSystem))
    , m_roots(std::move(roots))
{
}

SafeCleanupCandidateList SafeCleanupService::scan(const HomeLayout& layout) const
{
    SafeCleanupCandidateList candidates;
    for (const SafeCacheFolder& row : layout.safeCaches()) {
        for (const FilePath& path : layout.expand(row.folder, *m_fs)) {
            addCandidate(path, row.label, layout, &candidates);
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const SafeCleanupCandidate& a, const SafeCleanupCandidate& b) { return a.size > b.size; });
    return candidates;
}

void SafeCleanupService::addCandidate(const FilePath& path, const QString& label, const HomeLayout& layout,
                                      SafeCleanupCandidateList* candidates) const
{
    FileStat st;
    if (!m_fs->stat(path.native(), true, &st)) {
        return;
    }
    const CacheRisk risk = CacheClassifier::classify(path.toString(), layout);
    if (risk != CacheRisk::safe) {
        return;
    }
    const std::optional<qint64> size = measure(path);
    if (!size || *size <= minimumSize) {
        return;
    }
    SafeCleanupCandidate candidate;
    candidate.id = QUuid::createUuid();
    candidate.path = path;
    candidate.label = label;
    candidate.size = *size;
    candidate.risk = risk;
    candidate.isSelected = true;
    candidates->append(candidate);
}

SafeCleanupResult SafeCleanupService::cleanup(const SafeCleanupCandidateList& candidates,
                                              const ProgressHandler& onProgress, const StopRequest& stop) const
{
    QList<const SafeCleanupCandidate*> selected;
    for (const SafeCleanupCandidate& candidate : candidates) {
        if (candidate.isSelected) {
            selected.append(&candidate);
        }
    }
    SafeCleanupResult result;
    if (selected.isEmpty()) {
        return result;
    }
    const TreeRemover remover(m_fs, m_roots);
    const qsizetype count = selected.size();
    for (qsizetype i = 0; i < count; ++i) {
        const SafeCleanupCandidate& candidate = *selected.at(i);
        if (shouldStop(stop)) {
            result.stopped = true;
            break;
        }
        if (onProgress) {
            onProgress(QStringLiteral("Очистка ") + candidate.label + QStringLiteral("…"), double(i) / double(count));
        }
        // The verdict recorded when the candidate was made decides; the
        // path is not judged again here.
        if (!CacheRisks::permitsAutoDeletion(candidate.risk)) {
            ++result.failed;
            result.errors.append(candidate.label + QStringLiteral(": не безопасно для автоудаления"));
            continue;
        }
        const qint64 size = sizeBeforeDeletion(candidate.path);
        const TreeRemover::Result removal = remover.remove(candidate.path);
        if (removal.ok()) {
            ++result.deleted;
            result.freedBytes += size;
        } else {
            ++result.failed;
            result.errors.append(candidate.label + QStringLiteral(": ") + removal.message());
        }
    }
    if (onProgress) {
        onProgress(QStringLiteral("Готово"), 1.0);
    }
    return result;
}

qint64 SafeCleanupService::directorySize(const FilePath& folder) const
{
    return measure(folder).value_or(0);
}

qint64 SafeCleanupService::sizeBeforeDeletion(const FilePath& path) const
{
    if (const std::optional<qint64> size = measure(path)) {
        return *size;
    }
    // A row of a cache scan may be a single file (or a link): what goes is
    // the entry itself.
    FileStat st;
    if (m_fs->stat(path.native(), false, &st) && !st.isDirectory) {
        return st.space();
    }
    return 0;
}

std::optional<qint64> SafeCleanupService::measure(const FilePath& folder) const
{
    struct Level
    {
        explicit Level(const FileSystem& fs)
            : dir(fs)
        {
        }

        ScopedDirectory dir;
        DirectoryNames names;
        qsizetype next = 0;
        qsizetype pathLength = 0;
    };

    QByteArray path = folder.native();
    while (path.size() > 1 && path.endsWith('/')) {
        path.chop(1);
    }
    Level root(*m_fs);
    FileStat rootStat;
    if (m_fs->openDirectoryNoFollow(FileSystem::CurrentDirectory, path.constData(), path, root.dir.receive())
        || !m_fs->statAt(root.dir.get(), ".", path, false, &rootStat)
        || !m_fs->readDirectory(root.dir.get(), path, &root.names)) {
        return std::nullopt;
    }
    root.pathLength = path.size();

    // Depth first with one open folder per level; memory follows the depth
    // and the widest folder, not the number of entries.
    std::vector<Level> stack;
    stack.push_back(std::move(root));
    qint64 total = 0;
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.next >= level.names.names.size()) {
            stack.pop_back();
            continue;
        }
        const DirectoryNames::Name& entry = level.names.names.at(level.next++);
        const char* name = level.names.buffer.constData() + entry.offset;
        if (name[0] == '.') {
            continue;
        }
        path.truncate(level.pathLength);
        path += '/';
        path.append(name, entry.length);
        FileStat st;
        if (!m_fs->statAt(level.dir.get(), name, path, false, &st)) {
            continue;
        }
        if (!st.isDirectory) {
            total += st.space();
            continue;
        }
        if (st.device != rootStat.device) {
            continue;
        }
        Level child(*m_fs);
        if (m_fs->openDirectoryNoFollow(level.dir.get(), name, path, child.dir.receive())
            || !m_fs->readDirectory(child.dir.get(), path, &child.names)) {
            continue;
        }
        child.pathLength = path.size();
        stack.push_back(std::move(child));
    }
    return total;
}
