#include "BriskoTest.h"
#include "scan/CacheClassifier.h"
#include "scan/HomeLayout.h"

#include <QProcessEnvironment>
#include <QTest>

class TestCacheClassifier : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void classify_data();
    void classify();
    void classifyFreedesktop_data();
    void classifyFreedesktop();
    void everyFreedesktopTableFolderIsSafe();
    void standardize_data();
    void standardize();
};

// Each row: a path (below the home /Users/u unless absolute), and the risk.
void TestCacheClassifier::classify_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("risk");
    QTest::newRow("direct cache child") << "Library/Caches/com.example.tool" << "safe";
    QTest::newRow("inside a cache child") << "Library/Caches/com.example.tool/data" << "caution";
    QTest::newRow("cache folder itself") << "Library/Caches" << "forbidden";
    QTest::newRow("crash report folder") << "Library/Logs/DiagnosticReports" << "safe";
    QTest::newRow("single crash report") << "Library/Logs/DiagnosticReports/App.ips" << "forbidden";
    QTest::newRow("app logs") << "Library/Logs/SomeApp" << "caution";
    QTest::newRow("application support") << "Library/Application Support/Cursor/snapshots" << "forbidden";
    QTest::newRow("trash") << ".Trash" << "forbidden";
    QTest::newRow("protected beats safe suffix") << "Library/Group Containers/Library/Caches/pip" << "forbidden";
    QTest::newRow("outside the home folder") << "/Library/Caches/com.apple.Safari" << "forbidden";
    QTest::newRow("dot-dot standardized") << "Library/Caches/../Caches/pip" << "safe";
    QTest::newRow("a home sharing the name's start") << "/Users/uu/Library/Caches/x/y" << "forbidden";
    QTest::newRow("escape by dot-dot") << "../v/Library/Caches/pip" << "forbidden";
    QTest::newRow("case matters") << "library/caches/pip" << "forbidden";
}

void TestCacheClassifier::classify()
{
    QFETCH(QString, path);
    QFETCH(QString, risk);
    const QString home = QStringLiteral("/Users/u");
    if (!path.startsWith(u'/')) {
        path = home + u'/' + path;
    }
    QCOMPARE(CacheRisks::rawValue(CacheClassifier::classify(path, HomeLayout::original(FilePath::fromString(home)))), risk);
    // A home given with a trailing slash is the same home.
    QCOMPARE(CacheRisks::rawValue(CacheClassifier::classify(path, HomeLayout::original(FilePath::fromString(home + u'/')))),
             risk);
}

void TestCacheClassifier::classifyFreedesktop_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("risk");

    QTest::newRow("direct cache child") << ".cache/google-chrome" << "safe";
    QTest::newRow("inside a cache child") << ".cache/google-chrome/Default" << "caution";
    QTest::newRow("cache folder itself") << ".cache" << "forbidden";
    QTest::newRow("a cache area elsewhere") << "snap/app/common/.cache/x/y" << "caution";
    QTest::newRow("ssh keys") << ".ssh/id_ed25519" << "forbidden";
    QTest::newRow("firefox profile") << ".mozilla/firefox/abc.default/places.sqlite" << "forbidden";
    QTest::newRow("firefox profile cache2 is not protected, nor safe") << ".mozilla/firefox/abc.default/cache2"
                                                                      << "forbidden";
    QTest::newRow("telegram data") << ".local/share/TelegramDesktop/tdata/key_datas" << "forbidden";
    QTest::newRow("telegram media cache") << ".local/share/TelegramDesktop/tdata/user_data" << "safe";
    QTest::newRow("inside the telegram media cache") << ".local/share/TelegramDesktop/tdata/user_data/media"
                                                     << "forbidden";
    QTest::newRow("flatpak application cache") << ".var/app/org.gimp.GIMP/cache" << "safe";
    QTest::newRow("flatpak application data") << ".var/app/org.gimp.GIMP/data" << "forbidden";
    QTest::newRow("original cache folders mean nothing here") << "Library/Caches/pip" << "forbidden";
}

void TestCacheClassifier::classifyFreedesktop()
{
    QFETCH(QString, path);
    QFETCH(QString, risk);
    const QString home = QStringLiteral("/home/u");
    const HomeLayout layout = HomeLayout::freedesktop(FilePath::fromString(home), QProcessEnvironment());
    QCOMPARE(CacheRisks::rawValue(CacheClassifier::classify(home + QLatin1Char('/') + path, layout)), risk);
    // Nothing of another home is ever safe.
    QCOMPARE(CacheClassifier::classify(QStringLiteral("/home/uu/") + path, layout), CacheRisk::forbidden);
}

void TestCacheClassifier::everyFreedesktopTableFolderIsSafe()
{
    const HomeLayout layout = HomeLayout::freedesktop(FilePath("/home/u"), QProcessEnvironment());
    for (const SafeCacheFolder& folder : layout.safeCaches()) {
        const QString path = QStringLiteral("/home/u/") + QString(folder.folder).replace(u'*', QStringLiteral("app"));
        QVERIFY2(CacheClassifier::classify(path, layout) == CacheRisk::safe, qPrintable(path));
    }
}

void TestCacheClassifier::standardize_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("trailing slash") << "/a/b/" << "/a/b";
    QTest::newRow("repeated slashes") << "//a///b" << "/a/b";
    QTest::newRow("dot") << "/a/./b/." << "/a/b";
    QTest::newRow("dot-dot") << "/a/b/../c" << "/a/c";
    QTest::newRow("dot-dot above root") << "/../../a" << "/a";
    QTest::newRow("root via dot-dot") << "/a/.." << "/";
    QTest::newRow("dots inside names stay") << "/a/..b/c.." << "/a/..b/c..";
}

void TestCacheClassifier::standardize()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(CacheClassifier::standardizePath(input), expected);
}

BRISKO_TEST(TestCacheClassifier)
#include "tst_CacheClassifier.moc"
