#include "BriskoTest.h"
#include "model/AppSettings.h"
#include "scan/AppVideoTypes.h"
#include "scan/CacheRisk.h"
#include "scan/ScanCategory.h"
#include "scan/HomeLayout.h"
#include "scan/ScanItem.h"

#include <QProcessEnvironment>
#include <QTest>

class TestScanModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rawValuesRoundTripAndRejectOthers();
    void plusVideosTexts();
    void canAutoCleanup();
    void rowsAreIdentifiedById();
};

void TestScanModel::rawValuesRoundTripAndRejectOthers()
{
    for (ScanCategory category : ScanCategories::allCategories()) {
        QCOMPARE(ScanCategories::fromRawValue(ScanCategories::rawValue(category)), category);
    }
    QCOMPARE(ScanCategories::rawValue(ScanCategory::downloadsInbox), QStringLiteral("downloadsInbox"));
    QVERIFY(!ScanCategories::fromRawValue(QStringLiteral("LargeFolders")));
    QVERIFY(!ScanCategories::fromRawValue(QStringLiteral("largeFolders ")));
    QVERIFY(!CacheRisks::fromRawValue(QStringLiteral("Safe")));
    QVERIFY(CacheRisks::permitsAutoDeletion(CacheRisk::safe));
    QVERIFY(!CacheRisks::permitsAutoDeletion(CacheRisk::caution));
}

void TestScanModel::plusVideosTexts()
{
    QCOMPARE(ScanCategories::plusVideosTitle(nullptr), QStringLiteral("Видео по тексту в имени"));
    QCOMPARE(ScanCategories::plusVideosDescription(nullptr),
             QStringLiteral("Видео с указанным текстом в имени — кандидаты на архив"));

    AppSettings s = AppSettings::defaults(QStringLiteral("/home/u"));
    s.videoNamePrefix = QStringLiteral("   ");
    QCOMPARE(ScanCategories::plusVideosTitle(&s), QStringLiteral("Видео по тексту в имени"));
    QCOMPARE(ScanCategories::plusVideosDescription(&s),
             QStringLiteral("Укажите текст в настройках — иначе поиск не выполняется"));

    s.videoNamePrefix = QStringLiteral("  Отпуск \n");
    QCOMPARE(ScanCategories::plusVideosTitle(&s), QStringLiteral("Видео с «Отпуск» в имени"));
    s.plusVideoThresholdMB = 120.5;
    QCOMPARE(ScanCategories::plusVideosDescription(&s), QStringLiteral("Видео ≥ 120 МБ, имя содержит «Отпуск»"));

    s.videoSearchMode = VideoSearchMode::fileType;
    s.plusVideoThresholdMB = 50.9;
    QCOMPARE(ScanCategories::plusVideosTitle(&s), QStringLiteral("Крупные видеофайлы"));
    QCOMPARE(ScanCategories::plusVideosDescription(&s),
             QStringLiteral("Все видео ≥ 50 МБ (") + AppVideoTypes::extensionsLabel() + QStringLiteral(")"));
    // The label lists the extensions in order.
    QStringList listed = AppVideoTypes::extensionsLabel().split(QStringLiteral(", "));
    QCOMPARE(listed.size(), AppVideoTypes::extensions().size());
    QVERIFY(std::is_sorted(listed.cbegin(), listed.cend()));
    QCOMPARE(ScanCategories::title(ScanCategory::plusVideos, &s), QStringLiteral("Крупные видеофайлы"));
    QCOMPARE(ScanCategories::title(ScanCategory::systemJunk, nullptr), QStringLiteral("Служебный мусор"));
}

void TestScanModel::canAutoCleanup()
{
    const QString home = QStringLiteral("/home/u");
    const HomeLayout original = HomeLayout::original(FilePath::fromString(home));
    const HomeLayout linux = HomeLayout::freedesktop(FilePath::fromString(home), QProcessEnvironment());
    const auto row = [&](const QString& relative, ScanCategory category) {
        return ScanItem::make(FilePath::fromString(home + relative), 1, category, true, false, std::nullopt);
    };
    QVERIFY(row(QStringLiteral("/Library/Caches/com.example"), ScanCategory::systemJunk).canAutoCleanup(original));
    QVERIFY(row(QStringLiteral("/.cache/pip"), ScanCategory::systemJunk).canAutoCleanup(linux));
    // The classifier says safe, but movable categories are never cleaned.
    for (ScanCategory category : ScanCategories::allCategories()) {
        if (ScanCategories::isMovable(category)) {
            QVERIFY(!row(QStringLiteral("/Library/Caches/com.example"), category).canAutoCleanup(original));
        }
    }
    QVERIFY(!row(QStringLiteral("/.Trash"), ScanCategory::systemJunk).canAutoCleanup(original));
    QVERIFY(!row(QStringLiteral("/Library/Logs/"), ScanCategory::systemJunk)
                 .canAutoCleanup(HomeLayout::original(FilePath::fromString(home + QLatin1Char('/')))));
    QVERIFY(!row(QStringLiteral("/Library/Application Support/Cursor/snapshots"), ScanCategory::appCaches)
                 .canAutoCleanup(original));
    QVERIFY(!row(QStringLiteral("/.local/share/Trash"), ScanCategory::systemJunk).canAutoCleanup(linux));
}

void TestScanModel::rowsAreIdentifiedById()
{
    const FilePath path = FilePath::fromString(QStringLiteral("/home/u/Downloads/файл.zip"));
    const ScanItem a = ScanItem::make(path, 10, ScanCategory::downloadsInbox, false, true, std::nullopt);
    const ScanItem b = ScanItem::make(path, 10, ScanCategory::downloadsInbox, false, true, std::nullopt);
    QVERIFY(a.id != b.id);
    QVERIFY(a != b);
    QCOMPARE(a.name, QStringLiteral("файл.zip"));
    ScanItem c = a;
    QCOMPARE(c, a);
    c.isSelected = false;
    QVERIFY(c != a);
}

BRISKO_TEST(TestScanModel)
#include "tst_ScanModel.moc"
