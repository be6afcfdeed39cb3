#include "BriskoTest.h"
#include "FakePkexec.h"
#include "fans/SMCFanPrivilegedRunner.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <cmath>

namespace {

using Kind = SMCFanPrivilegedRunner::RunError::Kind;

// What AppleScript makes of the text between the double quotes of a string
// literal: a backslash takes the next character as it is.
QString appleScriptLiteral(const QString& escaped)
{
    QString text;
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        if (escaped.at(i) == QLatin1Char('\\') && i + 1 < escaped.size()) {
            ++i;
        }
        text.append(escaped.at(i));
    }
    return text;
}

} // namespace

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

    void grantedRequestRunsTheHelperWithAnArgumentVector();
    void pkexecOutcomes_data();
    void pkexecOutcomes();
    void helperFailures_data();
    void helperFailures();
    void refusedBeforeAnyDialog();
    void percentArgument_data();
    void percentArgument();
    void locatesTheHelper();
    void appleScriptSourceKeepsPathsIntact_data();
    void appleScriptSourceKeepsPathsIntact();
};

void tst_SMCFanPrivilegedRunner::grantedRequestRunsTheHelperWithAnArgumentVector()
{
    FakePkexec fake;
    QVERIFY(fake.isValid());
    const SMCFanPrivilegedRunner runner(config(fake.passThrough(), fake.helper(0, "готово")));
    QVERIFY(runner.isAvailable());

    SMCFanPrivilegedRunner::RunResult result = runner.setFanPercent(72.5);
    QVERIFY(result.ok());
    QCOMPARE(result.output, QStringLiteral("готово"));
    result = runner.releaseFans();
    QVERIFY(result.ok());
    QCOMPARE(fake.helperRuns(), QStringList({QStringLiteral("set-percent 73"), QStringLiteral("auto")}));
    // pkexec is given the helper's absolute path first.
    QVERIFY(fake.pkexecRuns().at(0).startsWith(runner.config().helperPath + QStringLiteral(" set-percent")));

    // An argument is never split or interpreted by a shell.
    result = runner.run({QStringLiteral("a b; touch x"), QStringLiteral("$(id)")});
    QVERIFY(result.ok());
    QCOMPARE(fake.helperRuns().last(), QStringLiteral("a b; touch x $(id)"));
}

void tst_SMCFanPrivilegedRunner::pkexecOutcomes_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("description");

    QTest::newRow("dialog dismissed") << 126 << int(Kind::cancelled)
                                      << QStringLiteral("Запрос прав администратора отменён.");
    QTest::newRow("not authorized or no agent") << 127 << int(Kind::failed)
                                                << SMCFanPrivilegedRunner::pkexecRefusedMessage;
}

void tst_SMCFanPrivilegedRunner::pkexecOutcomes()
{
    QFETCH(int, status);
    QFETCH(int, kind);
    QFETCH(QString, description);
    FakePkexec fake;
    const SMCFanPrivilegedRunner runner(config(fake.endingWith(status, "Error executing command"), fake.helper()));
    const SMCFanPrivilegedRunner::RunResult result = runner.setFanPercent(50);
    QVERIFY(!result.ok());
    QCOMPARE(int(result.error->kind), kind);
    QCOMPARE(result.error->description(), description);
    QVERIFY(fake.helperRuns().isEmpty());
    QCOMPARE(fake.pkexecRuns().size(), 1);
}

void tst_SMCFanPrivilegedRunner::helperFailures_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::addColumn<QString>("text");

    QTest::newRow("standard error") << 1 << QByteArray("ignored") << QByteArray("SMC write failed\n")
                                    << "SMC write failed";
    QTest::newRow("standard output when error is empty") << 3 << QByteArray("только вывод") << QByteArray()
                                                         << "только вывод";
    QTest::newRow("silent") << 4 << QByteArray() << QByteArray()
                            << "Помощник SMC завершился с ненулевым статусом 4.";
}

void tst_SMCFanPrivilegedRunner::helperFailures()
{
    QFETCH(int, status);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QFETCH(QString, text);
    FakePkexec fake;
    const SMCFanPrivilegedRunner runner(config(fake.passThrough(), fake.helper(status, out, err)));
    const SMCFanPrivilegedRunner::RunResult result = runner.releaseFans();
    QVERIFY(!result.ok());
    QCOMPARE(int(result.error->kind), int(Kind::failed));
    QCOMPARE(result.error->description(), text);
}

void tst_SMCFanPrivilegedRunner::refusedBeforeAnyDialog()
{
    FakePkexec fake;
    const QString pkexec = fake.passThrough();
    const QString helper = fake.helper();

    SMCFanPrivilegedRunner::Config missingHelper = config(pkexec, fake.missing());
    SMCFanPrivilegedRunner::RunResult result = SMCFanPrivilegedRunner(missingHelper).setFanPercent(50);
    QCOMPARE(int(result.error->kind), int(Kind::helperMissing));
    QCOMPARE(result.error->description(),
             QStringLiteral("Встроенный помощник SMC не найден. Переустановите Brisko Vella."));
    QVERIFY(!SMCFanPrivilegedRunner(missingHelper).isAvailable());

    result = SMCFanPrivilegedRunner(config(fake.missing(), helper)).setFanPercent(50);
    QCOMPARE(int(result.error->kind), int(Kind::failed));
    QVERIFY(result.error->text.contains(QLatin1String("pkexec")));

    SMCFanPrivilegedRunner::Config fromDiskImage = config(pkexec, helper);
    fromDiskImage.runtimeRisk = [] { return AppRuntimeGuard::Risk::diskImage; };
    result = SMCFanPrivilegedRunner(fromDiskImage).setFanPercent(50);
    QCOMPARE(int(result.error->kind), int(Kind::failed));
    QCOMPARE(result.error->text, AppRuntimeGuard::message(AppRuntimeGuard::Risk::diskImage));

    m_flag->set();
    result = SMCFanPrivilegedRunner(config(pkexec, helper)).releaseFans();
    QCOMPARE(int(result.error->kind), int(Kind::cancelled));

    QVERIFY(fake.pkexecRuns().isEmpty());
    QVERIFY(fake.helperRuns().isEmpty());
}

void tst_SMCFanPrivilegedRunner::percentArgument_data()
{
    QTest::addColumn<double>("percent");
    QTest::addColumn<QString>("argument");

    QTest::newRow("75") << 75.0 << "75";
    QTest::newRow("72.5 rounds up") << 72.5 << "73";
    QTest::newRow("72.4 rounds down") << 72.4 << "72";
    QTest::newRow("140 is 100") << 140.0 << "100";
    QTest::newRow("-3 is 0") << -3.0 << "0";
    QTest::newRow("-0.4 is 0") << -0.4 << "0";
    QTest::newRow("not a number is 0") << std::nan("") << "0";
}

void tst_SMCFanPrivilegedRunner::percentArgument()
{
    QFETCH(double, percent);
    QFETCH(QString, argument);
    QCOMPARE(SMCFanPrivilegedRunner::percentArgument(percent), argument);
}

void tst_SMCFanPrivilegedRunner::locatesTheHelper()
{
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("bin")));
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("libexec/brisko-vella")));
    const QString bin = root.filePath(QStringLiteral("bin"));
    QCOMPARE(SMCFanPrivilegedRunner::locateHelper(bin), QString());

    const auto place = [](const QString& path, bool executable) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(file.setPermissions(executable ? QFileDevice::ReadOwner | QFileDevice::ExeOwner
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

void tst_SMCFanPrivilegedRunner::appleScriptSourceKeepsPathsIntact_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("escaped");

    QTest::newRow("plain") << "/Applications/Brisko Vella.app/Contents/Resources/SMCFanHelper"
                           << "/Applications/Brisko Vella.app/Contents/Resources/SMCFanHelper";
    QTest::newRow("double quote") << "/Volumes/My \"Disk\"/SMCFanHelper" << "/Volumes/My \\\"Disk\\\"/SMCFanHelper";
    QTest::newRow("backslash before quote") << "/tmp/a\\\"b" << "/tmp/a\\\\\\\"b";
    QTest::newRow("Cyrillic") << "/Программы/Бриско/SMCFanHelper" << "/Программы/Бриско/SMCFanHelper";
}

void tst_SMCFanPrivilegedRunner::appleScriptSourceKeepsPathsIntact()
{
    QFETCH(QString, path);
    QFETCH(QString, escaped);
    QCOMPARE(SMCFanPrivilegedRunner::appleScriptEscaped(path), escaped);

    const QString source =
        SMCFanPrivilegedRunner::appleScriptSource(path, {QStringLiteral("set-percent"), QStringLiteral("75")});
    QCOMPARE(source, QStringLiteral("do shell script (quoted form of \"") + escaped
                         + QStringLiteral("\") & \" set-percent 75\" with administrator privileges"));
    // Read back as AppleScript reads the literal, the path is the original.
    const QRegularExpression literal(QStringLiteral("^do shell script \\(quoted form of \"((?:[^\"\\\\]|\\\\.)*)\"\\)"));
    const QRegularExpressionMatch match = literal.match(source);
    QVERIFY(match.hasMatch());
    QCOMPARE(appleScriptLiteral(match.captured(1)), path);
}

BRISKO_TEST(tst_SMCFanPrivilegedRunner)
#include "tst_SMCFanPrivilegedRunner.moc"
