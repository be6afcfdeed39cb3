#include "BriskoTest.h"
#include "TestValues.h"
#include "FakeClock.h"
#include "FaultInjectingFileSystem.h"
#include "ScratchDir.h"
#include "TempHome.h"
#include "TreeInventory.h"

#include "fileops/FileMover.h"
#include "fileops/MoveJournal.h"
#include "platform/PlatformFileSystem.h"
#include "platform/SettingsDefaultsStore.h"

#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString logKey = u"BriskoLastMoveBatch"_s;

// Six items in Downloads: two folders with a nested file, the rest files.
QStringList makeBatch(TempHome& home)
{
    QStringList names;
    for (int i = 0; i < 6; ++i) {
        const bool folder = i % 3 == 0;
        const QString name = folder ? u"Папка %1"_s.arg(i) : u"файл %1.dat"_s.arg(i);
        if (folder) {
            home.makeFile(u"Downloads/%1/a.txt"_s.arg(name), 3000 + i);
            home.makeFile(u"Downloads/%1/sub/b.bin"_s.arg(name), 70000 + i);
        } else {
            home.makeFile(u"Downloads/"_s + name, 20000 + i);
        }
        names.append(name);
    }
    names.sort();
    return names;
}

QString inDownloads(const TempHome& home, const QString& name)
{
    return home.filePath(u"Downloads/"_s + name);
}

ScanItemList itemsOf(const TempHome& home, const QStringList& names)
{
    ScanItemList items;
    for (const QString& name : names) {
        items.append(ScanItem::make(FilePath::fromString(inDownloads(home, name)), 1000, ScanCategory::downloadsInbox,
                                    QFileInfo(inDownloads(home, name)).isDir(), true, std::nullopt));
    }
    return items;
}

QStringList hiddenLeftovers(const QString& folder)
{
    return QDir(folder).entryList({u".brisko-*"_s}, QDir::AllEntries | QDir::Hidden | QDir::System);
}

} // namespace

class tst_MoveJournal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killedAtEveryStepLosesNothing_data();
    void killedAtEveryStepLosesNothing();
    void recordsThatCannotBeKeptStopTheBatch_data();
    void recordsThatCannotBeKeptStopTheBatch();
    void recoveryReport_data();
    void recoveryReport();
};

void tst_MoveJournal::killedAtEveryStepLosesNothing_data()
{
    QTest::addColumn<QString>("killed");
    QTest::addColumn<int>("stride");
    // Every journal line, copy, flush, check, rename and removal is a place
    // to die: far more places than items.
    QTest::addColumn<int>("leastKills");
    // A batch killed while it moves: undo returns exactly its moved items.
    QTest::newRow("move") << "move" << 1 << 60;
    // The undo of a whole batch killed (at every other step): the log holds
    // exactly what is still in the archive, and the next undo returns it.
    QTest::newRow("undo") << "undo" << 2 << 24;
    // A killed move whose recovery is killed too, at a step that varies with
    // the move's (every third move step, to keep the run short).
    QTest::newRow("move, then its recovery") << "recover" << 3 << 18;
}

void tst_MoveJournal::killedAtEveryStepLosesNothing()
{
    QFETCH(QString, killed);
    QFETCH(int, stride);
    QFETCH(int, leastKills);
    const QString other = QString::fromLatin1(ScratchDir::otherVolume());
    if (other.isEmpty()) {
        QSKIP("no second file system (/dev/shm on another device than the temporary folder)");
    }
    bool allStarted = true;
    // True when the helper ended by itself, false when it was killed.
    const auto runHelper = [&allStarted](const QStringList& arguments) {
        QProcess helper;
        helper.start(QStringLiteral(MOVE_CRASH_HELPER), arguments);
        allStarted = helper.waitForStarted(120000) && allStarted;
        helper.waitForFinished(120000);
        return helper.exitStatus() == QProcess::NormalExit;
    };
    int kills = 0;
    bool completed = false;
    for (int step = 1; step < 1000 && !completed; step += stride) {
        TempHome home;
        QTemporaryDir state;
        QTemporaryDir volume(other + u"/brisko-journal-XXXXXX"_s);
        QVERIFY(volume.isValid());
        const QStringList names = makeBatch(home);
        QMap<QString, TreeInventory> before;
        for (const QString& name : names) {
            before.insert(name, TreeInventory::take(QFile::encodeName(inDownloads(home, name))));
        }
        const QString archive = volume.filePath(u"Архив"_s);
        const QString defaults = state.filePath(u"defaults.ini"_s);
        const QStringList places{home.path(), archive, defaults};
        const QString where = u"killed at step %1: "_s.arg(step);

        const FileSystemPtr fs = std::make_shared<PlatformFileSystem>();
        auto store = std::make_shared<SettingsDefaultsStore>(defaults, QSettings::IniFormat);
        const MoveLogStore log(logKey, store, fs);
        MoveJournal journal(FilePath::fromString(defaults + u".move-journal"_s), fs, log,
                            std::make_shared<FakeClock>(), home.home(), defaults);
        if (killed == "undo"_L1) {
            const auto clock = std::make_shared<FakeClock>();
            QCOMPARE(FileMover(fs, clock, home.home())
                         .moveNow(itemsOf(home, names), FilePath::fromString(archive), {}, &journal)
                         .moved,
                     names.size());
            completed = runHelper(QStringList{u"undo"_s} + places + QStringList{QString::number(step)});
        } else {
            completed = runHelper(QStringList{u"move"_s} + places + QStringList{QString::number(step)});
            if (killed == "recover"_L1 && !completed) {
                runHelper(QStringList{u"recover"_s} + places
                          + QStringList{QString::number(1 + step / stride % 40)});
            }
        }
        QVERIFY(allStarted);
        kills += completed ? 0 : 1;

        // The next start, in another process: this one.
        const MoveRecovery recovery = journal.recover({home.home(), FilePath::fromString(archive)});
        QVERIFY2(recovery.errors.isEmpty(), qPrintable(where + recovery.errors.join(u'\n')));
        QVERIFY2(!QFile::exists(defaults + u".move-journal"_s), qPrintable(where));
        QVERIFY2(hiddenLeftovers(archive).isEmpty(), qPrintable(where + hiddenLeftovers(archive).join(u' ')));

        QSet<QString> archived;
        for (const QString& name : names) {
            const TreeInventory atHome = TreeInventory::take(QFile::encodeName(inDownloads(home, name)));
            const TreeInventory inArchive = TreeInventory::take(QFile::encodeName(archive + u'/' + name));
            // Whole at exactly one of the two places.
            const bool stayed = atHome.rootExists() && atHome.differencesFrom(before[name]).isEmpty();
            const bool isArchived = inArchive.rootExists() && inArchive.differencesFrom(before[name]).isEmpty();
            QVERIFY2(stayed != isArchived && atHome.rootExists() == stayed && inArchive.rootExists() == isArchived,
                     qPrintable(where + name + u' ' + atHome.differencesFrom(before[name]).join(u' ') + u' '
                                + inArchive.differencesFrom(before[name]).join(u' ')));
            if (isArchived) {
                archived.insert(name);
            }
        }

        const std::optional<MoveBatch> batch = log.loadLastBatch();
        QSet<QString> recorded;
        for (const MoveRecord& record : batch ? batch->records : QList<MoveRecord>()) {
            recorded.insert(record.originalPath.fileName());
        }
        QCOMPARE(recorded, archived);
        if (!batch) {
            continue;
        }
        const MoveResult undone = log.undo(*batch);
        QCOMPARE(undone.moved, archived.size());
        QCOMPARE(undone.failed, 0);
        for (const QString& name : names) {
            QVERIFY2(TreeInventory::take(QFile::encodeName(inDownloads(home, name))).differencesFrom(before[name]).isEmpty(),
                     qPrintable(where + name));
        }
    }
    QVERIFY(completed);
    QVERIFY2(kills >= leastKills, qPrintable(QString::number(kills)));
}

void tst_MoveJournal::recordsThatCannotBeKeptStopTheBatch_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<int>("moved");
    QTest::addColumn<int>("failed");
    QTest::addColumn<bool>("journalFailed");
    QTest::addColumn<bool>("stopped");
    // The journal's folder is a file: nothing may start.
    QTest::newRow("journal cannot be written") << "journal" << 0 << 3 << true << false;
    // The defaults store is a folder: the first item moves and is journaled,
    // its record cannot reach the log, so the batch stops there.
    QTest::newRow("move log cannot be written") << "log" << 1 << 2 << true << false;
    QTest::newRow("stopped on request after two") << "stop" << 2 << 0 << false << true;
}

void tst_MoveJournal::recordsThatCannotBeKeptStopTheBatch()
{
    QFETCH(QString, obstacle);
    QFETCH(int, moved);
    QFETCH(int, failed);
    QFETCH(bool, journalFailed);
    QFETCH(bool, stopped);
    TempHome home;
    QTemporaryDir state;
    const QStringList names = makeBatch(home).mid(0, 3);
    QString defaults = state.filePath(u"defaults.ini"_s);
    if (obstacle == "journal"_L1) {
        QVERIFY(writeAll(state.filePath(u"blocker"_s), {}));
        defaults = state.filePath(u"blocker/defaults.ini"_s);
    } else if (obstacle == "log"_L1) {
        QVERIFY(QDir().mkpath(defaults));
    }
    auto fs = std::make_shared<FaultInjectingFileSystem>();
    auto clock = std::make_shared<FakeClock>();
    const MoveLogStore log(logKey, std::make_shared<SettingsDefaultsStore>(defaults, QSettings::IniFormat), fs);
    MoveJournal journal(FilePath::fromString(defaults + u".move-journal"_s), fs, log, clock, home.home(),
                        defaults);
    int asked = 0;
    const MoveStopRequest stop = [&] { return obstacle == "stop"_L1 && ++asked > 2; };
    const FilePath archive = home.home().child(QByteArrayLiteral("Архив"));
    const MoveResult result = FileMover(fs, clock, home.home()).moveNow(itemsOf(home, names), archive, {}, &journal, stop);

    QCOMPARE(result.moved, moved);
    QCOMPARE(result.failed, failed);
    QCOMPARE(result.stopped, stopped);
    QCOMPARE(!result.journalError.isEmpty(), journalFailed);
    if (journalFailed) {
        // The message names the store.
        QVERIFY2(result.journalError.contains(defaults), qPrintable(result.journalError));
    }
    // What did not move is where it was.
    for (int i = moved; i < names.size(); ++i) {
        QVERIFY(QFileInfo::exists(inDownloads(home, names.at(i))));
    }
    if (obstacle == "log"_L1) {
        // Once the store can be written again, the next start records what moved.
        QVERIFY(QDir(defaults).removeRecursively());
        const MoveRecovery recovery = journal.recover({});
        QCOMPARE(recovery.recorded, 1);
    }
    const std::optional<MoveBatch> batch = log.loadLastBatch();
    QCOMPARE(batch ? batch->records.size() : 0, moved);
    if (batch) {
        QCOMPARE(log.undo(*batch).moved, moved);
        for (const QString& name : names) {
            QVERIFY(QFileInfo::exists(inDownloads(home, name)));
        }
    }
}

void tst_MoveJournal::recoveryReport_data()
{
    QTest::addColumn<MoveRecovery>("recovery");
    QTest::addColumn<QString>("line");
    const QUuid id = QUuid::fromString(u"{0f8fad5b-d9cb-469f-a165-70867728950e}"_s);
    QTest::newRow("nothing") << MoveRecovery{} << "прерванных переносов нет, удалено неполных копий: 0";
    QTest::newRow("move") << MoveRecovery{id, false, 3, 1, 2, 4, {}}
                          << "прерванный перенос — в журнале 3 (из них довершено 1), возвращено на место 2, "
                             "удалено неполных копий: 4";
    QTest::newRow("undo with errors")
        << MoveRecovery{id, true, 3, 1, 2, 0, {u"a"_s, u"b"_s}}
        << "прерванная отмена переноса — осталось в архиве и в журнале 3, довершено 1, не тронуто 2, "
           "удалено неполных копий: 0, ошибок: 2";
}

void tst_MoveJournal::recoveryReport()
{
    QFETCH(MoveRecovery, recovery);
    QFETCH(QString, line);
    QCOMPARE(recovery.statusLine(), u"Восстановлено после сбоя: "_s + line);
    const QJsonObject json = recovery.toJson();
    QCOMPARE(json.value("batchId"_L1).toString(),
             recovery.batchId.isNull() ? QString() : u"0F8FAD5B-D9CB-469F-A165-70867728950E"_s);
    QCOMPARE(json.value("batchId"_L1).isNull(), recovery.batchId.isNull());
    QCOMPARE(json.value("undo"_L1).toBool(), recovery.undo);
    const QList<std::pair<const char*, qint64>> counts = {
        {"recorded", recovery.recorded}, {"completed", recovery.completed}, {"rolledBack", recovery.rolledBack}, {"swept", recovery.swept}};
    for (const auto& [key, value] : counts) {
        QCOMPARE(json.value(QLatin1String(key)).toInteger(), value);
    }
    QCOMPARE(json.value("errors"_L1).toVariant().toStringList(), recovery.errors);
}

BRISKO_TEST(tst_MoveJournal)
#include "tst_MoveJournal.moc"
