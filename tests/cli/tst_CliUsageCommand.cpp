#include "BriskoTest.h"
#include "CliSandbox.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {
QStringList words(const char* text)
{
    return QString::fromUtf8(text).split(QLatin1Char(' '));
}
} // namespace

// brisko usage on a sandbox home: the tree, its limits, verdicts and errors.
class tst_CliUsageCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void jsonTreeOfTheHome();
    void textShowsLargestFirstWithVerdicts();
    void refusals_data();
    void refusals();

private:
    static void fillHome(TempHome& home);
};

void tst_CliUsageCommand::fillHome(TempHome& home)
{
    home.makeFile(QStringLiteral(".cache/com.example.tool/blob"), 400000);
    home.makeFile(QStringLiteral(".cache/com.example.tool/more/x"), 1000);
    home.makeFile(QStringLiteral(".thunderbird/inbox"), 30000);
    home.makeFile(QStringLiteral("Документы/отчёт.pdf"), 150000);
    home.makeFile(QStringLiteral("Документы/мелочь.txt"), 10);
    home.makeFile(QStringLiteral("Документы/ещё.txt"), 20);
    home.makeFileNative("\xff\xfe-name.bin", 90000);
}

void tst_CliUsageCommand::jsonTreeOfTheHome()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    fillHome(sandbox.home());
    const CliRun run = sandbox.run({QStringLiteral("usage"), QStringLiteral("--json"), QStringLiteral("--depth"),
                                    QStringLiteral("4"), QStringLiteral("--top=2")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    const QJsonObject root = run.json().value_or(QJsonDocument()).object();

    QProcess du;
    du.start(QStringLiteral("du"), {QStringLiteral("-s"), QStringLiteral("-B1"), sandbox.home().path()});
    QVERIFY(du.waitForFinished());
    QCOMPARE(root.value(QLatin1String("size")).toInteger(), du.readAllStandardOutput().split('\t').value(0).toLongLong());
    QCOMPARE(root.value(QLatin1String("path")).toString(), sandbox.home().path());
    QStringList keys = root.keys();
    keys.sort();
    QCOMPARE(keys, words("children entries isDirectory name path risk size"));

    // Largest first, at most --top of them, down to --depth levels.
    QHash<QString, QJsonObject> byName;
    std::function<void(const QJsonObject&, int)> visit = [&](const QJsonObject& node, int depth) {
        byName.insert(node.value(QLatin1String("name")).toString(), node);
        const QJsonArray children = node.value(QLatin1String("children")).toArray();
        QVERIFY(children.size() <= 2);
        QVERIFY(depth < 4 || children.isEmpty());
        for (qsizetype i = 0; i < children.size(); ++i) {
            if (i > 0) {
                QVERIFY(children[i - 1].toObject().value(QLatin1String("size")).toInteger()
                        >= children[i].toObject().value(QLatin1String("size")).toInteger());
            }
            visit(children[i].toObject(), depth + 1);
        }
    };
    visit(root, 0);
    QCOMPARE(root.value(QLatin1String("children")).toArray().first().toObject().value(QLatin1String("name")),
             QJsonValue(QStringLiteral(".cache")));
    QCOMPARE(byName.value(QStringLiteral("com.example.tool")).value(QLatin1String("risk")), QJsonValue(QStringLiteral("safe")));
    QCOMPARE(byName.value(QStringLiteral("more")).value(QLatin1String("risk")), QJsonValue(QStringLiteral("caution")));
    QCOMPARE(byName.value(QStringLiteral("Документы")).value(QLatin1String("risk")), QJsonValue());
    QCOMPARE(byName.value(QStringLiteral("Документы")).value(QLatin1String("entries")).toInteger(), 4);
    QCOMPARE(byName.value(QStringLiteral("Документы")).value(QLatin1String("children")).toArray().size(), 2);
}

void tst_CliUsageCommand::textShowsLargestFirstWithVerdicts()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    fillHome(sandbox.home());
    const CliRun run = sandbox.run({QStringLiteral("usage"), sandbox.home().path(),
                                    QStringLiteral("--depth"), QStringLiteral("3")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    const QStringList lines = run.outText().split(QLatin1Char('\n'));
    const auto lineOf = [&lines](const QString& text) {
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (lines[i].contains(text)) {
                return i;
            }
        }
        return qsizetype(-1);
    };
    QVERIFY2(lineOf(QStringLiteral("com.example.tool/  [Безопасно]")) > 0, qPrintable(run.outText()));
    QVERIFY(lineOf(QStringLiteral(".thunderbird/  [Запрещено]")) > lineOf(QStringLiteral("com.example.tool/")));
    QVERIFY(lineOf(QStringLiteral(".cache/  [")) < 0);
    QVERIFY(lineOf(QStringLiteral("Карта: ")) > 0);
}

void tst_CliUsageCommand::refusals_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("negative depth") << words("usage --depth -1") << 2;
    QTest::newRow("word for top") << words("usage --top=many") << 2;
    QTest::newRow("two paths") << words("usage /a /b") << 2;
    QTest::newRow("unknown option") << words("usage --all") << 2;
    QTest::newRow("missing folder") << words("usage /nonexistent/folder") << 1;
}

void tst_CliUsageCommand::refusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const CliRun run = sandbox.run(arguments);
    QVERIFY2(run.finished && run.exitCode == exitCode, run.describe());
    QVERIFY(run.out.isEmpty());
    QVERIFY(!run.err.isEmpty());
}

BRISKO_TEST(tst_CliUsageCommand)
#include "tst_CliUsageCommand.moc"
