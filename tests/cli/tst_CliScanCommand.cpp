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

std::vector<char*> nullTerminated(QByteArrayList& list)
{
    std::vector<char*> pointers;
    for (QByteArray& each : list) {
        pointers.push_back(each.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

class tst_CliScanCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void jsonRowsOfAHostileHome_data();
    void jsonRowsOfAHostileHome();
    void readableOutputWithProgressLines_data();
    void readableOutputWithProgressLines();
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
    QTest::newRow("downloadsInbox") << "downloadsInbox" << "Downloads (файлы в корне): найдено 3 элемента";
    QTest::newRow("systemJunk") << "systemJunk" << "Служебный мусор: найдено 2 элемента";
}

void tst_CliScanCommand::jsonRowsOfAHostileHome()
{
    QFETCH(QString, category);
    QFETCH(QString, status);
    CliHarness cli;
    TempHome& home = cli.home();
    const QDateTime modified = cli.clock().now().addDays(-3);
    const QString report = home.makeFile(QStringLiteral("Downloads/Отчёт за май.pdf"), 40000, modified);
    const QString notes = home.makeFile(QStringLiteral("Downloads/notes.txt"), 12000, modified);
    const FilePath raw = home.makeFileNative(QByteArray("Downloads/\xff\xfe-old-\xe9.bin"), 100);
    const timespec stamps[2] = {{modified.toSecsSinceEpoch(), 0}, {modified.toSecsSinceEpoch(), 0}};
    QCOMPARE(::utimensat(AT_FDCWD, raw.native().constData(), stamps, 0), 0);
    home.makeFile(QStringLiteral("Downloads/Проекты/inside.bin"), 60000);
    const QString tool = home.makeFile(QStringLiteral(".cache/com.example.tool/blob"), 5 * MiB + 3 * 4096);
    const QString cyrillic = home.makeFile(QStringLiteral(".cache/Кэш-Приложение/data/part"), 5 * MiB + 6 * 4096);
    home.makeFile(QStringLiteral(".cache/small/x"), MiB);
    home.makeSymlink(QStringLiteral("/"), QStringLiteral(".cache/x/root"));

    // The modification date, relative to now; a name that is not UTF-8 comes
    // out with replacement characters.
    const QString threeDaysAgo = RelativeDateFormatter::format(modified, cli.clock().now());
    const auto row = [&](const QString& name, const QString& path, qint64 size, bool folder, const QString& detail) {
        return fields({{"name", name}, {"path", path}, {"size", size}, {"isDirectory", folder}, {"isSelected", true},
                       {"detail", detail}, {"category", category}});
    };
    const auto cache = [&](const QString& name, const QString& file) {
        return row(name, home.filePath(QStringLiteral(".cache/") + name), spaceOnDisk(file), true,
                   QStringLiteral("Кэш «%1» — безопасно удалять, приложение пересоздаст").arg(name));
    };
    const QJsonArray items = category == QLatin1String("downloadsInbox")
        ? QJsonArray{row(QStringLiteral("Отчёт за май.pdf"), report, spaceOnDisk(report), false, threeDaysAgo),
                     row(QStringLiteral("notes.txt"), notes, spaceOnDisk(notes), false, threeDaysAgo),
                     row(QString::fromUtf8("\xff\xfe-old-\xe9.bin"), QString::fromUtf8(raw.native()),
                         ScratchDir::allocatedSize(raw.native()), false, threeDaysAgo)}
        : QJsonArray{cache(QStringLiteral("Кэш-Приложение"), cyrillic), cache(QStringLiteral("com.example.tool"), tool)};
    qint64 total = 0;
    for (const QJsonValue& item : items) {
        total += item.toObject().value(QLatin1String("size")).toInteger();
    }
    QCOMPARE(cli.runJson({QStringLiteral("scan"), category, QStringLiteral("--json")}),
             fields({{"category", category}, {"items", items}, {"totalBytes", total},
                     {"status", status + QStringLiteral(" (") + ByteCountFormatter::format(total) + QLatin1Char(')')}}));
}

void tst_CliScanCommand::readableOutputWithProgressLines_data()
{
    QTest::addColumn<bool>("terminal");
    QTest::newRow("a pipe: one plain line per report") << false;
    QTest::newRow("a terminal: the same line redrawn") << true;
}

void tst_CliScanCommand::readableOutputWithProgressLines()
{
    QFETCH(bool, terminal);
    CliHarness cli;
    const QString report = cli.home().makeFile(QStringLiteral("Downloads/Отчёт.pdf"), 40000);
    const QString notes = cli.home().makeFile(QStringLiteral("Downloads/notes.txt"), 100);
    const QStringList arguments{QStringLiteral("scan"), QStringLiteral("downloadsInbox")};
    const CliRun run = terminal ? cli.runWithTerminalStderr(arguments) : cli.run(arguments);
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.outText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 6); // header, two rows, a blank line, status, the end
    QCOMPARE(lines.at(0).split(QLatin1Char(' '), Qt::SkipEmptyParts), words("Выбор Размер Имя Детали"));
    QCOMPARE(lines.at(1).split(QStringLiteral("  "), Qt::SkipEmptyParts).size(), 4);
    QVERIFY2(lines.at(1).startsWith(QLatin1String("[x]")) && lines.at(1).contains(QStringLiteral("Отчёт.pdf"))
                 && lines.at(1).contains(ByteCountFormatter::format(spaceOnDisk(report))),
             qPrintable(lines.at(1)));
    QVERIFY2(lines.at(2).contains(QLatin1String("notes.txt")) && lines.at(2).contains(ByteCountFormatter::format(spaceOnDisk(notes))),
             qPrintable(lines.at(2)));
    QCOMPARE(lines.at(3), QString());
    QCOMPARE(lines.at(4), QStringLiteral("Downloads (файлы в корне): найдено 2 элемента (")
                              + ByteCountFormatter::format(spaceOnDisk(report) + spaceOnDisk(notes)) + QLatin1Char(')'));

    const QStringList progress =
        run.errText().remove(QStringLiteral("\x1b[K")).split(QRegularExpression(QStringLiteral("[\r\n]")), Qt::SkipEmptyParts);
    QVERIFY2(progress.size() >= 2 && progress.first().contains(QStringLiteral("Подготовка…")), run.err.constData());
    QVERIFY2(progress.last().contains(QLatin1String("100%")) && progress.last().contains(QStringLiteral("Готово"))
                 && progress.last().endsWith(QLatin1Char('2')),
             run.err.constData());
    QVERIFY(run.err.endsWith('\n'));
    // On a terminal every report rewrites the same line; only the end moves to a new one.
    QCOMPARE(run.err.startsWith('\r'), terminal);
    QCOMPARE(run.err.count("\x1b[K") >= 2, terminal);
    QCOMPARE(run.err.count('\n') == 1, terminal);
    QVERIFY2(terminal || (!run.err.contains('\r') && !run.err.contains('\x1b')), run.err.constData());
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
    for (int i = 0; i < 1000; ++i) {
        sandbox.home().makeDir(QStringLiteral("Downloads/папка %1/вложенная %2").arg(i / 100).arg(i % 100));
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
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.constData(), &actions, nullptr, nullTerminated(arguments).data(),
                                      nullTerminated(environment).data());
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
        QTRY_VERIFY_WITH_TIMEOUT(!statusMaskHas(pid, "ShdPnd", SIGINT) && !statusMaskHas(pid, "SigPnd", SIGINT), 60000);
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
    errText.replace('#', "");
    if (interrupts == 2) {
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT, errText.constData());
        return;
    }
    QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 130, errText.constData());
    QVERIFY2(QString::fromUtf8(errText).contains(QStringLiteral("Останавливаю после текущего элемента")), errText.constData());
    QCOMPARE(QString::fromUtf8(ScratchDir::readFile(outPath)), QStringLiteral("Большие папки: сканирование остановлено\n"));
}

BRISKO_TEST(tst_CliScanCommand)
#include "tst_CliScanCommand.moc"
