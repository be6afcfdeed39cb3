#include "BriskoTest.h"
#include "CliSandbox.h"
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
    void versionShowsBundleVersionAndBuild();
    void usageErrors_data();
    void usageErrors();

private:
    static const QStringList commands;
};

const QStringList tst_CliDispatcher::commands = {QStringLiteral("scan"), QStringLiteral("settings"),
                                                 QStringLiteral("classify"), QStringLiteral("disks"),
                                                 QStringLiteral("hardware")};

void tst_CliDispatcher::helpListsEveryCommand_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")};
    QTest::newRow("-h") << QStringList{QStringLiteral("-h")};
    QTest::newRow("help") << QStringList{QStringLiteral("help")};
}

void tst_CliDispatcher::helpListsEveryCommand()
{
    QFETCH(QStringList, arguments);
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const CliRun run = sandbox.run(arguments);
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    QVERIFY(run.err.isEmpty());
    for (const QString& command : commands) {
        QVERIFY2(run.outText().contains(QStringLiteral("brisko ") + command + QLatin1Char(' ')), qPrintable(command));
    }
    // Help never touches the user's settings.
    QVERIFY(!QFile::exists(sandbox.defaultsFile()));
}

void tst_CliDispatcher::helpForOneCommand_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("command");
    QTest::newRow("help settings") << QStringList{QStringLiteral("help"), QStringLiteral("settings")}
                                   << QStringLiteral("settings");
    QTest::newRow("settings --help") << QStringList{QStringLiteral("settings"), QStringLiteral("--help")}
                                     << QStringLiteral("settings");
    QTest::newRow("scan -h after category") << QStringList{QStringLiteral("scan"), QStringLiteral("systemJunk"),
                                                           QStringLiteral("-h")}
                                            << QStringLiteral("scan");
    QTest::newRow("help classify") << QStringList{QStringLiteral("help"), QStringLiteral("classify")}
                                   << QStringLiteral("classify");
}

void tst_CliDispatcher::helpForOneCommand()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, command);
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const CliRun run = sandbox.run(arguments);
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    QVERIFY2(run.outText().contains(QStringLiteral("brisko ") + command + QLatin1Char(' ')), run.describe());
    for (const QString& other : commands) {
        if (other != command) {
            QVERIFY2(!run.outText().contains(QStringLiteral("brisko ") + other + QLatin1Char(' ')), run.describe());
        }
    }
    // Asking for help runs nothing: no scan result, no progress.
    QVERIFY2(!run.outText().contains(QStringLiteral("найдено")), run.describe());
    QVERIFY(run.err.isEmpty());
}

void tst_CliDispatcher::versionShowsBundleVersionAndBuild()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const CliRun run = sandbox.run({QStringLiteral("--version")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    const std::optional<QString> version = AppInfo::bundleString(QStringLiteral("CFBundleShortVersionString"));
    const std::optional<QString> build = AppInfo::bundleString(QStringLiteral("CFBundleVersion"));
    QVERIFY(version && build);
    const QString text = run.outText();
    QVERIFY2(text.endsWith(QLatin1Char('\n')) && text.count(QLatin1Char('\n')) == 1, qPrintable(text));
    QVERIFY2(text.contains(*version) && text.contains(*build), qPrintable(text));
    QVERIFY(text.indexOf(*version) < text.lastIndexOf(*build));
}

void tst_CliDispatcher::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentioned");
    QTest::newRow("no arguments") << QStringList{} << QString();
    QTest::newRow("unknown command") << QStringList{QStringLiteral("frobnicate")} << QStringLiteral("frobnicate");
    QTest::newRow("command in wrong case") << QStringList{QStringLiteral("Scan"), QStringLiteral("systemJunk")}
                                           << QStringLiteral("Scan");
    QTest::newRow("help for unknown command") << QStringList{QStringLiteral("help"), QStringLiteral("nosuch")}
                                              << QStringLiteral("nosuch");
    QTest::newRow("version with argument") << QStringList{QStringLiteral("--version"), QStringLiteral("x")}
                                           << QStringLiteral("--version");
}

void tst_CliDispatcher::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentioned);
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const CliRun run = sandbox.run(arguments);
    QVERIFY2(run.finished, run.describe());
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.out.isEmpty(), run.describe());
    QVERIFY2(run.errText().contains(mentioned), run.err.constData());
    // The general usage text lists the commands.
    for (const QString& command : commands) {
        QVERIFY2(run.errText().contains(QStringLiteral("brisko ") + command + QLatin1Char(' ')), qPrintable(command));
    }
}

BRISKO_TEST(tst_CliDispatcher)
#include "tst_CliDispatcher.moc"
