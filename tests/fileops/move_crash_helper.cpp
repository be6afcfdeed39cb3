// Jobs for the tests that need a process of their own:
//   move_crash_helper move HOME ARCHIVE DEFAULTS N
//     moves every entry of HOME/Downloads (in name order) into ARCHIVE as one
//     journaled batch, killing itself with SIGKILL at the Nth file-system
//     operation; exit status 0 when the batch got through first.
//   move_crash_helper undo HOME ARCHIVE DEFAULTS N
//     undoes the stored batch, journaled, killed the same way.
//   move_crash_helper recover HOME ARCHIVE DEFAULTS N
//     recovers what a killed process left, killed the same way.
//   move_crash_helper lock DEFAULTS
//     takes the writer lock beside DEFAULTS, prints "locked" and holds it
//     until standard input closes.
#include "FakeClock.h"
#include "FaultInjectingFileSystem.h"

#include "fileops/FileMover.h"
#include "fileops/MoveJournal.h"
#include "platform/SettingsDefaultsStore.h"
#include "platform/WriterLock.h"

#include <QCoreApplication>
#include <QDir>

#include <csignal>
#include <cstdio>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 3 && arguments.at(1) == "lock"_L1) {
        QString error;
        const auto lock = WriterLock::acquire(FilePath(arguments.at(2).toUtf8() + ".writer-lock"), std::chrono::milliseconds(0), &error);
        if (!lock) {
            return 1;
        }
        std::puts("locked");
        std::fflush(stdout);
        while (std::getchar() != EOF) {
        }
        return 0;
    }
    const QString job = arguments.value(1);
    if (arguments.size() != 6 || !QStringList{u"move"_s, u"undo"_s, u"recover"_s}.contains(job)) {
        return 2;
    }
    const FilePath home = FilePath::fromString(arguments.at(2));
    const FilePath archive = FilePath::fromString(arguments.at(3));
    const QString defaults = arguments.at(4);
    auto fs = std::make_shared<FaultInjectingFileSystem>();
    fs->setOnFault([] { ::raise(SIGKILL); });
    auto clock = std::make_shared<FakeClock>();
    auto store = std::make_shared<SettingsDefaultsStore>(defaults, QSettings::IniFormat);
    const MoveLogStore log(u"BriskoLastMoveBatch"_s, store, fs);

    MoveJournal journal(FilePath(defaults.toUtf8() + ".move-journal"), fs, log, clock, home, defaults);
    fs->failOperation(arguments.at(5).toInt(), EIO);
    if (job == "undo"_L1) {
        const MoveResult result = log.undo(*log.loadLastBatch(), &journal);
        return result.failed == 0 ? 0 : 1;
    }
    if (job == "recover"_L1) {
        return journal.recover({home, archive}).errors.isEmpty() ? 0 : 1;
    }

    ScanItemList items;
    const QDir downloads(home.child(QByteArrayLiteral("Downloads")).toString());
    for (const QString& name : downloads.entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name)) {
        const FilePath path = FilePath::fromString(downloads.filePath(name));
        struct stat st;
        ::lstat(path.native().constData(), &st);
        items.append(ScanItem::make(path, st.st_size, ScanCategory::downloadsInbox, S_ISDIR(st.st_mode), true,
                                    std::nullopt));
    }
    const MoveResult result = FileMover(fs, clock, home).moveNow(items, archive, {}, &journal);
    return result.moved == items.size() ? 0 : 1;
}
