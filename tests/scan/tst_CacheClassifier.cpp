#include "BriskoTest.h"
#include "model/AppSettings.h"
#include "scan/AppVideoTypes.h"
#include "scan/CacheClassifier.h"
#include "scan/HomeLayout.h"
#include "scan/ScanCategory.h"
#include "scan/ScanItem.h"
#include "scan/UsageRisk.h"

#include <QProcessEnvironment>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

HomeLayout layoutOf(bool freedesktop, const QString& home)
{
    return freedesktop ? HomeLayout::freedesktop(FilePath::fromString(home), QProcessEnvironment())
                       : HomeLayout::original(FilePath::fromString(home));
}

} // namespace

// The classifier with the row and category rules of the scan model built on it.
class TestCacheClassifier : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void classify_data();
    void classify();
    void everyFreedesktopTableFolderIsSafe();
    void usageVerdicts();
    void standardize_data();
    void standardize();
    void rawValuesRoundTripAndRejectOthers();
    void plusVideosTexts();
    void canAutoCleanup();
    void rowsAreIdentifiedById();
};

// Each row: the layout, a path (below the home /Users/u or /home/u unless
// absolute), and the risk.
void TestCacheClassifier::classify_data()
{
    QTest::addColumn<bool>("freedesktop");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("risk");
    const auto row = [](const char* name, bool freedesktop, const char* path, const char* risk) {
        QTest::newRow(name) << freedesktop << QString::fromUtf8(path) << QString::fromUtf8(risk);
    };
    row("direct cache child", false, "Library/Caches/com.example.tool", "safe");
    row("inside a cache child", false, "Library/Caches/com.example.tool/data", "caution");
    row("cache folder itself", false, "Library/Caches", "forbidden");
    row("crash report folder", false, "Library/Logs/DiagnosticReports", "safe");
    row("single crash report", false, "Library/Logs/DiagnosticReports/App.ips", "forbidden");
    row("app logs", false, "Library/Logs/SomeApp", "caution");
    row("application support", false, "Library/Application Support/Cursor/snapshots", "forbidden");
    row("trash", false, ".Trash", "forbidden");
    row("protected beats safe suffix", false, "Library/Group Containers/Library/Caches/pip", "forbidden");
    row("outside the home folder", false, "/Library/Caches/com.apple.Safari", "forbidden");
    row("dot-dot standardized", false, "Library/Caches/../Caches/pip", "safe");
    row("escape by dot-dot", false, "../v/Library/Caches/pip", "forbidden");
    row("case matters", false, "library/caches/pip", "forbidden");
    row("fd direct cache child", true, ".cache/google-chrome", "safe");
    row("fd inside a cache child", true, ".cache/google-chrome/Default", "caution");
    row("fd cache folder itself", true, ".cache", "forbidden");
    row("fd a cache area elsewhere", true, "snap/app/common/.cache/x/y", "caution");
    row("fd ssh keys", true, ".ssh/id_ed25519", "forbidden");
    row("fd firefox profile", true, ".mozilla/firefox/abc.default/places.sqlite", "forbidden");
    row("fd firefox cache2 is not protected, nor safe", true, ".mozilla/firefox/abc.default/cache2",
        "forbidden");
    row("fd telegram data", true, ".local/share/TelegramDesktop/tdata/key_datas", "forbidden");
    row("fd telegram media cache", true, ".local/share/TelegramDesktop/tdata/user_data", "safe");
    row("fd inside the telegram media cache", true, ".local/share/TelegramDesktop/tdata/user_data/media",
        "forbidden");
    row("fd flatpak application cache", true, ".var/app/org.gimp.GIMP/cache", "safe");
    row("fd flatpak application data", true, ".var/app/org.gimp.GIMP/data", "forbidden");
    row("fd original cache folders mean nothing", true, "Library/Caches/pip", "forbidden");
}

void TestCacheClassifier::classify()
{
    QFETCH(bool, freedesktop);
    QFETCH(QString, path);
    QFETCH(QString, risk);
    const QString home = freedesktop ? u"/home/u"_s : u"/Users/u"_s;
    const QString full = path.startsWith(u'/') ? path : home + u'/' + path;
    QCOMPARE(CacheRisks::rawValue(CacheClassifier::classify(full, layoutOf(freedesktop, home))), risk);
    // A home given with a trailing slash is the same home.
    QCOMPARE(CacheRisks::rawValue(CacheClassifier::classify(full, layoutOf(freedesktop, home + u'/'))), risk);
    // Nothing of another home is ever safe, even one whose name starts the same.
    QCOMPARE(CacheClassifier::classify(home + u"u/"_s + path, layoutOf(freedesktop, home)),
             CacheRisk::forbidden);
}

void TestCacheClassifier::everyFreedesktopTableFolderIsSafe()
{
    const HomeLayout layout = layoutOf(true, u"/home/u"_s);
    for (const SafeCacheFolder& folder : layout.safeCaches()) {
        const QString path = u"/home/u/"_s + QString(folder.folder).replace(u'*', u"app"_s);
        QVERIFY2(CacheClassifier::classify(path, layout) == CacheRisk::safe, qPrintable(path));
    }
}

void TestCacheClassifier::usageVerdicts()
{
    const QList<std::pair<QString, QString>> rows = {{u"/h/Library/Caches/com.example"_s, u"safe"_s},
                                                     {u"/h/Library/Mail"_s, u"forbidden"_s},
                                                     {u"/h/Документы"_s, QString()},
                                                     {u"/h/Library/Caches"_s, QString()}};
    for (const auto& [path, verdict] : rows) {
        const std::optional<CacheRisk> risk = UsageRisk::verdict(path, layoutOf(false, u"/h"_s));
        QCOMPARE(risk ? CacheRisks::rawValue(*risk) : QString(), verdict);
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

void TestCacheClassifier::rawValuesRoundTripAndRejectOthers()
{
    for (ScanCategory category : ScanCategories::allCategories()) {
        QCOMPARE(ScanCategories::fromRawValue(ScanCategories::rawValue(category)), category);
    }
    QCOMPARE(ScanCategories::rawValue(ScanCategory::downloadsInbox), u"downloadsInbox"_s);
    QVERIFY(!ScanCategories::fromRawValue(u"LargeFolders"_s));
    QVERIFY(!ScanCategories::fromRawValue(u"largeFolders "_s));
    QVERIFY(!CacheRisks::fromRawValue(u"Safe"_s));
    QVERIFY(CacheRisks::permitsAutoDeletion(CacheRisk::safe));
    QVERIFY(!CacheRisks::permitsAutoDeletion(CacheRisk::caution));
}

void TestCacheClassifier::plusVideosTexts()
{
    QCOMPARE(ScanCategories::plusVideosTitle(nullptr), u"Видео по тексту в имени"_s);
    QCOMPARE(ScanCategories::plusVideosDescription(nullptr),
             u"Видео с указанным текстом в имени — кандидаты на архив"_s);

    AppSettings s = AppSettings::defaults(u"/home/u"_s);
    s.videoNamePrefix = u"   "_s;
    QCOMPARE(ScanCategories::plusVideosTitle(&s), u"Видео по тексту в имени"_s);
    QCOMPARE(ScanCategories::plusVideosDescription(&s),
             u"Укажите текст в настройках — иначе поиск не выполняется"_s);

    s.videoNamePrefix = u"  Отпуск \n"_s;
    QCOMPARE(ScanCategories::plusVideosTitle(&s), u"Видео с «Отпуск» в имени"_s);
    s.plusVideoThresholdMB = 120.5;
    QCOMPARE(ScanCategories::plusVideosDescription(&s), u"Видео ≥ 120 МБ, имя содержит «Отпуск»"_s);

    s.videoSearchMode = VideoSearchMode::fileType;
    s.plusVideoThresholdMB = 50.9;
    QCOMPARE(ScanCategories::plusVideosTitle(&s), u"Крупные видеофайлы"_s);
    QCOMPARE(ScanCategories::plusVideosDescription(&s),
             u"Все видео ≥ 50 МБ ("_s + AppVideoTypes::extensionsLabel() + u')');
    // The label lists the extensions in order.
    const QStringList listed = AppVideoTypes::extensionsLabel().split(u", "_s);
    QCOMPARE(listed.size(), AppVideoTypes::extensions().size());
    QVERIFY(std::is_sorted(listed.cbegin(), listed.cend()));
    QCOMPARE(ScanCategories::title(ScanCategory::plusVideos, &s), u"Крупные видеофайлы"_s);
    QCOMPARE(ScanCategories::title(ScanCategory::systemJunk, nullptr), u"Служебный мусор"_s);
}

void TestCacheClassifier::canAutoCleanup()
{
    const HomeLayout original = layoutOf(false, u"/home/u"_s);
    const HomeLayout linux = layoutOf(true, u"/home/u"_s);
    const auto row = [&](const QString& relative, ScanCategory category) {
        return ScanItem::make(FilePath::fromString(u"/home/u"_s + relative), 1, category, true, false,
                              std::nullopt);
    };
    QVERIFY(row(u"/Library/Caches/com.example"_s, ScanCategory::systemJunk).canAutoCleanup(original));
    QVERIFY(row(u"/.cache/pip"_s, ScanCategory::systemJunk).canAutoCleanup(linux));
    // The classifier says safe, but movable categories are never cleaned.
    for (ScanCategory category : ScanCategories::allCategories()) {
        if (ScanCategories::isMovable(category)) {
            QVERIFY(!row(u"/Library/Caches/com.example"_s, category).canAutoCleanup(original));
        }
    }
    QVERIFY(!row(u"/.Trash"_s, ScanCategory::systemJunk).canAutoCleanup(original));
    QVERIFY(
        !row(u"/Library/Logs/"_s, ScanCategory::systemJunk).canAutoCleanup(layoutOf(false, u"/home/u/"_s)));
    QVERIFY(!row(u"/Library/Application Support/Cursor/snapshots"_s, ScanCategory::appCaches)
                 .canAutoCleanup(original));
    QVERIFY(!row(u"/.local/share/Trash"_s, ScanCategory::systemJunk).canAutoCleanup(linux));
}

void TestCacheClassifier::rowsAreIdentifiedById()
{
    const FilePath path = FilePath::fromString(u"/home/u/Downloads/файл.zip"_s);
    const ScanItem a = ScanItem::make(path, 10, ScanCategory::downloadsInbox, false, true, std::nullopt);
    QVERIFY(a != ScanItem::make(path, 10, ScanCategory::downloadsInbox, false, true, std::nullopt));
    QCOMPARE(a.name, u"файл.zip"_s);
    ScanItem c = a;
    c.isSelected = false;
    QVERIFY(c != a);
}

BRISKO_TEST(TestCacheClassifier)
#include "tst_CacheClassifier.moc"
