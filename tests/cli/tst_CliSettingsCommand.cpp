#include "BriskoTest.h"
#include "CliSandbox.h"
#include "model/AppSettings.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

class tst_CliSettingsCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void getOnFreshStoreShowsDefaultsWithoutWriting();
    void setRoundTripsEveryKindOfField();
    void listsAndDatesTakeTheirOtherForms();
    void badAssignmentsChangeNothing_data();
    void badAssignmentsChangeNothing();
    void refusalOnFreshStoreCreatesNoStore();
    void setRepairsUnreadableStore();
    void unwritableStoreIsFailure();
    void badUsage_data();
    void badUsage();

private:
    static std::optional<QJsonObject> get(const CliSandbox& sandbox);
    static AppSettings defaultsFor(const CliSandbox& sandbox);
};

std::optional<QJsonObject> tst_CliSettingsCommand::get(const CliSandbox& sandbox)
{
    const CliRun run = sandbox.run({QStringLiteral("settings"), QStringLiteral("get")});
    if (!run.finished || run.exitCode != 0 || !run.json() || !run.json()->isObject()) {
        qWarning("%s", run.describe().constData());
        return std::nullopt;
    }
    return run.json()->object();
}

AppSettings tst_CliSettingsCommand::defaultsFor(const CliSandbox& sandbox)
{
    AppSettings defaults = AppSettings::defaults(sandbox.home().path());
    defaults.archivePath = sandbox.home().filePath(QStringLiteral("Videos/Brisko Archive"));
    return defaults;
}

void tst_CliSettingsCommand::getOnFreshStoreShowsDefaultsWithoutWriting()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const std::optional<QJsonObject> shown = get(sandbox);
    QVERIFY(shown);
    QCOMPARE(shown->value(QLatin1String("archivePath")).toString(),
             sandbox.home().filePath(QStringLiteral("Videos/Brisko Archive")));
    QCOMPARE(AppSettings::fromJsonObject(*shown), std::optional<AppSettings>(defaultsFor(sandbox)));
    QVERIFY(!shown->contains(QLatin1String("eulaAcceptedAt")));
    // The analytics id may be created in the store; the settings are not written.
    QVERIFY(!sandbox.storedSettings());
}

void tst_CliSettingsCommand::setRoundTripsEveryKindOfField()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const CliRun set = sandbox.run({
        QStringLiteral("settings"),
        QStringLiteral("set"),
        QStringLiteral("largeFileThresholdMB=1.5"),
        QStringLiteral("installerMaxAgeDays=7"),
        QStringLiteral("videoSearchMode=fileType"),
        QStringLiteral("fanControlMode=autoBoost"),
        QStringLiteral("excludedPaths=node_modules, Проекты ,.cache"),
        QStringLiteral("lowPowerMode=true"),
        QStringLiteral("showAds=false"),
        QStringLiteral("videoNamePrefix=Клип=2"),
        QStringLiteral("archivePath=~/Архив/"),
        QStringLiteral("eulaAcceptedAt=2024-01-02T03:04:05Z"),
        QStringLiteral("fanAutoBoostTempC=0"),
    });
    QVERIFY2(set.finished && set.exitCode == 0, set.describe());
    QVERIFY2(set.out.isEmpty() && set.err.isEmpty(), set.describe());

    AppSettings expected = defaultsFor(sandbox);
    expected.largeFileThresholdMB = 1.5;
    expected.installerMaxAgeDays = 7;
    expected.videoSearchMode = VideoSearchMode::fileType;
    expected.fanControlMode = FanControlMode::autoBoost;
    expected.excludedPaths = {QStringLiteral("node_modules"), QStringLiteral("Проекты"), QStringLiteral(".cache")};
    expected.lowPowerMode = true;
    expected.showAds = false;
    expected.videoNamePrefix = QStringLiteral("Клип=2");
    // "~" is the home folder.
    expected.archivePath = sandbox.home().filePath(QStringLiteral("Архив"));
    const QDateTime accepted(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC);
    const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    expected.eulaAcceptedAt = double(reference.secsTo(accepted));
    expected.fanAutoBoostTempC = 0;

    // Stored for the window to read, and shown back by the next run.
    const std::optional<QByteArray> stored = sandbox.storedSettings();
    QVERIFY(stored);
    QCOMPARE(AppSettings::fromJson(*stored), std::optional<AppSettings>(expected));
    const std::optional<QJsonObject> shown = get(sandbox);
    QVERIFY(shown);
    QCOMPARE(AppSettings::fromJsonObject(*shown), std::optional<AppSettings>(expected));
    QCOMPARE(shown->value(QLatin1String("installerMaxAgeDays")), QJsonValue(7));
    QCOMPARE(shown->value(QLatin1String("videoSearchMode")).toString(), QStringLiteral("fileType"));
}

void tst_CliSettingsCommand::listsAndDatesTakeTheirOtherForms()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    CliRun run = sandbox.run({QStringLiteral("settings"), QStringLiteral("set"),
                              QStringLiteral("excludedPaths=[\"a, b\", \"Ёлка\"]"),
                              QStringLiteral("eulaAcceptedAt=725760000.25")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    std::optional<QJsonObject> shown = get(sandbox);
    QVERIFY(shown);
    QCOMPARE(shown->value(QLatin1String("excludedPaths")).toArray(),
             (QJsonArray{QStringLiteral("a, b"), QStringLiteral("Ёлка")}));
    QCOMPARE(shown->value(QLatin1String("eulaAcceptedAt")).toDouble(), 725760000.25);

    // An empty list and an empty date are both allowed: no names, no date.
    run = sandbox.run({QStringLiteral("settings"), QStringLiteral("set"), QStringLiteral("excludedPaths="),
                       QStringLiteral("eulaAcceptedAt=")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    shown = get(sandbox);
    QVERIFY(shown);
    QCOMPARE(shown->value(QLatin1String("excludedPaths")).toArray(), QJsonArray());
    QVERIFY(!shown->contains(QLatin1String("eulaAcceptedAt")));
}

void tst_CliSettingsCommand::badAssignmentsChangeNothing_data()
{
    QTest::addColumn<QStringList>("assignments");
    QTest::addColumn<QString>("mentioned");

    const auto row = [](const char* name, QStringList assignments, QString mentioned) {
        QTest::newRow(name) << assignments << mentioned;
    };
    row("unknown field", {QStringLiteral("noSuchField=1")}, QStringLiteral("noSuchField"));
    row("field name in wrong case", {QStringLiteral("ShowAds=true")}, QStringLiteral("ShowAds"));
    row("bool not true/false", {QStringLiteral("showAds=yes")}, QStringLiteral("showAds"));
    row("number not a number", {QStringLiteral("largeFileThresholdMB=abc")}, QStringLiteral("largeFileThresholdMB"));
    row("number with unit", {QStringLiteral("largeFileThresholdMB=10MB")}, QStringLiteral("largeFileThresholdMB"));
    row("negative threshold", {QStringLiteral("largeFolderThresholdGB=-1")}, QStringLiteral("largeFolderThresholdGB"));
    row("nan threshold", {QStringLiteral("plusVideoThresholdMB=nan")}, QStringLiteral("plusVideoThresholdMB"));
    row("infinite threshold", {QStringLiteral("archiveCandidateMinGB=inf")}, QStringLiteral("archiveCandidateMinGB"));
    row("negative percent", {QStringLiteral("fanManualBoostPercent=-5")}, QStringLiteral("fanManualBoostPercent"));
    row("integer with fraction", {QStringLiteral("installerMaxAgeDays=1.5")}, QStringLiteral("installerMaxAgeDays"));
    row("negative integer", {QStringLiteral("archiveCandidateMinDays=-3")}, QStringLiteral("archiveCandidateMinDays"));
    row("unknown video mode", {QStringLiteral("videoSearchMode=byName")}, QStringLiteral("videoSearchMode"));
    row("unknown fan mode", {QStringLiteral("fanControlMode=turbo")}, QStringLiteral("fanControlMode"));
    row("list of numbers", {QStringLiteral("excludedPaths=[1,2]")}, QStringLiteral("excludedPaths"));
    row("broken list", {QStringLiteral("excludedPaths=[\"a\"")}, QStringLiteral("excludedPaths"));
    row("date in words", {QStringLiteral("eulaAcceptedAt=вчера")}, QStringLiteral("eulaAcceptedAt"));
    row("date not finite", {QStringLiteral("eulaAcceptedAt=nan")}, QStringLiteral("eulaAcceptedAt"));
    row("no equals sign", {QStringLiteral("showAds")}, QStringLiteral("showAds"));
    row("relative archive folder", {QStringLiteral("archivePath=Архив")}, QStringLiteral("archivePath"));
    row("no field name", {QStringLiteral("=5")}, QStringLiteral("=5"));
    row("good then bad", {QStringLiteral("largeFileThresholdMB=7"), QStringLiteral("showAds=maybe")},
        QStringLiteral("showAds"));
    row("bad then good", {QStringLiteral("videoSearchMode=all"), QStringLiteral("largeFileThresholdMB=7")},
        QStringLiteral("videoSearchMode"));
}

void tst_CliSettingsCommand::badAssignmentsChangeNothing()
{
    QFETCH(QStringList, assignments);
    QFETCH(QString, mentioned);
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const CliRun first = sandbox.run({QStringLiteral("settings"), QStringLiteral("set"),
                                      QStringLiteral("largeFileThresholdMB=3"), QStringLiteral("showAds=true")});
    QVERIFY2(first.finished && first.exitCode == 0, first.describe());
    const std::optional<QByteArray> before = sandbox.defaultsFileBytes();
    QVERIFY(before);

    const CliRun run = sandbox.run(QStringList{QStringLiteral("settings"), QStringLiteral("set")} + assignments);
    QVERIFY2(run.finished, run.describe());
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.out.isEmpty(), run.describe());
    QVERIFY2(run.errText().contains(mentioned), run.err.constData());

    QCOMPARE(sandbox.defaultsFileBytes(), before);
    const std::optional<QJsonObject> shown = get(sandbox);
    QVERIFY(shown);
    QCOMPARE(shown->value(QLatin1String("largeFileThresholdMB")).toDouble(), 3.0);
}

void tst_CliSettingsCommand::refusalOnFreshStoreCreatesNoStore()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const CliRun run = sandbox.run({QStringLiteral("settings"), QStringLiteral("set"),
                                    QStringLiteral("lowPowerMode=true"), QStringLiteral("largeFileThresholdMB=-0.5")});
    QVERIFY2(run.finished, run.describe());
    QCOMPARE(run.exitCode, 2);
    QVERIFY(!sandbox.storedSettings());
}

void tst_CliSettingsCommand::setRepairsUnreadableStore()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    // A value from another build or a damaged one reads as the defaults.
    sandbox.storeSettings(QByteArrayLiteral("{\"showAds\": false"));
    const std::optional<QJsonObject> shown = get(sandbox);
    QVERIFY(shown);
    QCOMPARE(AppSettings::fromJsonObject(*shown), std::optional<AppSettings>(defaultsFor(sandbox)));

    const CliRun run = sandbox.run({QStringLiteral("settings"), QStringLiteral("set"), QStringLiteral("showAds=false")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    AppSettings expected = defaultsFor(sandbox);
    expected.showAds = false;
    const std::optional<QByteArray> stored = sandbox.storedSettings();
    QVERIFY(stored);
    QCOMPARE(AppSettings::fromJson(*stored), std::optional<AppSettings>(expected));
}

void tst_CliSettingsCommand::unwritableStoreIsFailure()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    // Below a plain file no folder can be made, not even by root.
    const QString blocker = sandbox.scratchPath(QStringLiteral("not-a-folder"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QProcessEnvironment environment = sandbox.environment();
    environment.insert(QStringLiteral("BRISKO_DEFAULTS"), blocker + QStringLiteral("/defaults.ini"));

    const CliRun run = sandbox.run({QStringLiteral("settings"), QStringLiteral("set"), QStringLiteral("showAds=false")},
                                   environment);
    QVERIFY2(run.finished, run.describe());
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.errText().contains(blocker), run.err.constData());
}

void tst_CliSettingsCommand::badUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no action") << QStringList{QStringLiteral("settings")};
    QTest::newRow("unknown action") << QStringList{QStringLiteral("settings"), QStringLiteral("show")};
    QTest::newRow("set without assignments") << QStringList{QStringLiteral("settings"), QStringLiteral("set")};
    QTest::newRow("get with argument") << QStringList{QStringLiteral("settings"), QStringLiteral("get"),
                                                      QStringLiteral("showAds")};
}

void tst_CliSettingsCommand::badUsage()
{
    QFETCH(QStringList, arguments);
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const CliRun run = sandbox.run(arguments);
    QVERIFY2(run.finished, run.describe());
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.errText().contains(QLatin1String("brisko settings ")), run.err.constData());
    QVERIFY(!QFile::exists(sandbox.defaultsFile()));
}

BRISKO_TEST(tst_CliSettingsCommand)
#include "tst_CliSettingsCommand.moc"
