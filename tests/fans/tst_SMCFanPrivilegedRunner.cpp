#include "BriskoTest.h"
#include "FakePkexec.h"
#include "TestValues.h"
#include "fans/SMCFanPrivilegedRunner.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <cmath>

using Kind = SMCFanPrivilegedRunner::RunError::Kind;

// The privileged runner against stand-ins for pkexec and the helper that are
// real processes.
class tst_SMCFanPrivilegedRunner : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TerminationFlag> m_flag;
    SMCFanPrivilegedRunner::Config config(const QString& pkexec, const QString& helper)
    {
        SMCFanPrivilegedRunner::Config c;
        c.pkexecPath = pkexec;
        c.helperPath = helper;
        c.termination = m_flag.get();
        c.runtimeRisk = [] { return AppRuntimeGuard::Risk::none; };
        return c;
    }

private Q_SLOTS:
    void init() { m_flag = std::make_unique<TerminationFlag>(); }

    void grantedRequestRunsTheHelperWithAnArgumentVector()
    {
        FakePkexec fake;
        const SMCFanPrivilegedRunner runner(config(fake.passThrough(), fake.helper(0, "готово")));
        QVERIFY(runner.isAvailable());
        SMCFanPrivilegedRunner::RunResult result = runner.setFanPercent(72.5);
        QVERIFY(result.ok());
        QCOMPARE(result.output, QStringLiteral("готово"));
        QVERIFY(runner.releaseFans().ok());
        QCOMPARE(fake.helperRuns(), QStringList({QStringLiteral("set-percent 73"), QStringLiteral("auto")}));
        // pkexec is given the helper's absolute path first.
        QVERIFY(fake.pkexecRuns().at(0).startsWith(runner.config().helperPath + QStringLiteral(" set-percent")));
        // An argument is never split or interpreted by a shell.
        QVERIFY(runner.run({QStringLiteral("a b; touch x"), QStringLiteral("$(id)")}).ok());
        QCOMPARE(fake.helperRuns().last(), QStringLiteral("a b; touch x $(id)"));
    }

    // Every way a request ends without the helper's work done: the error's
    // kind and wording, and how often pkexec ran (and the helper, if pkexec grants).
    void failures_data()
    {
        QTest::addColumn<QByteArray>("pkexec"); // "grants", "missing" or the status it ends with
        QTest::addColumn<int>("status"); // of the helper; -1: no helper
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<QByteArray>("state"); // "disk image": run from one; "quitting": the program ends
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("runs");
        const auto row = [](const char* name, const char* pkexec, int status, const char* out, const char* err,
                            const char* state, Kind kind, const QString& text, int runs) {
            QTest::newRow(name) << QByteArray(pkexec) << status << QByteArray(out) << QByteArray(err) << QByteArray(state)
                                << int(kind) << text << runs;
        };
        const QString cancelled = QStringLiteral("Запрос прав администратора отменён.");
        row("dialog dismissed", "126", 0, "", "", "", Kind::cancelled, cancelled, 1);
        row("not authorized or no agent", "127", 0, "", "", "", Kind::failed, SMCFanPrivilegedRunner::pkexecRefusedMessage, 1);
        row("helper's standard error", "grants", 1, "ignored", "SMC write failed\n", "", Kind::failed,
            QStringLiteral("SMC write failed"), 1);
        row("helper's standard output when error is empty", "grants", 3, "только вывод", "", "", Kind::failed,
            QStringLiteral("только вывод"), 1);
        row("silent helper", "grants", 4, "", "", "", Kind::failed,
            QStringLiteral("Помощник SMC завершился с ненулевым статусом 4."), 1);
        row("helper missing", "grants", -1, "", "", "", Kind::helperMissing,
            QStringLiteral("Встроенный помощник SMC не найден. Переустановите Brisko Vella."), 0);
        row("pkexec missing", "missing", 0, "", "", "", Kind::failed,
            QStringLiteral("Не найден pkexec: запросить права администратора нечем. Установите пакет pkexec (polkit)."), 0);
        row("run from a disk image", "grants", 0, "", "", "disk image", Kind::failed,
            AppRuntimeGuard::message(AppRuntimeGuard::Risk::diskImage), 0);
        row("quitting", "grants", 0, "", "", "quitting", Kind::cancelled, cancelled, 0);
    }
    void failures()
    {
        QFETCH(QByteArray, pkexec);
        QFETCH(int, status);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QFETCH(QByteArray, state);
        QFETCH(int, kind);
        QFETCH(QString, text);
        QFETCH(int, runs);
        FakePkexec fake;
        const QString pkexecPath = pkexec == "grants" ? fake.passThrough()
            : pkexec == "missing"                     ? fake.missing()
                                                      : fake.endingWith(pkexec.toInt(), "Error executing command");
        SMCFanPrivilegedRunner::Config c = config(pkexecPath, status < 0 ? fake.missing() : fake.helper(status, out, err));
        if (state == "disk image")
            c.runtimeRisk = [] { return AppRuntimeGuard::Risk::diskImage; };
        if (state == "quitting")
            m_flag->set();
        const SMCFanPrivilegedRunner runner(c);
        QCOMPARE(runner.isAvailable(), status >= 0);
        const SMCFanPrivilegedRunner::RunResult result = status > 0 ? runner.releaseFans() : runner.setFanPercent(50);
        QVERIFY(!result.ok());
        QCOMPARE(int(result.error->kind), kind);
        QCOMPARE(result.error->description(), text);
        QCOMPARE(fake.pkexecRuns().size(), runs);
        QCOMPARE(fake.helperRuns().size(), pkexec == "grants" ? runs : 0);
    }

    // Rounded half up into 0 to 100; not a number is 0.
    void percentArgument()
    {
        QStringList arguments;
        for (double percent : {75.0, 72.5, 72.4, 140.0, -3.0, -0.4, std::nan("")})
            arguments.append(SMCFanPrivilegedRunner::percentArgument(percent));
        QCOMPARE(arguments.join(QLatin1Char(' ')), QStringLiteral("75 73 72 100 0 0 0"));
    }

    void locatesTheHelper()
    {
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("bin")));
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("libexec/brisko-vella")));
        const QString bin = root.filePath(QStringLiteral("bin"));
        QCOMPARE(SMCFanPrivilegedRunner::locateHelper(bin), QString());
        const auto place = [](const QString& path, bool executable) {
            QVERIFY(writeAll(path, {}));
            QVERIFY(QFile::setPermissions(path, executable ? QFileDevice::ReadOwner | QFileDevice::ExeOwner
                                                           : QFileDevice::ReadOwner));
        };
        const QString beside = bin + QStringLiteral("/brisko-smc-helper");
        place(beside, false);
        QCOMPARE(SMCFanPrivilegedRunner::locateHelper(bin), QString());
        place(beside, true);
        QCOMPARE(SMCFanPrivilegedRunner::locateHelper(bin), beside);
        const QString installed = root.filePath(QStringLiteral("libexec/brisko-vella/brisko-smc-helper"));
        place(installed, true);
        QCOMPARE(SMCFanPrivilegedRunner::locateHelper(bin), installed);
    }

    void appleScriptSourceKeepsPathsIntact_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("escaped");
        QTest::newRow("plain") << "/Applications/Brisko Vella.app/Contents/Resources/SMCFanHelper"
                               << "/Applications/Brisko Vella.app/Contents/Resources/SMCFanHelper";
        QTest::newRow("double quote") << "/Volumes/My \"Disk\"/SMCFanHelper" << "/Volumes/My \\\"Disk\\\"/SMCFanHelper";
        QTest::newRow("backslash before quote") << "/tmp/a\\\"b" << "/tmp/a\\\\\\\"b";
        QTest::newRow("Cyrillic") << "/Программы/Бриско/SMCFanHelper" << "/Программы/Бриско/SMCFanHelper";
    }
    void appleScriptSourceKeepsPathsIntact()
    {
        QFETCH(QString, path);
        QFETCH(QString, escaped);
        QCOMPARE(SMCFanPrivilegedRunner::appleScriptEscaped(path), escaped);
        const QString source =
            SMCFanPrivilegedRunner::appleScriptSource(path, {QStringLiteral("set-percent"), QStringLiteral("75")});
        QCOMPARE(source, QStringLiteral("do shell script (quoted form of \"") + escaped
                             + QStringLiteral("\") & \" set-percent 75\" with administrator privileges"));
    }
};

BRISKO_TEST(tst_SMCFanPrivilegedRunner)
#include "tst_SMCFanPrivilegedRunner.moc"
