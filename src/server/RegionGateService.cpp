#include "RegionGateService.h"

#include <QPromise>

#include <cmath>

namespace {
const QString none = QStringLiteral("—");
}

RegionGateService::RegionGateService(QPointer<HttpTransport> transport, QLocale locale, QObject* parent)
    : QObject(parent)
    , m_transport(std::move(transport))
    , m_locale(std::move(locale))
{
}

QFuture<void> RegionGateService::evaluate(const QString& regionCheckURL)
{
    const quint64 generation = ++m_generation;
    setStatus(Status::checking);
    const std::optional<QString> local = localRegion(m_locale);
    const QUrl url = HttpTransport::serverUrl(regionCheckURL);

    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    const QFuture<void> finished = promise->future();
    if (!url.isValid() || !m_transport) {
        publish(local, std::nullopt);
        promise->finish();
        return finished;
    }

    HttpRequest request;
    request.url = url;
    request.bypassCache = true;
    request.maxBodyBytes = maxAnswerBytes;
    const double seconds = std::isfinite(m_networkTimeout) ? std::clamp(m_networkTimeout, 0.001, 3600.0) : 3.0;
    request.timeout = std::chrono::milliseconds(qint64(seconds * 1000));
    if (local && !local->isEmpty()) {
        request.headers.append({QByteArrayLiteral("X-Client-Region"), local->toUtf8()});
    }
    QPointer<RegionGateService> self(this);
    m_transport->send(request, [self, generation, local, promise](const HttpResponse& response) {
        if (self && self->m_generation == generation) {
            std::optional<RegionPayload> answer;
            if (response.isSuccess() && response.hasCompleteBody()) {
                answer = RegionPayload::decode(response.body);
            }
            self->publish(local, answer);
        }
        promise->finish();
    });
    return finished;
}

void RegionGateService::publish(const std::optional<QString>& localRegion, const std::optional<RegionPayload>& answer)
{
    m_lastCheckSummary = summary(localRegion, answer);
    Q_EMIT lastCheckSummaryChanged();
    setStatus(decide(answer, m_blockedRegions));
}

void RegionGateService::setStatus(Status status)
{
    if (m_status == status) {
        return;
    }
    m_status = status;
    Q_EMIT statusChanged();
}

std::optional<QString> RegionGateService::localRegion(const QLocale& locale)
{
    if (locale.territory() == QLocale::AnyTerritory) {
        return std::nullopt;
    }
    const QString code = QLocale::territoryToCode(locale.territory()).toUpper();
    return code.isEmpty() ? std::nullopt : std::optional<QString>(code);
}

QString RegionGateService::statusName(Status status)
{
    switch (status) {
    case Status::checking:
        return QStringLiteral("checking");
    case Status::allowed:
        return QStringLiteral("allowed");
    case Status::blocked:
        return QStringLiteral("blocked");
    }
    return QString();
}

QString RegionGateService::summary(const std::optional<QString>& localRegion, const std::optional<RegionPayload>& answer)
{
    const QString local = localRegion.value_or(none);
    if (!answer) {
        return QStringLiteral("Офлайн · локаль Mac: ") + local + QStringLiteral(" · доступ разрешён");
    }
    QString text = QStringLiteral("Локаль: ") + local + QStringLiteral(" · IP: ")
        + (answer->countryCode ? answer->countryCode->toUpper() : none);
    if (answer->vpnSuspected.value_or(false)) {
        text += QStringLiteral(" · VPN/прокси");
    }
    return text;
}

RegionGateService::Status RegionGateService::decide(const std::optional<RegionPayload>& answer,
                                                    const QSet<QString>& blockedRegions)
{
    if (!answer) {
        return Status::allowed;
    }
    if (answer->blocked.value_or(false)) {
        return Status::blocked;
    }
    if (!answer->countryCode) {
        return Status::allowed;
    }
    return blockedRegions.contains(answer->countryCode->toUpper()) ? Status::blocked : Status::allowed;
}
