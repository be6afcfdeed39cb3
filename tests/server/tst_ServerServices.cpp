#include "BriskoTest.h"
#include "ServerTestCase.h"
#include "TestValues.h"

#include "server/AdService.h"
#include "server/ErrorReportingService.h"
#include "server/FeedbackService.h"
#include "server/RegionGateService.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

class FixedFacts : public SystemFacts
{
public:
    explicit FixedFacts(std::optional<QString> model)
        : m_model(std::move(model))
    {
    }
    std::optional<QString> string(const QString& name) const override
    {
        return name == QLatin1String("hw.model") ? m_model : std::nullopt;
    }
    std::optional<quint64> integer(const QString&) const override { return std::nullopt; }
    qint64 processorCount() const override { return 8; }
    quint64 physicalMemory() const override { return quint64(16) << 30; }
    OsVersion osVersion() const override { return {QStringLiteral("Linux"), 6, 1, 0}; }

private:
    std::optional<QString> m_model;
};

} // namespace

// The services that ask the maker's server, against a real loopback server:
// the launch-time region verdict with every decision rule and every way of
// not getting an answer; feedback messages with their body, diagnostics and
// every result text; banners with the built-in and cached lists, fetching,
// the picture cache and the rotation (on shortened seconds).
class tst_ServerServices : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void answers_data();
    void answers();
    void noAnswer_data();
    void noAnswer();
    void newerEvaluationWins();
    void refusedBeforeSending_data();
    void refusedBeforeSending();
    void bodyWithoutExtras();
    void bodyWithReplyAddressAndDiagnostics();
    void diagnosticsWhenLittleIsKnown();
    void results_data();
    void results();
    void sendingIsPublished();
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
    const QString regionPath = QStringLiteral("/api/brisko/region.php");
    QString regionUrl() const { return m_bed->server.endpoint(QStringLiteral("region.php")); }
    static QLocale russian() { return QLocale(QLocale::Russian, QLocale::Russia); }
    void prepare() override
    {
        FeedbackDiagnostics::Sources sources;
        sources.facts = std::make_shared<FixedFacts>(QStringLiteral("MacBookPro18,3"));
        sources.locale = QLocale(QLocale::Russian, QLocale::Russia);
        sources.installRisk = [] { return AppRuntimeGuard::Risk::none; };
        sources.defaults = m_bed->store;
        sources.freeDiskSpace = [] { return std::optional<qint64>(123456789); };
        m_service = std::make_unique<FeedbackService>(&m_bed->transport, ServerTestBed::info(), FeedbackDiagnostics(sources));
    }
    FeedbackService::Result sendAndWait(const QString& message = QStringLiteral("Скан завис"), const QString& email = QString(),
                                        bool withDiagnostics = false)
    {
        const QFuture<void> sent = m_service->send(message, email, withDiagnostics, feedbackUrl(), QStringLiteral("anon-1"));
        [&] { QVERIFY(ServerTestBed::await(sent)); }();
        [&] { QVERIFY(!m_service->isSending()); }();
        return m_service->lastResult().value_or(FeedbackService::Result::failed(QStringLiteral("no result")));
    }
    QJsonObject body() const { return m_bed->server.requests(feedbackPath).value(0).json(); }
    QString feedbackUrl() const { return m_bed->server.endpoint(QStringLiteral("feedback.php")); }
    std::unique_ptr<AdService> makeAds();
    QString folder() const { return m_bed->path(QStringLiteral("AdImages")); }
    QString adsUrl() const { return m_bed->server.endpoint(QStringLiteral("ads.json")); }
    static QByteArray config(const QJsonArray& banners, std::optional<int> rotateSeconds = std::nullopt);
    static QJsonObject banner(const QString& id, const QString& imageURL = QString());

    const QString feedbackPath = QStringLiteral("/api/brisko/feedback.php");
    std::unique_ptr<FeedbackService> m_service;
};

void tst_ServerServices::answers_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<RegionGateService::Status>("status");
    QTest::addColumn<QString>("summary");
    using S = RegionGateService::Status;
    QTest::newRow("allowed country") << QByteArray(R"({"country_code":"RU","blocked":false})") << russian() << S::allowed
                                     << "Локаль: RU · IP: RU";
    QTest::newRow("blocked country in lower case, older key")
        << QByteArray(R"({"country":"ua"})") << russian() << S::blocked << "Локаль: RU · IP: UA";
    QTest::newRow("null code falls back to the older key")
        << QByteArray(R"({"country_code":null,"country":"UA"})") << russian() << S::blocked << "Локаль: RU · IP: UA";
    QTest::newRow("server says blocked") << QByteArray(R"({"country_code":"DE","blocked":true})") << russian() << S::blocked
                                         << "Локаль: RU · IP: DE";
    QTest::newRow("VPN never blocks") << QByteArray(R"({"country_code":"NL","vpn_suspected":true,"client_region":"UA"})")
                                      << russian() << S::allowed << "Локаль: RU · IP: NL · VPN/прокси";
    QTest::newRow("empty object") << QByteArray("{}") << russian() << S::allowed << "Локаль: RU · IP: —";
    QTest::newRow("unknown keys are ignored") << QByteArray(R"({"country_code":"KZ","city":"Алматы","asn":123})") << russian()
                                              << S::allowed << "Локаль: RU · IP: KZ";
    QTest::newRow("another local region") << QByteArray(R"({"country_code":"RU"})") << QLocale(QLocale::German, QLocale::Austria)
                                          << S::allowed << "Локаль: AT · IP: RU";
    QTest::newRow("locale without a region") << QByteArray(R"({"country_code":"RU"})") << QLocale::c() << S::allowed
                                             << "Локаль: — · IP: RU";
}

void tst_ServerServices::answers()
{
    QFETCH(QByteArray, body);
    QFETCH(QLocale, locale);
    QFETCH(RegionGateService::Status, status);
    QFETCH(QString, summary);
    m_bed->server.enqueue(regionPath, ScriptedResponse::json(200, body));
    RegionGateService gate(&m_bed->transport, locale);
    QCOMPARE(gate.status(), RegionGateService::Status::checking);
    QSignalSpy statusChanges(&gate, &RegionGateService::statusChanged);
    QVERIFY(ServerTestBed::await(gate.evaluate(regionUrl())));
    QCOMPARE(gate.status(), status);
    QCOMPARE(gate.lastCheckSummary(), summary);
    QCOMPARE(statusChanges.size(), 1);
    QCOMPARE(m_bed->server.requests().size(), 1);
    const RecordedRequest request = m_bed->server.requests().first();
    QCOMPARE(request.method, QByteArray("GET"));
    QVERIFY(request.query.isEmpty());
    // The local region goes along, and the answer comes from the server, never from a cache.
    const QString region = summary.section(QLatin1Char(' '), 1, 1);
    QCOMPARE(request.header("X-Client-Region"), region == QStringLiteral("—") ? std::nullopt : std::optional(region.toUtf8()));
    QCOMPARE(request.header("Cache-Control"), QByteArray("no-cache"));
}

void tst_ServerServices::noAnswer_data()
{
    QTest::addColumn<ScriptedResponse>("response");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QLocale>("locale");
    const auto json = [](int status, const QByteArray& body) { return ScriptedResponse::json(status, body); };
    QTest::newRow("403 with a blocking body") << json(403, R"({"country_code":"UA","blocked":true})") << "" << russian();
    QTest::newRow("500") << json(500, "{}") << "" << russian();
    QTest::newRow("malformed JSON") << json(200, R"({"country_code": "UA",)") << "" << russian();
    QTest::newRow("not an object") << json(200, R"(["UA"])") << "" << russian();
    QTest::newRow("wrong type of code") << json(200, R"({"country_code":804,"blocked":true})") << "" << russian();
    QTest::newRow("wrong type of flag") << json(200, R"({"country_code":"UA","blocked":"yes"})") << "" << russian();
    QTest::newRow("wrong type of the older key") << json(200, R"({"country":["UA"]})") << "" << russian();
    // Which answers arrive incomplete or not at all is tst_HttpTransport's
    // table; here one of each kind, the silent one on the shortened limit.
    ScriptedResponse truncated = json(200, R"({"country_code":"UA"})");
    truncated.declaredLength = 400;
    QTest::newRow("truncated") << truncated << "" << russian();
    QTest::newRow("silent") << ScriptedResponse::silent() << "" << russian();
    QTest::newRow("local file") << ScriptedResponse() << "file:///etc/hostname" << russian();
    QTest::newRow("local file, locale without a region") << ScriptedResponse() << "file:///etc/hostname" << QLocale::c();
}

void tst_ServerServices::noAnswer()
{
    QFETCH(ScriptedResponse, response);
    QFETCH(QString, url);
    QFETCH(QLocale, locale);
    m_bed->server.enqueue(regionPath, response);
    RegionGateService gate(&m_bed->transport, locale);
    // The program waits three seconds; here the limit is short.
    QCOMPARE(gate.networkTimeout(), 3.0);
    gate.setNetworkTimeout(0.5);
    QVERIFY(ServerTestBed::await(gate.evaluate(url.isEmpty() ? regionUrl() : url)));
    QCOMPARE(gate.status(), RegionGateService::Status::allowed);
    QCOMPARE(gate.lastCheckSummary(), QStringLiteral("Офлайн · локаль Mac: %1 · доступ разрешён")
                                          .arg(locale == QLocale::c() ? QStringLiteral("—") : QStringLiteral("RU")));
}

void tst_ServerServices::newerEvaluationWins()
{
    ScriptedResponse slowBlocked = ScriptedResponse::json(200, R"({"country_code":"UA"})");
    slowBlocked.delayMs = 300;
    m_bed->server.enqueue(regionPath, slowBlocked);
    m_bed->server.enqueue(regionPath, ScriptedResponse::json(200, R"({"country_code":"RU"})"));
    RegionGateService gate(&m_bed->transport, russian());
    const QFuture<void> first = gate.evaluate(regionUrl());
    QTRY_COMPARE(m_bed->server.requests().size(), 1);
    const QFuture<void> second = gate.evaluate(regionUrl());
    QVERIFY(ServerTestBed::await(first));
    QVERIFY(ServerTestBed::await(second));
    QCOMPARE(gate.status(), RegionGateService::Status::allowed);
    QCOMPARE(gate.lastCheckSummary(), QStringLiteral("Локаль: RU · IP: RU"));
}

void tst_ServerServices::refusedBeforeSending_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QString>("error"); // empty: sent
    QTest::newRow("four letters in blanks") << "  \n тест \t " << "" << FeedbackService::tooShortText;
    QTest::newRow("five letters") << " отказ " << "" << "";
    QTest::newRow("four pictographs") << "😀😀😀😀" << "" << FeedbackService::tooShortText;
    QTest::newRow("blanks only") << "     \n\n   " << "" << FeedbackService::tooShortText;
    // Refused at once, without a round of the event loop.
    QTest::newRow("bad endpoint") << "Всё работает" << "feedback" << FeedbackService::badEndpointText;
}

void tst_ServerServices::refusedBeforeSending()
{
    QFETCH(QString, message);
    QFETCH(QString, endpoint);
    QFETCH(QString, error);
    const QFuture<void> sent =
        m_service->send(message, QString(), false, endpoint.isEmpty() ? feedbackUrl() : endpoint, QString());
    if (!endpoint.isEmpty()) {
        QCOMPARE(m_service->lastResult(), FeedbackService::Result::failed(error));
        QVERIFY(!m_service->isSending());
    }
    QVERIFY(ServerTestBed::await(sent));
    if (error.isEmpty()) {
        QCOMPARE(m_service->lastResult()->kind, FeedbackService::Result::Kind::sent);
        QCOMPARE(body().value(QLatin1String("message")).toString(), message.trimmed());
    } else {
        QCOMPARE(m_service->lastResult(), FeedbackService::Result::failed(error));
        QVERIFY(m_bed->server.requests().isEmpty());
    }
}

void tst_ServerServices::bodyWithoutExtras()
{
    sendAndWait(QStringLiteral("  Не видит внешний диск  "), QStringLiteral("  \n "));
    const RecordedRequest request = m_bed->server.requests(feedbackPath).first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(body(), QJsonObject({{QStringLiteral("anonymous_id"), QStringLiteral("anon-1")},
                                  {QStringLiteral("message"), QStringLiteral("Не видит внешний диск")},
                                  {QStringLiteral("app_version"), QStringLiteral("1.4.2")},
                                  {QStringLiteral("build"), QStringLiteral("42")},
                                  {QStringLiteral("os_version"), ServerTestBed::info().osVersion}}));
}

void tst_ServerServices::bodyWithReplyAddressAndDiagnostics()
{
    ErrorReportingService errors(m_bed->store, m_bed->clock, m_bed->client(), ServerTestBed::info());
    m_bed->gate->block(QStringLiteral("127.0.0.1"), 60);
    errors.configure(m_bed->server.endpoint(QStringLiteral("errors.php")), true, QStringLiteral("anon-1"));
    for (int i = 1; i <= 6; ++i) {
        errors.report(AppFeature::scan, QStringLiteral("сбой %1").arg(i), {});
    }
    QVERIFY(ServerTestBed::await(errors.flushQueue()));
    errors.waitForListWrites();

    sendAndWait(QStringLiteral("Предлагаю тёмную тему"), QStringLiteral(" anna@example.ru\n"), true);
    QCOMPARE(body().value(QLatin1String("email")).toString(), QStringLiteral("anna@example.ru"));
    QCOMPARE(body().value(QLatin1String("diagnostics")).toObject(),
             QJsonObject({{QStringLiteral("model"), QStringLiteral("MacBookPro18,3")},
                          {QStringLiteral("arch"), QSysInfo::buildCpuArchitecture()},
                          {QStringLiteral("locale"), QStringLiteral("ru_RU")},
                          {QStringLiteral("install_location_safe"), QStringLiteral("yes")},
                          {QStringLiteral("recent_errors"),
                           QStringLiteral("scan: сбой 6 || scan: сбой 5 || scan: сбой 4 || scan: сбой 3 || scan: сбой 2")},
                          {QStringLiteral("free_disk"), QStringLiteral("123,5\u00a0МБ")}}));
}

void tst_ServerServices::diagnosticsWhenLittleIsKnown()
{
    FeedbackDiagnostics::Sources sources;
    sources.facts = std::make_shared<FixedFacts>(std::nullopt);
    sources.locale = QLocale::c();
    sources.installRisk = [] { return AppRuntimeGuard::Risk::diskImage; };
    sources.defaults = m_bed->store;
    sources.freeDiskSpace = [] { return std::optional<qint64>(); };
    QCOMPARE(FeedbackDiagnostics(sources).collect(),
             (QMap<QString, QString>{{QStringLiteral("arch"), QSysInfo::buildCpuArchitecture()},
                                     {QStringLiteral("install_location_safe"), QStringLiteral("no")},
                                     {QStringLiteral("locale"), QStringLiteral("C")},
                                     {QStringLiteral("model"), QStringLiteral("unknown")}}));
}

void tst_ServerServices::results_data()
{
    QTest::addColumn<ScriptedResponse>("response");
    QTest::addColumn<FeedbackService::Result>("result");
    using R = FeedbackService::Result;
    const auto json = [](int status, const QByteArray& body) { return ScriptedResponse::json(status, body); };
    const auto http = [](int status) { return R::failed(QStringLiteral("Не удалось отправить (HTTP %1)").arg(status)); };
    QTest::newRow("ok with a message") << json(200, R"({"ok":true,"message":"Получили, спасибо"})")
                                       << R::sent(QStringLiteral("Получили, спасибо"));
    QTest::newRow("ok without a message") << json(201, R"({"ok":true})") << R::sent(FeedbackService::sentText);
    QTest::newRow("200, ok false, error text") << json(200, R"({"ok":false,"error":"Спам"})") << R::failed(QStringLiteral("Спам"));
    QTest::newRow("200 without a body") << json(200, {}) << http(200);
    QTest::newRow("200, ok as a string") << json(200, R"({"ok":"true"})") << http(200);
    QTest::newRow("500 with an error text") << json(500, R"({"error":"База недоступна"})")
                                            << R::failed(QStringLiteral("База недоступна"));
    QTest::newRow("404 with HTML") << json(404, "<html>Not Found</html>") << http(404);
    QTest::newRow("429 whatever the body") << json(429, R"({"ok":true,"message":"?"})") << R::failed(FeedbackService::tooManyText);
    QTest::newRow("blank error text") << json(500, R"({"error":" \n"})") << http(500);
    QTest::newRow("error of the wrong type") << json(400, R"({"error":{"code":7}})") << http(400);
    QTest::newRow("10 MiB body") << ScriptedResponse::generated(10 << 20) << http(200);
    // The service's time limit reaches the transport.
    QTest::newRow("silent") << ScriptedResponse::silent() << R::failed(QStringLiteral("Ошибка сети: сервер не ответил вовремя"));
}

void tst_ServerServices::results()
{
    QFETCH(ScriptedResponse, response);
    QFETCH(FeedbackService::Result, result);
    m_bed->server.enqueue(feedbackPath, response);
    m_service->setTimeout(std::chrono::milliseconds(800));
    QCOMPARE(sendAndWait(), result);
}

void tst_ServerServices::sendingIsPublished()
{
    m_bed->server.enqueue(feedbackPath, ScriptedResponse::json(200, R"({"ok":true})"));
    m_service->send(QStringLiteral("x"), QString(), false, feedbackUrl(), QString());
    QVERIFY(m_service->lastResult());
    QSignalSpy sending(m_service.get(), &FeedbackService::isSendingChanged);
    const QFuture<void> sent = m_service->send(QStringLiteral("Медленный сервер"), QString(), false, feedbackUrl(), QString());
    QVERIFY(m_service->isSending());
    // A new send clears the previous result.
    QVERIFY(!m_service->lastResult());
    QVERIFY(ServerTestBed::await(sent));
    QVERIFY(!m_service->isSending());
    QCOMPARE(sending.size(), 2);
    QCOMPARE(m_service->lastResult(), FeedbackService::Result::sent(FeedbackService::sentText));
}

std::unique_ptr<AdService> tst_ServerServices::makeAds()
{
    auto service = std::make_unique<AdService>(&m_bed->transport, m_bed->store, folder());
    AdService::Timing timing;
    timing.second = 5ms;
    timing.fetchTimeout = 800ms;
    timing.pictureTimeout = 800ms;
    service->setTiming(timing);
    return service;
}

QByteArray tst_ServerServices::config(const QJsonArray& banners, std::optional<int> rotateSeconds)
{
    QJsonObject object{{QStringLiteral("banners"), banners}};
    if (rotateSeconds) {
        object.insert(QStringLiteral("rotateSeconds"), *rotateSeconds);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Without a picture address when imageURL is empty.
QJsonObject tst_ServerServices::banner(const QString& id, const QString& imageURL)
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

void tst_ServerServices::firstLaunchRotatesTheBuiltInList()
{
    m_bed->transport.setOffline(true);
    auto service = makeAds();
    const AdItemList builtIn = AdsConfig::fallback().banners;
    QVERIFY(builtIn.size() > 1);
    QCOMPARE(service->ads(), builtIn);
    QCOMPARE(service->currentAd(), builtIn.first());
    QCOMPARE(service->rotateSeconds(), 30);
    QVERIFY(service->cachedImagePaths().isEmpty());
    QVERIFY(!service->isRotating());
    QSignalSpy changes(service.get(), &AdService::currentAdChanged);
    QVERIFY(ServerTestBed::await(service->start(adsUrl())));
    QVERIFY(service->isRotating());
    QCOMPARE(service->rotationIntervalMs(), 30 * 5);
    QVERIFY(changes.wait());
    QCOMPARE(service->currentAd(), builtIn.at(1));
    QCOMPARE(service->adIndex(), 1);
    QTRY_COMPARE(changes.size(), int(builtIn.size()));
    QCOMPARE(service->currentAd(), builtIn.first());
}

void tst_ServerServices::cachedRotationInterval_data()
{
    QTest::addColumn<std::optional<int>>("configured");
    QTest::addColumn<int>("seconds");
    QTest::newRow("3 becomes 10") << std::optional<int>(3) << 10;
    QTest::newRow("absent is 30") << std::optional<int>() << 30;
    QTest::newRow("45 stays") << std::optional<int>(45) << 45;
    QTest::newRow("beyond a day is a day") << std::optional<int>(2000000000) << 86400;
}

void tst_ServerServices::cachedRotationInterval()
{
    QFETCH(std::optional<int>, configured);
    QFETCH(int, seconds);
    m_bed->store->setData(AdService::cacheKey, config({banner(QStringLiteral("cached-a")), banner(QStringLiteral("cached-b"))}, configured));
    auto service = makeAds();
    QCOMPARE(service->ads().size(), 2);
    QCOMPARE(service->currentAd().id, QStringLiteral("cached-a"));
    QCOMPARE(service->rotateSeconds(), seconds);
    // Without a usable address the cached list rotates at that pace.
    QVERIFY(ServerTestBed::await(service->start(QStringLiteral("ads"))));
    QVERIFY(service->isRotating());
    QCOMPARE(service->rotationIntervalMs(), seconds * 5);
    QCOMPARE(service->ads().first().id, QStringLiteral("cached-a"));
}

void tst_ServerServices::fetchReplacesTheListAndCachesPictures()
{
    auto service = makeAds();
    QSignalSpy pictures(service.get(), &AdService::cachedImagePathsChanged);
    QVERIFY(ServerTestBed::await(service->start(adsUrl())));
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
    auto nextLaunch = makeAds();
    QCOMPARE(nextLaunch->ads(), service->ads());
    QCOMPARE(nextLaunch->rotateSeconds(), 15);
    QCOMPARE(nextLaunch->cachedImagePaths(), service->cachedImagePaths());
}

void tst_ServerServices::existingPicturesAreIndexedAndNotFetchedAgain()
{
    QVERIFY(QDir().mkpath(QDir(folder()).filePath(QStringLiteral("folder.png"))));
    for (const QString& name : {QStringLiteral("local-one.png"), QStringLiteral("bad name.png")}) {
        QVERIFY(writeAll(QDir(folder()).filePath(name), "old picture"));
    }
    auto service = makeAds();
    QCOMPARE(service->cachedImagePaths().keys(), QStringList({QStringLiteral("local-one")}));
    QFile existing(service->cachedImagePaths().value(QStringLiteral("local-one")));
    QCOMPARE(existing.fileName(), QDir(folder()).filePath(QStringLiteral("local-one.png")));
    QVERIFY(ServerTestBed::await(service->fetchAds(adsUrl())));
    QCOMPARE(m_bed->server.count(QStringLiteral("/api/brisko/images/local-one.png")), 0);
    QCOMPARE(m_bed->server.count(QStringLiteral("/api/brisko/images/local-two.png")), 1);
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("old picture"));
}

void tst_ServerServices::answersThatKeepTheList_data()
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

void tst_ServerServices::answersThatKeepTheList()
{
    QFETCH(ScriptedResponse, response);
    const QByteArray cached = config({banner(QStringLiteral("cached"))}, 20);
    m_bed->store->setData(AdService::cacheKey, cached);
    m_bed->server.enqueue(QStringLiteral("/api/brisko/ads.json"), response);
    auto service = makeAds();
    QVERIFY(ServerTestBed::await(service->start(adsUrl())));
    QCOMPARE(service->ads().size(), 1);
    QCOMPARE(service->currentAd().id, QStringLiteral("cached"));
    QCOMPARE(m_bed->store->data(AdService::cacheKey), cached);
    QVERIFY(service->isRotating());
}

// Every banner is still shown; only a safe id with a good picture gets a file.
void tst_ServerServices::onlySafeIdsWithGoodPicturesGetAFile()
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
    auto service = makeAds();
    QVERIFY(ServerTestBed::await(service->fetchAds(adsUrl())));
    QCOMPARE(service->ads().size(), banners.size());
    QCOMPARE(service->cachedImagePaths().keys(), QStringList({QStringLiteral("safe_id-1.v2")}));
    QCOMPARE(m_bed->server.count(QStringLiteral("/api/brisko/images/any.png")), 1);
    QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList({QStringLiteral("safe_id-1.v2.png")}));
    QVERIFY(!QFile::exists(m_bed->path(QStringLiteral("escape.png"))));
    QVERIFY(!QFile::exists(m_bed->path(QStringLiteral("AdImages/a"))));
}

void tst_ServerServices::laterStartSupersedesAnEarlierOne()
{
    const QString path = QStringLiteral("/api/brisko/ads.json");
    ScriptedResponse slow = ScriptedResponse::json(200, config({banner(QStringLiteral("stale"))}));
    slow.delayMs = 300;
    m_bed->server.enqueue(path, slow);
    m_bed->server.enqueue(path, ScriptedResponse::json(200, config({banner(QStringLiteral("fresh"))})));
    auto service = makeAds();
    const QFuture<void> first = service->start(adsUrl());
    QTRY_COMPARE(m_bed->server.count(path), 1);
    const QFuture<void> second = service->start(adsUrl());
    QVERIFY(ServerTestBed::await(second));
    QVERIFY(ServerTestBed::await(first));
    QCOMPARE(service->currentAd().id, QStringLiteral("fresh"));
    QCOMPARE(service->ads().size(), 1);
    QVERIFY(AdsConfig::decode(m_bed->store->data(AdService::cacheKey).value())->banners.first().id == QStringLiteral("fresh"));
}

BRISKO_TEST(tst_ServerServices)
#include "tst_ServerServices.moc"
