// The operations of AppState behind the size map: mapping a folder, the
// actions on one entry of the map, and keeping the map true after actions.
#include "AppState.h"

#include "base/ByteCountFormatter.h"

namespace {

bool isWithin(const FilePath& path, const FilePath& root)
{
    const QByteArray& p = path.native();
    const QByteArray& r = root.native();
    return p == r || (p.startsWith(r) && (r.endsWith('/') || p.at(r.size()) == '/'));
}

} // namespace

QFuture<void> AppState::runUsageScan(const FilePath& root, bool crossFileSystems)
{
    if (isBusy()) {
        setStatusMessage(busyMessage);
        return QtFuture::makeReadyFuture();
    }
    const FilePath target = root.isEmpty() ? m_env.home : root;
    startProgress(QStringLiteral("Карта: подсчёт…"));
    setStatusMessage(std::nullopt);
    m_usagePending.clear();
    m_usageCancel = std::make_shared<std::atomic<bool>>(false);

    const UsageWalker walker = m_usageWalker;
    const std::shared_ptr<std::atomic<bool>> cancel = m_usageCancel;
    QPointer<AppState> self(this);
    return OffThread::run(this,
        [walker, target, cancel, self, crossFileSystems] {
            UsageWalker::Options options;
            options.crossFileSystems = crossFileSystems;
            options.cancel = cancel.get();
            options.progress = [self](qint64 entries, qint64 bytes) {
                OffThread::post<AppState>(self, [entries, bytes](AppState& state) {
                    ScanProgress progress = state.m_scanProgress;
                    progress.itemsFound = entries;
                    progress.currentTask = QStringLiteral("Карта: найдено ") + QString::number(entries)
                        + QStringLiteral(" элементов, ") + ByteCountFormatter::format(bytes);
                    state.setScanProgress(progress);
                });
            };
            return std::make_shared<const UsageTree>(walker.walk(target, options));
        },
        [target](AppState& state, UsageTreePtr tree) {
            state.m_usageTree = tree;
            state.stopProgress(QStringLiteral("Готово"));
            Q_EMIT state.usageTreeChanged();
            if (tree->isEmpty()) {
                state.setStatusMessage(QStringLiteral("Папка не найдена: ") + target.toString());
                return;
            }
            QString line = (tree->wasCancelled() ? QStringLiteral("Карта остановлена: ") : QStringLiteral("Карта: "))
                + ByteCountFormatter::format(tree->size(0)) + QStringLiteral(" в ") + QString::number(tree->entries(0))
                + QStringLiteral(" элементах");
            if (tree->unreadableFolders() > 0) {
                line += QStringLiteral(", нет доступа к папкам: ") + QString::number(tree->unreadableFolders());
            }
            state.setStatusMessage(line);
        });
}

void AppState::cancelUsageScan()
{
    if (m_usageCancel) {
        m_usageCancel->store(true);
    }
}

ScanItem AppState::usageItem(const FilePath& path) const
{
    qint64 size = 0;
    bool isDirectory = false;
    if (m_usageTree) {
        if (const UsageTree::Index index = m_usageTree->find(path); index != UsageTree::noNode) {
            size = m_usageTree->size(index);
            isDirectory = m_usageTree->isDirectory(index);
        }
    }
    return ScanItem::make(path, size, ScanCategory::largeFolders, isDirectory, true, std::nullopt);
}

QFuture<void> AppState::moveUsageEntryToArchive(const FilePath& path)
{
    if (isBusy()) {
        setStatusMessage(busyMessage);
        return QtFuture::makeReadyFuture();
    }
    return moveItemsToArchive({usageItem(path)});
}

QFuture<void> AppState::trashUsageEntry(const FilePath& path)
{
    if (isBusy()) {
        setStatusMessage(busyMessage);
        return QtFuture::makeReadyFuture();
    }
    return trashItems({usageItem(path)});
}

QFuture<void> AppState::cleanUsageEntry(const FilePath& path)
{
    if (isBusy()) {
        setStatusMessage(busyMessage);
        return QtFuture::makeReadyFuture();
    }
    return cleanItems({usageItem(path)});
}

void AppState::refreshUsage(const QList<FilePath>& paths)
{
    if (!m_usageTree || m_usageTree->isEmpty()) {
        return;
    }
    for (const FilePath& path : paths) {
        if (isWithin(path, m_usageTree->rootPath()) && !m_usagePending.contains(path)) {
            m_usagePending.append(path);
        }
    }
    if (m_usageRefreshing || m_usagePending.isEmpty()) {
        return;
    }
    m_usageRefreshing = true;
    const QList<FilePath> batch = std::exchange(m_usagePending, {});
    const UsageTreePtr base = m_usageTree;
    const UsageWalker walker = m_usageWalker;
    OffThread::run(
        this,
        [base, batch, walker] {
            UsageTree tree = *base;
            for (const FilePath& path : batch) {
                tree = walker.refresh(tree, path);
            }
            return UsageTreePtr(std::make_shared<const UsageTree>(std::move(tree)));
        },
        [base](AppState& state, UsageTreePtr refreshed) {
            state.m_usageRefreshing = false;
            // A new map made meanwhile is newer than this refresh.
            if (state.m_usageTree == base) {
                state.m_usageTree = refreshed;
                Q_EMIT state.usageTreeChanged();
            }
            state.refreshUsage({});
        });
}
