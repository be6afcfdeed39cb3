#include "BriskoTest.h"
#include "ServerTestCase.h"

#include "server/RegionGateService.h"

#include <QSignalSpy>
#include <QtTest>

// The launch-time region verdict against a real loopback server, with every
// decision rule and every way of not getting an answer.
class tst_RegionGateService : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void answers_data();
    void answers();
    void noAnswer_data();
    void noAnswer();
    void newerEvaluationWins();

private:
    const QString regionPath = QStringLiteral("/api/brisko/region.php");
    QString endpoint() const { return m_bed->server.endpoint(QStringLiteral("region.php")); }
    static QLocale russian() { return QLocale(QLocale::Russian, QLocale::Russia); }
};

void tst_RegionGateService::answers_data()
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

void tst_RegionGateService::answers()
{
    QFETCH(QByteArray, body);
    QFETCH(QLocale, locale);
    QFETCH(RegionGateService::Status, status);
    QFETCH(QString, summary);
    m_bed->server.enqueue(regionPath, ScriptedResponse::json(200, body));
    RegionGateService gate(&m_bed->transport, locale);
    QCOMPARE(gate.status(), RegionGateService::Status::checking);
    QSignalSpy statusChanges(&gate, &RegionGateService::statusChanged);
    QVERIFY(ServerTestBed::await(gate.evaluate(endpoint())));
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

void tst_RegionGateService::noAnswer_data()
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

void tst_RegionGateService::noAnswer()
{
    QFETCH(ScriptedResponse, response);
    QFETCH(QString, url);
    QFETCH(QLocale, locale);
    m_bed->server.enqueue(regionPath, response);
    RegionGateService gate(&m_bed->transport, locale);
    // The program waits three seconds; here the limit is short.
    QCOMPARE(gate.networkTimeout(), 3.0);
    gate.setNetworkTimeout(0.5);
    QVERIFY(ServerTestBed::await(gate.evaluate(url.isEmpty() ? endpoint() : url)));
    QCOMPARE(gate.status(), RegionGateService::Status::allowed);
    QCOMPARE(gate.lastCheckSummary(), QStringLiteral("Офлайн · локаль Mac: %1 · доступ разрешён")
                                          .arg(locale == QLocale::c() ? QStringLiteral("—") : QStringLiteral("RU")));
}

void tst_RegionGateService::newerEvaluationWins()
{
    ScriptedResponse slowBlocked = ScriptedResponse::json(200, R"({"country_code":"UA"})");
    slowBlocked.delayMs = 300;
    m_bed->server.enqueue(regionPath, slowBlocked);
    m_bed->server.enqueue(regionPath, ScriptedResponse::json(200, R"({"country_code":"RU"})"));
    RegionGateService gate(&m_bed->transport, russian());
    const QFuture<void> first = gate.evaluate(endpoint());
    QTRY_COMPARE(m_bed->server.requests().size(), 1);
    const QFuture<void> second = gate.evaluate(endpoint());
    QVERIFY(ServerTestBed::await(first));
    QVERIFY(ServerTestBed::await(second));
    QCOMPARE(gate.status(), RegionGateService::Status::allowed);
    QCOMPARE(gate.lastCheckSummary(), QStringLiteral("Локаль: RU · IP: RU"));
}

BRISKO_TEST(tst_RegionGateService)
#include "tst_RegionGateService.moc"
