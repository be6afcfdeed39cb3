#include "BriskoTest.h"
#include "CliCommands.h"
#include "CliHarness.h"
#include "model/AppSettings.h"
#include "scan/AppInfo.h"

#include <QtTest>

class tst_CliDispatcher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void helpListsEveryCommand_data();
    void helpListsEveryCommand();
    void helpForOneCommand_data();
    void helpForOneCommand();
    void usageErrors_data();
    void usageErrors();
};

void tst_CliDispatcher::helpListsEveryCommand_data()
{
    QTest::addColumn<QString>("argument");
    QTest::newRow("--help") << "--help";
    QTest::newRow("-h") << "-h";
    QTest::newRow("help") << "help";
}

void tst_CliDispatcher::helpListsEveryCommand()
{
    QFETCH(QString, argument);
    CliHarness cli;
    const CliRun run = cli.run({argument});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.err.isEmpty());
    QVERIFY(run.outText().startsWith(QStringLiteral("Использование: brisko КОМАНДА [АРГУМЕНТЫ]\n\nКоманды:\n")));
    qsizetype at = 0;
    for (const CliCommand& command : CliCommands::all()) {
        const QString entry = QStringLiteral("  brisko %1 %2\n      %3\n").arg(command.name, command.synopsis(), command.summary);
        const qsizetype found = run.outText().indexOf(entry);
        QVERIFY2(found > at, qPrintable(entry));
        at = found;
    }
    QVERIFY(run.outText().endsWith(QStringLiteral("130 — остановлено по Ctrl+C.\n")));
    // Help never touches the user's settings.
    QVERIFY(!QFile::exists(cli.defaultsFile()));
}

void tst_CliDispatcher::helpForOneCommand_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<QString>("expected");
    QTest::newRow("help settings") << "help settings"
                                   << "Использование: brisko settings get | set ПОЛЕ=ЗНАЧЕНИЕ…\n"
                                      "показывает настройки (JSON) или меняет отдельные поля\n\nЗначения читаются по типу поля:\n";
    QTest::newRow("settings --help") << "settings --help" << "Использование: brisko settings get | set ПОЛЕ=ЗНАЧЕНИЕ…\n";
    QTest::newRow("scan -h after category") << "scan systemJunk -h" << "Использование: brisko scan КАТЕГОРИЯ [--json]\n";
    QTest::newRow("options shown after the arguments")
        << "help usage" << "Использование: brisko usage [ПУТЬ] [--depth N] [--top K] [--json] [--other-filesystems]\n";
    QTest::newRow("a flag with the words it takes")
        << "move --help --only" << "Использование: brisko move КАТЕГОРИЯ [--only ИМЯ…] [--json]\n";
    QTest::newRow("no summary without details")
        << "help disks" << "Использование: brisko disks [--json]\nтома от 1 ГБ, самые заполненные первыми\n";
    QTest::newRow("--version") << "--version" << "";
}

void tst_CliDispatcher::helpForOneCommand()
{
    QFETCH(QString, words);
    QFETCH(QString, expected);
    CliHarness cli;
    cli.home().makeFile(QStringLiteral(".cache/big/x"), 6 * 1024 * 1024);
    const CliRun run = cli.run(::words(words.toUtf8().constData()));
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.err.isEmpty());
    if (expected.isEmpty()) {
        const auto bundle = [](const char* key) { return AppInfo::bundleString(QLatin1String(key)).value_or(QStringLiteral("?")); };
        expected = QStringLiteral("%1 %2 (%3)\n").arg(bundle("CFBundleName"), bundle("CFBundleShortVersionString"),
                                                       bundle("CFBundleVersion"));
        QVERIFY(!expected.contains(QLatin1Char('?')));
    }
    // Asking for help runs nothing: no scan result, no progress.
    QVERIFY2(run.outText().startsWith(expected), run.describe());
    QVERIFY(run.outText().endsWith(QLatin1Char('\n')) && !run.outText().endsWith(QStringLiteral("\n\n")));
    QVERIFY2(!run.outText().contains(QStringLiteral("найдено")), run.describe());
}

// Every usage error, whichever part finds it: exit 2, nothing on standard
// output, the message, then the command's usage line or, when there is no
// command, the whole command list.
void tst_CliDispatcher::usageErrors_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<QString>("message");
    const auto row = [](const char* words, const QString& message) {
        QTest::newRow(words) << QString::fromUtf8(words) << message;
    };
    const QString categories = QStringLiteral("допустимы: largeFolders, ");
    // The dispatcher.
    row("", QStringLiteral("не указана команда"));
    row("frobnicate", QStringLiteral("неизвестная команда «frobnicate»"));
    row("Scan systemJunk", QStringLiteral("неизвестная команда «Scan»"));
    row("help nosuch", QStringLiteral("неизвестная команда «nosuch»"));
    row("help scan move", QStringLiteral("справка показывается для одной команды"));
    row("--version x", QStringLiteral("лишние аргументы после --version"));
    // Options, as the command's description declares them.
    row("scan downloadsInbox --xml", QStringLiteral("неизвестный параметр --xml"));
    row("undo -f", QStringLiteral("неизвестный параметр -f"));
    row("history --json --all=yes", QStringLiteral("неизвестный параметр --all"));
    row("sort-downloads --json=yes", QStringLiteral("параметр --json не принимает значения"));
    row("classify /a --home", QStringLiteral("параметру --home нужно значение"));
    row("disks /", QStringLiteral("лишний аргумент «/»"));
    // The commands' own arguments.
    row("scan", QStringLiteral("не указана категория; ") + categories);
    row("scan bogus", QStringLiteral("неизвестная категория «bogus»; ") + categories);
    row("scan downloadsInbox systemJunk", QStringLiteral("сканируется ровно одна категория"));
    row("trash Служебный мусор", QStringLiteral("неизвестная категория «Служебный»; ") + categories);
    row("move downloadsInbox a.txt", QStringLiteral("лишние аргументы: a.txt (строки выбираются через --only)"));
    row("trash downloadsInbox --only", QStringLiteral("после --only нужны имена строк"));
    row("clean appCaches --only=x", QStringLiteral("параметр --only не принимает значения"));
    row("move downloadsInbox --only нет -- --json",
        QStringLiteral("в результатах сканирования downloadsInbox нет строк: «нет», «--json»"));
    row("classify", QStringLiteral("укажите один путь"));
    row("classify /a --home=", QStringLiteral("параметру --home нужна папка"));
    row("settings", QStringLiteral("укажите get или set"));
    row("settings show", QStringLiteral("неизвестное действие «show»; допустимы get и set"));
    row("settings set", QStringLiteral("нет присваиваний ПОЛЕ=ЗНАЧЕНИЕ"));
    row("settings get --json", QStringLiteral("settings get не принимает аргументов"));
    row("settings set archivePath=Архив", QStringLiteral("archivePath: ") + AppSettings::relativeArchivePathMessage);
    row("archive", QStringLiteral("укажите create, list или restore"));
    row("archive pack", QStringLiteral("неизвестное действие «pack»; допустимы create, list и restore"));
    row("archive create", QStringLiteral("укажите профиль"));
    row("archive create bogus", QStringLiteral("неизвестный профиль «bogus»; допустимы essential, "));
    row("archive restore", QStringLiteral("укажите ID архива"));
    row("archive list x", QStringLiteral("лишние аргументы"));
    row("safe-cleanup", QStringLiteral("укажите list или clean"));
    row("safe-cleanup frob", QStringLiteral("неизвестное действие «frob»; допустимы list и clean"));
    row("safe-cleanup list clean", QStringLiteral("лишние аргументы"));
    row("archive-folder", QStringLiteral("не указана папка"));
    row("archive-folder a b", QStringLiteral("укажите одну папку"));
    row("usage --depth -1", QStringLiteral("--depth ждёт целое число от 0, а не «-1»"));
    row("usage /a /b", QStringLiteral("укажите не больше одного пути"));
    row("fans", QStringLiteral("укажите boost ПРОЦЕНТ или auto"));
    row("fans spin", QStringLiteral("неизвестное действие «spin»; допустимы boost и auto"));
    row("fans boost", QStringLiteral("boost принимает один аргумент — процент от 0 до 100"));
    row("fans boost -5", QStringLiteral("процент должен быть числом от 0 до 100, а не «-5»"));
    row("fans auto now", QStringLiteral("auto не принимает аргументов"));
    row("feedback --offline", QStringLiteral("не указано сообщение"));
    row("update", QStringLiteral("укажите check, download или install"));
    row("update now", QStringLiteral("укажите check, download или install"));
}

void tst_CliDispatcher::usageErrors()
{
    QFETCH(QString, words);
    QFETCH(QString, message);
    CliHarness cli;
    const QStringList arguments = ::words(words.toUtf8().constData());
    const CliRun run = cli.run(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.out.isEmpty(), run.describe());
    const QString command = arguments.value(0);
    const QList<CliCommand> all = CliCommands::all();
    const auto described = std::find_if(all.cbegin(), all.cend(), [&](const CliCommand& each) { return each.name == command; });
    if (described == all.cend()) {
        QVERIFY2(run.errText().startsWith(QStringLiteral("brisko: ") + message), run.describe());
        QVERIFY2(run.errText().contains(QStringLiteral("\n\nИспользование: brisko КОМАНДА [АРГУМЕНТЫ]\n\nКоманды:\n")),
                 run.describe());
    } else {
        // A command that scanned first has shown its progress before.
        const QStringList lines = run.errText().split(QLatin1Char('\n'));
        QVERIFY2(lines.size() >= 4 && lines.at(lines.size() - 4).startsWith(QStringLiteral("brisko: ") + message),
                 run.describe());
        QCOMPARE(lines.mid(lines.size() - 3),
                 (QStringList{QStringLiteral("Использование: brisko %1 %2").arg(command, described->synopsis()),
                              QStringLiteral("Подробнее: brisko help ") + command, QString()}));
    }
    // Nothing was changed on the way.
    QVERIFY(!QFile::exists(cli.defaultsFile()));
}

BRISKO_TEST(tst_CliDispatcher)
#include "tst_CliDispatcher.moc"
