#include "BriskoTest.h"
#include "CliSandbox.h"
#include "FakeApplesmcTree.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonObject>
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
    void coolingJsonOnEveryProfile_data();
    void coolingJsonOnEveryProfile();
    void coolingText();
    void coolingWithoutSmc();
    void unknownSimulatorProfile();
    void usageErrors_data();
    void usageErrors();
    void fansAutoHandsBack();
    void boostWithoutFansIsRefused();
    void boostFallsBackToTheHelperWhenWritesAreRefused();
    void boostHoldsUntilASignalAndThenReleases_data();
    void boostHoldsUntilASignalAndThenReleases();
};

void tst_CliCooling::coolingJsonOnEveryProfile_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<int>("fans");
    QTest::addColumn<double>("hottest");
    QTest::addColumn<bool>("controllable");

    QTest::newRow("intel") << "intel" << 2 << 55.0 << true;
    QTest::newRow("m5") << "m5" << 1 << 58.0 << true;
    QTest::newRow("fanless") << "fanless" << 0 << 40.0 << false;
}

void tst_CliCooling::coolingJsonOnEveryProfile()
{
    QFETCH(QString, profile);
    QFETCH(int, fans);
    QFETCH(double, hottest);
    QFETCH(bool, controllable);
    CliSandbox sandbox;
    const CliRun run = sandbox.run({QStringLiteral("cooling"), QStringLiteral("--json")},
                                   withSmc(sandbox, QStringLiteral("sim:") + profile));
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    const std::optional<QJsonDocument> json = run.json();
    QVERIFY(json && json->isObject());
    const QJsonObject snapshot = json->object();
    QCOMPARE(snapshot.value(QLatin1String("fans")).toArray().size(), fans);
    QCOMPARE(snapshot.value(QLatin1String("maxTemperature")).toDouble(), hottest);
    QCOMPARE(snapshot.value(QLatin1String("isControllable")).toBool(), controllable);
    const QJsonArray temperatures = snapshot.value(QLatin1String("temperatures")).toArray();
    QVERIFY(!temperatures.isEmpty());
    QCOMPARE(temperatures.first().toObject().value(QLatin1String("celsius")).toDouble(), hottest);
    for (qsizetype i = 1; i < temperatures.size(); ++i) {
        QVERIFY(temperatures.at(i - 1).toObject().value(QLatin1String("celsius")).toDouble()
                >= temperatures.at(i).toObject().value(QLatin1String("celsius")).toDouble());
    }
    for (const QJsonValue& fan : snapshot.value(QLatin1String("fans")).toArray()) {
        const QJsonObject object = fan.toObject();
        for (const char* key : {"id", "name", "currentRPM", "minimumRPM", "maximumRPM", "targetRPM"}) {
            QVERIFY2(object.contains(QLatin1String(key)), key);
        }
        QVERIFY(object.value(QLatin1String("maximumRPM")).toInt() > object.value(QLatin1String("minimumRPM")).toInt());
    }
    QCOMPARE(snapshot.contains(QLatin1String("note")), fans > 0);
}

void tst_CliCooling::coolingText()
{
    CliSandbox sandbox;
    const CliRun run = sandbox.run({QStringLiteral("cooling")}, withSmc(sandbox, QStringLiteral("sim:intel")));
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    const QString text = run.outText();
    QVERIFY(text.startsWith(QStringLiteral("Температура (макс. 55\u00a0°C):\n")));
    QVERIFY(text.contains(QStringLiteral("CPU (ядро)  55,0\u00a0°C")));
    QVERIFY(text.contains(QStringLiteral("Left fan   1800 RPM  мин. 1200, цель 1800, макс. 5800")));
    QVERIFY(text.contains(QStringLiteral("Ручной boost доступен.")));
}

void tst_CliCooling::coolingWithoutSmc()
{
    CliSandbox sandbox;
    const CliRun run = sandbox.run({QStringLiteral("cooling"), QStringLiteral("--json")},
                                   withSmc(sandbox, QStringLiteral("none")));
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    const QJsonObject snapshot = run.json()->object();
    QCOMPARE(snapshot.value(QLatin1String("note")).toString(), QStringLiteral("Apple SMC недоступен."));
    QVERIFY(!snapshot.contains(QLatin1String("maxTemperature")));
    QVERIFY(!snapshot.value(QLatin1String("isControllable")).toBool());
    QVERIFY(run.errText().contains(QStringLiteral("Apple SMC недоступен. Перезагрузите Mac.")));

    // The driver's folder exists but holds nothing.
    FakeApplesmcTree empty;
    const CliRun bare = sandbox.run({QStringLiteral("cooling")},
                                    withSmc(sandbox, QStringLiteral("applesmc:") + empty.root()));
    QVERIFY2(bare.finished && bare.exitCode == 0, bare.describe());
    QVERIFY(bare.outText().contains(QStringLiteral("Датчики SMC не ответили.")));
}

void tst_CliCooling::unknownSimulatorProfile()
{
    CliSandbox sandbox;
    const CliRun run = sandbox.run({QStringLiteral("cooling")}, withSmc(sandbox, QStringLiteral("sim:m9")));
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.errText().contains(QStringLiteral("неизвестный профиль «m9»")));
    QCOMPARE(run.errText().count(QStringLiteral("неизвестный профиль")), 1);
}

void tst_CliCooling::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    const auto words = [](std::initializer_list<const char*> list) {
        QStringList result;
        for (const char* word : list) {
            result.append(QString::fromUtf8(word));
        }
        return result;
    };
    QTest::newRow("cooling extra") << words({"cooling", "now"});
    QTest::newRow("cooling unknown option") << words({"cooling", "--yaml"});
    QTest::newRow("fans alone") << words({"fans"});
    QTest::newRow("fans unknown") << words({"fans", "turbo"});
    QTest::newRow("boost without percent") << words({"fans", "boost"});
    QTest::newRow("boost 150") << words({"fans", "boost", "150"});
    QTest::newRow("boost word") << words({"fans", "boost", "много"});
    QTest::newRow("boost two values") << words({"fans", "boost", "50", "60"});
}

void tst_CliCooling::usageErrors()
{
    QFETCH(QStringList, arguments);
    CliSandbox sandbox;
    const CliRun run = sandbox.run(arguments, withSmc(sandbox, QStringLiteral("sim:intel")));
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.out.isEmpty());
    QVERIFY(run.errText().contains(QStringLiteral("Использование: brisko ") + arguments.first()));
}

void tst_CliCooling::fansAutoHandsBack()
{
    CliSandbox sandbox;
    // Without fans there is nothing to hand back and nobody to ask for a password.
    for (const char* profile : {"m1-m4", "fanless"}) {
        const CliRun run = sandbox.run({QStringLiteral("fans"), QStringLiteral("auto")},
                                       withSmc(sandbox, QStringLiteral("sim:") + QLatin1String(profile)));
        QVERIFY2(run.finished && run.exitCode == 0, run.describe());
        QVERIFY(run.outText().endsWith(QStringLiteral("Вентиляторы работают под управлением системы.\n")));
    }
}

void tst_CliCooling::boostWithoutFansIsRefused()
{
    CliSandbox sandbox;
    const CliRun run = sandbox.run({QStringLiteral("fans"), QStringLiteral("boost"), QStringLiteral("50")},
                                   withSmc(sandbox, QStringLiteral("sim:fanless")));
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.errText(), QStringLiteral("brisko: Управление вентиляторами недоступно на этом Mac.\n"));
}

void tst_CliCooling::boostFallsBackToTheHelperWhenWritesAreRefused()
{
    if (QFileInfo::exists(QStringLiteral("/usr/bin/pkexec")) || QFileInfo::exists(QStringLiteral("/bin/pkexec"))) {
        QSKIP("pkexec is installed: the fallback would ask for a password");
    }
    CliSandbox sandbox;
    const CliRun run = sandbox.run({QStringLiteral("fans"), QStringLiteral("boost"), QStringLiteral("50")},
                                   withSmc(sandbox, QStringLiteral("sim:intel:readonly")));
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    // The helper was found beside the program; asking for the password is what failed.
    QVERIFY2(run.errText().contains(QStringLiteral("Не найден pkexec")), run.err);
}

void tst_CliCooling::boostHoldsUntilASignalAndThenReleases_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void tst_CliCooling::boostHoldsUntilASignalAndThenReleases()
{
    QFETCH(int, signal);
    CliSandbox sandbox;
    FakeApplesmcTree tree;
    tree.addFan(1, 2000, 2000, 6200, 2000, QByteArray("Left side"));
    tree.addFan(2, 2000, 2000, 5800, 2000, QByteArray("Right side"));
    tree.addTemperature(1, "TC0P", 64000);
    tree.setModel("MacBookPro15,1");

    QProcess process;
    process.setProcessEnvironment(withSmc(sandbox, QStringLiteral("applesmc:") + tree.root()));
    process.start(CliSandbox::program(), {QStringLiteral("fans"), QStringLiteral("boost"), QStringLiteral("60")});
    QVERIFY(process.waitForStarted(60000));
    QByteArray out;
    QDeadlineTimer deadline(60000);
    while (!out.contains("Нажмите Ctrl+C") && process.state() == QProcess::Running && !deadline.hasExpired()) {
        process.waitForReadyRead(1000);
        out += process.readAllStandardOutput();
    }
    QVERIFY2(out.contains("Вентиляторы ускорены до 60 %"), out + process.readAllStandardError());
    QCOMPARE(tree.attribute(QStringLiteral("fan1_manual")), std::optional<QByteArray>("1"));
    QCOMPARE(tree.attribute(QStringLiteral("fan1_output")), std::optional<QByteArray>("4520"));
    QCOMPARE(tree.attribute(QStringLiteral("fan2_output")), std::optional<QByteArray>("4280"));
    // Still holding.
    QVERIFY(!process.waitForFinished(200));

    ::kill(pid_t(process.processId()), signal);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QCOMPARE(tree.attribute(QStringLiteral("fan1_manual")), std::optional<QByteArray>("0"));
    QCOMPARE(tree.attribute(QStringLiteral("fan2_manual")), std::optional<QByteArray>("0"));
    QVERIFY(QString::fromUtf8(process.readAllStandardError())
                .contains(QStringLiteral("Вентиляторы возвращены под управление системы.")));
}

BRISKO_TEST(tst_CliCooling)
#include "tst_CliCooling.moc"
