#pragma once

#include "ClientInfo.h"
#include "FeedbackDiagnostics.h"
#include "HttpTransport.h"

#include <QFuture>
#include <QJsonObject>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <optional>

// Sends a user's message about a problem or an idea to the maker's server,
// optionally with a reply address and machine diagnostics, and publishes the
// outcome for the feedback form. Nothing is retried or queued: every failure
// ends in a text for the user. Lives on the main thread.
class FeedbackService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isSending READ isSending NOTIFY isSendingChanged)

public:
    struct Result
    {
        enum class Kind { sent, failed };
        Kind kind = Kind::failed;
        QString text;

        static Result sent(QString text) { return {Kind::sent, std::move(text)}; }
        static Result failed(QString text) { return {Kind::failed, std::move(text)}; }
        bool operator==(const Result& other) const = default;
    };

    static constexpr std::chrono::milliseconds requestTimeout{20000};
    static constexpr qint64 maxAnswerBytes = qint64(1) << 20;
    static constexpr qsizetype minimumLength = 5;
    static inline const QString tooShortText = QStringLiteral("Опишите проблему или предложение (минимум 5 символов)");
    static inline const QString badEndpointText = QStringLiteral("Неверный адрес сервера");
    static inline const QString tooManyText = QStringLiteral("Слишком много сообщений. Попробуйте позже.");
    static inline const QString sentText = QStringLiteral("Сообщение отправлено. Спасибо!");

    FeedbackService(QPointer<HttpTransport> transport, ClientInfo info, FeedbackDiagnostics diagnostics,
                    QObject* parent = nullptr);

    // The future finishes after lastResult and isSending are published.
    QFuture<void> send(const QString& message, const QString& replyEmail, bool includeDiagnostics,
                       const QString& endpoint, const QString& anonymousId);

    bool isSending() const { return m_sending > 0; }
    const std::optional<Result>& lastResult() const { return m_lastResult; }
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

Q_SIGNALS:
    void isSendingChanged();
    void lastResultChanged();

private:
    QJsonObject body(const QString& message, const QString& replyEmail, bool includeDiagnostics,
                     const QString& anonymousId) const;
    static Result outcome(const HttpResponse& response);
    void setResult(const std::optional<Result>& result);
    void setSending(int sending);

    QPointer<HttpTransport> m_transport;
    ClientInfo m_info;
    FeedbackDiagnostics m_diagnostics;
    std::chrono::milliseconds m_timeout = requestTimeout;
    int m_sending = 0;
    std::optional<Result> m_lastResult;
};

Q_DECLARE_METATYPE(FeedbackService::Result)
