#include "BriskoTest.h"
#include "ServerTestCase.h"

#include "server/ErrorReportingService.h"
#include "server/FeedbackService.h"

#include <QSignalSpy>
#include <QtTest>

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

// Feedback messages against a real loopback server: the body, the
// diagnostics and every result text.
class tst_FeedbackService : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void messageLength_data();
    void messageLength();
    void badEndpointIsRefused();
    void bodyWithoutExtras();
    void bodyWithReplyAddressAndDiagnostics();
    void diagnosticsWhenLittleIsKnown();
    void results_data();
    void results();
    void networkFailures();
    void sendingIsPublished();

private:
    FeedbackService::Result sendAndWait(FeedbackService& service, const QString& message = QStringLiteral("Скан завис"),
                                        const QString& email = QString(), bool diagnostics = false);
    FeedbackDiagnostics diagnostics(std::optional<QString> model = QStringLiteral("MacBookPro18,3"),
                                    std::optional<qint64> free = qint64(123456789)) const;
    std::unique_ptr<FeedbackService> makeService();
    QString endpoint() const { return m_bed->server.endpoint(QStringLiteral("feedback.php")); }
    const QString feedbackPath = QStringLiteral("/api/brisko/feedback.php");
};

FeedbackDiagnostics tst_FeedbackService::diagnostics(std::optional<QString> model, std::optional<qint64> free) const
{
    FeedbackDiagnostics::Sources sources;
    sources.facts = std::make_shared<FixedFacts>(std::move(model));
    sources.locale = QLocale(QLocale::Russian, QLocale::Russia);
    sources.installRisk = [] { return AppRuntimeGuard::Risk::none; };
    sources.defaults = m_bed->store;
    sources.freeDiskSpace = [free] { return free; };
    return FeedbackDiagnostics(sources);
}

std::unique_ptr<FeedbackService> tst_FeedbackService::makeService()
{
    return std::make_unique<FeedbackService>(&m_bed->transport, ServerTestBed::info(), diagnostics());
}

FeedbackService::Result tst_FeedbackService::sendAndWait(FeedbackService& service, const QString& message,
                                                         const QString& email, bool withDiagnostics)
{
    const QFuture<void> sent = service.send(message, email, withDiagnostics, endpoint(), QStringLiteral("anon-1"));
    [&] { QVERIFY(ServerTestBed::await(sent)); }();
    [&] { QVERIFY(!service.isSending()); }();
    return service.lastResult().value_or(FeedbackService::Result::failed(QStringLiteral("no result")));
}

void tst_FeedbackService::messageLength_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("four letters in blanks") << "  \n тест \t " << false;
    QTest::newRow("five letters") << " отказ " << true;
    QTest::newRow("four pictographs") << "😀😀😀😀" << false;
    QTest::newRow("blanks only") << "     \n\n   " << false;
}

void tst_FeedbackService::messageLength()
{
    QFETCH(QString, message);
    QFETCH(bool, accepted);
    auto service = makeService();
    const FeedbackService::Result result = sendAndWait(*service, message);
    if (accepted) {
        QCOMPARE(result.kind, FeedbackService::Result::Kind::sent);
        QCOMPARE(m_bed->server.requests(feedbackPath).first().json().value(QLatin1String("message")).toString(),
                 message.trimmed());
    } else {
        QCOMPARE(result, FeedbackService::Result::failed(FeedbackService::tooShortText));
        QVERIFY(m_bed->server.requests().isEmpty());
    }
}

void tst_FeedbackService::badEndpointIsRefused()
{
    auto service = makeService();
    service->send(QStringLiteral("Всё работает"), QString(), false, QStringLiteral("feedback"), QString());
    QCOMPARE(service->lastResult(), FeedbackService::Result::failed(FeedbackService::badEndpointText));
    QVERIFY(!service->isSending());
    QVERIFY(m_bed->server.requests().isEmpty());
}

void tst_FeedbackService::bodyWithoutExtras()
{
    auto service = makeService();
    sendAndWait(*service, QStringLiteral("  Не видит внешний диск  "), QStringLiteral("  \n "));
    const RecordedRequest request = m_bed->server.requests(feedbackPath).first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
    const QJsonObject body = request.json();
    QCOMPARE(body, QJsonObject({{QStringLiteral("anonymous_id"), QStringLiteral("anon-1")},
                                {QStringLiteral("message"), QStringLiteral("Не видит внешний диск")},
                                {QStringLiteral("app_version"), QStringLiteral("1.4.2")},
                                {QStringLiteral("build"), QStringLiteral("42")},
                                {QStringLiteral("os_version"), ServerTestBed::info().osVersion}}));
}

void tst_FeedbackService::bodyWithReplyAddressAndDiagnostics()
{
    ErrorReportingService errors(m_bed->store, m_bed->clock, m_bed->client(), ServerTestBed::info());
    m_bed->gate->block(QStringLiteral("127.0.0.1"), 60);
    errors.configure(m_bed->server.endpoint(QStringLiteral("errors.php")), true, QStringLiteral("anon-1"));
    for (int i = 1; i <= 6; ++i) {
        errors.report(AppFeature::scan, QStringLiteral("сбой %1").arg(i), {});
    }
    QVERIFY(ServerTestBed::await(errors.flushQueue()));
    errors.waitForListWrites();

    auto service = makeService();
    sendAndWait(*service, QStringLiteral("Предлагаю тёмную тему"), QStringLiteral(" anna@example.ru\n"), true);
    const QJsonObject body = m_bed->server.requests(feedbackPath).first().json();
    QCOMPARE(body.value(QLatin1String("email")).toString(), QStringLiteral("anna@example.ru"));
    const QJsonObject diagnostics = body.value(QLatin1String("diagnostics")).toObject();
    QCOMPARE(diagnostics.value(QLatin1String("model")).toString(), QStringLiteral("MacBookPro18,3"));
    QCOMPARE(diagnostics.value(QLatin1String("arch")).toString(), QSysInfo::buildCpuArchitecture());
    QCOMPARE(diagnostics.value(QLatin1String("locale")).toString(), QStringLiteral("ru_RU"));
    QCOMPARE(diagnostics.value(QLatin1String("install_location_safe")).toString(), QStringLiteral("yes"));
    QCOMPARE(diagnostics.value(QLatin1String("recent_errors")).toString(),
             QStringLiteral("scan: сбой 6 || scan: сбой 5 || scan: сбой 4 || scan: сбой 3 || scan: сбой 2"));
    QCOMPARE(diagnostics.value(QLatin1String("free_disk")).toString(), QStringLiteral("123,5\u00a0МБ"));
    for (const QJsonValue& value : diagnostics) {
        QVERIFY(value.isString());
    }
}

void tst_FeedbackService::diagnosticsWhenLittleIsKnown()
{
    FeedbackDiagnostics::Sources sources;
    sources.facts = std::make_shared<FixedFacts>(std::nullopt);
    sources.locale = QLocale::c();
    sources.installRisk = [] { return AppRuntimeGuard::Risk::diskImage; };
    sources.defaults = m_bed->store;
    sources.freeDiskSpace = [] { return std::optional<qint64>(); };
    const QMap<QString, QString> facts = FeedbackDiagnostics(sources).collect();
    QCOMPARE(facts.keys(), QStringList({QStringLiteral("arch"), QStringLiteral("install_location_safe"),
                                        QStringLiteral("locale"), QStringLiteral("model")}));
    QCOMPARE(facts.value(QStringLiteral("model")), QStringLiteral("unknown"));
    QCOMPARE(facts.value(QStringLiteral("install_location_safe")), QStringLiteral("no"));
    QCOMPARE(facts.value(QStringLiteral("locale")), QStringLiteral("C"));
}

void tst_FeedbackService::results_data()
{
    QTest::addColumn<ScriptedResponse>("response");
    QTest::addColumn<FeedbackService::Result>("result");
    using R = FeedbackService::Result;
    QTest::newRow("ok with a message") << ScriptedResponse::json(200, R"({"ok":true,"message":"Получили, спасибо"})")
                                       << R::sent(QStringLiteral("Получили, спасибо"));
    QTest::newRow("ok without a message") << ScriptedResponse::json(201, R"({"ok":true})")
                                          << R::sent(FeedbackService::sentText);
    QTest::newRow("200, ok false, error text") << ScriptedResponse::json(200, R"({"ok":false,"error":"Спам"})")
                                               << R::failed(QStringLiteral("Спам"));
    QTest::newRow("200 without a body") << ScriptedResponse::json(200, {})
                                        << R::failed(QStringLiteral("Не удалось отправить (HTTP 200)"));
    QTest::newRow("200, ok as a string") << ScriptedResponse::json(200, R"({"ok":"true"})")
                                         << R::failed(QStringLiteral("Не удалось отправить (HTTP 200)"));
    QTest::newRow("500 with an error text") << ScriptedResponse::json(500, R"({"error":"База недоступна"})")
                                            << R::failed(QStringLiteral("База недоступна"));
    QTest::newRow("404 with HTML") << ScriptedResponse::json(404, "<html>Not Found</html>")
                                   << R::failed(QStringLiteral("Не удалось отправить (HTTP 404)"));
    QTest::newRow("429 whatever the body") << ScriptedResponse::json(429, R"({"ok":true,"message":"?"})")
                                           << R::failed(FeedbackService::tooManyText);
    QTest::newRow("blank error text") << ScriptedResponse::json(500, R"({"error":" \n"})")
                                      << R::failed(QStringLiteral("Не удалось отправить (HTTP 500)"));
    QTest::newRow("error of the wrong type") << ScriptedResponse::json(400, R"({"error":{"code":7}})")
                                             << R::failed(QStringLiteral("Не удалось отправить (HTTP 400)"));
    QTest::newRow("10 MiB body") << ScriptedResponse::generated(10 << 20) << R::failed(QStringLiteral("Не удалось отправить (HTTP 200)"));
}

void tst_FeedbackService::results()
{
    QFETCH(ScriptedResponse, response);
    QFETCH(FeedbackService::Result, result);
    m_bed->server.enqueue(feedbackPath, response);
    auto service = makeService();
    QCOMPARE(sendAndWait(*service), result);
}

// An answer that never completes is the "10 MiB body" row; a silent server
// shows that the service's time limit reaches the transport.
void tst_FeedbackService::networkFailures()
{
    m_bed->server.setStanding(feedbackPath, ScriptedResponse::silent());
    auto service = makeService();
    service->setTimeout(std::chrono::milliseconds(800));
    QCOMPARE(sendAndWait(*service),
             FeedbackService::Result::failed(QStringLiteral("Ошибка сети: сервер не ответил вовремя")));

    m_bed->transport.setOffline(true);
    QCOMPARE(sendAndWait(*service), FeedbackService::Result::failed(QStringLiteral("Ошибка сети: включён режим без сети")));
}

void tst_FeedbackService::sendingIsPublished()
{
    m_bed->server.enqueue(feedbackPath, ScriptedResponse::json(200, R"({"ok":true})"));
    auto service = makeService();
    service->send(QStringLiteral("x"), QString(), false, endpoint(), QString());
    QVERIFY(service->lastResult());
    QSignalSpy sending(service.get(), &FeedbackService::isSendingChanged);
    const QFuture<void> sent = service->send(QStringLiteral("Медленный сервер"), QString(), false, endpoint(), QString());
    QVERIFY(service->isSending());
    // A new send clears the previous result.
    QVERIFY(!service->lastResult());
    QVERIFY(ServerTestBed::await(sent));
    QVERIFY(!service->isSending());
    QCOMPARE(sending.size(), 2);
    QCOMPARE(service->lastResult(), FeedbackService::Result::sent(FeedbackService::sentText));
}

BRISKO_TEST(tst_FeedbackService)
#include "tst_FeedbackService.moc"
