#include "BriskoTest.h"
#include "CliSandbox.h"
#include "base/ByteCountFormatter.h"
#include "base/RussianPlural.h"

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

constexpr qint64 mebibyte = 1024 * 1024;

// What the scanner reports for a file: the space it occupies on disk.
qint64 allocatedSize(const QByteArray& nativePath)
{
    struct stat info;
    if (::stat(nativePath.constData(), &info) != 0) {
        return -1;
    }
    return qint64(info.st_blocks) * 512;
}

qint64 allocatedSize(const QString& path)
{
    return allocatedSize(QFile::encodeName(path));
}

QStringList names(const QJsonArray& items)
{
    QStringList list;
    for (const QJsonValue& item : items) {
        list.append(item.toObject().value(QLatin1String("name")).toString());
    }
    return list;
}

QString statusFor(const QString& title, const QJsonObject& result)
{
    const qsizetype count = result.value(QLatin1String("items")).toArray().size();
    return title + QStringLiteral(": найдено ") + RussianPlural::count(count, RussianPlural::items) + QStringLiteral(" (")
        + ByteCountFormatter::format(result.value(QLatin1String("totalBytes")).toInteger()) + QStringLiteral(")");
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
    void downloadsInboxListsLooseFilesLargestFirst();
    void largeLooseFilesFollowThresholdSetThroughSettings();
    void oldInstallersGoByModificationDate();
    void systemJunkPreselectsOnlySafeCaches();
    void emptyHomeFindsNothing();
    void readableOutputWithProgressLines();
    void progressIsRedrawnOnTerminal();
    void ctrlCStopsTheScanAndASecondOneEndsTheProgram_data();
    void ctrlCStopsTheScanAndASecondOneEndsTheProgram();
    void badArgumentsAreUsageErrors_data();
    void badArgumentsAreUsageErrors();

private:
    static QJsonObject scanJson(const CliSandbox& sandbox, const QString& category);
};

QJsonObject tst_CliScanCommand::scanJson(const CliSandbox& sandbox, const QString& category)
{
    const CliRun run = sandbox.run({QStringLiteral("scan"), category, QStringLiteral("--json")});
    if (!run.finished || run.exitCode != 0 || !run.json() || !run.json()->isObject()) {
        qWarning("%s", run.describe().constData());
        return {};
    }
    // With --json standard error carries no progress: scripts may merge it.
    if (!run.err.isEmpty()) {
        qWarning("unexpected stderr: %s", run.err.constData());
        return {};
    }
    return run.json()->object();
}

void tst_CliScanCommand::downloadsInboxListsLooseFilesLargestFirst()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    TempHome& home = sandbox.home();
    const QString report = home.makeFile(QStringLiteral("Downloads/Отчёт за май.pdf"), 40000);
    const QString notes = home.makeFile(QStringLiteral("Downloads/notes.txt"), 12000);
    const FilePath raw = home.makeFileNative(QByteArray("Downloads/\xff\xfe-old-\xe9.bin"), 100);
    home.makeFile(QStringLiteral("Downloads/.hidden"), 50000);
    home.makeFile(QStringLiteral("Downloads/Проекты/inside.bin"), 60000);

    const QJsonObject result = scanJson(sandbox, QStringLiteral("downloadsInbox"));
    QCOMPARE(result.value(QLatin1String("category")).toString(), QStringLiteral("downloadsInbox"));
    const QJsonArray items = result.value(QLatin1String("items")).toArray();
    QCOMPARE(items.size(), 3);

    const QStringList found = names(items);
    QCOMPARE(found.at(0), QStringLiteral("Отчёт за май.pdf"));
    QCOMPARE(found.at(1), QStringLiteral("notes.txt"));
    // A name that is not UTF-8 is shown with replacement characters.
    QVERIFY2(found.at(2).contains(QChar(QChar::ReplacementCharacter)) && found.at(2).contains(QLatin1String("-old-")),
             qPrintable(found.at(2)));

    const qint64 expectedSizes[] = {allocatedSize(report), allocatedSize(notes), allocatedSize(raw.native())};
    const QString expectedPaths[] = {report, notes, QString()};
    qint64 total = 0;
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QJsonObject item = items.at(i).toObject();
        QCOMPARE(item.value(QLatin1String("size")).toInteger(), expectedSizes[i]);
        QCOMPARE(item.value(QLatin1String("category")).toString(), QStringLiteral("downloadsInbox"));
        QCOMPARE(item.value(QLatin1String("isDirectory")), QJsonValue(false));
        QCOMPARE(item.value(QLatin1String("isSelected")), QJsonValue(true));
        // The modification date, written relative to now.
        QVERIFY(item.value(QLatin1String("detail")).isString());
        QVERIFY(!item.value(QLatin1String("detail")).toString().isEmpty());
        if (!expectedPaths[i].isEmpty()) {
            QCOMPARE(item.value(QLatin1String("path")).toString(), expectedPaths[i]);
        } else {
            QVERIFY(item.value(QLatin1String("path")).toString().startsWith(home.filePath(QStringLiteral("Downloads/"))));
        }
        total += item.value(QLatin1String("size")).toInteger();
    }
    QVERIFY(expectedSizes[0] > expectedSizes[1] && expectedSizes[1] > expectedSizes[2]);
    QCOMPARE(result.value(QLatin1String("totalBytes")).toInteger(), total);
    QCOMPARE(result.value(QLatin1String("status")).toString(),
             statusFor(QStringLiteral("Downloads (файлы в корне)"), result));
}

void tst_CliScanCommand::largeLooseFilesFollowThresholdSetThroughSettings()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    TempHome& home = sandbox.home();
    const QString video = home.makeFile(QStringLiteral("Downloads/видео.mov"), 2 * mebibyte + 100);
    const QString big = home.makeFile(QStringLiteral("Downloads/big.bin"), 3 * mebibyte / 2);
    home.makeFile(QStringLiteral("Downloads/small.bin"), mebibyte / 2);
    home.makeFile(QStringLiteral("Downloads/Архив/huge.bin"), 3 * mebibyte);

    // With the default 50 MB nothing here qualifies.
    QVERIFY(scanJson(sandbox, QStringLiteral("largeLooseFiles")).value(QLatin1String("items")).toArray().isEmpty());

    const CliRun set = sandbox.run({QStringLiteral("settings"), QStringLiteral("set"),
                                    QStringLiteral("largeFileThresholdMB=1")});
    QVERIFY2(set.finished && set.exitCode == 0, set.describe());

    const QJsonObject result = scanJson(sandbox, QStringLiteral("largeLooseFiles"));
    const QJsonArray items = result.value(QLatin1String("items")).toArray();
    QCOMPARE(names(items), (QStringList{QStringLiteral("видео.mov"), QStringLiteral("big.bin")}));
    const QJsonObject first = items.at(0).toObject();
    QCOMPARE(first.value(QLatin1String("path")).toString(), video);
    QCOMPARE(first.value(QLatin1String("size")).toInteger(), allocatedSize(video));
    QCOMPARE(first.value(QLatin1String("detail")), QJsonValue(QJsonValue::Null));
    QCOMPARE(first.value(QLatin1String("isSelected")), QJsonValue(true));
    QCOMPARE(first.value(QLatin1String("category")).toString(), QStringLiteral("largeLooseFiles"));
    QCOMPARE(items.at(1).toObject().value(QLatin1String("size")).toInteger(), allocatedSize(big));
    QCOMPARE(result.value(QLatin1String("totalBytes")).toInteger(), allocatedSize(video) + allocatedSize(big));
    QCOMPARE(result.value(QLatin1String("status")).toString(),
             statusFor(QStringLiteral("Крупные файлы в Downloads"), result));
}

void tst_CliScanCommand::oldInstallersGoByModificationDate()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    TempHome& home = sandbox.home();
    const QDateTime now = QDateTime::currentDateTime();
    home.makeFile(QStringLiteral("Downloads/Old.DMG"), 20000, now.addDays(-40));
    home.makeFile(QStringLiteral("Downloads/Установка.pkg"), 8000, now.addDays(-100));
    home.makeFile(QStringLiteral("Downloads/new.dmg"), 30000, now.addDays(-2));
    home.makeFile(QStringLiteral("Downloads/old.zip"), 9000, now.addDays(-90));
    home.makeDir(QStringLiteral("Downloads/folder.dmg"), now.addDays(-90));

    QJsonObject result = scanJson(sandbox, QStringLiteral("oldInstallers"));
    QJsonArray items = result.value(QLatin1String("items")).toArray();
    QCOMPARE(names(items), (QStringList{QStringLiteral("Old.DMG"), QStringLiteral("Установка.pkg")}));
    QCOMPARE(items.at(0).toObject().value(QLatin1String("detail")).toString(), QStringLiteral("40 дн. назад"));
    QCOMPARE(items.at(1).toObject().value(QLatin1String("detail")).toString(), QStringLiteral("100 дн. назад"));
    QCOMPARE(items.at(0).toObject().value(QLatin1String("isSelected")), QJsonValue(true));
    QCOMPARE(result.value(QLatin1String("status")).toString(), statusFor(QStringLiteral("Старые установщики"), result));

    const CliRun set = sandbox.run({QStringLiteral("settings"), QStringLiteral("set"),
                                    QStringLiteral("installerMaxAgeDays=50")});
    QVERIFY2(set.finished && set.exitCode == 0, set.describe());
    result = scanJson(sandbox, QStringLiteral("oldInstallers"));
    items = result.value(QLatin1String("items")).toArray();
    QCOMPARE(names(items), QStringList{QStringLiteral("Установка.pkg")});
}

void tst_CliScanCommand::systemJunkPreselectsOnlySafeCaches()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    TempHome& home = sandbox.home();
    const QString tool = home.makeFile(QStringLiteral(".cache/com.example.tool/blob"), 5 * mebibyte + 3 * 4096);
    const QString cyrillic =
        home.makeFile(QStringLiteral(".cache/Кэш-Приложение/data/part"), 5 * mebibyte + 6 * 4096);
    home.makeFile(QStringLiteral(".cache/small/x"), mebibyte);
    home.makeFile(QStringLiteral(".xsession-errors"), 1000);
    const QString trashed = home.makeFile(QStringLiteral(".local/share/Trash/files/deleted.txt"), 10);
    // A link to the root leaves the home: it adds nothing, and /proc and /sys
    // are never walked (the rows and sizes below are exactly the home's).
    QVERIFY(QDir().mkpath(home.filePath(QStringLiteral(".cache/x"))));
    QVERIFY(QFile::link(QStringLiteral("/"), home.filePath(QStringLiteral(".cache/x/root"))));

    const QJsonObject result = scanJson(sandbox, QStringLiteral("systemJunk"));
    const QJsonArray items = result.value(QLatin1String("items")).toArray();
    QCOMPARE(names(items),
             (QStringList{QStringLiteral("Кэш-Приложение"), QStringLiteral("com.example.tool"), QStringLiteral("Trash")}));

    struct Expected
    {
        QString path;
        qint64 size;
        bool selected;
        QString detail;
    };
    const Expected expected[] = {
        {home.filePath(QStringLiteral(".cache/Кэш-Приложение")), allocatedSize(cyrillic), true,
         QStringLiteral("Кэш «Кэш-Приложение» — безопасно удалять, приложение пересоздаст")},
        {home.filePath(QStringLiteral(".cache/com.example.tool")), allocatedSize(tool), true,
         QStringLiteral("Кэш «com.example.tool» — безопасно удалять, приложение пересоздаст")},
        // The Trash is shown but never cleaned automatically.
        {home.filePath(QStringLiteral(".local/share/Trash")), allocatedSize(trashed), false,
         QStringLiteral("Корзина — очистите в файловом менеджере («Очистить корзину»)")},
    };
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QJsonObject item = items.at(i).toObject();
        QCOMPARE(item.value(QLatin1String("path")).toString(), expected[i].path);
        QCOMPARE(item.value(QLatin1String("size")).toInteger(), expected[i].size);
        QCOMPARE(item.value(QLatin1String("isSelected")).toBool(), expected[i].selected);
        QCOMPARE(item.value(QLatin1String("isDirectory")), QJsonValue(true));
        QCOMPARE(item.value(QLatin1String("detail")).toString(), expected[i].detail);
        QCOMPARE(item.value(QLatin1String("category")).toString(), QStringLiteral("systemJunk"));
    }
    QCOMPARE(result.value(QLatin1String("status")).toString(), statusFor(QStringLiteral("Служебный мусор"), result));
}

void tst_CliScanCommand::emptyHomeFindsNothing()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const QJsonObject result = scanJson(sandbox, QStringLiteral("largeFolders"));
    QCOMPARE(result.value(QLatin1String("category")).toString(), QStringLiteral("largeFolders"));
    QVERIFY(result.value(QLatin1String("items")).isArray());
    QVERIFY(result.value(QLatin1String("items")).toArray().isEmpty());
    QCOMPARE(result.value(QLatin1String("totalBytes")).toInteger(-1), 0);
    QCOMPARE(result.value(QLatin1String("status")).toString(),
             QStringLiteral("Большие папки: найдено 0 элементов (0\u00a0байт)"));
}

void tst_CliScanCommand::readableOutputWithProgressLines()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    TempHome& home = sandbox.home();
    const QString report = home.makeFile(QStringLiteral("Downloads/Отчёт.pdf"), 40000);
    const QString notes = home.makeFile(QStringLiteral("Downloads/notes.txt"), 100);

    const CliRun run = sandbox.run({QStringLiteral("scan"), QStringLiteral("downloadsInbox")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());

    const QStringList lines = run.outText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4); // header, two rows, status
    QVERIFY2(lines.at(1).contains(QStringLiteral("Отчёт.pdf")) && lines.at(1).contains(QLatin1String("[x]"))
                 && lines.at(1).contains(ByteCountFormatter::format(allocatedSize(report))),
             qPrintable(lines.at(1)));
    QVERIFY2(lines.at(2).contains(QLatin1String("notes.txt"))
                 && lines.at(2).contains(ByteCountFormatter::format(allocatedSize(notes))),
             qPrintable(lines.at(2)));
    QCOMPARE(lines.at(3), QStringLiteral("Downloads (файлы в корне): найдено 2 элемента (")
                              + ByteCountFormatter::format(allocatedSize(report) + allocatedSize(notes))
                              + QStringLiteral(")"));

    // Standard error is a pipe here: one plain line per report, no redrawing.
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
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    sandbox.home().makeFile(QStringLiteral("Downloads/файл.txt"), 100);

    const CliRun run = sandbox.runWithTerminalStderr({QStringLiteral("scan"), QStringLiteral("downloadsInbox")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
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

void tst_CliScanCommand::badArgumentsAreUsageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentioned");

    QTest::newRow("no category") << QStringList{QStringLiteral("scan")} << QStringLiteral("scan");
    QTest::newRow("only --json") << QStringList{QStringLiteral("scan"), QStringLiteral("--json")}
                                 << QStringLiteral("scan");
    QTest::newRow("unknown category") << QStringList{QStringLiteral("scan"), QStringLiteral("bogus")}
                                      << QStringLiteral("bogus");
    QTest::newRow("wrong case") << QStringList{QStringLiteral("scan"), QStringLiteral("DownloadsInbox"),
                                               QStringLiteral("--json")}
                                << QStringLiteral("DownloadsInbox");
    QTest::newRow("title instead of raw value")
        << QStringList{QStringLiteral("scan"), QStringLiteral("Служебный мусор")} << QStringLiteral("Служебный мусор");
    QTest::newRow("two categories") << QStringList{QStringLiteral("scan"), QStringLiteral("downloadsInbox"),
                                                   QStringLiteral("systemJunk")}
                                    << QStringLiteral("scan");
    QTest::newRow("unknown option") << QStringList{QStringLiteral("scan"), QStringLiteral("downloadsInbox"),
                                                   QStringLiteral("--xml")}
                                    << QStringLiteral("--xml");
    QTest::newRow("flag with value") << QStringList{QStringLiteral("scan"), QStringLiteral("downloadsInbox"),
                                                    QStringLiteral("--json=yes")}
                                     << QStringLiteral("--json");
}

void tst_CliScanCommand::badArgumentsAreUsageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentioned);
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    sandbox.home().makeFile(QStringLiteral("Downloads/file.txt"), 10);

    const CliRun run = sandbox.run(arguments);
    QVERIFY2(run.finished, run.describe());
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.out.isEmpty(), run.out.constData());
    QVERIFY2(run.errText().contains(mentioned), run.err.constData());
    // The short usage of the command follows the message.
    QVERIFY2(run.errText().contains(QLatin1String("brisko scan ")), run.err.constData());
}

BRISKO_TEST(tst_CliScanCommand)
#include "tst_CliScanCommand.moc"
