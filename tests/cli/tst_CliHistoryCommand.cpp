#include "BriskoTest.h"
#include "OperationSandbox.h"

#include "base/ByteCountFormatter.h"
#include "model/ReferenceDate.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

namespace {

constexpr qint64 mebibyte = 1024 * 1024;
// Above the 5 MiB from which a cache counts as service junk.
constexpr qint64 junkCacheSize = 6 * mebibyte;

} // namespace

class tst_CliHistoryCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void emptyHistory();
    void listsEveryOperationThatFreedSpaceNewestFirst();
    void argumentsAreUsageErrors();
};

void tst_CliHistoryCommand::emptyHistory()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());

    const CliRun run = sandbox.run({QStringLiteral("history")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    QCOMPARE(run.outText(), QStringLiteral("История пуста\n"));
    QVERIFY2(run.err.isEmpty(), run.describe());

    const QJsonObject history = sandbox.runJson({QStringLiteral("history"), QStringLiteral("--json")});
    QCOMPARE(history.value(QLatin1String("events")).toArray(), QJsonArray());
    const QJsonObject stats = history.value(QLatin1String("stats")).toObject();
    QCOMPARE(stats.value(QLatin1String("totalFreed")).toInteger(-1), 0);
    QCOMPARE(stats.value(QLatin1String("eventCount")).toInteger(-1), 0);
    QVERIFY(stats.value(QLatin1String("lastEvent")).isNull());
}

void tst_CliHistoryCommand::listsEveryOperationThatFreedSpaceNewestFirst()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    TempHome& home = sandbox.home();
    sandbox.makeHomeFile(QStringLiteral("Downloads/на архив.txt"), 30000);
    sandbox.makeHomeFile(QStringLiteral("Downloads/в корзину.txt"), 20000);
    home.makeFile(QStringLiteral(".cache/com.example.tool/blob"), junkCacheSize);
    home.makeFile(QStringLiteral(".cache/pip/blob"), 3 * mebibyte);
    QVERIFY(sandbox.setSetting(QStringLiteral("archivePath=") + sandbox.scratchPath(QStringLiteral("archive"))));

    struct Operation
    {
        QStringList arguments;
        QString action;
        QString countKey;
    };
    const Operation operations[] = {
        {{QStringLiteral("move"), QStringLiteral("downloadsInbox"), QStringLiteral("--only"),
          QStringLiteral("на архив.txt")},
         QStringLiteral("Перенос на архив"), QStringLiteral("moved")},
        {{QStringLiteral("trash"), QStringLiteral("downloadsInbox")}, QStringLiteral("Удаление в Корзину"),
         QStringLiteral("deleted")},
        {{QStringLiteral("clean"), QStringLiteral("systemJunk"), QStringLiteral("--only"),
          QStringLiteral("com.example.tool")},
         QStringLiteral("Очистка из скана"), QStringLiteral("deleted")},
        {{QStringLiteral("safe-cleanup"), QStringLiteral("clean")}, QStringLiteral("Безопасная очистка"),
         QStringLiteral("deleted")},
    };
    QList<qint64> freed;
    for (const Operation& operation : operations) {
        const QJsonObject result = sandbox.runJson(operation.arguments + QStringList{QStringLiteral("--json")});
        QCOMPARE(result.value(operation.countKey).toInteger(-1), 1);
        QVERIFY(result.value(QLatin1String("freedBytes")).toInteger() > 0);
        freed.prepend(result.value(QLatin1String("freedBytes")).toInteger());
    }
    // An undo frees nothing and records nothing.
    const QJsonObject undone = sandbox.runJson({QStringLiteral("undo"), QStringLiteral("--json")});
    QCOMPARE(undone.value(QLatin1String("moved")).toInteger(-1), 1);

    const QJsonObject history = sandbox.runJson({QStringLiteral("history"), QStringLiteral("--json")});
    const QJsonArray events = history.value(QLatin1String("events")).toArray();
    QCOMPARE(events.size(), 4);
    const QRegularExpression upperUuid(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    const double now = ReferenceDate::fromDateTime(QDateTime::currentDateTimeUtc());
    qint64 total = 0;
    for (qsizetype i = 0; i < events.size(); ++i) {
        const QJsonObject event = events.at(i).toObject();
        QCOMPARE(event.value(QLatin1String("action")).toString(), operations[3 - i].action);
        QCOMPARE(event.value(QLatin1String("itemCount")).toInteger(-1), 1);
        QCOMPARE(event.value(QLatin1String("bytesFreed")).toInteger(-1), freed.at(i));
        QVERIFY2(upperUuid.match(event.value(QLatin1String("id")).toString()).hasMatch(),
                 qPrintable(event.value(QLatin1String("id")).toString()));
        const double date = event.value(QLatin1String("date")).toDouble();
        QVERIFY(date <= now + 1 && date > now - 600);
        if (i > 0) {
            QVERIFY(date <= events.at(i - 1).toObject().value(QLatin1String("date")).toDouble());
        }
        total += freed.at(i);
    }
    const QJsonObject stats = history.value(QLatin1String("stats")).toObject();
    QCOMPARE(stats.value(QLatin1String("totalFreed")).toInteger(-1), total);
    QCOMPARE(stats.value(QLatin1String("eventCount")).toInteger(-1), 4);
    QCOMPARE(stats.value(QLatin1String("lastEvent")).toObject(), events.at(0).toObject());

    const CliRun run = sandbox.run({QStringLiteral("history")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    const QStringList lines = run.outText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 6); // header, four events, totals
    for (qsizetype i = 0; i < 4; ++i) {
        const QString& line = lines.at(i + 1);
        QVERIFY2(line.endsWith(operations[3 - i].action) && line.contains(ByteCountFormatter::format(freed.at(i))),
                 qPrintable(line));
    }
    QCOMPARE(lines.last(), QStringLiteral("Освобождено ") + ByteCountFormatter::format(total)
                               + QStringLiteral(", операций: 4"));
}

void tst_CliHistoryCommand::argumentsAreUsageErrors()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    for (const QStringList& arguments : {QStringList{QStringLiteral("history"), QStringLiteral("all")},
                                         QStringList{QStringLiteral("history"), QStringLiteral("--limit=5")}}) {
        const CliRun run = sandbox.run(arguments);
        QVERIFY2(run.finished, run.describe());
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.out.isEmpty(), run.describe());
        QVERIFY2(run.errText().contains(QStringLiteral("Использование: brisko history [--json]")), run.describe());
    }
}

BRISKO_TEST(tst_CliHistoryCommand)
#include "tst_CliHistoryCommand.moc"
