#include "BriskoTest.h"
#include "FakeApplesmcTree.h"
#include "FakePausingClock.h"
#include "fans/ApplesmcTransport.h"
#include "fans/SmcSimulator.h"
#include "helper/SmcHelperTool.h"

#include <QFileInfo>
#include <QProcess>

#include <algorithm>

namespace {

// The helper as pkexec would start it: its own process, arguments as a
// vector. Its exit code, or -1 when it did not end normally.
int runHelper(const QByteArrayList& arguments, QString* err, const QProcessEnvironment& environment = {})
{
    QStringList words;
    for (const QByteArray& argument : arguments)
        words.append(QString::fromUtf8(argument));
    QProcess process;
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.start(QStringLiteral(BRISKO_SMC_HELPER_BIN), words);
    const bool ended = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit;
    // Nothing on standard output, whatever happened.
    *err = QString::fromUtf8(process.readAllStandardError());
    return ended && process.readAllStandardOutput().isEmpty() ? process.exitCode() : -1;
}

bool machineHasAnSmc()
{
    const QStringList devices = ApplesmcTransport::deviceFolders();
    return std::any_of(devices.cbegin(), devices.cend(), [](const QString& device) { return QFileInfo::exists(device); });
}

} // namespace

// brisko-smc-helper: the argument rules as a real process, the work itself
// through its library function on the simulator; the drivers are the fans tests'.
class tst_SmcHelperTool : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<FakePausingClock> m_clock;

    SmcMachine simulated(const std::shared_ptr<SmcSimulator>& sim) { return {sim, m_clock, sim->modelIdentifier()}; }

private Q_SLOTS:
    void init() { m_clock = std::make_shared<FakePausingClock>(); }

    // Every list pkexec could hand over: the only accepted ones are "auto" and
    // "set-percent" with a plain decimal from 0 to 100.
    void argumentLists_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<int>("percent"); // -1: auto
        constexpr int refused = -2;
        // Bytes that are not text are refused before anything else (and cannot
        // be passed to a process as they are).
        constexpr int refusedBytes = -3;

        QTest::newRow("auto") << QByteArrayList{"auto"} << -1;
        for (int percent : {0, 7, 100})
            QTest::addRow("%d", percent) << QByteArrayList{"set-percent", QByteArray::number(percent)} << percent;
        QTest::newRow("not UTF-8") << QByteArrayList{"set-percent", "5\xFF"} << refusedBytes;
        QTest::newRow("auto, not UTF-8") << QByteArrayList{"au\xC3\xBCto"} << refusedBytes;
        QTest::newRow("NUL") << QByteArrayList{"set-percent", QByteArray("5\0", 2)} << refusedBytes;
        const QList<QByteArrayList> lists = {{}, {""}, {"auto", "now"}, {"AUTO"}, {"auto\n"}, {" auto"}, {"set-percent"},
                                             {"set-percent=50"}, {"set-percent", "50", "auto"}, {"50", "set-percent"},
                                             {"--help"}};
        for (const QByteArrayList& list : lists)
            QTest::addRow("%lld words [%s]", qlonglong(list.size()), list.join(' ').toPercentEncoding(" ").constData())
                << list << refused;
        // Only a plain decimal from 0 to 100 is a percentage.
        for (const char* word : {"", "101", "1000", "-1", "+50", "50.5", "50,5", "1e2", "0x32", "050", " 50", "50\n",
                                 "99999999999999999999", "５０", "٥٠", "пятьдесят", "50; rm -rf /"})
            QTest::addRow("set-percent [%s]", QByteArray(word).toPercentEncoding(" ").constData())
                << QByteArrayList{"set-percent", word} << refused;
    }

    void argumentLists()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(int, percent);
        QString message;
        const std::optional<SmcHelperTool::Command> command = SmcHelperTool::parse(arguments, &message);
        QCOMPARE(command.has_value(), percent >= -1);
        using Kind = SmcHelperTool::Command::Kind;
        if (command)
            QCOMPARE(command->kind, percent >= 0 ? Kind::setPercent : Kind::automatic);
        if (percent >= 0)
            QCOMPARE(command->percent, percent);
        QCOMPARE(message.isEmpty(), bool(command));
        if (percent != -2)
            return;
        // Refused as a process too, before anything is touched.
        QString err;
        QCOMPARE(runHelper(arguments, &err), SmcHelperTool::exitUsage);
        QVERIFY2(err.contains(QStringLiteral("Использование: brisko-smc-helper")), qPrintable(err));
    }

    void pastTheArgumentsOnlyTheRealDriverCounts()
    {
        if (machineHasAnSmc())
            QSKIP("this machine has an SMC; the helper must not touch its fans from a test");
        // Past the argument check the helper looks for the driver, which this
        // machine does not have. A simulator or another driver tree named in the
        // environment would succeed; the helper must not listen.
        FakeApplesmcTree tree;
        tree.addFan(1, 1500, 1000, 5000, 1000, QByteArray("Fan"));
        for (const QString& value : {QString(), QStringLiteral("sim:intel"), QStringLiteral("applesmc:") + tree.root()}) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            if (!value.isEmpty())
                environment.insert(QStringLiteral("BRISKO_SMC"), value);
            QString err;
            QCOMPARE(runHelper({"set-percent", "50"}, &err, environment), SmcHelperTool::exitFailed);
            QVERIFY2(err.startsWith(QStringLiteral("Не удалось открыть Apple SMC")), qPrintable(err));
        }
        QCOMPARE(tree.attribute(QStringLiteral("fan1_manual")), std::optional<QByteArray>("0"));
    }

    void writesWithTheStrategyOfTheModel()
    {
        // This firmware holds its fans until "Ftst" unlocks them: only the
        // strategy of the model's profile boosts them. The batches on every
        // machine are SMCFanWriter's test.
        const auto sim = SmcSimulator::create(QStringLiteral("m1-m4"), m_clock);
        QString message;
        QCOMPARE(SmcHelperTool::run({"set-percent", "100"}, simulated(sim), &message), SmcHelperTool::exitSuccess);
        QVERIFY(message.isEmpty());
        QCOMPARE(sim->fanMode(0), 1);
        QCOMPARE(sim->currentRPM(0), 5779);

        QCOMPARE(SmcHelperTool::run({"auto"}, simulated(sim), &message), SmcHelperTool::exitSuccess);
        QVERIFY(sim->fanMode(0) != 1);
        QCOMPARE(sim->openConnectionCount(), 0);
    }

    void failuresAreReportedAsText()
    {
        QString message;
        QCOMPARE(SmcHelperTool::run({"auto"}, {nullptr, m_clock, std::nullopt}, &message), SmcHelperTool::exitFailed);
        QVERIFY(message.startsWith(QStringLiteral("Не удалось открыть Apple SMC")));

        const auto readonly = SmcSimulator::create(QStringLiteral("intel"), m_clock);
        readonly->setWritesRefused(true);
        QCOMPARE(SmcHelperTool::run({"set-percent", "60"}, simulated(readonly), &message), SmcHelperTool::exitFailed);
        // Worded so that the program's advice recognises a failed SMC write.
        QVERIFY(message.contains(QStringLiteral("запись в SMC")));
        QCOMPARE(SmcHelperTool::run({"auto"}, simulated(readonly), &message), SmcHelperTool::exitFailed);
        QVERIFY(message.contains(QStringLiteral("запись в SMC")));

        const auto fanless = SmcSimulator::create(QStringLiteral("fanless"), m_clock);
        QCOMPARE(SmcHelperTool::run({"set-percent", "60"}, simulated(fanless), &message), SmcHelperTool::exitFailed);
        QCOMPARE(message, QStringLiteral("SMC не сообщил ни одного вентилятора."));
        QCOMPARE(SmcHelperTool::run({"auto"}, simulated(fanless), &message), SmcHelperTool::exitSuccess);
    }
};

// pkexec keeps 126 and 127 for itself.
static_assert(SmcHelperTool::exitUsage > 0 && SmcHelperTool::exitUsage < 126);

BRISKO_TEST(tst_SmcHelperTool)
#include "tst_SmcHelperTool.moc"
