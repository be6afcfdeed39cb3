#include "BriskoTest.h"
#include "model/AppSettings.h"
#include "model/ReferenceDate.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <cmath>

class TestAppSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void defaults();
    void roundTripKeepsEveryField();
    void dateSurvivesBitForBit();
    void strictDecoding_data();
    void strictDecoding();
    void missingDateIsAllowed();
    void nonFiniteNumbersCannotBeEncoded();
};

void TestAppSettings::defaults()
{
    const AppSettings s = AppSettings::defaults(QStringLiteral("/home/пользователь"));
    QCOMPARE(s.archivePath, QStringLiteral("/home/пользователь/Movies/Brisko Archive"));
    QCOMPARE(AppSettings::defaults(QStringLiteral("/home/u/")).archivePath,
             QStringLiteral("/home/u/Movies/Brisko Archive"));
    QCOMPARE(s.largeFolderThresholdGB, 5.0);
    QCOMPARE(s.largeFileThresholdMB, 50.0);
    QCOMPARE(s.plusVideoThresholdMB, 50.0);
    QCOMPARE(s.videoSearchMode, VideoSearchMode::namePrefix);
    QCOMPARE(s.videoNamePrefix, QString());
    QCOMPARE(s.archiveCandidateMinGB, 10.0);
    QCOMPARE(s.archiveCandidateMinDays, 60);
    QCOMPARE(s.installerMaxAgeDays, 30);
    QVERIFY(s.scanHomeDirectory);
    QVERIFY(!s.eulaAccepted);
    QVERIFY(!s.eulaAcceptedAt);
    QVERIFY(!s.onboardingCompleted);
    QVERIFY(s.showAds && s.analyticsEnabled && s.compressCleanArchive && s.errorReportingEnabled);
    QVERIFY(!s.lowPowerMode);
    QCOMPARE(s.fanControlMode, FanControlMode::system);
    QCOMPARE(s.fanManualBoostPercent, 75.0);
    QCOMPARE(s.fanAutoBoostTempC, 78.0);
    QCOMPARE(s.fanAutoBoostTargetPercent, 85.0);
    QVERIFY(s.adsConfigURL.endsWith(QLatin1String("/api/brisko/ads.json")));
    QVERIFY(s.analyticsEndpoint.endsWith(QLatin1String("/api/brisko/events.php")));
    QVERIFY(s.errorsEndpoint.endsWith(QLatin1String("/api/brisko/errors.php")));
    QVERIFY(s.feedbackEndpoint.endsWith(QLatin1String("/api/brisko/feedback.php")));
    QVERIFY(s.updateCheckURL.endsWith(QLatin1String("/api/brisko/version.json")));
    QVERIFY(s.regionCheckURL.endsWith(QLatin1String("/api/brisko/region.php")));
    QVERIFY(s.privacyPolicyURL.endsWith(QLatin1String("/brisko-vella/privacy")));
    QVERIFY(s.updateCheckURL.startsWith(QLatin1String("https://")));
    QCOMPARE(s.excludedPaths, (QStringList{QStringLiteral("Library"), QStringLiteral("node_modules"),
                                           QStringLiteral(".Trash"), QStringLiteral(".npm"), QStringLiteral(".cache")}));
}

void TestAppSettings::roundTripKeepsEveryField()
{
    AppSettings s = AppSettings::defaults(QStringLiteral("/home/u"));
    s.largeFolderThresholdGB = 0.25;
    s.videoSearchMode = VideoSearchMode::fileType;
    s.videoNamePrefix = QStringLiteral("Отпуск «2024»\n\"quoted\"");
    s.archiveCandidateMinDays = 365;
    s.fanControlMode = FanControlMode::autoBoost;
    s.excludedPaths = {QStringLiteral("Проекты"), QStringLiteral("")};
    s.eulaAccepted = true;

    const std::optional<QByteArray> json = s.toJson();
    QVERIFY(json);
    const QJsonObject object = QJsonDocument::fromJson(*json).object();
    // One key per field, the absent date left out.
    QCOMPARE(object.size(), 29);
    QVERIFY(!object.contains(QLatin1String("eulaAcceptedAt")));
    QCOMPARE(object.value(QLatin1String("videoSearchMode")).toString(), QStringLiteral("fileType"));
    QCOMPARE(object.value(QLatin1String("fanControlMode")).toString(), QStringLiteral("autoBoost"));
    QCOMPARE(AppSettings::fromJson(*json), s);

    s.eulaAcceptedAt = 123.5;
    const QJsonObject withDate = QJsonDocument::fromJson(*s.toJson()).object();
    QCOMPARE(withDate.size(), 30);
    QCOMPARE(withDate.value(QLatin1String("eulaAcceptedAt")).toDouble(), 123.5);
}

void TestAppSettings::dateSurvivesBitForBit()
{
    AppSettings s = AppSettings::defaults(QStringLiteral("/home/u"));
    const QDateTime accepted = QDateTime(QDate(2026, 3, 14), QTime(6, 30, 15, 123), Qt::UTC);
    s.eulaAcceptedAt = ReferenceDate::fromDateTime(accepted) + 0.000456789;
    const std::optional<AppSettings> back = AppSettings::fromJson(*s.toJson());
    QVERIFY(back);
    QCOMPARE(std::memcmp(&*back->eulaAcceptedAt, &*s.eulaAcceptedAt, sizeof(double)), 0);
    QCOMPARE(ReferenceDate::toDateTime(*back->eulaAcceptedAt), accepted);
    // The reference date itself is 2001-01-01 UTC.
    QCOMPARE(ReferenceDate::toDateTime(0), QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
}

void TestAppSettings::strictDecoding_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonValue>("value"); // undefined = remove the key
    QTest::newRow("missing showAds") << "showAds" << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("missing excludedPaths") << "excludedPaths" << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("bool as string") << "showAds" << QJsonValue(QStringLiteral("true"));
    QTest::newRow("number as string") << "largeFolderThresholdGB" << QJsonValue(QStringLiteral("5"));
    QTest::newRow("fractional integer") << "archiveCandidateMinDays" << QJsonValue(60.5);
    QTest::newRow("unknown video mode") << "videoSearchMode" << QJsonValue(QStringLiteral("byName"));
    QTest::newRow("unknown fan mode") << "fanControlMode" << QJsonValue(QStringLiteral("turbo"));
    QTest::newRow("null string") << "archivePath" << QJsonValue(QJsonValue::Null);
    QTest::newRow("array with a number") << "excludedPaths" << QJsonValue(QJsonArray{QStringLiteral("a"), 1});
    QTest::newRow("date as string") << "eulaAcceptedAt" << QJsonValue(QStringLiteral("2024-01-01"));
}

void TestAppSettings::strictDecoding()
{
    QFETCH(QString, key);
    QFETCH(QJsonValue, value);
    QJsonObject object;
    QVERIFY(AppSettings::defaults(QStringLiteral("/home/u")).toJsonObject(&object));
    QVERIFY(AppSettings::fromJsonObject(object));
    if (value.isUndefined()) {
        object.remove(key);
    } else {
        object.insert(key, value);
    }
    QVERIFY(!AppSettings::fromJsonObject(object));
    QVERIFY(!AppSettings::fromJson(QJsonDocument(object).toJson()));
}

void TestAppSettings::missingDateIsAllowed()
{
    QJsonObject object;
    AppSettings s = AppSettings::defaults(QStringLiteral("/home/u"));
    s.eulaAccepted = true;
    QVERIFY(s.toJsonObject(&object));
    object.insert(QLatin1String("someFutureField"), 1);
    const std::optional<AppSettings> decoded = AppSettings::fromJsonObject(object);
    QVERIFY(decoded);
    QVERIFY(!decoded->eulaAcceptedAt);
    QVERIFY(decoded->eulaAccepted);
    QVERIFY(!AppSettings::fromJson("{not json"));
    QVERIFY(!AppSettings::fromJson("[]"));
    QVERIFY(!AppSettings::fromJson(""));
}

void TestAppSettings::nonFiniteNumbersCannotBeEncoded()
{
    AppSettings s = AppSettings::defaults(QStringLiteral("/home/u"));
    s.largeFileThresholdMB = std::nan("");
    QVERIFY(!s.toJson());
    s.largeFileThresholdMB = 1;
    s.eulaAcceptedAt = INFINITY;
    QVERIFY(!s.toJson());
}

BRISKO_TEST(TestAppSettings)
#include "tst_AppSettings.moc"
