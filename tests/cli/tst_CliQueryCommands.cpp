#include "BriskoTest.h"
#include "CliSandbox.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>

// classify, disks and hardware: the commands that only report facts.
class tst_CliQueryCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void classifyWithGivenHome_data();
    void classifyWithGivenHome();
    void classifyDefaultsToHomeVariable();
    void classifyResolvesRelativePathsFromWorkingFolder();
    void classifyUsageErrors_data();
    void classifyUsageErrors();
    void disksListMountedVolumes();
    void hardwareDescribesThisMachine();
    void placesTellWhereEachFolderCameFrom();
    void queryCommandsTakeNoPositionals_data();
    void queryCommandsTakeNoPositionals();
};

void tst_CliQueryCommands::classifyWithGivenHome_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("risk");

    // The rule reads path text only, so the home need not exist. The
    // classifier's own tests go through every row of both tables.
    QTest::newRow("direct cache child") << "/Users/u/.cache/com.example.tool" << "safe";
    QTest::newRow("Cyrillic cache child") << "/Users/u/.cache/Кэш Телеграма" << "safe";
    QTest::newRow("inside a cache child") << "/Users/u/.cache/com.example.tool/data" << "caution";
    QTest::newRow("cache folder itself") << "/Users/u/.cache" << "forbidden";
    QTest::newRow("known safe folder") << "/Users/u/.local/share/TelegramDesktop/tdata/user_data" << "safe";
    QTest::newRow("protected keys") << "/Users/u/.ssh" << "forbidden";
    QTest::newRow("outside home") << "/var/cache/apt" << "forbidden";
    QTest::newRow("dots resolved") << "/Users/u/.cache/../.cache/pip" << "safe";
}

void tst_CliQueryCommands::classifyWithGivenHome()
{
    QFETCH(QString, path);
    QFETCH(QString, risk);
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const CliRun run = sandbox.run({QStringLiteral("classify"), path, QStringLiteral("--home"), QStringLiteral("/Users/u")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    QCOMPARE(run.outText(), risk + QLatin1Char('\n'));
    QVERIFY(run.err.isEmpty());

    const CliRun joined = sandbox.run({QStringLiteral("classify"), QStringLiteral("--home=/Users/u"), path});
    QVERIFY2(joined.finished && joined.exitCode == 0, joined.describe());
    QCOMPARE(joined.outText(), risk + QLatin1Char('\n'));
}

void tst_CliQueryCommands::classifyDefaultsToHomeVariable()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const QString pip = sandbox.home().filePath(QStringLiteral(".cache/pip"));
    CliRun run = sandbox.run({QStringLiteral("classify"), pip});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    QCOMPARE(run.outText(), QStringLiteral("safe\n"));

    // The same path judged against another home is outside it.
    run = sandbox.run({QStringLiteral("classify"), pip, QStringLiteral("--home"), QStringLiteral("/Users/u")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    QCOMPARE(run.outText(), QStringLiteral("forbidden\n"));
}

void tst_CliQueryCommands::classifyResolvesRelativePathsFromWorkingFolder()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const QString caches = sandbox.home().makeDir(QStringLiteral(".cache"));
    sandbox.home().makeDir(QStringLiteral(".cache/ru.keepcoder.Telegram/media"));

    CliRun run = sandbox.run({QStringLiteral("classify"), QStringLiteral("ru.keepcoder.Telegram")},
                             sandbox.environment(), caches);
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    QCOMPARE(run.outText(), QStringLiteral("safe\n"));

    run = sandbox.run({QStringLiteral("classify"), QStringLiteral("ru.keepcoder.Telegram/media")},
                      sandbox.environment(), caches);
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    QCOMPARE(run.outText(), QStringLiteral("caution\n"));

    // A path beginning with a dash is reachable after "--".
    run = sandbox.run({QStringLiteral("classify"), QStringLiteral("--"), QStringLiteral("-odd")},
                      sandbox.environment(), caches);
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    QCOMPARE(run.outText(), QStringLiteral("safe\n"));
}

void tst_CliQueryCommands::classifyUsageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no path") << QStringList{QStringLiteral("classify")};
    QTest::newRow("empty path") << QStringList{QStringLiteral("classify"), QString()};
    QTest::newRow("two paths") << QStringList{QStringLiteral("classify"), QStringLiteral("/a"), QStringLiteral("/b")};
    QTest::newRow("home without folder") << QStringList{QStringLiteral("classify"), QStringLiteral("/a"),
                                                        QStringLiteral("--home")};
    QTest::newRow("empty home") << QStringList{QStringLiteral("classify"), QStringLiteral("/a"),
                                               QStringLiteral("--home=")};
    QTest::newRow("unknown option") << QStringList{QStringLiteral("classify"), QStringLiteral("/a"),
                                                   QStringLiteral("--json")};
}

void tst_CliQueryCommands::classifyUsageErrors()
{
    QFETCH(QStringList, arguments);
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const CliRun run = sandbox.run(arguments);
    QVERIFY2(run.finished, run.describe());
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.errText().contains(QLatin1String("brisko classify ")), run.err.constData());
}

void tst_CliQueryCommands::disksListMountedVolumes()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const CliRun run = sandbox.run({QStringLiteral("disks"), QStringLiteral("--json")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    QVERIFY2(run.json() && run.json()->isArray(), run.describe());
    const QJsonArray disks = run.json()->array();

    qint64 previousUsed = std::numeric_limits<qint64>::max();
    for (const QJsonValue& value : disks) {
        const QJsonObject disk = value.toObject();
        QCOMPARE(disk.keys(), (QStringList{QStringLiteral("free"), QStringLiteral("name"), QStringLiteral("path"),
                                           QStringLiteral("total"), QStringLiteral("used")}));
        QVERIFY(disk.value(QLatin1String("name")).isString());
        const QString path = disk.value(QLatin1String("path")).toString();
        const qint64 total = disk.value(QLatin1String("total")).toInteger();
        const qint64 used = disk.value(QLatin1String("used")).toInteger();
        const qint64 free = disk.value(QLatin1String("free")).toInteger();
        QVERIFY2(total >= qint64(1) << 30, qPrintable(path));
        QVERIFY(free >= 0);
        QCOMPARE(used + free, total);
        // Fullest first.
        QVERIFY(used <= previousUsed);
        previousUsed = used;
        struct statvfs facts;
        QCOMPARE(::statvfs(QFile::encodeName(path).constData(), &facts), 0);
        QCOMPARE(total, qint64(facts.f_blocks) * qint64(facts.f_frsize));
    }

    const CliRun readable = sandbox.run({QStringLiteral("disks")});
    QVERIFY2(readable.finished && readable.exitCode == 0, readable.describe());
    const QStringList lines = readable.outText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (disks.isEmpty()) {
        QCOMPARE(lines.size(), 1);
    } else {
        QCOMPARE(lines.size(), disks.size() + 1);
        for (qsizetype i = 0; i < disks.size(); ++i) {
            QVERIFY2(lines.at(i + 1).contains(disks.at(i).toObject().value(QLatin1String("path")).toString()),
                     qPrintable(lines.at(i + 1)));
        }
    }
}

void tst_CliQueryCommands::hardwareDescribesThisMachine()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const CliRun run = sandbox.run({QStringLiteral("hardware"), QStringLiteral("--json")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    QVERIFY2(run.json() && run.json()->isObject(), run.describe());
    const QJsonObject info = run.json()->object();
    QCOMPARE(info.keys(), (QStringList{QStringLiteral("chipName"), QStringLiteral("isNotebook"),
                                       QStringLiteral("marketingName"), QStringLiteral("memoryGB"),
                                       QStringLiteral("modelIdentifier"), QStringLiteral("osVersion"),
                                       QStringLiteral("processorCount")}));
    for (const char* key : {"chipName", "marketingName", "modelIdentifier", "osVersion"}) {
        QVERIFY2(info.value(QLatin1String(key)).isString() && !info.value(QLatin1String(key)).toString().isEmpty(), key);
    }
    QVERIFY(info.value(QLatin1String("isNotebook")).isBool());
    QVERIFY(info.value(QLatin1String("marketingName")).toString().endsWith(QLatin1Char(')')));
    QVERIFY(info.value(QLatin1String("processorCount")).toInteger() >= 1);

    struct sysinfo memory;
    QCOMPARE(::sysinfo(&memory), 0);
    const qint64 gib = qint64((quint64(memory.totalram) * memory.mem_unit) >> 30);
    QCOMPARE(info.value(QLatin1String("memoryGB")).toInteger(), std::max<qint64>(gib, 1));

    struct utsname system;
    QCOMPARE(::uname(&system), 0);
    const QStringList release = QString::fromLatin1(system.release).split(QLatin1Char('.'));
    QVERIFY(release.size() >= 2);
    QVERIFY2(info.value(QLatin1String("osVersion"))
                 .toString()
                 .startsWith(QStringLiteral("Linux %1.%2.").arg(release.at(0), release.at(1))),
             qPrintable(info.value(QLatin1String("osVersion")).toString()));

    const CliRun readable = sandbox.run({QStringLiteral("hardware")});
    QVERIFY2(readable.finished && readable.exitCode == 0, readable.describe());
    QVERIFY(readable.outText().contains(info.value(QLatin1String("marketingName")).toString()));
    QVERIFY(readable.outText().contains(info.value(QLatin1String("osVersion")).toString()));
}

void tst_CliQueryCommands::placesTellWhereEachFolderCameFrom()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    TempHome& home = sandbox.home();
    home.makeDir(QStringLiteral("Загрузки"));
    home.makeDir(QStringLiteral(".config"));
    QFile userDirs(home.filePath(QStringLiteral(".config/user-dirs.dirs")));
    QVERIFY(userDirs.open(QIODevice::WriteOnly));
    userDirs.write("XDG_DOWNLOAD_DIR=\"$HOME/Загрузки\"\nXDG_VIDEOS_DIR=\"$HOME/Видео\"\nXDG_MUSIC_DIR=\"$HOME\"\n"
                   "XDG_PICTURES_DIR=\"/etc\"\n");
    userDirs.close();

    const CliRun run = sandbox.run({QStringLiteral("places"), QStringLiteral("--json")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    const QJsonObject root = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(root.value(QLatin1String("userDirsFile")).toObject().value(QLatin1String("exists")), QJsonValue(true));
    QStringList places;
    for (const QJsonValue& value : root.value(QLatin1String("places")).toArray()) {
        const QJsonObject place = value.toObject();
        const QString path = place.value(QLatin1String("path")).toString();
        places.append(place.value(QLatin1String("name")).toString() + QLatin1Char(' ')
                      + (path.isEmpty() ? QStringLiteral("-") : path.mid(home.path().size() + 1)) + QLatin1Char(' ')
                      + (place.value(QLatin1String("exists")).toBool() ? QStringLiteral("exists ") : QString())
                      + place.value(QLatin1String("origin")).toString());
    }
    QCOMPARE(places, (QStringList{QStringLiteral("desktop Desktop default"),
                                  QStringLiteral("downloads Загрузки exists user-dirs"),
                                  QStringLiteral("documents Documents default"),
                                  QStringLiteral("videos Видео user-dirs"), QStringLiteral("music - disabled"),
                                  QStringLiteral("pictures Pictures default"), QStringLiteral("caches .cache default"),
                                  QStringLiteral("trash .local/share/Trash default"),
                                  QStringLiteral("archive Видео/Brisko Archive fixed")}));

    const CliRun text = sandbox.run({QStringLiteral("places")});
    QVERIFY2(text.finished && text.exitCode == 0, text.describe());
    QVERIFY2(text.outText().contains(QStringLiteral("отключена в user-dirs.dirs")), text.describe());
}

void tst_CliQueryCommands::queryCommandsTakeNoPositionals_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("disks extra") << QStringList{QStringLiteral("disks"), QStringLiteral("/")};
    QTest::newRow("disks unknown option") << QStringList{QStringLiteral("disks"), QStringLiteral("--all")};
    QTest::newRow("hardware extra") << QStringList{QStringLiteral("hardware"), QStringLiteral("now")};
    QTest::newRow("hardware unknown option") << QStringList{QStringLiteral("hardware"), QStringLiteral("--xml")};
    QTest::newRow("places extra") << QStringList{QStringLiteral("places"), QStringLiteral("downloads")};
}

void tst_CliQueryCommands::queryCommandsTakeNoPositionals()
{
    QFETCH(QStringList, arguments);
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const CliRun run = sandbox.run(arguments);
    QVERIFY2(run.finished, run.describe());
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.errText().contains(QStringLiteral("brisko ") + arguments.first()), run.err.constData());
}

BRISKO_TEST(tst_CliQueryCommands)
#include "tst_CliQueryCommands.moc"
