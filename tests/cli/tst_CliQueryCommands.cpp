#include "BriskoTest.h"
#include "CliCommands.h"
#include "CliHarness.h"
#include "SettingsAssignments.h"
#include "TestValues.h"

#include "base/ByteCountFormatter.h"
#include "model/AppSettings.h"
#include "scan/AppInfo.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>


// The dispatcher's help and usage errors, the commands that read and the
// settings command.
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
    void helpListsEveryCommand_data();
    void helpListsEveryCommand();
    void helpForOneCommand_data();
    void helpForOneCommand();
    void usageErrors_data();
    void usageErrors();
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
    QVERIFY2(lines.at(5).startsWith(QStringLiteral("Музыка")) && lines.at(5).endsWith(QStringLiteral("нет   отключена в user-dirs.dirs")),
             qPrintable(lines.at(5)));
    QCOMPARE(lines.at(10), QStringLiteral("Файл папок пользователя: ") + home.filePath(QStringLiteral(".config/user-dirs.dirs")));
}

void tst_CliQueryCommands::disksAndHardware()
{
    CliHarness cli;
    CliRun run = cli.run(words("disks --json"));
    QVERIFY2(run.exitCode == 0 && run.json() && run.json()->isArray(), run.describe());
    const QJsonArray disks = run.json()->array();
    QStringList lines = cli.run(words("disks")).outText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), disks.size() + 1);
    for (qsizetype i = 0; i < disks.size(); ++i) {
        const QJsonObject disk = disks.at(i).toObject();
        QCOMPARE(disk.keys(), words("free name path total used"));
        QVERIFY2(lines.at(i + 1).contains(disk.value(QLatin1String("path")).toString())
                     && lines.at(i + 1).endsWith(ByteCountFormatter::format(disk.value(QLatin1String("free")).toInteger())),
                 qPrintable(lines.at(i + 1)));
    }

    const QJsonObject info = cli.runJson(words("hardware --json"));
    QCOMPARE(info.keys(), words("chipName isNotebook marketingName memoryGB modelIdentifier osVersion processorCount"));
    lines = cli.run(words("hardware")).outText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 7);
    QVERIFY(lines.at(0).startsWith(QStringLiteral("Модель:")) && lines.at(0).endsWith(info.value(QLatin1String("marketingName")).toString()));
    QVERIFY(lines.at(3).endsWith(QStringLiteral("%1 ГБ").arg(info.value(QLatin1String("memoryGB")).toInteger())));
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
    cli.home().makeFile(QStringLiteral("Downloads/заметки.txt"), 9000);
    const QJsonObject json = cli.runJson(words("health --json"));
    const int percent = json.value(QLatin1String("healthPercent")).toInt(-1);
    QCOMPARE(json.value(QLatin1String("itemCount")).toInteger(-1), 1);
    QCOMPARE(json.value(QLatin1String("status")).toString(),
             QStringLiteral("Оценка здоровья: %1% · можно освободить %2")
                 .arg(percent)
                 .arg(ByteCountFormatter::format(json.value(QLatin1String("reclaimableBytes")).toInteger())));
    // The machine as "brisko hardware" describes it.
    QCOMPARE(json.value(QLatin1String("hardware")).toObject(), cli.runJson(words("hardware --json")));

    const CliRun run = cli.run(words("health"));
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.outText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(lines.first().startsWith(QStringLiteral("Здоровье:")) && lines.first().endsWith(QStringLiteral(" %1%").arg(percent)),
             run.describe());
    QVERIFY2(lines.at(4).startsWith(QStringLiteral("Найдено элементов:")) && lines.at(4).endsWith(QStringLiteral(" 1")),
             run.describe());
    QCOMPARE(lines.last(), json.value(QLatin1String("status")).toString());
    // Progress goes to standard error.
    QVERIFY2(run.errText().contains(QStringLiteral("Проверка дисков…")), run.describe());
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
    // A folder where the store should be cannot be written: every command
    // that changes a setting says so.
    CliHarness cli;
    const QString folder = cli.scratchPath(QStringLiteral("Архив"));
    QVERIFY(QDir().mkpath(folder) && QDir().mkpath(cli.defaultsFile()));
    for (const QStringList& arguments : {words("settings set showAds=false"), QStringList{QStringLiteral("archive-folder"), folder}}) {
        const CliRun run = cli.run(arguments);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.errText(), QStringLiteral("brisko: не удалось сохранить настройки в ") + cli.defaultsFile() + QLatin1Char('\n'));
    }
}

void tst_CliQueryCommands::helpListsEveryCommand_data()
{
    QTest::addColumn<QString>("argument");
    QTest::newRow("--help") << "--help";
    QTest::newRow("-h") << "-h";
    QTest::newRow("help") << "help";
}

void tst_CliQueryCommands::helpListsEveryCommand()
{
    QFETCH(QString, argument);
    CliHarness cli;
    const CliRun run = cli.run({argument});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.err.isEmpty());
    QVERIFY(run.outText().startsWith(QStringLiteral("Использование: brisko КОМАНДА [АРГУМЕНТЫ]\n\nКоманды:\n")));
    qsizetype at = 0;
    for (const CliCommand& command : CliCommands::all()) {
        const QString entry = QStringLiteral("  brisko %1 %2\n      %3\n").arg(command.name, command.synopsis(), command.summary);
        const qsizetype found = run.outText().indexOf(entry);
        QVERIFY2(found > at, qPrintable(entry));
        at = found;
    }
    QVERIFY(run.outText().endsWith(QStringLiteral("130 — остановлено по Ctrl+C.\n")));
    // Help never touches the user's settings.
    QVERIFY(!QFile::exists(cli.defaultsFile()));
}

void tst_CliQueryCommands::helpForOneCommand_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<QString>("expected");
    QTest::newRow("help settings") << "help settings"
                                   << "Использование: brisko settings get | set ПОЛЕ=ЗНАЧЕНИЕ…\n"
                                      "показывает настройки (JSON) или меняет отдельные поля\n\nЗначения читаются по типу поля:\n";
    QTest::newRow("settings --help") << "settings --help" << "Использование: brisko settings get | set ПОЛЕ=ЗНАЧЕНИЕ…\n";
    QTest::newRow("scan -h after category") << "scan systemJunk -h" << "Использование: brisko scan КАТЕГОРИЯ [--json]\n";
    QTest::newRow("options shown after the arguments")
        << "help usage" << "Использование: brisko usage [ПУТЬ] [--depth N] [--top K] [--json] [--other-filesystems]\n";
    QTest::newRow("a flag with the words it takes")
        << "move --help --only" << "Использование: brisko move КАТЕГОРИЯ [--only ИМЯ…] [--json]\n";
    QTest::newRow("no summary without details")
        << "help disks" << "Использование: brisko disks [--json]\nтома от 1 ГБ, самые заполненные первыми\n";
    QTest::newRow("--version") << "--version" << "";
}

void tst_CliQueryCommands::helpForOneCommand()
{
    QFETCH(QString, words);
    QFETCH(QString, expected);
    CliHarness cli;
    cli.home().makeFile(QStringLiteral(".cache/big/x"), 6 * 1024 * 1024);
    const CliRun run = cli.run(::words(words.toUtf8().constData()));
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.err.isEmpty());
    if (expected.isEmpty()) {
        const auto bundle = [](const char* key) { return AppInfo::bundleString(QLatin1String(key)).value_or(QStringLiteral("?")); };
        expected = QStringLiteral("%1 %2 (%3)\n").arg(bundle("CFBundleName"), bundle("CFBundleShortVersionString"),
                                                       bundle("CFBundleVersion"));
        QVERIFY(!expected.contains(QLatin1Char('?')));
    }
    // Asking for help runs nothing: no scan result, no progress.
    QVERIFY2(run.outText().startsWith(expected), run.describe());
    QVERIFY(run.outText().endsWith(QLatin1Char('\n')) && !run.outText().endsWith(QStringLiteral("\n\n")));
    QVERIFY2(!run.outText().contains(QStringLiteral("найдено")), run.describe());
}

// Every usage error, whichever part finds it: exit 2, nothing on standard
// output, the message, then the command's usage line or, when there is no
// command, the whole command list.
void tst_CliQueryCommands::usageErrors_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<QString>("message");
    const auto row = [](const char* words, const QString& message) {
        QTest::newRow(words) << QString::fromUtf8(words) << message;
    };
    const QString categories = QStringLiteral("допустимы: largeFolders, ");
    // The dispatcher.
    row("", QStringLiteral("не указана команда"));
    row("frobnicate", QStringLiteral("неизвестная команда «frobnicate»"));
    row("Scan systemJunk", QStringLiteral("неизвестная команда «Scan»"));
    row("help nosuch", QStringLiteral("неизвестная команда «nosuch»"));
    row("help scan move", QStringLiteral("справка показывается для одной команды"));
    row("--version x", QStringLiteral("лишние аргументы после --version"));
    // Options, as the command's description declares them.
    row("scan downloadsInbox --xml", QStringLiteral("неизвестный параметр --xml"));
    row("undo -f", QStringLiteral("неизвестный параметр -f"));
    row("history --json --all=yes", QStringLiteral("неизвестный параметр --all"));
    row("sort-downloads --json=yes", QStringLiteral("параметр --json не принимает значения"));
    row("classify /a --home", QStringLiteral("параметру --home нужно значение"));
    row("disks /", QStringLiteral("лишний аргумент «/»"));
    // The commands' own arguments.
    row("scan", QStringLiteral("не указана категория; ") + categories);
    row("scan bogus", QStringLiteral("неизвестная категория «bogus»; ") + categories);
    row("scan downloadsInbox systemJunk", QStringLiteral("сканируется ровно одна категория"));
    row("trash Служебный мусор", QStringLiteral("неизвестная категория «Служебный»; ") + categories);
    row("move downloadsInbox a.txt", QStringLiteral("лишние аргументы: a.txt (строки выбираются через --only)"));
    row("trash downloadsInbox --only", QStringLiteral("после --only нужны имена строк"));
    row("clean appCaches --only=x", QStringLiteral("параметр --only не принимает значения"));
    row("move downloadsInbox --only нет -- --json",
        QStringLiteral("в результатах сканирования downloadsInbox нет строк: «нет», «--json»"));
    row("classify", QStringLiteral("укажите один путь"));
    row("classify /a --home=", QStringLiteral("параметру --home нужна папка"));
    row("settings", QStringLiteral("укажите get или set"));
    row("settings show", QStringLiteral("неизвестное действие «show»; допустимы get и set"));
    row("settings set", QStringLiteral("нет присваиваний ПОЛЕ=ЗНАЧЕНИЕ"));
    row("settings get --json", QStringLiteral("settings get не принимает аргументов"));
    row("settings set archivePath=Архив", QStringLiteral("archivePath: ") + AppSettings::relativeArchivePathMessage);
    row("archive", QStringLiteral("укажите create, list или restore"));
    row("archive pack", QStringLiteral("неизвестное действие «pack»; допустимы create, list и restore"));
    row("archive create", QStringLiteral("укажите профиль"));
    row("archive create bogus", QStringLiteral("неизвестный профиль «bogus»; допустимы essential, "));
    row("archive restore", QStringLiteral("укажите ID архива"));
    row("archive list x", QStringLiteral("лишние аргументы"));
    row("safe-cleanup", QStringLiteral("укажите list или clean"));
    row("safe-cleanup frob", QStringLiteral("неизвестное действие «frob»; допустимы list и clean"));
    row("safe-cleanup list clean", QStringLiteral("лишние аргументы"));
    row("archive-folder", QStringLiteral("не указана папка"));
    row("archive-folder a b", QStringLiteral("укажите одну папку"));
    row("usage --depth -1", QStringLiteral("--depth ждёт целое число от 0, а не «-1»"));
    row("usage /a /b", QStringLiteral("укажите не больше одного пути"));
    row("fans", QStringLiteral("укажите boost ПРОЦЕНТ или auto"));
    row("fans spin", QStringLiteral("неизвестное действие «spin»; допустимы boost и auto"));
    row("fans boost", QStringLiteral("boost принимает один аргумент — процент от 0 до 100"));
    row("fans boost -5", QStringLiteral("процент должен быть числом от 0 до 100, а не «-5»"));
    row("fans auto now", QStringLiteral("auto не принимает аргументов"));
    row("feedback --offline", QStringLiteral("не указано сообщение"));
    row("update", QStringLiteral("укажите check, download или install"));
    row("update now", QStringLiteral("укажите check, download или install"));
}

void tst_CliQueryCommands::usageErrors()
{
    QFETCH(QString, words);
    QFETCH(QString, message);
    CliHarness cli;
    const QStringList arguments = ::words(words.toUtf8().constData());
    const CliRun run = cli.run(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.out.isEmpty(), run.describe());
    const QString command = arguments.value(0);
    const QList<CliCommand> all = CliCommands::all();
    const auto described = std::find_if(all.cbegin(), all.cend(), [&](const CliCommand& each) { return each.name == command; });
    if (described == all.cend()) {
        QVERIFY2(run.errText().startsWith(QStringLiteral("brisko: ") + message), run.describe());
        QVERIFY2(run.errText().contains(QStringLiteral("\n\nИспользование: brisko КОМАНДА [АРГУМЕНТЫ]\n\nКоманды:\n")),
                 run.describe());
    } else {
        // A command that scanned first has shown its progress before.
        const QStringList lines = run.errText().split(QLatin1Char('\n'));
        QVERIFY2(lines.size() >= 4 && lines.at(lines.size() - 4).startsWith(QStringLiteral("brisko: ") + message),
                 run.describe());
        QCOMPARE(lines.mid(lines.size() - 3),
                 (QStringList{QStringLiteral("Использование: brisko %1 %2").arg(command, described->synopsis()),
                              QStringLiteral("Подробнее: brisko help ") + command, QString()}));
    }
    // Nothing was changed on the way.
    QVERIFY(!QFile::exists(cli.defaultsFile()));
}

BRISKO_TEST(tst_CliQueryCommands)
#include "tst_CliQueryCommands.moc"
