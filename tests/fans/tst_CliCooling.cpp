#include "BriskoTest.h"
#include "CliSandbox.h"
#include "FakeApplesmcTree.h"

#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <csignal>

// brisko cooling and brisko fans as users run them, on the simulator and on a
// fake driver tree.
class tst_CliCooling : public QObject
{
    Q_OBJECT

private:
    static QProcessEnvironment withSmc(const CliSandbox& sandbox, const QString& smc)
    {
        QProcessEnvironment environment = sandbox.environment();
        environment.insert(QStringLiteral("BRISKO_SMC"), smc);
        return environment;
    }

private Q_SLOTS:
    // Exit status and what each run says, once, on either stream ("!": never).
    // The argument rules themselves are the dispatcher's test.
    void outcomes_data()
    {
        QTest::addColumn<QString>("words");
        // "applesmc:" alone: an empty driver folder made for the row.
        QTest::addColumn<QString>("smc");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("said");
        const auto row = [](const char* words, const char* smc, int exitCode, const QStringList& said) {
            QTest::newRow((QByteArray(words) + " on " + smc).constData())
                << QString::fromUtf8(words) << QString::fromUtf8(smc) << exitCode << said;
        };
        row("cooling", "sim:intel", 0,
            {QStringLiteral("Температура (макс. 55\u00a0°C):\n"), QStringLiteral("CPU (ядро)  55,0\u00a0°C"),
             QStringLiteral("Left fan   1800 RPM  мин. 1200, цель 1800, макс. 5800"),
             QStringLiteral("Ручной boost доступен.")});
        row("cooling", "none", 1, {QStringLiteral("Apple SMC недоступен. Перезагрузите Mac.")});
        row("cooling", "applesmc:", 0, {QStringLiteral("Датчики SMC не ответили.")});
        row("cooling", "sim:m9", 1, {QStringLiteral("неизвестный профиль «m9»")});
        row("fans boost 150", "sim:intel", 2, {QStringLiteral("Использование: brisko fans")});
        row("fans boost 50", "sim:fanless", 1,
            {QStringLiteral("brisko: Управление вентиляторами недоступно на этом Mac.\n")});
        // The helper is found beside the program; asking for the password is what fails.
        row("fans boost 50", "sim:intel:readonly", 1, {QStringLiteral("Не найден pkexec")});
        // Without fans there is nothing to hand back and nobody to ask for a password.
        row("fans auto", "sim:fanless", 0, {QStringLiteral("Вентиляторы работают под управлением системы.\n")});
        row("cooling --json", "sim:intel", 0,
            {QStringLiteral("\"currentRPM\": 1800,"), QStringLiteral("\"id\": 1,"),
             QStringLiteral("\"maximumRPM\": 5800,\n            \"minimumRPM\": 1200,\n            \"name\": \"Left fan\",\n"
                            "            \"targetRPM\": 1800"),
             QStringLiteral("\"isControllable\": true,"), QStringLiteral("\"maxTemperature\": 55,"),
             QStringLiteral("\"celsius\": 55,"), QStringLiteral("\"note\": \"Ручной boost доступен.")});
        row("cooling --json", "sim:fanless", 0, {QStringLiteral("\"fans\": [\n    ],"), QStringLiteral("!\"note\"")});
        row("cooling --json", "none", 1,
            {QStringLiteral("\"fans\": [\n    ],"), QStringLiteral("\"isControllable\": false,"),
             QStringLiteral("\"note\": \"Apple SMC недоступен.\""), QStringLiteral("\"temperatures\": [\n    ]"),
             QStringLiteral("!maxTemperature")});
    }
    void outcomes()
    {
        QFETCH(QString, words);
        QFETCH(QString, smc);
        QFETCH(int, exitCode);
        QFETCH(QStringList, said);
        if (smc.endsWith(QLatin1String(":readonly"))
            && (QFileInfo::exists(QStringLiteral("/usr/bin/pkexec")) || QFileInfo::exists(QStringLiteral("/bin/pkexec")))) {
            QSKIP("pkexec is installed: the fallback would ask for a password");
        }
        CliSandbox sandbox;
        FakeApplesmcTree empty;
        const CliRun run = sandbox.run(words.split(QLatin1Char(' ')),
                                       withSmc(sandbox, smc == QLatin1String("applesmc:") ? smc + empty.root() : smc));
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, exitCode);
        const QString output = run.outText() + run.errText();
        for (const QString& text : said) {
            const bool never = text.startsWith(QLatin1Char('!'));
            QVERIFY2(output.count(never ? text.mid(1) : text) == (never ? 0 : 1),
                     qPrintable(text + QLatin1Char('\n') + QString::fromUtf8(run.describe())));
        }
    }

    void boostHoldsUntilASignalAndThenReleases_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void boostHoldsUntilASignalAndThenReleases()
    {
        QFETCH(int, signal);
        CliSandbox sandbox;
        FakeApplesmcTree tree;
        tree.addFan(1, 2000, 2000, 6200, 2000, QByteArray("Left side"));
        tree.addTemperature(1, "TC0P", 64000);
        QProcess process;
        process.setProcessEnvironment(withSmc(sandbox, QStringLiteral("applesmc:") + tree.root()));
        process.start(CliSandbox::program(), {QStringLiteral("fans"), QStringLiteral("boost"), QStringLiteral("60")});
        QVERIFY(process.waitForStarted(60000));
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += process.readAllStandardOutput()).contains("Нажмите Ctrl+C")
                                     || process.state() != QProcess::Running,
                                 60000);
        QVERIFY2(out.contains("Вентиляторы ускорены до 60 %"), out + process.readAllStandardError());
        QCOMPARE(tree.attribute(QStringLiteral("fan1_manual")), std::optional<QByteArray>("1"));
        ::kill(pid_t(process.processId()), signal);
        QVERIFY(process.waitForFinished(60000));
        // Ended by the signal, so it was still holding when the signal came.
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QCOMPARE(tree.attribute(QStringLiteral("fan1_manual")), std::optional<QByteArray>("0"));
        QVERIFY(QString::fromUtf8(process.readAllStandardError())
                    .contains(QStringLiteral("Вентиляторы возвращены под управление системы.")));
    }
};

BRISKO_TEST(tst_CliCooling)
#include "tst_CliCooling.moc"
