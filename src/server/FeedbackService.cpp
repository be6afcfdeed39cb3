#include "FeedbackService.h"

#include <QJsonDocument>
#include <QPromise>

FeedbackService::FeedbackService(QPointer<HttpTransport> transport, ClientInfo info, FeedbackDiagnostics diagnostics,
                                 QObject* parent)
    : QObject(parent)
    , m_transport(std::move(transport))
    , m_info(std::move(info))
    , m_diagnostics(std::move(diagnostics))
{
}

QFuture<void> FeedbackService::send(const QString& message, const QString& replyEmail, bool includeDiagnostics,
                                    const QString& endpoint, const QString& anonymousId)
{
    const QString trimmed = message.trimmed();
    // Characters, not UTF-16 units: "😀😀😀😀" is four.
    if (trimmed.toUcs4().size() < minimumLength) {
        setResult(Result::failed(tooShortText));
        return QtFuture::makeReadyFuture();
    }
    const QUrl url = HttpTransport::serverUrl(endpoint);
    if (!url.isValid()) {
        setResult(Result::failed(badEndpointText));
        return QtFuture::makeReadyFuture();
    }
    setSending(m_sending + 1);
    setResult(std::nullopt);

    HttpRequest request;
    request.method = HttpRequest::Method::post;
    request.url = url;
    request.headers = {{QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json")}};
    request.body = QJsonDocument(body(trimmed, replyEmail, includeDiagnostics, anonymousId)).toJson(QJsonDocument::Compact);
    request.timeout = m_timeout;
    request.maxBodyBytes = maxAnswerBytes;

    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    const QFuture<void> finished = promise->future();
    const auto conclude = [self = QPointer<FeedbackService>(this), promise](const Result& result) {
        if (self) {
            self->setResult(result);
            self->setSending(self->m_sending - 1);
        }
        promise->finish();
    };
    if (!m_transport) {
        conclude(Result::failed(QStringLiteral("Ошибка сети: нет подключения к сети")));
        return finished;
    }
    m_transport->send(request, [conclude](const HttpResponse& response) { conclude(outcome(response)); });
    return finished;
}

QJsonObject FeedbackService::body(const QString& message, const QString& replyEmail, bool includeDiagnostics,
                                  const QString& anonymousId) const
{
    QJsonObject object{
        {QStringLiteral("anonymous_id"), anonymousId},
        {QStringLiteral("message"), message},
        {QStringLiteral("app_version"), m_info.appVersion},
        {QStringLiteral("build"), m_info.build},
        {QStringLiteral("os_version"), m_info.osVersion},
    };
    const QString email = replyEmail.trimmed();
    if (!email.isEmpty()) {
        object.insert(QStringLiteral("email"), email);
    }
    if (includeDiagnostics) {
        QJsonObject diagnostics;
        const QMap<QString, QString> facts = m_diagnostics.collect();
        for (auto it = facts.constBegin(); it != facts.constEnd(); ++it) {
            diagnostics.insert(it.key(), it.value());
        }
        object.insert(QStringLiteral("diagnostics"), diagnostics);
    }
    return object;
}

FeedbackService::Result FeedbackService::outcome(const HttpResponse& response)
{
    if (!response.isHttp) {
        return Result::failed(QStringLiteral("Ошибка сети: ") + response.errorText);
    }
    if (response.status == 429) {
        return Result::failed(tooManyText);
    }
    // A body that is not one complete JSON object counts as none.
    QJsonObject answer;
    if (response.hasCompleteBody()) {
        answer = QJsonDocument::fromJson(response.body).object();
    }
    const auto text = [&answer](const char* key) -> std::optional<QString> {
        const QJsonValue value = answer.value(QLatin1String(key));
        if (!value.isString() || value.toString().trimmed().isEmpty()) {
            return std::nullopt;
        }
        return value.toString();
    };
    const QJsonValue ok = answer.value(QLatin1String("ok"));
    if (response.isSuccess() && ok.isBool() && ok.toBool()) {
        return Result::sent(text("message").value_or(sentText));
    }
    return Result::failed(
        text("error").value_or(QStringLiteral("Не удалось отправить (HTTP %1)").arg(response.status)));
}

void FeedbackService::setResult(const std::optional<Result>& result)
{
    if (m_lastResult == result) {
        return;
    }
    m_lastResult = result;
    Q_EMIT lastResultChanged();
}

void FeedbackService::setSending(int sending)
{
    const bool was = isSending();
    m_sending = sending;
    if (was != isSending()) {
        Q_EMIT isSendingChanged();
    }
}
