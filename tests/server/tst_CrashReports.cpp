#include "BriskoTest.h"
#include "TestValues.h"
#include "ServerTestCase.h"

#include "server/CrashRecord.h"
#include "server/ErrorReportingService.h"

#include <QProcess>
#include <QtTest>

// A process that dies leaves a report in its crash file; the next launch
// sends it under the feature crash. The dying is done by a real child process.
class tst_CrashReports : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void deathLeavesAReportTheNextLaunchSends_data();
    void deathLeavesAReportTheNextLaunchSends();
    void reportWaitsUntilConfiguredAndIsDroppedWhenOff();
    void damagedFileIsDropped();

private:
    bool crash(const QString& mode)
    {
        QProcess process;
        process.start(QStringLiteral(CRASH_HELPER), {crashFile(), mode});
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return false;
        }
        return process.exitStatus() == QProcess::CrashExit;
    }
    std::unique_ptr<ErrorReportingService> makeService()
    {
        return std::make_unique<ErrorReportingService>(m_bed->store, m_bed->clock, m_bed->client(),
                                                       ServerTestBed::info(), crashFile());
    }
    QString crashFile() const { return m_bed->path(QStringLiteral("defaults.crash")); }
    QString endpoint() const { return m_bed->endpoint(errors); }

    const QString errors = QStringLiteral("errors.php");
};

void tst_CrashReports::deathLeavesAReportTheNextLaunchSends_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("exception");
    QTest::addColumn<QString>("message");
    QTest::newRow("invalid memory access") << "segv" << "SIGSEGV" << "Fatal signal SIGSEGV (invalid memory access)";
    QTest::newRow("arithmetic error") << "fpe" << "SIGFPE" << "Fatal signal SIGFPE (arithmetic error)";
    QTest::newRow("abort") << "abort" << "SIGABRT" << "Fatal signal SIGABRT (abort)";
    QTest::newRow("uncaught exception") << "exception" << "std::runtime_error" << "Диск отключён во время переноса";
    QTest::newRow("uncaught non-exception") << "foreign" << "int" << "int";
}

void tst_CrashReports::deathLeavesAReportTheNextLaunchSends()
{
    QFETCH(QString, mode);
    QFETCH(QString, exception);
    QFETCH(QString, message);
    QVERIFY(crash(mode));

    const std::optional<CrashRecord> record = CrashRecord::read(crashFile());
    QVERIFY(record);
    QCOMPARE(record->exception, exception);
    QCOMPARE(record->message, message);
    QVERIFY(!record->frames.isEmpty());
    QVERIFY(record->frames.size() <= 15);
    QVERIFY2(!record->frames.first().startsWith(QLatin1Char('/')), qPrintable(record->frames.first()));

    auto service = makeService();
    service->configure(endpoint(), true, QStringLiteral("id"));
    QTRY_COMPARE(m_bed->received(errors).size(), 1);
    const QJsonObject sent = m_bed->received(errors).first().json();
    QCOMPARE(sent.value(QLatin1String("feature")).toString(), QStringLiteral("crash"));
    QCOMPARE(sent.value(QLatin1String("message")).toString(), message);
    const QJsonObject context = sent.value(QLatin1String("context")).toObject();
    QCOMPARE(context.value(QLatin1String("exception")).toString(), exception);
    QVERIFY(!context.value(QLatin1String("stack")).toString().isEmpty());
    QVERIFY(!QFile::exists(crashFile()));

    // The launch after that has nothing more to send.
    QVERIFY(ServerTestBed::await(service->flushQueue()));
    auto nextLaunch = makeService();
    nextLaunch->configure(endpoint(), true, QStringLiteral("id"));
    QVERIFY(ServerTestBed::await(nextLaunch->flushQueue()));
    QCOMPARE(m_bed->received(errors).size(), 1);
}

void tst_CrashReports::reportWaitsUntilConfiguredAndIsDroppedWhenOff()
{
    QVERIFY(crash(QStringLiteral("segv")));
    auto service = makeService();
    service->configure(QString(), true, QStringLiteral("id"));
    QVERIFY(ServerTestBed::await(service->flushQueue()));
    QVERIFY(QFile::exists(crashFile()));
    QVERIFY(service->loadQueue().isEmpty());

    service->configure(endpoint(), false, QStringLiteral("id"));
    QVERIFY(!QFile::exists(crashFile()));
    service->configure(endpoint(), true, QStringLiteral("id"));
    QVERIFY(ServerTestBed::await(service->flushQueue()));
    QVERIFY(m_bed->received(errors).isEmpty());
    QVERIFY(service->loadRecent().isEmpty());
}

void tst_CrashReports::damagedFileIsDropped()
{
    QVERIFY(writeAll(crashFile(), "brisko-crash\nexception: SIGSEGV\nstack:\n"));
    QVERIFY(!CrashRecord::read(crashFile()));
    auto service = makeService();
    service->configure(endpoint(), true, QStringLiteral("id"));
    QVERIFY(ServerTestBed::await(service->flushQueue()));
    QVERIFY(!QFile::exists(crashFile()));
    QVERIFY(m_bed->received(errors).isEmpty());

    QVERIFY(!CrashRecord::parse("something else\nmessage: x\n"));
    const std::optional<CrashRecord> parsed = CrashRecord::parse(
        "brisko-crash\nexception: SIGBUS\nmessage: Fatal signal SIGBUS (bus error)\nstack:\n"
        "/opt/Brisko Vella/bin/brisko(_Z4walkv+0x1d) [0x55d0c0de]\n/usr/lib/libc.so.6(+0x3bfd0) [0x7f00]\n");
    QVERIFY(parsed);
    QCOMPARE(parsed->frames,
             QStringList({QStringLiteral("brisko(_Z4walkv+0x1d) [0x55d0c0de]"), QStringLiteral("libc.so.6(+0x3bfd0) [0x7f00]")}));
}

BRISKO_TEST(tst_CrashReports)
#include "tst_CrashReports.moc"
