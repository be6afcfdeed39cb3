#include "BriskoTest.h"
#include "TestValues.h"
#include "CliHarness.h"
#include "CliSandbox.h"
#include "ScratchDir.h"
#include "base/ByteCountFormatter.h"
#include "base/RelativeDateFormatter.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {


// What the scanner reports for a file: the space it occupies on disk.
qint64 spaceOnDisk(const QString& path)
{
    return ScratchDir::allocatedSize(QFile::encodeName(path));
}

// One signal's bit in a mask of /proc/PID/status ("SigCgt:", "ShdPnd:", …).
bool statusMaskHas(pid_t pid, const QByteArray& field, int signal)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return false;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':')) {
            return (line.mid(field.size() + 1).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
        }
    }
    return false;
}

} // namespace

class tst_CliScanCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void jsonRowsOfAHostileHome_data();
    void jsonRowsOfAHostileHome();
    void readableOutputWithProgressLines();
    void progressIsRedrawnOnTerminal();
    void ctrlCStopsTheScanAndASecondOneEndsTheProgram_data();
    void ctrlCStopsTheScanAndASecondOneEndsTheProgram();
};

// Every field of every row and of the result: names that are Cyrillic or not
// UTF-8 at all, and a link to the root in the caches that adds nothing (the
// rows and sizes are exactly the home's).
void tst_CliScanCommand::jsonRowsOfAHostileHome_data()
{
    QTest::addColumn<QString>("category");
    QTest::addColumn<QString>("status");
    QTest::newRow("downloadsInbox") << QStringLiteral("downloadsInbox")
                                    << QStringLiteral("Downloads (файлы в корне): найдено 3 элемента");
    QTest::newRow("systemJunk") << QStringLiteral("systemJunk") << QStringLiteral("Служебный мусор: найдено 2 элемента");
}

void tst_CliScanCommand::jsonRowsOfAHostileHome()
{
    QFETCH(QString, category);
    QFETCH(QString, status);
    CliHarness cli;
    QVERIFY(cli.isValid());
    TempHome& home = cli.home();
    const QDateTime modified = cli.clock().now().addDays(-3);
    const QString report = home.makeFile(QStringLiteral("Downloads/Отчёт за май.pdf"), 40000, modified);
    const QString notes = home.makeFile(QStringLiteral("Downloads/notes.txt"), 12000, modified);
    const FilePath raw = home.makeFileNative(QByteArray("Downloads/\xff\xfe-old-\xe9.bin"), 100);
    const timespec stamp{modified.toSecsSinceEpoch(), 0};
    const timespec stamps[2] = {stamp, stamp};
    QCOMPARE(::utimensat(AT_FDCWD, raw.native().constData(), stamps, 0), 0);
    home.makeFile(QStringLiteral("Downloads/Проекты/inside.bin"), 60000);
    const QString tool = home.makeFile(QStringLiteral(".cache/com.example.tool/blob"), 5 * MiB + 3 * 4096);
    const QString cyrillic = home.makeFile(QStringLiteral(".cache/Кэш-Приложение/data/part"), 5 * MiB + 6 * 4096);
    home.makeFile(QStringLiteral(".cache/small/x"), MiB);
    QVERIFY(QDir().mkpath(home.filePath(QStringLiteral(".cache/x"))));
    QVERIFY(QFile::link(QStringLiteral("/"), home.filePath(QStringLiteral(".cache/x/root"))));

    // The modification date, relative to now; a name that is not UTF-8 comes
    // out with replacement characters.
    const QString threeDaysAgo = RelativeDateFormatter::format(modified, cli.clock().now());
    const QString safe = QStringLiteral("Кэш «%1» — безопасно удалять, приложение пересоздаст");
    const QList<QJsonObject> expected = category == QLatin1String("downloadsInbox")
        ? QList<QJsonObject>{fields({{"name", QStringLiteral("Отчёт за май.pdf")}, {"path", report}, {"size", spaceOnDisk(report)},
                                     {"isDirectory", false}, {"isSelected", true}, {"detail", threeDaysAgo}}),
                             fields({{"name", QStringLiteral("notes.txt")}, {"path", notes}, {"size", spaceOnDisk(notes)},
                                     {"isDirectory", false}, {"isSelected", true}, {"detail", threeDaysAgo}}),
                             fields({{"name", QString::fromUtf8(QByteArray("\xff\xfe-old-\xe9.bin"))},
                                     {"path", QString::fromUtf8(raw.native())},
                                     {"size", ScratchDir::allocatedSize(raw.native())},
                                     {"isDirectory", false}, {"isSelected", true}, {"detail", threeDaysAgo}})}
        : QList<QJsonObject>{fields({{"name", QStringLiteral("Кэш-Приложение")},
                                     {"path", home.filePath(QStringLiteral(".cache/Кэш-Приложение"))},
                                     {"size", spaceOnDisk(cyrillic)}, {"isDirectory", true}, {"isSelected", true},
                                     {"detail", safe.arg(QStringLiteral("Кэш-Приложение"))}}),
                             fields({{"name", QStringLiteral("com.example.tool")},
                                     {"path", home.filePath(QStringLiteral(".cache/com.example.tool"))},
                                     {"size", spaceOnDisk(tool)}, {"isDirectory", true}, {"isSelected", true},
                                     {"detail", safe.arg(QStringLiteral("com.example.tool"))}})};

    const QJsonObject result = cli.runJson({QStringLiteral("scan"), category, QStringLiteral("--json")});
    QJsonArray items;
    qint64 total = 0;
    for (QJsonObject item : expected) {
        item.insert(QLatin1String("category"), category);
        total += item.value(QLatin1String("size")).toInteger();
        items.append(item);
    }
    QCOMPARE(result, fields({{"category", category}, {"items", items}, {"totalBytes", total},
                             {"status", status + QStringLiteral(" (") + ByteCountFormatter::format(total) + QLatin1Char(')')}}));
}

void tst_CliScanCommand::readableOutputWithProgressLines()
{
    CliHarness cli;
    QVERIFY(cli.isValid());
    const QString report = cli.home().makeFile(QStringLiteral("Downloads/Отчёт.pdf"), 40000);
    const QString notes = cli.home().makeFile(QStringLiteral("Downloads/notes.txt"), 100);

    const CliRun run = cli.run({QStringLiteral("scan"), QStringLiteral("downloadsInbox")});
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.outText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 6); // header, two rows, a blank line, status, the end
    QCOMPARE(lines.at(0).split(QLatin1Char(' '), Qt::SkipEmptyParts),
             (QStringList{QStringLiteral("Выбор"), QStringLiteral("Размер"), QStringLiteral("Имя"), QStringLiteral("Детали")}));
    QCOMPARE(lines.at(1).split(QStringLiteral("  "), Qt::SkipEmptyParts).size(), 4);
    QVERIFY2(lines.at(1).startsWith(QLatin1String("[x]")) && lines.at(1).contains(QStringLiteral("Отчёт.pdf"))
                 && lines.at(1).contains(ByteCountFormatter::format(spaceOnDisk(report))),
             qPrintable(lines.at(1)));
    QVERIFY2(lines.at(2).contains(QLatin1String("notes.txt"))
                 && lines.at(2).contains(ByteCountFormatter::format(spaceOnDisk(notes))),
             qPrintable(lines.at(2)));
    QCOMPARE(lines.at(3), QString());
    QCOMPARE(lines.at(4), QStringLiteral("Downloads (файлы в корне): найдено 2 элемента (")
                              + ByteCountFormatter::format(spaceOnDisk(report) + spaceOnDisk(notes))
                              + QStringLiteral(")"));

    // Standard error is no terminal here: one plain line per report, no redrawing.
    QVERIFY2(!run.err.contains('\r') && !run.err.contains('\x1b'), run.err.constData());
    QVERIFY(run.err.endsWith('\n'));
    const QStringList progress = run.errText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(progress.size() >= 2, run.err.constData());
    QVERIFY2(progress.first().contains(QStringLiteral("Подготовка…")), run.err.constData());
    QVERIFY2(progress.last().contains(QLatin1String("100%")) && progress.last().contains(QStringLiteral("Готово"))
                 && progress.last().endsWith(QLatin1Char('2')),
             run.err.constData());
}

void tst_CliScanCommand::progressIsRedrawnOnTerminal()
{
    CliHarness cli;
    QVERIFY(cli.isValid());
    cli.home().makeFile(QStringLiteral("Downloads/файл.txt"), 100);

    const CliRun run = cli.runWithTerminalStderr({QStringLiteral("scan"), QStringLiteral("downloadsInbox")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.outText().contains(QStringLiteral("файл.txt")));
    // Every report rewrites the same line; only the end moves to a new one.
    QVERIFY2(run.err.startsWith('\r'), run.err.constData());
    QVERIFY2(run.err.count("\x1b[K") >= 2, run.err.constData());
    QCOMPARE(run.err.count('\n'), 1);
    QVERIFY(run.errText().contains(QStringLiteral("Готово")));
}

void tst_CliScanCommand::ctrlCStopsTheScanAndASecondOneEndsTheProgram_data()
{
    QTest::addColumn<int>("interrupts");
    QTest::newRow("once: the walk stops, the program ends cleanly") << 1;
    QTest::newRow("twice: the program ends at once") << 2;
}

void tst_CliScanCommand::ctrlCStopsTheScanAndASecondOneEndsTheProgram()
{
    QFETCH(int, interrupts);
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    // Far more folders than the main thread needs turns of its event loop
    // to hear the first Ctrl+C.
    for (int i = 0; i < 10; ++i) {
        for (int j = 0; j < 100; ++j) {
            sandbox.home().makeDir(QStringLiteral("Downloads/папка %1/вложенная %2").arg(i).arg(j));
        }
    }

    // Standard error is a pipe the test has filled: the program's first
    // progress line ("Подготовка…", written before the walk starts) holds
    // it until the test reads, so nothing can end before the signals are in.
    int err[2];
    QCOMPARE(::pipe2(err, O_CLOEXEC), 0);
    const auto closeErr = qScopeGuard([&] {
        ::close(err[0]);
        ::close(err[1]);
    });
    ::fcntl(err[1], F_SETPIPE_SZ, 4096);
    ::fcntl(err[1], F_SETFL, O_NONBLOCK);
    const QByteArray filler(512, '#');
    while (::write(err[1], filler.constData(), filler.size()) > 0) {
    }
    while (::write(err[1], "#", 1) > 0) {
    }
    ::fcntl(err[1], F_SETFL, 0);
    const QByteArray outPath = QFile::encodeName(sandbox.scratchPath(QStringLiteral("out.txt")));

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const QByteArray program = QFile::encodeName(CliSandbox::program());
    QByteArrayList arguments{program, "scan", "largeFolders"};
    QByteArrayList environment;
    for (const QString& variable : sandbox.environment().toStringList()) {
        environment.append(variable.toLocal8Bit());
    }
    std::vector<char*> argv;
    for (QByteArray& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (QByteArray& variable : environment) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.constData(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    QCOMPARE(spawned, 0);
    const auto reap = qScopeGuard([&] {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    });

    // Ready when the program catches SIGINT: the walk has not begun.
    QTRY_VERIFY_WITH_TIMEOUT(statusMaskHas(pid, "SigCgt", SIGINT), 60000);
    for (int i = 0; i < interrupts; ++i) {
        QCOMPARE(::kill(pid, SIGINT), 0);
        // Taken by a handler before the next one is sent, so that two are two.
        QTRY_VERIFY_WITH_TIMEOUT(!statusMaskHas(pid, "ShdPnd", SIGINT) && !statusMaskHas(pid, "SigPnd", SIGINT),
                                 60000);
    }

    ::close(err[1]);
    err[1] = -1;
    QByteArray errText;
    char buffer[4096];
    for (ssize_t n; (n = ::read(err[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0) {
            errText.append(buffer, n);
        } else if (errno != EINTR) {
            break;
        }
    }
    int status = 0;
    QCOMPARE(::waitpid(pid, &status, 0), pid);
    pid = 0;
    QFile out(QFile::decodeName(outPath));
    QVERIFY(out.open(QIODevice::ReadOnly));
    const QString outText = QString::fromUtf8(out.readAll());
    errText.replace('#', "");
    if (interrupts == 2) {
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT, errText.constData());
        return;
    }
    QVERIFY2(WIFEXITED(status), errText.constData());
    QCOMPARE(WEXITSTATUS(status), 130);
    QVERIFY2(QString::fromUtf8(errText).contains(QStringLiteral("Останавливаю после текущего элемента")),
             errText.constData());
    QCOMPARE(outText, QStringLiteral("Большие папки: сканирование остановлено\n"));
}

BRISKO_TEST(tst_CliScanCommand)
#include "tst_CliScanCommand.moc"
