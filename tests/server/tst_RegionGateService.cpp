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
    void localRegionIsSentAlong();
    void localeWithoutRegionSendsNoHeader();
    void newerEvaluationWins();

private:
    const QString regionPath = QStringLiteral("/api/brisko/region.php");
    QString endpoint() const { return m_bed->server.endpoint(QStringLiteral("region.php")); }
    static QLocale russian() { return QLocale(QLocale::Russian, QLocale::Russia); }
};

void tst_RegionGateService::answers_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<RegionGateService::Status>("status");
    QTest::addColumn<QString>("summary");
    using S = RegionGateService::Status;
    QTest::newRow("allowed country") << QByteArray(R"({"country_code":"RU","blocked":false})") << S::allowed
                                     << "Локаль: RU · IP: RU";
    QTest::newRow("blocked country in lower case, older key")
        << QByteArray(R"({"country":"ua"})") << S::blocked << "Локаль: RU · IP: UA";
    QTest::newRow("null code falls back to the older key")
        << QByteArray(R"({"country_code":null,"country":"UA"})") << S::blocked << "Локаль: RU · IP: UA";
    QTest::newRow("server says blocked") << QByteArray(R"({"country_code":"DE","blocked":true})") << S::blocked
                                         << "Локаль: RU · IP: DE";
    QTest::newRow("VPN never blocks") << QByteArray(R"({"country_code":"NL","vpn_suspected":true,"client_region":"UA"})")
                                      << S::allowed << "Локаль: RU · IP: NL · VPN/прокси";
    QTest::newRow("empty object") << QByteArray("{}") << S::allowed << "Локаль: RU · IP: —";
    QTest::newRow("unknown keys are ignored") << QByteArray(R"({"country_code":"KZ","city":"Алматы","asn":123})")
                                              << S::allowed << "Локаль: RU · IP: KZ";
}

void tst_RegionGateService::answers()
{
    QFETCH(QByteArray, body);
    QFETCH(RegionGateService::Status, status);
    QFETCH(QString, summary);
    m_bed->server.enqueue(regionPath, ScriptedResponse::json(200, body));
    RegionGateService gate(&m_bed->transport, russian());
    QCOMPARE(gate.status(), RegionGateService::Status::checking);
    QSignalSpy statusChanges(&gate, &RegionGateService::statusChanged);
    QVERIFY(ServerTestBed::await(gate.evaluate(endpoint())));
    QCOMPARE(gate.status(), status);
    QCOMPARE(gate.lastCheckSummary(), summary);
    QCOMPARE(statusChanges.size(), 1);
    QCOMPARE(m_bed->server.requests().size(), 1);
    QCOMPARE(m_bed->server.requests().first().method, QByteArray("GET"));
    QVERIFY(m_bed->server.requests().first().query.isEmpty());
}

void tst_RegionGateService::noAnswer_data()
{
    QTest::addColumn<ScriptedResponse>("response");
    QTest::addColumn<QString>("url");
    QTest::newRow("403 with a blocking body") << ScriptedResponse::json(403, R"({"country_code":"UA","blocked":true})")
                                              << QString();
    QTest::newRow("500") << ScriptedResponse::json(500, "{}") << QString();
    QTest::newRow("malformed JSON") << ScriptedResponse::json(200, R"({"country_code": "UA",)") << QString();
    QTest::newRow("not an object") << ScriptedResponse::json(200, R"(["UA"])") << QString();
    QTest::newRow("wrong type of code") << ScriptedResponse::json(200, R"({"country_code":804,"blocked":true})")
                                        << QString();
    QTest::newRow("wrong type of flag") << ScriptedResponse::json(200, R"({"country_code":"UA","blocked":"yes"})")
                                        << QString();
    QTest::newRow("wrong type of the older key") << ScriptedResponse::json(200, R"({"country":["UA"]})") << QString();
    // Which answers arrive incomplete or not at all is tst_HttpTransport's
    // table; here one of each kind, the silent one on the shortened limit.
    ScriptedResponse truncated = ScriptedResponse::json(200, R"({"country_code":"UA"})");
    truncated.declaredLength = 400;
    QTest::newRow("truncated") << truncated << QString();
    QTest::newRow("silent") << ScriptedResponse::silent() << QString();
    QTest::newRow("local file") << ScriptedResponse() << "file:///etc/hostname";
}

void tst_RegionGateService::noAnswer()
{
    QFETCH(ScriptedResponse, response);
    QFETCH(QString, url);
    m_bed->server.enqueue(regionPath, response);
    RegionGateService gate(&m_bed->transport, russian());
    // The program waits three seconds; here the limit is short.
    QCOMPARE(gate.networkTimeout(), 3.0);
    gate.setNetworkTimeout(0.5);
    const QFuture<void> evaluation = gate.evaluate(url.isEmpty() ? endpoint() : url);
    QVERIFY(ServerTestBed::await(evaluation));
    QCOMPARE(gate.status(), RegionGateService::Status::allowed);
    QCOMPARE(gate.lastCheckSummary(), QStringLiteral("Офлайн · локаль Mac: RU · доступ разрешён"));
}

void tst_RegionGateService::localRegionIsSentAlong()
{
    RegionGateService gate(&m_bed->transport, QLocale(QLocale::German, QLocale::Austria));
    QVERIFY(ServerTestBed::await(gate.evaluate(endpoint())));
    const RecordedRequest request = m_bed->server.requests().first();
    QCOMPARE(request.header("X-Client-Region"), QByteArray("AT"));
    // The answer comes from the server, never from a cache.
    QCOMPARE(request.header("Cache-Control"), QByteArray("no-cache"));
    QCOMPARE(gate.lastCheckSummary(), QStringLiteral("Локаль: AT · IP: RU"));
}

void tst_RegionGateService::localeWithoutRegionSendsNoHeader()
{
    RegionGateService gate(&m_bed->transport, QLocale::c());
    QVERIFY(ServerTestBed::await(gate.evaluate(endpoint())));
    QVERIFY(!m_bed->server.requests().first().header("X-Client-Region"));
    QCOMPARE(gate.lastCheckSummary(), QStringLiteral("Локаль: — · IP: RU"));

    m_bed->transport.setOffline(true);
    QVERIFY(ServerTestBed::await(gate.evaluate(endpoint())));
    QCOMPARE(gate.lastCheckSummary(), QStringLiteral("Офлайн · локаль Mac: — · доступ разрешён"));
    QCOMPARE(m_bed->server.requests().size(), 1);
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
