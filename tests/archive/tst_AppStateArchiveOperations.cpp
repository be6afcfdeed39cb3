#include "BriskoTest.h"
#include "AppFixture.h"

#include "app/AppState.h"
#include "base/ByteCountFormatter.h"

#include <QTest>

class tst_AppStateArchiveOperations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void createsPublishesAndListsAnArchive_data();
    void createsPublishesAndListsAnArchive();
    void restorePublishesCountsAndReportsFailures();
    void busyStateRefusesBothAndAStateGoneCancels();
    void choosingTheArchiveFolderListsItsArchives();

private:
    void setArchiveFolder(const QString& relative);
    // Creates an archive of the profile and waits for it.
    CleanArchiveCreateResult create(AppState& state, CleanArchiveProfile profile);
    std::unique_ptr<AppFixture> m_f;
};

void tst_AppStateArchiveOperations::init()
{
    m_f = std::make_unique<AppFixture>();
}

void tst_AppStateArchiveOperations::setArchiveFolder(const QString& relative)
{
    AppSettings settings = AppSettings::defaults(m_f->home.path());
    settings.archivePath = m_f->home.filePath(relative);
    settings.compressCleanArchive = false;
    QVERIFY(m_f->store->setData(AppState::settingsKey, *settings.toJson()));
}

CleanArchiveCreateResult tst_AppStateArchiveOperations::create(AppState& state, CleanArchiveProfile profile)
{
    QFuture<CleanArchiveCreateResult> created = state.createCleanArchive(profile);
    [&] { QTRY_VERIFY_WITH_TIMEOUT(created.isFinished(), 30000); }();
    return created.isFinished() ? created.result() : CleanArchiveCreateResult{};
}

void tst_AppStateArchiveOperations::createsPublishesAndListsAnArchive_data()
{
    QTest::addColumn<bool>("compress");
    QTest::addColumn<bool>("folders");
    QTest::newRow("tar.zst") << true << true;
    QTest::newRow("uncompressed") << false << true;
    QTest::newRow("no folders of the profile") << true << false;
}

void tst_AppStateArchiveOperations::createsPublishesAndListsAnArchive()
{
    QFETCH(bool, compress);
    QFETCH(bool, folders);
    if (!compress) {
        setArchiveFolder(QStringLiteral("Archive"));
    }
    if (folders) {
        m_f->home.makeFile(QStringLiteral("Documents/отчёт.pdf"), 5000);
        m_f->home.makeFile(QStringLiteral("Desktop/a.txt"), 100);
    }
    AppState state(m_f->environment());
    QCOMPARE(state.cleanArchives(), CleanArchiveSummaryList());
    QList<CleanArchiveProgress> seen;
    connect(&state, &AppState::cleanArchiveProgressChanged, this, [&] { seen.append(state.cleanArchiveProgress()); });

    QFuture<CleanArchiveCreateResult> created = state.createCleanArchive(CleanArchiveProfile::essential);
    QVERIFY(state.isBusy());
    QCOMPARE(state.cleanArchiveProgress(), (CleanArchiveProgress{true, QStringLiteral("Создание архива…"), 0.0, 0}));
    QCOMPARE(state.statusMessage(), std::nullopt);
    QTRY_VERIFY_WITH_TIMEOUT(created.isFinished(), 30000);
    QVERIFY(!state.isBusy());
    const CleanArchiveCreateResult result = created.result();

    // Every report of the service, unchanged; the last one ends the running state.
    QStringList tasks;
    for (const CleanArchiveProgress& p : seen) {
        tasks.append(p.currentTask);
        QCOMPARE(p.isRunning, &p != &seen.last());
    }
    const QString files = folders ? QStringLiteral("2") : QStringLiteral("0");
    QCOMPARE(m_f->usage->names(), QStringList{QStringLiteral("clean_archive_created")});
    QCOMPARE(m_f->usage->events.first().metadata,
             (QMap<QString, QString>{{QStringLiteral("profile"), QStringLiteral("essential")},
                                     {QStringLiteral("files"), files},
                                     {QStringLiteral("compressed"), compress && folders ? QStringLiteral("1") : QStringLiteral("0")}}));
    // No history event: an archive copies, it frees nothing.
    QCOMPARE(state.storageStats().eventCount, 0);
    const QString title = QStringLiteral("Архив «Документы и рабочий стол»: ");
    if (!folders) {
        QCOMPARE(tasks.last(), QStringLiteral("Нет данных для архива"));
        QCOMPARE(state.statusMessage(), title + QStringLiteral("0 элементов, ") + ByteCountFormatter::format(0));
        QCOMPARE(m_f->errors->reports.size(), 1);
        QCOMPARE(m_f->errors->reports.first().feature, AppFeature::cleanArchive);
        QCOMPARE(m_f->errors->reports.first().errors,
                 QStringList{QStringLiteral("Не найдены папки профиля «Документы и рабочий стол»")});
        QCOMPARE(m_f->errors->reports.first().context,
                 (QMap<QString, QString>{{QStringLiteral("profile"), QStringLiteral("essential")}}));
        return;
    }
    QCOMPARE(result.copiedFiles, 2);
    QStringList expectedTasks{QStringLiteral("Создание архива…"), QStringLiteral("Подготовка…"),
                              QStringLiteral("Копирование Documents…"), QStringLiteral("Копирование Desktop…")};
    if (compress) {
        expectedTasks.append(QStringLiteral("Сжатие tar.zst…"));
    }
    QCOMPARE(tasks, (expectedTasks + QStringList{QStringLiteral("Готово"), QStringLiteral("Готово")}));
    QCOMPARE(state.cleanArchiveProgress(), (CleanArchiveProgress{false, QStringLiteral("Готово"), 1.0, 2}));
    QCOMPARE(state.cleanArchives().size(), 1);
    QCOMPARE(state.cleanArchives().first().url, result.archiveURL);
    QCOMPARE(state.cleanArchives().first().manifest, result.manifest);
    const QString packed = compress ? QStringLiteral(" → ") + ByteCountFormatter::format(*result.manifest.compressedBytes)
            + QStringLiteral(" tar.zst")
                                    : QString();
    QCOMPARE(state.statusMessage(), title + QStringLiteral("2 элемента, ")
                                        + ByteCountFormatter::format(result.manifest.totalBytes) + packed);
    QVERIFY(m_f->errors->reports.isEmpty());
}

void tst_AppStateArchiveOperations::restorePublishesCountsAndReportsFailures()
{
    m_f->home.makeFile(QStringLiteral("Documents/a.txt"), 100);
    m_f->home.makeFile(QStringLiteral("Desktop/b.txt"), 100);
    m_f->home.makeFile(QStringLiteral("Downloads/c.txt"), 100);
    AppState state(m_f->environment());
    create(state, CleanArchiveProfile::essential);
    // Desktop is gone from home (restored), Documents is still there (skipped),
    // Downloads was damaged in the archive (failed).
    QVERIFY(QDir(m_f->home.filePath(QStringLiteral("Desktop"))).removeRecursively());
    QVERIFY(QDir(m_f->home.filePath(QStringLiteral("Downloads"))).removeRecursively());
    CleanArchiveSummary summary = state.cleanArchives().first();
    summary.manifest.entries[2].sha256 = QString(64, QLatin1Char('0'));
    m_f->usage->events.clear();

    QFuture<RestoreResult> restored = state.restoreCleanArchive(summary);
    QCOMPARE(state.cleanArchiveProgress(), (CleanArchiveProgress{true, QStringLiteral("Восстановление…"), 0.0, 0}));
    QTRY_VERIFY_WITH_TIMEOUT(restored.isFinished(), 30000);
    QCOMPARE(restored.result(), (RestoreResult{1, 1, 1, {QStringLiteral("Downloads: SHA256 не совпадает")}}));
    QCOMPARE(state.cleanArchiveProgress(), (CleanArchiveProgress{false, QStringLiteral("Готово"), 1.0, 0}));
    QCOMPARE(state.statusMessage(), QStringLiteral("Восстановлено: 1, пропущено (уже есть): 1, ошибок: 1"));
    QCOMPARE(m_f->usage->events.first().name, QStringLiteral("clean_archive_restored"));
    QCOMPARE(m_f->usage->events.first().metadata,
             (QMap<QString, QString>{{QStringLiteral("archive"), summary.id},
                                     {QStringLiteral("restored"), QStringLiteral("1")}}));
    QCOMPARE(m_f->errors->reports.size(), 1);
    QCOMPARE(m_f->errors->reports.first().feature, AppFeature::cleanArchive);
    QCOMPARE(m_f->errors->reports.first().context, (QMap<QString, QString>{{QStringLiteral("archive"), summary.id}}));
    QVERIFY(QFile::exists(m_f->home.filePath(QStringLiteral("Desktop/b.txt"))));
    QVERIFY(!QFile::exists(m_f->home.filePath(QStringLiteral("Downloads"))));
}

void tst_AppStateArchiveOperations::busyStateRefusesBothAndAStateGoneCancels()
{
    m_f->home.makeFile(QStringLiteral("Documents/a.txt"), 100);
    auto state = std::make_unique<AppState>(m_f->environment());
    QFuture<CleanArchiveCreateResult> first = state->createCleanArchive(CleanArchiveProfile::essential);
    QVERIFY(state->createCleanArchive(CleanArchiveProfile::essential).isFinished());
    QCOMPARE(state->statusMessage(), AppState::busyMessage);
    QFuture<RestoreResult> restore = state->restoreCleanArchive(CleanArchiveSummary());
    QVERIFY(restore.isFinished());
    QCOMPARE(restore.result(), RestoreResult());
    QVERIFY(state->runScan({ScanCategory::largeFolders}).isFinished());
    QTRY_VERIFY_WITH_TIMEOUT(first.isFinished(), 30000);
    QCOMPARE(state->cleanArchives().size(), 1);

    // A state gone while its archive is made cancels the future.
    QFuture<CleanArchiveCreateResult> created = state->createCleanArchive(CleanArchiveProfile::essential);
    state.reset();
    QTRY_VERIFY_WITH_TIMEOUT(created.isFinished(), 30000);
    QVERIFY(created.isCanceled());
    QCOMPARE(created.resultCount(), 0);
}

void tst_AppStateArchiveOperations::choosingTheArchiveFolderListsItsArchives()
{
    m_f->home.makeFile(QStringLiteral("Music/song.mp3"), 100);
    setArchiveFolder(QStringLiteral("first"));
    {
        AppState state(m_f->environment());
        create(state, CleanArchiveProfile::creative);
    }
    setArchiveFolder(QStringLiteral("second"));
    AppState state(m_f->environment());
    state.refreshCleanArchives();
    QVERIFY(state.cleanArchives().isEmpty());
    m_f->chooser->answer = FilePath::fromString(m_f->home.filePath(QStringLiteral("first")));
    state.pickArchiveFolder();
    QCOMPARE(state.cleanArchives().size(), 1);
    QCOMPARE(state.cleanArchives().first().manifest.profile, QStringLiteral("creative"));
}

BRISKO_TEST(tst_AppStateArchiveOperations)
#include "tst_AppStateArchiveOperations.moc"
