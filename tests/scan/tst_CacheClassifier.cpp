#include "scan/CacheClassifier.h"

#include <QTest>

class TestCacheClassifier : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void classify_data();
    void classify();
    void standardize_data();
    void standardize();
};

void TestCacheClassifier::classify_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("risk");

    const QString h = QStringLiteral("/Users/u");
    QTest::newRow("known safe folder") << h + QStringLiteral("/Library/Caches/com.apple.Safari") << h << "safe";
    QTest::newRow("direct cache child") << h + QStringLiteral("/Library/Caches/com.example.tool") << h << "safe";
    QTest::newRow("inside a cache child") << h + QStringLiteral("/Library/Caches/com.example.tool/data") << h
                                          << "caution";
    QTest::newRow("cache folder itself") << h + QStringLiteral("/Library/Caches") << h << "forbidden";
    QTest::newRow("crash report folder") << h + QStringLiteral("/Library/Logs/DiagnosticReports") << h << "safe";
    QTest::newRow("single crash report") << h + QStringLiteral("/Library/Logs/DiagnosticReports/App.ips") << h
                                         << "forbidden";
    QTest::newRow("app logs") << h + QStringLiteral("/Library/Logs/SomeApp") << h << "caution";
    QTest::newRow("logs folder itself") << h + QStringLiteral("/Library/Logs") << h << "forbidden";
    QTest::newRow("application support") << h + QStringLiteral("/Library/Application Support/Cursor/snapshots") << h
                                         << "forbidden";
    QTest::newRow("telegram cache") << h + QStringLiteral("/Library/Caches/ru.keepcoder.Telegram") << h << "safe";
    QTest::newRow("trash") << h + QStringLiteral("/.Trash") << h << "forbidden";
    QTest::newRow("protected anywhere in the path")
        << h + QStringLiteral("/Library/Containers/x/Data/Library/Mail/y") << h << "forbidden";
    QTest::newRow("protected beats safe suffix")
        << h + QStringLiteral("/Library/Group Containers/Library/Caches/pip") << h << "forbidden";
    QTest::newRow("outside the home folder") << QStringLiteral("/Library/Caches/com.apple.Safari") << h << "forbidden";
    QTest::newRow("dot-dot standardized") << h + QStringLiteral("/Library/Caches/../Caches/pip") << h << "safe";
    QTest::newRow("dot and double slashes") << h + QStringLiteral("//Library/./Caches//pip/") << h << "safe";
    QTest::newRow("home with trailing slash") << h + QStringLiteral("/Library/Caches/pip") << h + QStringLiteral("/")
                                              << "safe";
    QTest::newRow("escape by dot-dot") << h + QStringLiteral("/../v/Library/Caches/pip") << h << "forbidden";
    QTest::newRow("case matters") << h + QStringLiteral("/library/caches/pip") << h << "forbidden";
    QTest::newRow("cyrillic cache child") << h + QStringLiteral("/Library/Caches/Кэш программы") << h << "safe";
    QTest::newRow("trailing slash on cache child") << h + QStringLiteral("/Library/Caches/tool/") << h << "safe";
}

void TestCacheClassifier::classify()
{
    QFETCH(QString, path);
    QFETCH(QString, home);
    QFETCH(QString, risk);
    QCOMPARE(CacheRisks::rawValue(CacheClassifier::classify(path, home)), risk);
}

void TestCacheClassifier::standardize_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "/a/b" << "/a/b";
    QTest::newRow("trailing slash") << "/a/b/" << "/a/b";
    QTest::newRow("repeated slashes") << "//a///b" << "/a/b";
    QTest::newRow("dot") << "/a/./b/." << "/a/b";
    QTest::newRow("dot-dot") << "/a/b/../c" << "/a/c";
    QTest::newRow("dot-dot above root") << "/../../a" << "/a";
    QTest::newRow("root") << "/" << "/";
    QTest::newRow("root via dot-dot") << "/a/.." << "/";
    QTest::newRow("dots inside names stay") << "/a/..b/c.." << "/a/..b/c..";
}

void TestCacheClassifier::standardize()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(CacheClassifier::standardizePath(input), expected);
}

QTEST_APPLESS_MAIN(TestCacheClassifier)
#include "tst_CacheClassifier.moc"
