#include "BriskoTest.h"
#include "TestValues.h"
#include "AppFixture.h"

#include "app/AppState.h"

namespace {

enum class Downloads { filesAndAFolder, onlyAFolder, unreadable };

} // namespace

Q_DECLARE_METATYPE(Downloads)

// What the application state makes of Downloads sorting and the quick health
// scan; the sorting is DownloadsSorter's test, the score MacHealthEvaluator's.
class tst_AppStateHealthOperations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_f = std::make_unique<AppFixture>();
        // An external disk listed first: the system volume is still "/".
        m_f->volumes->volumes = {
            {QStringLiteral("/Volumes/Архив"), QStringLiteral("Архив"), std::nullopt, 4 * terabyte, terabyte},
            {QStringLiteral("/"), QStringLiteral("Macintosh HD"), std::nullopt, terabyte, terabyte * 2 / 5},
        };
    }
    void sortIsPublishedRecordedAndReported_data()
    {
        QTest::addColumn<Downloads>("downloads");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QStringList>("reportedErrors");
        const QString none = QStringLiteral("Разложено 0 файлов в Downloads/_Sorted/ (). Пропущено папок: ");
        QTest::newRow("files and a folder") << Downloads::filesAndAFolder
                                            << QStringLiteral("Разложено 3 файла в Downloads/_Sorted/ (Documents: 2, "
                                                              "Images: 1). Пропущено папок: 1, ошибок: 0")
                                            << QStringList();
        QTest::newRow("nothing moved") << Downloads::onlyAFolder << none + QStringLiteral("1, ошибок: 0") << QStringList();
        // No single file failed, yet the user must hear of it.
        QTest::newRow("unreadable Downloads") << Downloads::unreadable << none + QStringLiteral("0, ошибок: 0")
                                              << QStringList{QStringLiteral("Не удалось прочитать Downloads")};
    }

    void sortIsPublishedRecordedAndReported()
    {
        QFETCH(Downloads, downloads);
        QFETCH(QString, status);
        QFETCH(QStringList, reportedErrors);
        const QByteArray folder = QFile::encodeName(m_f->home.makeDir(QStringLiteral("Downloads")));
        m_f->home.makeDir(QStringLiteral("Downloads/Проекты"));
        if (downloads == Downloads::filesAndAFolder) {
            m_f->home.makeFile(QStringLiteral("Downloads/Отчёт за май.pdf"), 100);
            m_f->home.makeFile(QStringLiteral("Downloads/фото.png"), 100);
            m_f->home.makeFileNative("Downloads/\xff\xfe-scan.pdf", 100);
        }
        if (downloads == Downloads::unreadable)
            m_f->fs->failOpen(folder);
        AppState state(m_f->environment());

        QFuture<SortResult> sorting = state.sortDownloads();
        QCOMPARE(state.scanProgress().currentTask, QStringLiteral("Сортировка Downloads…"));
        QVERIFY(state.isBusy());
        QTRY_VERIFY(sorting.isFinished());
        QVERIFY(!state.isBusy());
        QCOMPARE(state.statusMessage(), status);
        // Only a sort that moved something is history.
        const qint64 moved = sorting.result().moved;
        const StorageStats stats = state.storageStats();
        QCOMPARE(stats.eventCount, moved > 0 ? 1 : 0);
        QCOMPARE(stats.totalFreed, 0);
        if (moved > 0)
            QCOMPARE(std::pair(stats.lastEvent->action, stats.lastEvent->itemCount),
                     std::pair(QStringLiteral("Сортировка Downloads"), moved));
        const QMap<QString, QString> context{{QStringLiteral("moved"), QString::number(moved)}};
        QCOMPARE(m_f->usage->names(), QStringList{QStringLiteral("downloads_sorted")});
        QCOMPARE(m_f->usage->events.first().metadata, context);
        QCOMPARE(m_f->errors->reports.size(), reportedErrors.isEmpty() ? 0 : 1);
        if (reportedErrors.isEmpty())
            return;
        const auto& report = m_f->errors->reports.first();
        QCOMPARE(report.feature, AppFeature::downloadsSort);
        QCOMPARE(report.errors, reportedErrors);
        QCOMPARE(report.context, context);
    }

    void healthScanPublishesInOrder()
    {
        // A 150 GB film and a 2 GB installer from 40 days ago, a 3 GiB Homebrew cache.
        m_f->sized(QStringLiteral("Downloads/фильм.mkv"), 150'000'000'000);
        const QString installer = m_f->home.makeFile(QStringLiteral("Downloads/setup.dmg"), 1,
                                                     m_f->clock->now().addDays(-40));
        m_f->fs->setAllocatedSize(QFile::encodeName(installer), 2'000'000'000);
        m_f->sized(QStringLiteral("Library/Caches/Homebrew/bottle.tar.gz"), 3 * GiB);
        AppState state(m_f->environment());

        QStringList published;
        const auto note = [&published](const char* name) {
            return [&published, name] { published.append(QLatin1String(name)); };
        };
        connect(&state, &AppState::safeCleanupCandidatesChanged, this, note("candidates"));
        connect(&state, &AppState::scanItemsChanged, this, note("items"));
        connect(&state, &AppState::healthSnapshotChanged, this, note("snapshot"));
        connect(&state, &AppState::statusMessageChanged, this, note("status"));
        connect(&state, &AppState::healthScanProgressChanged, this, [&] {
            published.append(state.healthScanProgress().isRunning ? state.healthScanProgress().currentTask
                                                                  : QStringLiteral("done"));
        });

        QFuture<void> scan = state.runQuickHealthScan();
        QVERIFY(state.isBusy());
        QCOMPARE(m_f->usage->events.first().metadata.value(QStringLiteral("categories")),
                 QStringLiteral("appCaches,systemJunk,downloadsInbox,oldInstallers,largeLooseFiles"));
        QTRY_VERIFY(scan.isFinished());
        QVERIFY(!state.isBusy());

        // The caches before the first scan report, one report per category, then
        // results, snapshot, the end and the status line.
        QCOMPARE(published, (QStringList{QStringLiteral("Проверка дисков…"), QStringLiteral("status"),
                                         QStringLiteral("candidates"), QStringLiteral("Downloads (файлы в корне)"),
                                         QStringLiteral("Крупные файлы в Downloads"), QStringLiteral("Старые установщики"),
                                         QStringLiteral("Кэши приложений"), QStringLiteral("Служебный мусор"),
                                         QStringLiteral("Готово"), QStringLiteral("items"), QStringLiteral("snapshot"),
                                         QStringLiteral("done"), QStringLiteral("status")}));
        QCOMPARE(state.healthScanProgress().progress, 1.0);
        // Largest first: the film in two categories, the installer in three.
        QCOMPARE(state.scanItems().size(), 6);
        QCOMPARE(state.scanItems().at(2).size, 3 * GiB);

        // The evaluator is given the system volume, the safe caches and the clock.
        const MacHealthSnapshot snapshot = *state.healthSnapshot();
        QCOMPARE(snapshot.safeCleanupBytes, 3 * GiB);
        QCOMPARE(snapshot.diskFreeBytes, 400'000'000'000);
        QCOMPARE(snapshot.scannedAt, m_f->clock->now());
        QCOMPARE(state.statusMessage(), QStringLiteral("Оценка здоровья: 78% · можно освободить 158,44\u00a0ГБ"));
        QCOMPARE(m_f->usage->events.last().metadata,
                 (QMap<QString, QString>{{QStringLiteral("health"), QStringLiteral("78")},
                                         {QStringLiteral("items"), QStringLiteral("6")},
                                         {QStringLiteral("reclaimable"), QStringLiteral("158442450944")}}));
        QVERIFY(m_f->errors->reports.isEmpty());
    }

    void healthScanRefusesOthersAndReplacesTheResults()
    {
        m_f->home.makeFile(QStringLiteral("Downloads/старый отчёт.pdf"), 4000);
        m_f->home.makeFile(QStringLiteral("Downloads/заметки.txt"), 3000);
        AppState state(m_f->environment());
        QFuture<void> done = state.runScan({ScanCategory::downloadsInbox});
        QTRY_VERIFY(done.isFinished());
        // Move one file to the archive so that there is a move result to clear.
        state.selectAll(state.scanItems(), false);
        state.toggleSelection(state.scanItems().first());
        done = state.moveSelectedToArchive();
        QTRY_VERIFY(done.isFinished());
        QVERIFY(state.lastMoveResult().has_value());
        m_f->usage->events.clear();

        // Results come back through the event loop, which does not run before
        // the test waits: until then the health scan is running.
        QFuture<void> health = state.runQuickHealthScan();
        const ScanProgress healthProgress = state.healthScanProgress();
        QFuture<SortResult> sorting = state.sortDownloads();
        QVERIFY(sorting.isFinished());
        QCOMPARE(sorting.result(), SortResult{});
        QVERIFY(state.runQuickHealthScan().isFinished());
        QCOMPARE(state.healthScanProgress(), healthProgress);
        QCOMPARE(state.statusMessage(), QStringLiteral("Дождитесь завершения текущей операции"));
        QCOMPARE(m_f->usage->names(), QStringList{QStringLiteral("health_scan_started")});

        QTRY_VERIFY(health.isFinished());
        QCOMPARE(state.selectedCategory(), std::nullopt);
        QCOMPARE(state.lastMoveResult(), std::nullopt);
        QCOMPARE(state.scanItems().size(), 1);
        QCOMPARE(state.scopedScanItems(), state.scanItems());
        QFuture<SortResult> after = state.sortDownloads();
        QTRY_VERIFY(after.isFinished());
        QCOMPARE(after.result().moved, 1);
    }

    void stateGoneBeforeTheResult()
    {
        m_f->home.makeFile(QStringLiteral("Downloads/a.pdf"), 10);
        const QFuture<SortResult> sorting = AppState(m_f->environment()).sortDownloads();
        const QFuture<void> health = AppState(m_f->environment()).runQuickHealthScan();
        const QFuture<void> scan = AppState(m_f->environment()).runScan({ScanCategory::downloadsInbox});
        QTRY_VERIFY(sorting.isFinished() && health.isFinished() && scan.isFinished());
        QVERIFY(sorting.isCanceled());
        QVERIFY(health.isCanceled());
        QVERIFY(scan.isCanceled());
        // Nothing was published for a state that is gone: no history was written.
        QCOMPARE(AppState(m_f->environment()).storageStats().eventCount, 0);
    }

private:
    std::unique_ptr<AppFixture> m_f;
};

BRISKO_TEST(tst_AppStateHealthOperations)
#include "tst_AppStateHealthOperations.moc"
