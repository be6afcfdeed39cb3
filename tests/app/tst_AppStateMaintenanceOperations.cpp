#include "BriskoTest.h"
#include "AppFixture.h"

#include "app/AppState.h"

#include <QFileInfo>
#include <QTest>

namespace {
constexpr qint64 MiB = qint64(1) << 20;
} // namespace

class TestAppStateMaintenanceOperations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_f = std::make_unique<AppFixture>(); }
    void safeCleanupListsCleansAndListsAgain();
    void safeCleanupWithNothingFound();

private:
    std::unique_ptr<AppFixture> m_f;
};

void TestAppStateMaintenanceOperations::safeCleanupListsCleansAndListsAgain()
{
    m_f->home.makeFile(QStringLiteral("Library/Caches/com.apple.Safari/db"), 2 * MiB);
    m_f->home.makeFile(QStringLiteral("Library/Caches/Homebrew/a.tar"), 3 * MiB);
    m_f->home.makeFile(QStringLiteral("Library/Caches/pip/small"), 1000);
    AppState state(m_f->environment());
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
    QFuture<void> none = state.runSafeCleanup();
    QVERIFY(none.isFinished());
    QCOMPARE(state.statusMessage(), QStringLiteral("Ничего не выбрано для очистки"));

    state.toggleSafeCleanupSelection(found[1].id, true);
    QFuture<void> done = state.runSafeCleanup();
    QVERIFY(state.isBusy());
    QCOMPARE(state.cleanArchiveProgress().currentTask, QStringLiteral("Очистка кэшей…"));
    QTRY_VERIFY(done.isFinished());
    QVERIFY(!state.isBusy());
    QCOMPARE(state.cleanArchiveProgress().currentTask, QStringLiteral("Готово"));
    QVERIFY(!QFileInfo::exists(m_f->home.filePath(QStringLiteral("Library/Caches/com.apple.Safari"))));
    QVERIFY(QFileInfo::exists(m_f->home.filePath(QStringLiteral("Library/Caches/Homebrew/a.tar"))));
    QCOMPARE(state.safeCleanupCandidates().size(), 1);
    QVERIFY(state.statusMessage()->startsWith(QStringLiteral("Удалено: 1, ошибок: 0, освобождено 2,1\u00a0МБ")));
    QCOMPARE(state.storageStats().lastEvent->action, QStringLiteral("Безопасная очистка"));
    // The panel's cleanup sends no usage event.
    QVERIFY(m_f->usage->events.isEmpty());
}

void TestAppStateMaintenanceOperations::safeCleanupWithNothingFound()
{
    AppState state(m_f->environment());
    state.scanSafeCleanup();
    QVERIFY(state.safeCleanupCandidates().isEmpty());
    QCOMPARE(state.statusMessage(), QStringLiteral("Безопасные кэши не найдены или уже очищены"));
}

BRISKO_TEST(TestAppStateMaintenanceOperations)
#include "tst_AppStateMaintenanceOperations.moc"
