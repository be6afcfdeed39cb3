#include "BriskoTest.h"
#include "AppFixture.h"
#include "ScratchDir.h"
#include "TreeInventory.h"

#include "app/AppState.h"

#include <QtTest>

#include <cerrno>
#include <cstring>

namespace {

constexpr qint64 terabyte = 1'000'000'000'000;
constexpr qint64 gibibyte = qint64(1) << 30;

const QString quickCategories = QStringLiteral("appCaches,systemJunk,downloadsInbox,oldInstallers,largeLooseFiles");

// The facts of a MacBook Air, whatever machine runs the test.
class FixedSystemFacts : public SystemFacts
{
public:
    std::optional<QString> string(const QString& name) const override
    {
        if (name == QLatin1String("hw.model")) {
            return QStringLiteral("MacBookAir10,1");
        }
        if (name == QLatin1String("machdep.cpu.brand_string")) {
            return QStringLiteral("Apple M1");
        }
        return std::nullopt;
    }
    std::optional<quint64> integer(const QString& name) const override
    {
        return name == QLatin1String("hw.physicalcpu") ? std::optional<quint64>(8) : std::nullopt;
    }
    qint64 processorCount() const override { return 8; }
    quint64 physicalMemory() const override { return quint64(16) << 30; }
    OsVersion osVersion() const override { return {QStringLiteral("macOS"), 14, 2, 1}; }
};

QString describe(int errnoValue)
{
    return QString::fromLocal8Bit(std::strerror(errnoValue));
}

} // namespace

// Downloads sorting and the quick health scan of the application state, on
// real folders in a temporary home, with a fixed volume list and machine.
class tst_AppStateHealthOperations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void sortFilesTheDownloadsRoot();
    void sortThatMovedNothing();
    void sortFailureIsReportedAndTheFileStays();
    void unreadableDownloadsIsReported();

    void healthScanRatesTheDiskAndPublishesInOrder();
    void healthScanWithoutFullDiskAccessOnACleanHome();
    void healthScanReplacesTheResults();
    void busyOperationsRefuseEachOther();
    void stateGoneBeforeTheResult();

private:
    AppEnvironment environment() const;
    void setVolume(qint64 total, qint64 available);

    std::unique_ptr<AppFixture> m_f;
};

void tst_AppStateHealthOperations::init()
{
    m_f = std::make_unique<AppFixture>();
    setVolume(terabyte, terabyte * 2 / 5);
}

AppEnvironment tst_AppStateHealthOperations::environment() const
{
    AppEnvironment env = m_f->environment();
    env.systemFacts = std::make_shared<FixedSystemFacts>();
    return env;
}

void tst_AppStateHealthOperations::setVolume(qint64 total, qint64 available)
{
    // An external disk listed first: the system volume is still "/".
    m_f->volumes->volumes = {
        VolumeFacts{QStringLiteral("/Volumes/Архив"), QStringLiteral("Архив"), std::nullopt, 4 * terabyte,
                    terabyte / 10},
        VolumeFacts{QStringLiteral("/"), QStringLiteral("Macintosh HD"), std::nullopt, total, available},
    };
}

void tst_AppStateHealthOperations::sortFilesTheDownloadsRoot()
{
    for (const char* name : {"Отчёт за май.pdf", "clip.MOV", "backup.tar.gz", "песня.mp3", "main.cpp",
                             "фото.png", "setup.pkg", "README", "запись.3gp"}) {
        m_f->home.makeFile(QStringLiteral("Downloads/") + QString::fromUtf8(name), 100);
    }
    m_f->home.makeFileNative("Downloads/\xff\xfe-scan.pdf", 100);
    m_f->home.makeDir(QStringLiteral("Downloads/Проекты"));
    m_f->home.makeFile(QStringLiteral("Downloads/.localized"), 1);
    AppState state(environment());
    QSignalSpy disks(&state, &AppState::disksChanged);

    QFuture<SortResult> sorting = state.sortDownloads();
    QVERIFY(state.isBusy());
    QCOMPARE(state.scanProgress(), (ScanProgress{true, QStringLiteral("Сортировка Downloads…"), 0, 0.0}));
    QCOMPARE(state.statusMessage(), std::nullopt);
    QTRY_VERIFY(sorting.isFinished());

    QVERIFY(!state.isBusy());
    QCOMPARE(state.scanProgress(), (ScanProgress{false, QStringLiteral("Сортировка Downloads…"), 0, 0.0}));
    QCOMPARE(state.statusMessage(),
             QStringLiteral("Разложено 10 файлов в Downloads/_Sorted/ (Archives: 1, Audio: 1, Code: 1, Documents: 2, "
                            "Images: 1, Installers: 1, Other: 2, Video: 1). Пропущено папок: 1, ошибок: 0"));
    QCOMPARE(sorting.result().moved, 10);
    QCOMPARE(sorting.result().skipped, 1);
    QVERIFY(disks.count() >= 1);
    QVERIFY(ScratchDir::exists(m_f->home.nativePath("Downloads/_Sorted/Documents/\xff\xfe-scan.pdf").native()));
    QVERIFY(QFileInfo::exists(m_f->home.filePath(QStringLiteral("Downloads/_Sorted/Other/запись.3gp"))));
    QVERIFY(QFileInfo::exists(m_f->home.filePath(QStringLiteral("Downloads/.localized"))));

    QCOMPARE(state.storageStats().eventCount, 1);
    QCOMPARE(state.storageStats().totalFreed, 0);
    QCOMPARE(state.storageStats().lastEvent->action, QStringLiteral("Сортировка Downloads"));
    QCOMPARE(state.storageStats().lastEvent->itemCount, 10);
    QCOMPARE(m_f->usage->names(), QStringList{QStringLiteral("downloads_sorted")});
    QCOMPARE(m_f->usage->events.first().metadata, (QMap<QString, QString>{{QStringLiteral("moved"), QStringLiteral("10")}}));
    QVERIFY(m_f->errors->reports.isEmpty());
}

void tst_AppStateHealthOperations::sortThatMovedNothing()
{
    m_f->home.makeDir(QStringLiteral("Downloads/Папка"));
    AppState state(environment());
    QFuture<SortResult> sorting = state.sortDownloads();
    QTRY_VERIFY(sorting.isFinished());
    QCOMPARE(state.statusMessage(),
             QStringLiteral("Разложено 0 файлов в Downloads/_Sorted/ (). Пропущено папок: 1, ошибок: 0"));
    QCOMPARE(state.storageStats().eventCount, 0);
    QCOMPARE(m_f->usage->names(), QStringList{QStringLiteral("downloads_sorted")});
    QCOMPARE(m_f->usage->events.first().metadata.value(QStringLiteral("moved")), QStringLiteral("0"));
    QVERIFY(m_f->errors->reports.isEmpty());
}

void tst_AppStateHealthOperations::sortFailureIsReportedAndTheFileStays()
{
    const QString file = m_f->home.makeFile(QStringLiteral("Downloads/смета.xlsx"), 500);
    const QByteArray downloads = QFile::encodeName(m_f->home.filePath(QStringLiteral("Downloads")));
    const TreeInventory before = TreeInventory::take(downloads);
    AppState state(environment());
    // Making "_Sorted" and "_Sorted/Documents", then the rename.
    m_f->fs->failOperation(3, ENOSPC);
    QFuture<SortResult> sorting = state.sortDownloads();
    QTRY_VERIFY(sorting.isFinished());
    QVERIFY(m_f->fs->faultFired());

    QVERIFY(QFileInfo::exists(file));
    QVERIFY(TreeInventory::take(downloads).entries().value("смета.xlsx").sameAs(before.entries().value("смета.xlsx")));
    QCOMPARE(state.statusMessage(),
             QStringLiteral("Разложено 0 файлов в Downloads/_Sorted/ (). Пропущено папок: 0, ошибок: 1"));
    QCOMPARE(state.storageStats().eventCount, 0);
    QCOMPARE(m_f->errors->reports.size(), 1);
    const RecordingErrorSink::Report report = m_f->errors->reports.first();
    QCOMPARE(report.feature, AppFeature::downloadsSort);
    QCOMPARE(report.errors, QStringList{QStringLiteral("смета.xlsx: ") + describe(ENOSPC)});
    QCOMPARE(report.context, (QMap<QString, QString>{{QStringLiteral("moved"), QStringLiteral("0")}}));
}

void tst_AppStateHealthOperations::unreadableDownloadsIsReported()
{
    m_f->home.makeFile(QStringLiteral("Downloads/a.pdf"), 10);
    m_f->fs->failOpen(QFile::encodeName(m_f->home.filePath(QStringLiteral("Downloads"))));
    AppState state(environment());
    QFuture<SortResult> sorting = state.sortDownloads();
    QTRY_VERIFY(sorting.isFinished());
    QCOMPARE(sorting.result().errors, QStringList{QStringLiteral("Не удалось прочитать Downloads")});
    QCOMPARE(state.statusMessage(),
             QStringLiteral("Разложено 0 файлов в Downloads/_Sorted/ (). Пропущено папок: 0, ошибок: 0"));
    QCOMPARE(m_f->errors->reports.size(), 1);
    QCOMPARE(m_f->errors->reports.first().feature, AppFeature::downloadsSort);
    QCOMPARE(m_f->errors->reports.first().errors, QStringList{QStringLiteral("Не удалось прочитать Downloads")});
    QVERIFY(QFileInfo::exists(m_f->home.filePath(QStringLiteral("Downloads/a.pdf"))));
}

void tst_AppStateHealthOperations::healthScanRatesTheDiskAndPublishesInOrder()
{
    // Sizes the file system reports, so that the figures can be worked out
    // by hand: a 150 GB film and a 2 GB installer from 40 days ago in
    // Downloads, a 3 GiB Homebrew cache.
    m_f->sized(QStringLiteral("Downloads/фильм.mkv"), 150'000'000'000);
    const QString installer = m_f->home.makeFile(QStringLiteral("Downloads/setup.dmg"), 1,
                                                 m_f->clock->now().addDays(-40));
    m_f->fs->setAllocatedSize(QFile::encodeName(installer), 2'000'000'000);
    m_f->sized(QStringLiteral("Library/Caches/Homebrew/bottle.tar.gz"), 3 * gibibyte);
    AppState state(environment());

    QStringList published;
    QList<ScanProgress> progress;
    const auto note = [&published](const char* name) { return [&published, name] { published.append(QLatin1String(name)); }; };
    connect(&state, &AppState::safeCleanupCandidatesChanged, this, note("candidates"));
    connect(&state, &AppState::scanItemsChanged, this, note("items"));
    connect(&state, &AppState::healthSnapshotChanged, this, note("snapshot"));
    connect(&state, &AppState::statusMessageChanged, this, note("status"));
    connect(&state, &AppState::healthScanProgressChanged, this, [&] {
        published.append(state.healthScanProgress().isRunning ? QStringLiteral("progress") : QStringLiteral("done"));
        progress.append(state.healthScanProgress());
    });

    QFuture<void> scan = state.runQuickHealthScan();
    QVERIFY(state.isBusy());
    QCOMPARE(m_f->usage->names(), QStringList{QStringLiteral("health_scan_started")});
    QCOMPARE(m_f->usage->events.first().metadata,
             (QMap<QString, QString>{{QStringLiteral("categories"), quickCategories}}));
    QTRY_VERIFY(scan.isFinished());
    QVERIFY(!state.isBusy());

    // Start, the caches before the first scan report, one report per
    // category, then results, snapshot, "Готово" and the status line.
    QCOMPARE(progress.first(), (ScanProgress{true, QStringLiteral("Проверка дисков…"), 0, 0.0}));
    QStringList tasks;
    for (const ScanProgress& p : progress) {
        tasks.append(p.currentTask);
    }
    QCOMPARE(tasks, (QStringList{QStringLiteral("Проверка дисков…"), QStringLiteral("Downloads (файлы в корне)"),
                                 QStringLiteral("Крупные файлы в Downloads"), QStringLiteral("Старые установщики"),
                                 QStringLiteral("Кэши приложений"), QStringLiteral("Служебный мусор"),
                                 QStringLiteral("Готово"), QStringLiteral("Готово")}));
    QCOMPARE(progress.last().isRunning, false);
    QCOMPARE(progress.last().progress, 1.0);
    QCOMPARE(published, (QStringList{QStringLiteral("progress"), QStringLiteral("status"), QStringLiteral("candidates"),
                                     QStringLiteral("progress"), QStringLiteral("progress"), QStringLiteral("progress"),
                                     QStringLiteral("progress"), QStringLiteral("progress"), QStringLiteral("progress"),
                                     QStringLiteral("items"), QStringLiteral("snapshot"), QStringLiteral("done"),
                                     QStringLiteral("status")}));

    // Film in two categories, installer in three, the cache folder once.
    const QList<qint64> sizes = {150'000'000'000, 150'000'000'000, 3 * gibibyte, 2'000'000'000, 2'000'000'000,
                                 2'000'000'000};
    QList<qint64> found;
    for (const ScanItem& item : state.scanItems()) {
        found.append(item.size);
    }
    QCOMPARE(found, sizes);
    QCOMPARE(state.lastScanCategories(), (ScanCategorySet{ScanCategory::appCaches, ScanCategory::systemJunk,
                                                          ScanCategory::downloadsInbox, ScanCategory::oldInstallers,
                                                          ScanCategory::largeLooseFiles}));
    QCOMPARE(state.selectedCategory(), std::nullopt);
    QCOMPARE(state.safeCleanupCandidates().size(), 1);
    QCOMPARE(state.safeCleanupCandidates().first().size, 3 * gibibyte);

    // 60% used: base 100; 158 GB of 1 TB is junk: −22.
    const MacHealthSnapshot snapshot = *state.healthSnapshot();
    QCOMPARE(snapshot.healthPercent, 78);
    // The film and the installer found by several categories count once.
    QCOMPARE(snapshot.reclaimableBytes, 158'442'450'944);
    QCOMPARE(snapshot.safeCleanupBytes, 3 * gibibyte);
    QCOMPARE(snapshot.itemCount, 6);
    QCOMPARE(snapshot.diskUsedPercent, 0.6);
    QCOMPARE(snapshot.diskFreeBytes, 400'000'000'000);
    QCOMPARE(snapshot.scannedAt, m_f->clock->now());
    QCOMPARE(snapshot.hardware.marketingName, QStringLiteral("MacBook Air (Apple M1)"));
    QCOMPARE(snapshot.hardware.memoryGB, 16);
    QCOMPARE(snapshot.tips, (QStringList{QStringLiteral("Найдено 158,44\u00a0ГБ потенциального мусора."),
                                         QStringLiteral("Безопасные кэши: 3,22\u00a0ГБ — раздел «Безопасная очистка».")}));
    QCOMPARE(state.healthScanProgress().currentTask, QStringLiteral("Готово"));
    QCOMPARE(state.statusMessage(), QStringLiteral("Оценка здоровья: 78% · можно освободить 158,44\u00a0ГБ"));

    QCOMPARE(m_f->usage->names(),
             (QStringList{QStringLiteral("health_scan_started"), QStringLiteral("health_scan_completed")}));
    QCOMPARE(m_f->usage->events.last().metadata,
             (QMap<QString, QString>{{QStringLiteral("health"), QStringLiteral("78")},
                                     {QStringLiteral("items"), QStringLiteral("6")},
                                     {QStringLiteral("reclaimable"), QStringLiteral("158442450944")}}));
    // A scan reports no errors of its own, and changes nothing on disk.
    QVERIFY(m_f->errors->reports.isEmpty());
    QVERIFY(QFileInfo::exists(installer));
}

void tst_AppStateHealthOperations::healthScanWithoutFullDiskAccessOnACleanHome()
{
    // Mail exists but cannot be opened: the program lacks full disk access.
    const QString mail = m_f->home.makeDir(QStringLiteral("Library/Mail"));
    m_f->fs->failOpen(QFile::encodeName(mail));
    setVolume(terabyte, terabyte / 2);
    AppState state(environment());
    QFuture<void> scan = state.runQuickHealthScan();
    QTRY_VERIFY(scan.isFinished());

    QVERIFY(state.scanItems().isEmpty());
    QVERIFY(state.safeCleanupCandidates().isEmpty());
    QCOMPARE(state.healthSnapshot()->healthPercent, 95);
    QCOMPARE(state.healthSnapshot()->tips,
             (QStringList{QStringLiteral("Включите полный доступ к диску для точного сканирования."),
                          QStringLiteral("Система выглядит чистой — периодически повторяйте быстрый скан.")}));
    QCOMPARE(state.statusMessage(), QStringLiteral("Оценка здоровья: 95% · можно освободить 0\u00a0байт"));
}

void tst_AppStateHealthOperations::healthScanReplacesTheResults()
{
    m_f->home.makeFile(QStringLiteral("Downloads/старый отчёт.pdf"), 4000);
    m_f->home.makeFile(QStringLiteral("Downloads/заметки.txt"), 3000);
    AppState state(environment());
    QFuture<void> scanned = state.runScan({ScanCategory::downloadsInbox});
    QTRY_VERIFY(scanned.isFinished());
    QCOMPARE(state.scanItems().size(), 2);
    // Move one file to the archive so that there is a move result to clear.
    state.selectAll(state.scanItems(), false);
    state.toggleSelection(state.scanItems().first());
    QFuture<void> moved = state.moveSelectedToArchive();
    QTRY_VERIFY(moved.isFinished());
    QVERIFY(state.lastMoveResult().has_value());
    QCOMPARE(state.selectedCategory(), ScanCategory::downloadsInbox);

    QFuture<void> health = state.runQuickHealthScan();
    QTRY_VERIFY(health.isFinished());
    QCOMPARE(state.selectedCategory(), std::nullopt);
    QCOMPARE(state.lastMoveResult(), std::nullopt);
    // The one file left, as an inbox row; no pre-selection is made, so it
    // keeps the scanner's selection.
    QCOMPARE(state.scanItems().size(), 1);
    QCOMPARE(state.scanItems().first().category, ScanCategory::downloadsInbox);
    QVERIFY(state.scanItems().first().isSelected);
    QCOMPARE(state.scopedScanItems(), state.scanItems());
}

void tst_AppStateHealthOperations::busyOperationsRefuseEachOther()
{
    // Results come back through the event loop, which does not run before
    // the test waits: until then the health scan is running.
    m_f->home.makeFile(QStringLiteral("Downloads/файл.txt"), 10);
    AppState state(environment());
    QFuture<void> health = state.runQuickHealthScan();
    QVERIFY(state.isBusy());
    const ScanProgress scanProgress = state.scanProgress();
    const ScanProgress healthProgress = state.healthScanProgress();

    QFuture<SortResult> sorting = state.sortDownloads();
    QVERIFY(sorting.isFinished());
    QCOMPARE(sorting.result(), SortResult{});
    QCOMPARE(state.statusMessage(), QStringLiteral("Дождитесь завершения текущей операции"));
    QCOMPARE(state.scanProgress(), scanProgress);
    QVERIFY(QFileInfo::exists(m_f->home.filePath(QStringLiteral("Downloads/файл.txt"))));

    QVERIFY(state.runQuickHealthScan().isFinished());
    QVERIFY(state.runScan({ScanCategory::largeFolders}).isFinished());
    QCOMPARE(state.healthScanProgress(), healthProgress);
    QCOMPARE(state.statusMessage(), QStringLiteral("Дождитесь завершения текущей операции"));
    QCOMPARE(m_f->usage->names(), QStringList{QStringLiteral("health_scan_started")});

    QTRY_VERIFY(health.isFinished());
    QVERIFY(!state.isBusy());
    // Once it is over, sorting runs.
    QFuture<SortResult> after = state.sortDownloads();
    QTRY_VERIFY(after.isFinished());
    QCOMPARE(after.result().moved, 1);
}

void tst_AppStateHealthOperations::stateGoneBeforeTheResult()
{
    m_f->home.makeFile(QStringLiteral("Downloads/a.pdf"), 10);
    QFuture<SortResult> sorting;
    QFuture<void> health;
    {
        AppState sorter(environment());
        sorting = sorter.sortDownloads();
    }
    QTRY_VERIFY(sorting.isFinished());
    QVERIFY(sorting.isCanceled());
    {
        AppState scanner(environment());
        health = scanner.runQuickHealthScan();
    }
    QTRY_VERIFY(health.isFinished());
    QVERIFY(health.isCanceled());
    // Nothing was published for a state that is gone: no history was written.
    AppState later(environment());
    QCOMPARE(later.storageStats().eventCount, 0);
}

BRISKO_TEST(tst_AppStateHealthOperations)
#include "tst_AppStateHealthOperations.moc"
