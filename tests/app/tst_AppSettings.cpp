#include "BriskoTest.h"
#include "model/AppSettings.h"
#include "model/ReferenceDate.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

class TestAppSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void defaults()
    {
        const AppSettings s = AppSettings::defaults(QStringLiteral("/home/пользователь"));
        QCOMPARE(s.archivePath, QStringLiteral("/home/пользователь/Movies/Brisko Archive"));
        QCOMPARE(AppSettings::defaults(QStringLiteral("/home/u/")).archivePath,
                 QStringLiteral("/home/u/Movies/Brisko Archive"));
        // Nothing is agreed to on the user's behalf.
        QVERIFY(!s.eulaAccepted && !s.eulaAcceptedAt && !s.onboardingCompleted);
        QCOMPARE(s.excludedPaths, (QStringList{QStringLiteral("Library"), QStringLiteral("node_modules"),
                                               QStringLiteral(".Trash"), QStringLiteral(".npm"), QStringLiteral(".cache")}));
    }

    void roundTripKeepsEveryField()
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

        // The date survives bit for bit; the reference date is 2001-01-01 UTC.
        const QDateTime accepted = QDateTime(QDate(2026, 3, 14), QTime(6, 30, 15, 123), Qt::UTC);
        s.eulaAcceptedAt = ReferenceDate::fromDateTime(accepted) + 0.000456789;
        QCOMPARE(QJsonDocument::fromJson(*s.toJson()).object().size(), 30);
        const std::optional<AppSettings> back = AppSettings::fromJson(*s.toJson());
        QVERIFY(back);
        QCOMPARE(std::memcmp(&*back->eulaAcceptedAt, &*s.eulaAcceptedAt, sizeof(double)), 0);
        QCOMPARE(ReferenceDate::toDateTime(*back->eulaAcceptedAt), accepted);
        QCOMPARE(ReferenceDate::toDateTime(0), QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
    }

    void strictDecoding_data()
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

    void strictDecoding()
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

    void tolerantWhereItMayBe()
    {
        // A missing date and keys of later versions are allowed.
        QJsonObject object;
        AppSettings s = AppSettings::defaults(QStringLiteral("/home/u"));
        s.eulaAccepted = true;
        QVERIFY(s.toJsonObject(&object));
        object.insert(QLatin1String("someFutureField"), 1);
        QCOMPARE(AppSettings::fromJsonObject(object), s);
        QVERIFY(!AppSettings::fromJson("{not json"));
        QVERIFY(!AppSettings::fromJson("[]"));
        // Numbers JSON cannot hold are not encoded at all.
        s.largeFileThresholdMB = std::nan("");
        QVERIFY(!s.toJson());
        s.largeFileThresholdMB = 1;
        s.eulaAcceptedAt = INFINITY;
        QVERIFY(!s.toJson());
    }
};

BRISKO_TEST(TestAppSettings)
#include "tst_AppSettings.moc"
