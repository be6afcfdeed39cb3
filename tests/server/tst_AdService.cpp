#include "BriskoTest.h"
#include "TestValues.h"
#include "ServerTestCase.h"

#include "server/AdService.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QtTest>

using namespace std::chrono_literals;

// Banners: the built-in and cached lists, fetching from a real loopback
// server, the picture cache and the rotation (on shortened seconds).
class tst_AdService : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void firstLaunchRotatesTheBuiltInList();
    void cachedRotationInterval_data();
    void cachedRotationInterval();
    void fetchReplacesTheListAndCachesPictures();
    void existingPicturesAreIndexedAndNotFetchedAgain();
    void answersThatKeepTheList_data();
    void answersThatKeepTheList();
    void onlySafeIdsWithGoodPicturesGetAFile();
    void laterStartSupersedesAnEarlierOne();

private:
    std::unique_ptr<AdService> makeService();
    QString folder() const { return m_bed->path(QStringLiteral("AdImages")); }
    QString endpoint() const { return m_bed->server.endpoint(QStringLiteral("ads.json")); }
    static QByteArray config(const QJsonArray& banners, std::optional<int> rotateSeconds = std::nullopt);
    static QJsonObject banner(const QString& id, const QString& imageURL = QString());
};

std::unique_ptr<AdService> tst_AdService::makeService()
{
    auto service = std::make_unique<AdService>(&m_bed->transport, m_bed->store, folder());
    AdService::Timing timing;
    timing.second = 5ms;
    timing.fetchTimeout = 800ms;
    timing.pictureTimeout = 800ms;
    service->setTiming(timing);
    return service;
}

QByteArray tst_AdService::config(const QJsonArray& banners, std::optional<int> rotateSeconds)
{
    QJsonObject object{{QStringLiteral("banners"), banners}};
    if (rotateSeconds) {
        object.insert(QStringLiteral("rotateSeconds"), *rotateSeconds);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Without a picture address when imageURL is empty.
QJsonObject tst_AdService::banner(const QString& id, const QString& imageURL)
{
    QJsonObject object{{QStringLiteral("id"), id},
                       {QStringLiteral("title"), QStringLiteral("Заголовок ") + id},
                       {QStringLiteral("subtitle"), QStringLiteral("Подзаголовок")},
                       {QStringLiteral("url"), QStringLiteral("https://korvane.ru/") + id},
                       {QStringLiteral("imageURL"), imageURL}};
    if (imageURL.isEmpty()) {
        object.remove(QStringLiteral("imageURL"));
    }
    return object;
}

void tst_AdService::firstLaunchRotatesTheBuiltInList()
{
    m_bed->transport.setOffline(true);
    auto service = makeService();
    const AdItemList builtIn = AdsConfig::fallback().banners;
    QVERIFY(builtIn.size() > 1);
    QCOMPARE(service->ads(), builtIn);
    QCOMPARE(service->currentAd(), builtIn.first());
    QCOMPARE(service->rotateSeconds(), 30);
    QVERIFY(service->cachedImagePaths().isEmpty());
    QVERIFY(!service->isRotating());
    QSignalSpy changes(service.get(), &AdService::currentAdChanged);
    QVERIFY(ServerTestBed::await(service->start(endpoint())));
    QVERIFY(service->isRotating());
    QCOMPARE(service->rotationIntervalMs(), 30 * 5);
    QVERIFY(changes.wait());
    QCOMPARE(service->currentAd(), builtIn.at(1));
    QCOMPARE(service->adIndex(), 1);
    QTRY_COMPARE(changes.size(), int(builtIn.size()));
    QCOMPARE(service->currentAd(), builtIn.first());
}

void tst_AdService::cachedRotationInterval_data()
{
    QTest::addColumn<std::optional<int>>("configured");
    QTest::addColumn<int>("seconds");
    QTest::newRow("3 becomes 10") << std::optional<int>(3) << 10;
    QTest::newRow("absent is 30") << std::optional<int>() << 30;
    QTest::newRow("45 stays") << std::optional<int>(45) << 45;
    QTest::newRow("beyond a day is a day") << std::optional<int>(2000000000) << 86400;
}

void tst_AdService::cachedRotationInterval()
{
    QFETCH(std::optional<int>, configured);
    QFETCH(int, seconds);
    m_bed->store->setData(AdService::cacheKey, config({banner(QStringLiteral("cached-a")), banner(QStringLiteral("cached-b"))}, configured));
    auto service = makeService();
    QCOMPARE(service->ads().size(), 2);
    QCOMPARE(service->currentAd().id, QStringLiteral("cached-a"));
    QCOMPARE(service->rotateSeconds(), seconds);
    // Without a usable address the cached list rotates at that pace.
    QVERIFY(ServerTestBed::await(service->start(QStringLiteral("ads"))));
    QVERIFY(service->isRotating());
    QCOMPARE(service->rotationIntervalMs(), seconds * 5);
    QCOMPARE(service->ads().first().id, QStringLiteral("cached-a"));
}

void tst_AdService::fetchReplacesTheListAndCachesPictures()
{
    auto service = makeService();
    QSignalSpy pictures(service.get(), &AdService::cachedImagePathsChanged);
    QVERIFY(ServerTestBed::await(service->start(endpoint())));
    QCOMPARE(service->ads().size(), 2);
    QCOMPARE(service->currentAd().id, QStringLiteral("local-one"));
    QCOMPARE(service->currentAd().sponsor, QStringLiteral("Korvane"));
    QCOMPARE(m_bed->store->data(AdService::cacheKey), m_bed->server.defaultAdsConfig());
    QCOMPARE(service->cachedImagePaths().keys(), QStringList({QStringLiteral("local-one"), QStringLiteral("local-two")}));
    QFile picture(QDir(folder()).filePath(QStringLiteral("local-two.png")));
    QVERIFY(picture.open(QIODevice::ReadOnly));
    QCOMPARE(picture.readAll(), LoopbackMakerServer::picture());
    QCOMPARE(service->cachedImagePaths().value(QStringLiteral("local-two")), picture.fileName());
    QCOMPARE(pictures.size(), 2);
    QVERIFY(service->isRotating());
    // The fetched list is what the next start begins with, offline too.
    auto nextLaunch = makeService();
    QCOMPARE(nextLaunch->ads(), service->ads());
    QCOMPARE(nextLaunch->rotateSeconds(), 15);
    QCOMPARE(nextLaunch->cachedImagePaths(), service->cachedImagePaths());
}

void tst_AdService::existingPicturesAreIndexedAndNotFetchedAgain()
{
    QVERIFY(QDir().mkpath(QDir(folder()).filePath(QStringLiteral("folder.png"))));
    for (const QString& name : {QStringLiteral("local-one.png"), QStringLiteral("bad name.png")}) {
        QVERIFY(writeAll(QDir(folder()).filePath(name), "old picture"));
    }
    auto service = makeService();
    QCOMPARE(service->cachedImagePaths().keys(), QStringList({QStringLiteral("local-one")}));
    QFile existing(service->cachedImagePaths().value(QStringLiteral("local-one")));
    QCOMPARE(existing.fileName(), QDir(folder()).filePath(QStringLiteral("local-one.png")));
    QVERIFY(ServerTestBed::await(service->fetchAds(endpoint())));
    QCOMPARE(m_bed->server.count(QStringLiteral("/api/brisko/images/local-one.png")), 0);
    QCOMPARE(m_bed->server.count(QStringLiteral("/api/brisko/images/local-two.png")), 1);
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("old picture"));
}

void tst_AdService::answersThatKeepTheList_data()
{
    QTest::addColumn<ScriptedResponse>("response");
    QTest::newRow("empty list") << ScriptedResponse::json(200, config({}, 10));
    QTest::newRow("malformed") << ScriptedResponse::json(200, R"({"banners":[{"id":"x",)");
    QTest::newRow("banner without url")
        << ScriptedResponse::json(200, R"({"banners":[{"id":"x","title":"t","subtitle":"s"}]})");
    QTest::newRow("title of the wrong type")
        << ScriptedResponse::json(200, R"({"banners":[{"id":"x","title":5,"subtitle":"s","url":"u"}]})");
    QTest::newRow("fractional rotation")
        << ScriptedResponse::json(200, R"({"banners":[{"id":"x","title":"t","subtitle":"s","url":"u"}],"rotateSeconds":2.5})");
    QTest::newRow("error status") << ScriptedResponse::json(500, config({banner(QStringLiteral("x"))}));
    QTest::newRow("one byte a second") << ScriptedResponse::dripping(config({banner(QStringLiteral("slow"))}));
}

void tst_AdService::answersThatKeepTheList()
{
    QFETCH(ScriptedResponse, response);
    const QByteArray cached = config({banner(QStringLiteral("cached"))}, 20);
    m_bed->store->setData(AdService::cacheKey, cached);
    m_bed->server.enqueue(QStringLiteral("/api/brisko/ads.json"), response);
    auto service = makeService();
    QVERIFY(ServerTestBed::await(service->start(endpoint())));
    QCOMPARE(service->ads().size(), 1);
    QCOMPARE(service->currentAd().id, QStringLiteral("cached"));
    QCOMPARE(m_bed->store->data(AdService::cacheKey), cached);
    QVERIFY(service->isRotating());
}

// Every banner is still shown; only a safe id with a good picture gets a file.
void tst_AdService::onlySafeIdsWithGoodPicturesGetAFile()
{
    const QString image = m_bed->server.endpoint(QStringLiteral("images/any.png"));
    QJsonArray banners;
    for (const QString& id : QStringList{QStringLiteral("../escape"), QStringLiteral("a/b"), QStringLiteral("nul") + QChar(0) + QStringLiteral("x"),
                              QStringLiteral(".hidden"), QStringLiteral(".."), QStringLiteral("реклама"), QString(65, QLatin1Char('a')),
                              QStringLiteral("safe_id-1.v2")}) {
        banners.append(banner(id, image));
    }
    banners.append(banner(QStringLiteral("missing"), m_bed->server.url(QStringLiteral("/nowhere.png"))));
    banners.append(banner(QStringLiteral("huge"), m_bed->server.url(QStringLiteral("/huge.png"))));
    banners.append(banner(QStringLiteral("file"), QStringLiteral("file:///etc/hostname")));
    m_bed->server.setAdsConfig(config(banners));
    m_bed->server.enqueue(QStringLiteral("/huge.png"), ScriptedResponse::generated(6 << 20));
    auto service = makeService();
    QVERIFY(ServerTestBed::await(service->fetchAds(endpoint())));
    QCOMPARE(service->ads().size(), banners.size());
    QCOMPARE(service->cachedImagePaths().keys(), QStringList({QStringLiteral("safe_id-1.v2")}));
    QCOMPARE(m_bed->server.count(QStringLiteral("/api/brisko/images/any.png")), 1);
    QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList({QStringLiteral("safe_id-1.v2.png")}));
    QVERIFY(!QFile::exists(m_bed->path(QStringLiteral("escape.png"))));
    QVERIFY(!QFile::exists(m_bed->path(QStringLiteral("AdImages/a"))));
}

void tst_AdService::laterStartSupersedesAnEarlierOne()
{
    const QString path = QStringLiteral("/api/brisko/ads.json");
    ScriptedResponse slow = ScriptedResponse::json(200, config({banner(QStringLiteral("stale"))}));
    slow.delayMs = 300;
    m_bed->server.enqueue(path, slow);
    m_bed->server.enqueue(path, ScriptedResponse::json(200, config({banner(QStringLiteral("fresh"))})));
    auto service = makeService();
    const QFuture<void> first = service->start(endpoint());
    QTRY_COMPARE(m_bed->server.count(path), 1);
    const QFuture<void> second = service->start(endpoint());
    QVERIFY(ServerTestBed::await(second));
    QVERIFY(ServerTestBed::await(first));
    QCOMPARE(service->currentAd().id, QStringLiteral("fresh"));
    QCOMPARE(service->ads().size(), 1);
    QVERIFY(AdsConfig::decode(m_bed->store->data(AdService::cacheKey).value())->banners.first().id == QStringLiteral("fresh"));
}

BRISKO_TEST(tst_AdService)
#include "tst_AdService.moc"
