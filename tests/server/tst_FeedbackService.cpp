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
    void refusedBeforeSending_data();
    void refusedBeforeSending();
    void bodyWithoutExtras();
    void bodyWithReplyAddressAndDiagnostics();
    void diagnosticsWhenLittleIsKnown();
    void results_data();
    void results();
    void sendingIsPublished();

private:
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
        const QFuture<void> sent = m_service->send(message, email, withDiagnostics, endpoint(), QStringLiteral("anon-1"));
        [&] { QVERIFY(ServerTestBed::await(sent)); }();
        [&] { QVERIFY(!m_service->isSending()); }();
        return m_service->lastResult().value_or(FeedbackService::Result::failed(QStringLiteral("no result")));
    }
    QJsonObject body() const { return m_bed->server.requests(feedbackPath).value(0).json(); }
    QString endpoint() const { return m_bed->server.endpoint(QStringLiteral("feedback.php")); }

    const QString feedbackPath = QStringLiteral("/api/brisko/feedback.php");
    std::unique_ptr<FeedbackService> m_service;
};

void tst_FeedbackService::refusedBeforeSending_data()
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

void tst_FeedbackService::refusedBeforeSending()
{
    QFETCH(QString, message);
    QFETCH(QString, endpoint);
    QFETCH(QString, error);
    const QFuture<void> sent =
        m_service->send(message, QString(), false, endpoint.isEmpty() ? this->endpoint() : endpoint, QString());
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

void tst_FeedbackService::bodyWithoutExtras()
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

void tst_FeedbackService::diagnosticsWhenLittleIsKnown()
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

void tst_FeedbackService::results_data()
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

void tst_FeedbackService::results()
{
    QFETCH(ScriptedResponse, response);
    QFETCH(FeedbackService::Result, result);
    m_bed->server.enqueue(feedbackPath, response);
    m_service->setTimeout(std::chrono::milliseconds(800));
    QCOMPARE(sendAndWait(), result);
}

void tst_FeedbackService::sendingIsPublished()
{
    m_bed->server.enqueue(feedbackPath, ScriptedResponse::json(200, R"({"ok":true})"));
    m_service->send(QStringLiteral("x"), QString(), false, endpoint(), QString());
    QVERIFY(m_service->lastResult());
    QSignalSpy sending(m_service.get(), &FeedbackService::isSendingChanged);
    const QFuture<void> sent = m_service->send(QStringLiteral("Медленный сервер"), QString(), false, endpoint(), QString());
    QVERIFY(m_service->isSending());
    // A new send clears the previous result.
    QVERIFY(!m_service->lastResult());
    QVERIFY(ServerTestBed::await(sent));
    QVERIFY(!m_service->isSending());
    QCOMPARE(sending.size(), 2);
    QCOMPARE(m_service->lastResult(), FeedbackService::Result::sent(FeedbackService::sentText));
}

BRISKO_TEST(tst_FeedbackService)
#include "tst_FeedbackService.moc"
