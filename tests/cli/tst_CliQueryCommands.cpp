#include "BriskoTest.h"
#include "TestValues.h"
#include "CliHarness.h"
#include "SettingsAssignments.h"
#include "TreeInventory.h"

#include "base/ByteCountFormatter.h"
#include "platform/SettingsDefaultsStore.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

#include <sys/stat.h>
#include <sys/statvfs.h>

// The commands that read and the settings command.
class tst_CliQueryCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void classifyTakesTheHomeAndRelativePaths_data();
    void classifyTakesTheHomeAndRelativePaths();
    void placesTellWhereEachFolderCameFrom();
    void disksAndHardware();
    void usageTreeOfAHostileHome();
    void healthReport();
    void settingsRoundTripEveryKindOfField();
    void badAssignmentsChangeNothing_data();
    void badAssignmentsChangeNothing();
    void settingsThatCannotBeStoredFail();
};

void tst_CliQueryCommands::classifyTakesTheHomeAndRelativePaths_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("risk");
    // The rule itself has its own tests; here: which home and which path it
    // gets. "~" is the harness's home, the working folder is its .cache.
    const auto row = [](const char* name, const QStringList& arguments, const char* risk) {
        QTest::newRow(name) << arguments << QString::fromLatin1(risk);
    };
    row("--home FOLDER", {QStringLiteral("/Users/u/.cache/Кэш Телеграма"), QStringLiteral("--home"), QStringLiteral("/Users/u")},
        "safe");
    row("--home=FOLDER", {QStringLiteral("--home=/Users/u"), QStringLiteral("/Users/u/.cache/Кэш Телеграма/data")}, "caution");
    row("the environment's home", {QStringLiteral("~/.cache/pip")}, "safe");
    row("another home", {QStringLiteral("~/.cache/pip"), QStringLiteral("--home"), QStringLiteral("/Users/u")}, "forbidden");
    row("relative to the working folder", {QStringLiteral("pip")}, "safe");
    row("dots resolved", {QStringLiteral("../.cache/pip/x/..")}, "safe");
    row("a dash after --", {QStringLiteral("--"), QStringLiteral("-odd")}, "safe");
}

void tst_CliQueryCommands::classifyTakesTheHomeAndRelativePaths()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, risk);
    CliHarness cli;
    arguments.replaceInStrings(QStringLiteral("~"), cli.home().path());
    const QString working = QDir::currentPath();
    QVERIFY(QDir::setCurrent(cli.home().makeDir(QStringLiteral(".cache"))));
    const CliRun run = cli.run(QStringList{QStringLiteral("classify")} + arguments);
    QVERIFY(QDir::setCurrent(working));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.outText(), risk + QLatin1Char('\n'));
    QVERIFY(run.err.isEmpty());
}

void tst_CliQueryCommands::placesTellWhereEachFolderCameFrom()
{
    CliHarness cli;
    TempHome& home = cli.home();
    home.makeDir(QStringLiteral("Загрузки"));
    home.makeDir(QStringLiteral(".config"));
    QVERIFY(writeAll(home.filePath(QStringLiteral(".config/user-dirs.dirs")),
                     "XDG_DOWNLOAD_DIR=\"$HOME/Загрузки\"\nXDG_VIDEOS_DIR=\"$HOME/Видео\"\nXDG_MUSIC_DIR=\"$HOME\"\n"));

    const QJsonObject root = cli.runJson(words("places --json"));
    QCOMPARE(root.value(QLatin1String("home")).toString(), home.path());
    QCOMPARE(root.value(QLatin1String("userDirsFile")).toObject(),
             (QJsonObject{{QStringLiteral("path"), home.filePath(QStringLiteral(".config/user-dirs.dirs"))},
                          {QStringLiteral("exists"), true}}));
    QStringList places;
    for (const QJsonValue& value : root.value(QLatin1String("places")).toArray()) {
        const QJsonObject place = value.toObject();
        QCOMPARE(place.keys(), words("exists name origin path"));
        QString path = place.value(QLatin1String("path")).toString();
        places.append(place.value(QLatin1String("name")).toString() + QLatin1Char(' ')
                      + (path.isEmpty() ? QStringLiteral("-")
                                        : path.replace(home.path(), QStringLiteral("~"))
                                              .replace(cli.scratchPath(QString()), QStringLiteral("$SCRATCH")))
                      + (place.value(QLatin1String("exists")).toBool() ? QStringLiteral(" exists ") : QStringLiteral(" "))
                      + place.value(QLatin1String("origin")).toString());
    }
    QCOMPARE(places, (QStringList{QStringLiteral("desktop ~/Desktop default"),
                                  QStringLiteral("downloads ~/Загрузки exists user-dirs"),
                                  QStringLiteral("documents ~/Documents default"), QStringLiteral("videos ~/Видео user-dirs"),
                                  QStringLiteral("music - disabled"), QStringLiteral("pictures ~/Pictures default"),
                                  QStringLiteral("caches ~/.cache default"),
                                  QStringLiteral("trash $SCRATCH/data/Trash environment"),
                                  QStringLiteral("archive ~/Видео/Brisko Archive fixed")}));

    const QStringList lines = cli.run(words("places")).outText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 12); // header, nine places, the user-dirs file, the end
    QVERIFY2(lines.at(5).startsWith(QStringLiteral("Музыка")) && lines.at(5).contains(QStringLiteral("—"))
                 && lines.at(5).endsWith(QStringLiteral("нет   отключена в user-dirs.dirs")),
             qPrintable(lines.at(5)));
    QCOMPARE(lines.at(10), QStringLiteral("Файл папок пользователя: ") + home.filePath(QStringLiteral(".config/user-dirs.dirs")));
}

void tst_CliQueryCommands::disksAndHardware()
{
    CliHarness cli;
    CliRun run = cli.run(words("disks --json"));
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.json() && run.json()->isArray(), run.describe());
    const QJsonArray disks = run.json()->array();
    for (const QJsonValue& value : disks) {
        const QJsonObject disk = value.toObject();
        QCOMPARE(disk.keys(), words("free name path total used"));
        struct statvfs facts;
        QCOMPARE(::statvfs(QFile::encodeName(disk.value(QLatin1String("path")).toString()).constData(), &facts), 0);
        QCOMPARE(disk.value(QLatin1String("total")).toInteger(), qint64(facts.f_blocks) * qint64(facts.f_frsize));
    }
    QStringList lines = cli.run(words("disks")).outText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), disks.size() + 1);
    for (qsizetype i = 0; i < disks.size(); ++i) {
        const QJsonObject disk = disks.at(i).toObject();
        QVERIFY2(lines.at(i + 1).contains(disk.value(QLatin1String("path")).toString())
                     && lines.at(i + 1).endsWith(ByteCountFormatter::format(disk.value(QLatin1String("free")).toInteger())),
                 qPrintable(lines.at(i + 1)));
    }

    run = cli.run(words("hardware --json"));
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.json() && run.json()->isObject(), run.describe());
    const QJsonObject info = run.json()->object();
    QCOMPARE(info.keys(), words("chipName isNotebook marketingName memoryGB modelIdentifier osVersion processorCount"));
    lines = cli.run(words("hardware")).outText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 7);
    QVERIFY(lines.at(0).startsWith(QStringLiteral("Модель:")) && lines.at(0).endsWith(info.value(QLatin1String("marketingName")).toString()));
    QVERIFY(lines.at(3).endsWith(QStringLiteral("%1 ГБ").arg(info.value(QLatin1String("memoryGB")).toInteger())));
    QVERIFY(lines.at(6).endsWith(info.value(QLatin1String("isNotebook")).toBool() ? QStringLiteral("да") : QStringLiteral("нет")));
}

void tst_CliQueryCommands::usageTreeOfAHostileHome()
{
    CliHarness cli;
    TempHome& home = cli.home();
    home.makeFile(QStringLiteral(".cache/com.example.tool/blob"), 400000);
    home.makeFile(QStringLiteral(".cache/com.example.tool/more/x"), 1000);
    home.makeFile(QStringLiteral(".thunderbird/inbox"), 30000);
    home.makeFile(QStringLiteral("Документы/отчёт.pdf"), 150000);
    home.makeFile(QStringLiteral("Документы/мелочь.txt"), 10);
    home.makeFile(QStringLiteral("Документы/ещё.txt"), 20);
    home.makeFileNative("\xff\xfe-name.bin", 90000);

    const QJsonObject root = cli.runJson(words("usage --json --depth 4 --top=2"));
    QCOMPARE(root.value(QLatin1String("path")).toString(), home.path());
    QCOMPARE(root.keys(), words("children entries isDirectory name path risk size"));

    // Largest first, at most --top of them, down to --depth levels.
    QHash<QString, QJsonObject> byName;
    std::function<void(const QJsonObject&, int)> visit = [&](const QJsonObject& node, int depth) {
        byName.insert(node.value(QLatin1String("name")).toString(), node);
        const QJsonArray children = node.value(QLatin1String("children")).toArray();
        QVERIFY(children.size() <= 2);
        QVERIFY(depth < 4 || children.isEmpty());
        for (qsizetype i = 0; i < children.size(); ++i) {
            QVERIFY(i == 0
                    || children[i - 1].toObject().value(QLatin1String("size")).toInteger()
                        >= children[i].toObject().value(QLatin1String("size")).toInteger());
            visit(children[i].toObject(), depth + 1);
        }
    };
    visit(root, 0);
    QCOMPARE(root.value(QLatin1String("children")).toArray().size(), 2);
    QCOMPARE(byName.value(QStringLiteral("com.example.tool")).value(QLatin1String("risk")), QJsonValue(QStringLiteral("safe")));
    QCOMPARE(byName.value(QStringLiteral("more")).value(QLatin1String("risk")), QJsonValue(QStringLiteral("caution")));
    QCOMPARE(byName.value(QStringLiteral("Документы")).value(QLatin1String("risk")), QJsonValue());
    QCOMPARE(byName.value(QStringLiteral("Документы")).value(QLatin1String("entries")).toInteger(), 4);

    // A name that is not UTF-8 keeps its exact bytes beside the readable one.
    const QJsonObject wide = cli.runJson(words("usage --json --depth 1 --top 9"));
    QJsonObject odd;
    for (const QJsonValue& child : wide.value(QLatin1String("children")).toArray()) {
        odd = child.toObject().contains(QLatin1String("pathNative")) ? child.toObject() : odd;
    }
    QCOMPARE(QByteArray::fromBase64(odd.value(QLatin1String("pathNative")).toString().toLatin1()),
             home.nativePath("\xff\xfe-name.bin").native());
    QCOMPARE(odd.value(QLatin1String("isDirectory")), QJsonValue(false));

    // The text: an indented line per node with the verdict, the rest summed up.
    const QStringList lines = cli.run({QStringLiteral("usage"), home.path(), QStringLiteral("--depth"), QStringLiteral("3"),
                                       QStringLiteral("--top"), QStringLiteral("1")})
                                  .outText()
                                  .split(QLatin1Char('\n'));
    QVERIFY2(lines.at(1).endsWith(QStringLiteral("  .cache/")), qPrintable(lines.join(QLatin1Char('\n'))));
    QVERIFY2(lines.at(2).endsWith(QStringLiteral("    com.example.tool/  [Безопасно]")), qPrintable(lines.at(2)));
    QVERIFY(lines.at(3).endsWith(QStringLiteral("      blob")));
    QVERIFY(lines.at(4).endsWith(QStringLiteral("      … ещё 1")));
    QVERIFY(lines.at(lines.size() - 2).startsWith(QStringLiteral("Карта: ")));
}

void tst_CliQueryCommands::healthReport()
{
    CliHarness cli;
    const QString notes = cli.home().makeFile(QStringLiteral("Downloads/заметки.txt"), 9000);
    const QByteArray home = QFile::encodeName(cli.home().path());
    const TreeInventory before = TreeInventory::take(home);

    const QJsonObject json = cli.runJson(words("health --json"));
    const int percent = json.value(QLatin1String("healthPercent")).toInt(-1);
    QVERIFY2(percent >= 0 && percent <= 100, qPrintable(QString::number(percent)));
    QCOMPARE(json.value(QLatin1String("itemCount")).toInteger(-1), 1);
    QCOMPARE(json.value(QLatin1String("status")).toString(),
             QStringLiteral("Оценка здоровья: %1% · можно освободить %2")
                 .arg(percent)
                 .arg(ByteCountFormatter::format(json.value(QLatin1String("reclaimableBytes")).toInteger())));
    // The machine as "brisko hardware" describes it.
    QCOMPARE(json.value(QLatin1String("hardware")).toObject(), cli.run(words("hardware --json")).json()->object());

    const CliRun run = cli.run(words("health"));
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.outText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(lines.first().startsWith(QStringLiteral("Здоровье:")) && lines.first().endsWith(QStringLiteral(" %1%").arg(percent)),
             run.describe());
    QVERIFY2(lines.at(4).startsWith(QStringLiteral("Найдено элементов:")) && lines.at(4).endsWith(QStringLiteral(" 1")),
             run.describe());
    QVERIFY2(lines.contains(QStringLiteral("Советы:")), run.describe());
    QCOMPARE(lines.last(), json.value(QLatin1String("status")).toString());
    // Progress goes to standard error, one line per step when it is no terminal.
    QVERIFY2(run.errText().contains(QStringLiteral("Проверка дисков…")), run.describe());
    // The scan only read.
    QCOMPARE(TreeInventory::take(home).differencesFrom(before), QStringList());
}

void tst_CliQueryCommands::settingsRoundTripEveryKindOfField()
{
    CliHarness cli;
    // Shown on a fresh store without writing it.
    CliRun run = cli.run(words("settings get"));
    QCOMPARE(run.exitCode, 0);
    AppSettings expected = AppSettings::defaults(cli.home().path());
    expected.archivePath = cli.home().filePath(QStringLiteral("Videos/Brisko Archive"));
    QCOMPARE(AppSettings::fromJsonObject(run.json()->object()), std::optional<AppSettings>(expected));
    QVERIFY(cli.storedSettings().isEmpty());

    run = cli.run({QStringLiteral("settings"), QStringLiteral("set"), QStringLiteral("largeFileThresholdMB=1.5"),
                   QStringLiteral("installerMaxAgeDays=7"), QStringLiteral("videoSearchMode=fileType"),
                   QStringLiteral("fanControlMode=autoBoost"), QStringLiteral("excludedPaths=node_modules, Проекты ,.cache"),
                   QStringLiteral("lowPowerMode=true"), QStringLiteral("showAds=false"), QStringLiteral("videoNamePrefix=Клип=2"),
                   QStringLiteral("archivePath=~/Архив/"), QStringLiteral("eulaAcceptedAt=2024-01-02T03:04:05Z")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.isEmpty() && run.err.isEmpty(), run.describe());
    expected.largeFileThresholdMB = 1.5;
    expected.installerMaxAgeDays = 7;
    expected.videoSearchMode = VideoSearchMode::fileType;
    expected.fanControlMode = FanControlMode::autoBoost;
    expected.excludedPaths = {QStringLiteral("node_modules"), QStringLiteral("Проекты"), QStringLiteral(".cache")};
    expected.lowPowerMode = true;
    expected.showAds = false;
    expected.videoNamePrefix = QStringLiteral("Клип=2");
    // "~" is the home folder.
    expected.archivePath = cli.home().filePath(QStringLiteral("Архив"));
    const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    expected.eulaAcceptedAt = double(reference.secsTo(QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC)));
    // Stored for the window to read, and shown back by the next run.
    QCOMPARE(AppSettings::fromJsonObject(cli.storedSettings()), std::optional<AppSettings>(expected));
    QCOMPARE(AppSettings::fromJsonObject(cli.run(words("settings get")).json()->object()),
             std::optional<AppSettings>(expected));

    // The other forms of lists and dates; empty ones clear them.
    QVERIFY(cli.setSetting(QStringLiteral("excludedPaths=[\"a, b\", \"Ёлка\"]")));
    QVERIFY(cli.setSetting(QStringLiteral("eulaAcceptedAt=725760000.25")));
    QCOMPARE(cli.storedSettings().value(QLatin1String("excludedPaths")).toArray(),
             (QJsonArray{QStringLiteral("a, b"), QStringLiteral("Ёлка")}));
    QCOMPARE(cli.storedSettings().value(QLatin1String("eulaAcceptedAt")).toDouble(), 725760000.25);
    QVERIFY(cli.run(words("settings set excludedPaths= eulaAcceptedAt=")).exitCode == 0);
    QCOMPARE(cli.storedSettings().value(QLatin1String("excludedPaths")).toArray(), QJsonArray());
    QVERIFY(!cli.storedSettings().contains(QLatin1String("eulaAcceptedAt")));
}

void tst_CliQueryCommands::badAssignmentsChangeNothing_data()
{
    QTest::addColumn<QStringList>("assignments");
    QTest::addColumn<QString>("mentioned");
    const auto row = [](const char* name, QStringList assignments, QString mentioned) {
        QTest::newRow(name) << assignments << mentioned;
    };
    row("unknown field", {QStringLiteral("noSuchField=1")}, QStringLiteral("noSuchField"));
    row("field name in wrong case", {QStringLiteral("ShowAds=true")}, QStringLiteral("ShowAds"));
    row("bool not true/false", {QStringLiteral("showAds=yes")}, QStringLiteral("showAds"));
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
    row("no field name", {QStringLiteral("=5")}, QStringLiteral("=5"));
    row("good then bad", {QStringLiteral("largeFileThresholdMB=7"), QStringLiteral("showAds=maybe")},
        QStringLiteral("showAds"));
    row("bad then good", {QStringLiteral("videoSearchMode=all"), QStringLiteral("largeFileThresholdMB=7")},
        QStringLiteral("videoSearchMode"));
}

void tst_CliQueryCommands::badAssignmentsChangeNothing()
{
    QFETCH(QStringList, assignments);
    QFETCH(QString, mentioned);
    QString error;
    QVERIFY(!SettingsAssignments::apply(AppSettings::defaults(QStringLiteral("/home/u")), assignments, &error));
    QVERIFY2(error.contains(mentioned), qPrintable(error));

    // Through the command: a usage error, and the store stays as it was.
    CliHarness cli;
    QVERIFY(cli.setSetting(QStringLiteral("largeFileThresholdMB=3")));
    QFile store(cli.defaultsFile());
    QVERIFY(store.open(QIODevice::ReadOnly));
    const QByteArray before = store.readAll();
    store.close();
    const CliRun run = cli.run(QStringList{QStringLiteral("settings"), QStringLiteral("set")} + assignments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.errText().startsWith(QStringLiteral("brisko: ") + error + QLatin1Char('\n')), run.describe());
    QVERIFY(store.open(QIODevice::ReadOnly));
    QCOMPARE(store.readAll(), before);
}

void tst_CliQueryCommands::settingsThatCannotBeStoredFail()
{
    CliHarness cli;
    // A value from another build or a damaged one reads as the defaults and
    // is replaced by the next change.
    SettingsDefaultsStore(cli.defaultsFile(), QSettings::IniFormat)
        .setData(QStringLiteral("BriskoSettings"), QByteArrayLiteral("{\"showAds\": false"));
    QCOMPARE(cli.run(words("settings get")).json()->object().value(QLatin1String("showAds")), QJsonValue(true));
    QVERIFY(cli.setSetting(QStringLiteral("lowPowerMode=true")));
    QCOMPARE(cli.storedSettings().value(QLatin1String("lowPowerMode")), QJsonValue(true));

    // A folder where the store should be cannot be written.
    QVERIFY(QFile::remove(cli.defaultsFile()));
    QVERIFY(QDir().mkpath(cli.defaultsFile()));
    const CliRun run = cli.run(words("settings set showAds=false"));
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.errText(), QStringLiteral("brisko: не удалось сохранить настройки в ") + cli.defaultsFile() + QLatin1Char('\n'));
}

BRISKO_TEST(tst_CliQueryCommands)
#include "tst_CliQueryCommands.moc"
