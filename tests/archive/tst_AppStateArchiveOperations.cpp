#include "BriskoTest.h"
#include "AppFixture.h"

#include "app/AppState.h"
#include "base/ByteCountFormatter.h"

#include <QTest>

using namespace Qt::StringLiterals;

// What the state adds to the archive service (whose work tst_CleanArchiveService
// shows): the progress and status it publishes, the events and error reports
// it sends, and what it refuses while busy.
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
    void setArchiveFolder(const QString& relative)
    {
        AppSettings settings = AppSettings::defaults(m_f->home.path());
        settings.archivePath = m_f->home.filePath(relative);
        settings.compressCleanArchive = false;
        QVERIFY(m_f->store->setData(AppState::settingsKey, *settings.toJson()));
    }
    // The future's result once it is finished (a failed check, and a default result, when it never is).
    template<typename Result>
    static Result finished(const QFuture<Result>& future)
    {
        [&] { QTRY_VERIFY_WITH_TIMEOUT(future.isFinished(), 30000); }();
        return future.isFinished() && future.resultCount() > 0 ? future.result() : Result{};
    }
    void makeFiles(const QStringList& relatives)
    {
        for (const QString& relative : relatives) {
            m_f->home.makeFile(relative, 100);
        }
    }

    std::unique_ptr<AppFixture> m_f;
};

void tst_AppStateArchiveOperations::init()
{
    m_f = std::make_unique<AppFixture>();
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
        setArchiveFolder(u"Archive"_s);
    }
    if (folders) {
        makeFiles({u"Documents/отчёт.pdf"_s, u"Desktop/a.txt"_s});
    }
    AppState state(m_f->environment());
    QList<CleanArchiveProgress> seen;
    connect(&state, &AppState::cleanArchiveProgressChanged, this, [&] { seen.append(state.cleanArchiveProgress()); });

    QFuture<CleanArchiveCreateResult> created = state.createCleanArchive(CleanArchiveProfile::essential);
    QVERIFY(state.isBusy());
    QCOMPARE(state.cleanArchiveProgress(), (CleanArchiveProgress{true, u"Создание архива…"_s, 0.0, 0}));
    QCOMPARE(state.statusMessage(), std::nullopt);
    const CleanArchiveCreateResult result = finished(created);
    QVERIFY(!state.isBusy());
    // Every report of the service is relayed; the last one ends the running state.
    for (const CleanArchiveProgress& p : seen) {
        QCOMPARE(p.isRunning, &p != &seen.last());
    }
    QCOMPARE(m_f->usage->names(), QStringList{u"clean_archive_created"_s});
    QCOMPARE(m_f->usage->events.first().metadata,
             (QMap<QString, QString>{{u"profile"_s, u"essential"_s},
                                     {u"files"_s, folders ? u"2"_s : u"0"_s},
                                     {u"compressed"_s, compress && folders ? u"1"_s : u"0"_s}}));
    // No history event: an archive copies, it frees nothing.
    QCOMPARE(state.storageStats().eventCount, 0);
    const QString title = u"Архив «Документы и рабочий стол»: "_s;
    if (!folders) {
        QCOMPARE(state.statusMessage(), title + u"0 элементов, "_s + ByteCountFormatter::format(0));
        QCOMPARE(m_f->errors->reports.size(), 1);
        QCOMPARE(m_f->errors->reports.first().feature, AppFeature::cleanArchive);
        QCOMPARE(m_f->errors->reports.first().errors, result.errors);
        QCOMPARE(m_f->errors->reports.first().context, (QMap<QString, QString>{{u"profile"_s, u"essential"_s}}));
        return;
    }
    QVERIFY(seen.contains(CleanArchiveProgress{true, u"Копирование Desktop…"_s, 0.5, 0}));
    QCOMPARE(state.cleanArchiveProgress(), (CleanArchiveProgress{false, u"Готово"_s, 1.0, 2}));
    QCOMPARE(state.cleanArchives().size(), 1);
    QCOMPARE(state.cleanArchives().first().manifest, result.manifest);
    const QString packed = compress
        ? u" → "_s + ByteCountFormatter::format(*result.manifest.compressedBytes) + u" tar.zst"_s
        : QString();
    QCOMPARE(state.statusMessage(),
             title + u"2 элемента, "_s + ByteCountFormatter::format(result.manifest.totalBytes) + packed);
    QVERIFY(m_f->errors->reports.isEmpty());
}

void tst_AppStateArchiveOperations::restorePublishesCountsAndReportsFailures()
{
    makeFiles({u"Documents/a.txt"_s, u"Desktop/b.txt"_s, u"Downloads/c.txt"_s});
    AppState state(m_f->environment());
    finished(state.createCleanArchive(CleanArchiveProfile::essential));
    // Desktop is restored, Documents skipped (still there), Downloads fails (damaged in the archive).
    QVERIFY(QDir(m_f->home.filePath(u"Desktop"_s)).removeRecursively());
    QVERIFY(QDir(m_f->home.filePath(u"Downloads"_s)).removeRecursively());
    CleanArchiveSummary summary = state.cleanArchives().first();
    summary.manifest.entries[2].sha256 = QString(64, u'0');
    m_f->usage->events.clear();

    QFuture<RestoreResult> restored = state.restoreCleanArchive(summary);
    QCOMPARE(state.cleanArchiveProgress(), (CleanArchiveProgress{true, u"Восстановление…"_s, 0.0, 0}));
    const RestoreResult result = finished(restored);
    QCOMPARE((QList<qint64>{result.restored, result.skipped, result.failed}), (QList<qint64>{1, 1, 1}));
    QCOMPARE(state.cleanArchiveProgress(), (CleanArchiveProgress{false, u"Готово"_s, 1.0, 0}));
    QCOMPARE(state.statusMessage(), u"Восстановлено: 1, пропущено (уже есть): 1, ошибок: 1"_s);
    QCOMPARE(m_f->usage->events.first().name, u"clean_archive_restored"_s);
    QCOMPARE(m_f->usage->events.first().metadata,
             (QMap<QString, QString>{{u"archive"_s, summary.id}, {u"restored"_s, u"1"_s}}));
    QCOMPARE(m_f->errors->reports.size(), 1);
    QCOMPARE(m_f->errors->reports.first().feature, AppFeature::cleanArchive);
    QCOMPARE(m_f->errors->reports.first().errors, result.errors);
    QCOMPARE(m_f->errors->reports.first().context, (QMap<QString, QString>{{u"archive"_s, summary.id}}));
}

void tst_AppStateArchiveOperations::busyStateRefusesBothAndAStateGoneCancels()
{
    makeFiles({u"Documents/a.txt"_s});
    auto state = std::make_unique<AppState>(m_f->environment());
    QFuture<CleanArchiveCreateResult> first = state->createCleanArchive(CleanArchiveProfile::essential);
    QVERIFY(state->createCleanArchive(CleanArchiveProfile::essential).isFinished());
    QCOMPARE(state->statusMessage(), AppState::busyMessage);
    QFuture<RestoreResult> restore = state->restoreCleanArchive(CleanArchiveSummary());
    QVERIFY(restore.isFinished());
    QCOMPARE(restore.result(), RestoreResult());
    QVERIFY(state->runScan({ScanCategory::largeFolders}).isFinished());
    finished(first);
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
    makeFiles({u"Music/song.mp3"_s});
    setArchiveFolder(u"first"_s);
    {
        AppState state(m_f->environment());
        finished(state.createCleanArchive(CleanArchiveProfile::creative));
    }
    setArchiveFolder(u"second"_s);
    AppState state(m_f->environment());
    state.refreshCleanArchives();
    QVERIFY(state.cleanArchives().isEmpty());
    m_f->chooser->answer = FilePath::fromString(m_f->home.filePath(u"first"_s));
    state.pickArchiveFolder();
    QCOMPARE(state.cleanArchives().size(), 1);
    QCOMPARE(state.cleanArchives().first().manifest.profile, u"creative"_s);
}

BRISKO_TEST(tst_AppStateArchiveOperations)
#include "tst_AppStateArchiveOperations.moc"
