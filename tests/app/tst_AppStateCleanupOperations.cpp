#include "BriskoTest.h"
#include "TestValues.h"
#include "AppFixture.h"

#include "app/AppState.h"

#include <QFile>
#include <QSemaphore>
#include <QSignalSpy>

namespace {

// Holds the first operation that passes until the test lets it go.
struct CleanupGate
{
    void hold() const
    {
        if (!held.exchange(true)) {
            reached.release();
            proceed.acquire();
        }
    }
    mutable QSemaphore reached;
    mutable QSemaphore proceed;
    mutable std::atomic_bool held = false;
};

// A trash that refuses everything, as a full or read-only volume would, or the
// platform's trash held at its first item.
class TestTrash : public Trash
{
public:
    explicit TestTrash(TrashPtr inner = {})
        : m_inner(std::move(inner))
    {
    }
    TrashResult moveToTrash(const FilePath& item) const override
    {
        if (!m_inner)
            return TrashResult::failure(QStringLiteral("Нет места на устройстве"));
        gate.hold();
        return m_inner->moveToTrash(item);
    }
    CleanupGate gate;

private:
    TrashPtr m_inner;
};

// The fixture's file system, holding the first rename out of Downloads.
class GatedRenames : public FaultInjectingFileSystem
{
public:
    int renameAt(int fromDirFd, const char* fromName, const QByteArray& fromPath, int toDirFd, const char* toName,
                 const QByteArray& toPath, bool noReplace) const override
    {
        if (fromPath.contains("/Downloads/"))
            gate.hold();
        return FaultInjectingFileSystem::renameAt(fromDirFd, fromName, fromPath, toDirFd, toName, toPath, noReplace);
    }
    CleanupGate gate;
};

} // namespace

class TestAppStateCleanupOperations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_f = std::make_unique<AppFixture>(); }
    void refusals()
    {
        const QString kept = m_f->sized(QStringLiteral("Library/Application Support/Cursor/snapshots/s"), 30 * MiB);
        auto state = scanned(ScanCategory::appCaches);
        const auto refused = [&](QFuture<void> (AppState::*operation)(), const char* message) {
            finish((state.get()->*operation)());
            QCOMPARE(status(*state), QString::fromUtf8(message));
        };
        refused(&AppState::undoLastMove, "Нечего отменять");
        state->selectAll(state->scanItems(), false);
        refused(&AppState::deleteSelectedScanItems, "Ничего не выбрано для удаления");
        refused(&AppState::runSelectedScanCleanup, "Ничего не выбрано для очистки");
        refused(&AppState::moveSelectedToArchive, "Ничего не выбрано");

        // Cache results can only be cleaned, and only where that is safe.
        state->selectAll(state->scanItems(), true);
        refused(&AppState::deleteSelectedScanItems, "Для этой категории доступна только очистка безопасных кэшей");
        refused(&AppState::moveSelectedToArchive,
                "Выбранные элементы нельзя переносить (другая категория или только просмотр)");
        refused(&AppState::runSelectedScanCleanup,
                "Выбранные элементы нельзя очистить автоматически — см. подсказку в колонке «Детали»");
        QVERIFY(QFileInfo::exists(kept));
        QCOMPARE(state->scanItems().size(), 1);
        QVERIFY(m_f->usage->events.isEmpty());

        // While a move runs, every other operation is refused.
        for (int i = 0; i < 30; ++i)
            m_f->sized(QStringLiteral("Downloads/f%1.bin").arg(i), 60 * MiB);
        state = scanned(ScanCategory::largeLooseFiles);
        QFuture<void> move = state->moveSelectedToArchive();
        QVERIFY(state->isBusy());
        finish(state->deleteSelectedScanItems());
        QCOMPARE(state->statusMessage(), AppState::busyMessage);
        finish(state->undoLastMove());
        QCOMPARE(state->statusMessage(), AppState::busyMessage);
        finish(move);
        QCOMPARE(state->lastMoveResult()->moved, 30);
    }

    void moveThenUndo()
    {
        m_f->sized(QStringLiteral("Downloads/фильм.mkv"), 70 * MiB);
        m_f->sized(QStringLiteral("Downloads/архив.zip"), 60 * MiB);
        m_f->sized(QStringLiteral("Downloads/small.txt"), 1000);
        auto state = scanned(ScanCategory::largeLooseFiles);
        QVERIFY(!state->undoAvailable());
        QSignalSpy undoChanged(state.get(), &AppState::undoAvailableChanged);
        QList<QString> tasks;
        connect(state.get(), &AppState::scanProgressChanged, this,
                [&] { tasks.append(state->scanProgress().currentTask); });

        finish(state->moveSelectedToArchive());
        QCOMPARE(tasks.first(), QStringLiteral("Перенос на архив…"));
        QVERIFY(tasks.contains(QStringLiteral("Перенос 2/2…")));
        QVERIFY(!state->isBusy());
        QVERIFY(state->scanItems().isEmpty());
        QCOMPARE(state->statusMessage(), QStringLiteral("Перенесено: 2, ошибок: 0, освобождено 136,3\u00a0МБ"));
        QVERIFY(state->undoAvailable());
        QCOMPARE(undoChanged.size(), 1);
        QCOMPARE(state->storageStats().totalFreed, 130 * MiB);
        QCOMPARE(state->storageStats().lastEvent->action, QStringLiteral("Перенос на архив"));
        QCOMPARE(m_f->usage->names(), QStringList{QStringLiteral("archive_move")});
        QCOMPARE(m_f->usage->events.first().metadata,
                 (QMap<QString, QString>{{QStringLiteral("moved"), QStringLiteral("2")},
                                         {QStringLiteral("bytes"), QString::number(130 * MiB)}}));
        // The batch is stored for a later launch.
        QVERIFY(makeState(m_f->environment())->undoAvailable());

        finish(state->undoLastMove());
        QCOMPARE(state->statusMessage(), QStringLiteral("Возвращено: 2, ошибок: 0"));
        QVERIFY(!state->undoAvailable());
        QCOMPARE(m_f->usage->names().last(), QStringLiteral("archive_undo"));
        // The undo records no history and does not bring rows back.
        QCOMPARE(state->storageStats().eventCount, 1);
        QVERIFY(state->scanItems().isEmpty());
        // A new scan forgets the last move result.
        finish(state->runScan({ScanCategory::largeLooseFiles}));
        QVERIFY(!state->lastMoveResult());
    }

    // What failed is reported; nothing is recorded, the rows of what is still there stay.
    void failuresAreReportedNotRecorded_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<int>("rowsLeft");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("context");
        QTest::newRow("vanished before the move") << true << 0
                                                  << QStringLiteral("Перенесено: 0, ошибок: 1, освобождено 0\u00a0байт")
                                                  << QStringLiteral("moved");
        QTest::newRow("trash refusing all") << false << 1
                                            << QStringLiteral("В Корзину: 0, ошибок: 1, освобождено 0\u00a0байт")
                                            << QStringLiteral("deleted");
    }

    void failuresAreReportedNotRecorded()
    {
        QFETCH(bool, move);
        QFETCH(int, rowsLeft);
        QFETCH(QString, status);
        QFETCH(QString, context);
        const QString a = m_f->sized(QStringLiteral("Downloads/a.iso"), 60 * MiB);
        AppEnvironment env = m_f->environment();
        if (!move)
            env.trash = std::make_shared<TestTrash>();
        auto state = scanned(ScanCategory::largeLooseFiles, env);
        if (move)
            QFile::remove(a);
        finish(move ? state->moveSelectedToArchive() : state->deleteSelectedScanItems());
        QVERIFY(!state->undoAvailable());
        QVERIFY(!m_f->store->data(AppState::moveLogKey));
        QCOMPARE(state->storageStats().eventCount, 0);
        QCOMPARE(state->scanItems().size(), rowsLeft);
        QCOMPARE(state->statusMessage(), status);
        QCOMPARE(m_f->errors->reports.size(), 1);
        QCOMPARE(m_f->errors->reports.first().errors,
                 QStringList{move ? QStringLiteral("Файл не найден: ") + a
                                  : QStringLiteral("a.iso: Нет места на устройстве")});
        QCOMPARE(m_f->errors->reports.first().context, (QMap<QString, QString>{{context, QStringLiteral("0")}}));
    }

    void stopKeepsWhatWasDone_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<QString>("status");
        QTest::newRow("move") << true << QStringLiteral("Остановлено. Перенесено: 1, ошибок: 0, освобождено 73,4\u00a0МБ");
        QTest::newRow("trash") << false << QStringLiteral("Остановлено. В Корзину: 1, ошибок: 0, освобождено ");
    }

    void stopKeepsWhatWasDone()
    {
        QFETCH(bool, move);
        QFETCH(QString, status);
        auto fs = std::make_shared<GatedRenames>();
        AppEnvironment env = m_f->environment();
        auto trash = std::make_shared<TestTrash>(env.trash);
        env.fileSystem = fs;
        env.trash = trash;
        QStringList paths;
        for (const auto& [name, size] : {std::pair{"первый.mkv", 70}, {"второй.iso", 60}, {"третий.zip", 55}}) {
            paths.append(m_f->home.makeFile(QStringLiteral("Downloads/") + QString::fromUtf8(name), 1));
            fs->setAllocatedSize(QFile::encodeName(paths.last()), size * MiB);
        }
        auto state = scanned(move ? ScanCategory::largeLooseFiles : ScanCategory::downloadsInbox, env);
        QCOMPARE(state->selectedItems().size(), 3);

        QFuture<void> done = move ? state->moveSelectedToArchive() : state->deleteSelectedScanItems();
        CleanupGate& gate = move ? fs->gate : trash->gate;
        QVERIFY(gate.reached.tryAcquire(1, 20000));
        state->requestStop();
        gate.proceed.release();
        finish(done);
        // The item under way went; the next two were never touched.
        QVERIFY(!QFileInfo::exists(paths[0]));
        QVERIFY(QFileInfo::exists(paths[1]) && QFileInfo::exists(paths[2]));
        QCOMPARE(state->scanItems().size(), 2);
        QCOMPARE(state->storageStats().lastEvent->itemCount, 1);
        QVERIFY2(state->statusMessage()->startsWith(status), qPrintable(*state->statusMessage()));
        QVERIFY(!state->stopRequested());
        if (!move)
            return;
        QVERIFY(state->lastMoveResult()->stopped);
        QVERIFY(state->undoAvailable());
        finish(state->undoLastMove());
        QCOMPARE(state->statusMessage(), QStringLiteral("Возвращено: 1, ошибок: 0"));
        QVERIFY(QFileInfo::exists(paths[0]));
    }

    void trashMovesAndRecords()
    {
        m_f->sized(QStringLiteral("Downloads/old.dmg"), 3 * MiB);
        m_f->sized(QStringLiteral("Downloads/notes.txt"), 2000);
        m_f->home.makeFileNative(QByteArray("Downloads/\xff\xfe-odd.bin"), 100);
        auto state = scanned(ScanCategory::downloadsInbox);
        QCOMPARE(state->scanItems().size(), 3);
        // One row vanished meanwhile: it counts as removed, without bytes.
        QFile::remove(m_f->home.filePath(QStringLiteral("Downloads/notes.txt")));

        finish(state->deleteSelectedScanItems());
        QVERIFY(state->scanItems().isEmpty());
        const qint64 freed = state->storageStats().lastEvent->bytesFreed;
        QVERIFY(freed > 3 * MiB);
        QCOMPARE(state->storageStats().lastEvent->itemCount, 3);
        QVERIFY(state->statusMessage()->startsWith(QStringLiteral("В Корзину: 3, ошибок: 0, освобождено ")));
        QCOMPARE(m_f->usage->events.last().metadata.value(QStringLiteral("bytes")), QString::number(freed));
    }

    void cleanupOfSelectedCacheRows()
    {
        m_f->sized(QStringLiteral("Library/Caches/com.example.app/blob"), 8 * MiB);
        m_f->sized(QStringLiteral("Library/Caches/Кэш редактора/blob"), 7 * MiB);
        m_f->sized(QStringLiteral("Library/Logs/App/log"), 9 * MiB);
        auto state = scanned(ScanCategory::systemJunk);
        QCOMPARE(state->selectedCleanableScanItems().size(), 2);
        // The user also ticks the logs row; it is not cleanable and stays.
        state->selectAll(state->scanItems(), true);

        finish(state->runSelectedScanCleanup());
        QCOMPARE(state->scanItems().size(), 1);
        QCOMPARE(state->scanItems().first().name, QStringLiteral("Logs"));
        QVERIFY(state->statusMessage()->startsWith(QStringLiteral("Очищено: 2, ошибок: 0, освобождено ")));
        QCOMPARE(state->storageStats().lastEvent->action, QStringLiteral("Очистка из скана"));
        QCOMPARE(m_f->usage->events.last().metadata.value(QStringLiteral("source")), QStringLiteral("scan_results"));
    }

    void pickArchiveFolder()
    {
        auto state = makeState(m_f->environment());
        state->pickArchiveFolder();
        QVERIFY(!m_f->store->data(AppState::settingsKey));
        QCOMPARE(m_f->chooser->asked.first().first, FilePath::fromString(m_f->home.filePath(QStringLiteral("Архив"))));
        QCOMPARE(m_f->chooser->asked.first().second, QStringLiteral("Выбрать"));
        m_f->chooser->answer = FilePath::fromString(QStringLiteral("/media/Внешний/Архив"));
        state->pickArchiveFolder();
        QCOMPARE(AppState(m_f->environment()).settings().archivePath, QStringLiteral("/media/Внешний/Архив"));
    }

    void safeCleanupListsCleansAndListsAgain()
    {
        AppState state(m_f->environment());
        state.scanSafeCleanup();
        QVERIFY(state.safeCleanupCandidates().isEmpty());
        QCOMPARE(state.statusMessage(), QStringLiteral("Безопасные кэши не найдены или уже очищены"));

        m_f->home.makeFile(QStringLiteral("Library/Caches/com.apple.Safari/db"), 2 * MiB);
        m_f->home.makeFile(QStringLiteral("Library/Caches/Homebrew/a.tar"), 3 * MiB);
        state.scanSafeCleanup();
        const SafeCleanupCandidateList found = state.safeCleanupCandidates();
        QCOMPARE(found.size(), 2);
        QCOMPARE(found.first().label, QStringLiteral("Homebrew"));
        QVERIFY(state.statusMessage()->startsWith(QStringLiteral("Найдено 2 кэша (")));
        QCOMPARE(state.selectedSafeCleanupSize(), found[0].size + found[1].size);

        state.toggleSafeCleanupSelection(found[0].id, false);
        state.toggleSafeCleanupSelection(found[1].id, false);
        state.toggleSafeCleanupSelection(QUuid::createUuid(), true);
        QCOMPARE(state.selectedSafeCleanupSize(), 0);
        QVERIFY(state.runSafeCleanup().isFinished());
        QCOMPARE(state.statusMessage(), QStringLiteral("Ничего не выбрано для очистки"));

        state.toggleSafeCleanupSelection(found[1].id, true);
        QFuture<void> done = state.runSafeCleanup();
        QVERIFY(state.isBusy());
        QCOMPARE(state.cleanArchiveProgress().currentTask, QStringLiteral("Очистка кэшей…"));
        finish(done);
        QVERIFY(!state.isBusy());
        QCOMPARE(state.cleanArchiveProgress().currentTask, QStringLiteral("Готово"));
        QCOMPARE(state.safeCleanupCandidates().size(), 1);
        QVERIFY(state.statusMessage()->startsWith(QStringLiteral("Удалено: 1, ошибок: 0, освобождено 2,1\u00a0МБ")));
        QCOMPARE(state.storageStats().lastEvent->action, QStringLiteral("Безопасная очистка"));
        // The panel's cleanup sends no usage event.
        QVERIFY(m_f->usage->events.isEmpty());
    }

private:
    std::unique_ptr<AppState> makeState(const AppEnvironment& environment)
    {
        auto state = std::make_unique<AppState>(environment);
        AppSettings s = state->settings();
        s.archivePath = m_f->home.filePath(QStringLiteral("Архив/Brisko Archive"));
        state->setSettings(s);
        return state;
    }
    std::unique_ptr<AppState> scanned(ScanCategory category, AppEnvironment environment = {})
    {
        auto state = makeState(environment.fileSystem ? environment : m_f->environment());
        finish(state->runScan({category}));
        m_f->usage->events.clear();
        return state;
    }
    static void finish(QFuture<void> future) { QTRY_VERIFY_WITH_TIMEOUT(future.isFinished(), 20000); }
    QString status(const AppState& state) const { return state.statusMessage().value_or(QString()); }

    std::unique_ptr<AppFixture> m_f;
};

BRISKO_TEST(TestAppStateCleanupOperations)
#include "tst_AppStateCleanupOperations.moc"
