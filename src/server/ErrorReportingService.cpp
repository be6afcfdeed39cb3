#include "ErrorReportingService.h"

#include "CrashRecord.h"
#include "TextPrefix.h"

#include <QFile>

ErrorReportingService::ErrorReportingService(DefaultsStorePtr defaults, ClockPtr clock, ServerHTTPClient client,
                                             ClientInfo info, QString crashFilePath)
    : m_defaults(defaults)
    , m_clock(std::move(clock))
    , m_info(std::move(info))
    , m_crashFilePath(std::move(crashFilePath))
    , m_listStore(std::make_shared<WriteBehindDefaultsStore>(defaults))
    , m_queue(m_listStore, queueKey, maxQueue)
    , m_recent(m_listStore, recentKey, maxRecent)
    , m_flusher(m_queue, std::move(client))
{
}

void ErrorReportingService::configure(const QString& endpoint, bool enabled, const QString& anonymousId)
{
    m_endpoint = endpoint;
    m_enabled = enabled;
    m_anonymousId = anonymousId;
    if (!enabled) {
        m_flusher.stop();
    }
    collectCrashReport();
    flushQueue();
}

void ErrorReportingService::collectCrashReport()
{
    if (m_crashFilePath.isEmpty() || !QFile::exists(m_crashFilePath)) {
        return;
    }
    if (!m_enabled) {
        // The user does not want reports; this one is not kept for later.
        QFile::remove(m_crashFilePath);
        return;
    }
    if (m_endpoint.isEmpty() || m_anonymousId.isEmpty()) {
        // Not configured yet: the report waits in its file.
        return;
    }
    if (const std::optional<CrashRecord> crash = CrashRecord::read(m_crashFilePath)) {
        report(AppFeature::crash, crash->message, crash->context());
    }
    // Queued now (or unreadable): a second launch must not send it again.
    QFile::remove(m_crashFilePath);
}

void ErrorReportingService::report(AppFeature feature, const QString& message, const QMap<QString, QString>& context)
{
    if (!m_enabled || m_endpoint.isEmpty() || m_anonymousId.isEmpty()) {
        return;
    }
    const QString trimmed = message.trimmed();
    if (trimmed.isEmpty()) {
        return;
    }
    const QDateTime now = m_clock->now();
    const auto withinWindow = [&now](const QDateTime& reported) {
        const qint64 elapsed = reported.msecsTo(now);
        return elapsed >= 0 && elapsed < dedupeWindowSeconds * 1000;
    };
    // Fingerprints older than the window say nothing any more; dropping them
    // keeps the map as small as the reports of the last two minutes.
    m_recentFingerprints.removeIf([&](const auto& entry) { return !withinWindow(entry.value()); });
    const QString fingerprint = AppFeatures::rawValue(feature) + QLatin1Char('|') + trimmed;
    if (m_recentFingerprints.contains(fingerprint)) {
        return;
    }
    m_recentFingerprints.insert(fingerprint, now);

    ErrorReport report;
    report.anonymousId = m_anonymousId;
    report.feature = AppFeatures::rawValue(feature);
    report.message = textPrefix(trimmed, maxMessageLength);
    report.appVersion = m_info.appVersion;
    report.build = m_info.build;
    report.osVersion = m_info.osVersion;
    report.timestamp = ClientInfo::timestamp(now);
    report.context = sanitizedContext(context);

    m_queue.append(report);
    m_recent.append(report);
    flushQueue();
}

QFuture<void> ErrorReportingService::flushQueue()
{
    const QUrl url = HttpTransport::serverUrl(m_endpoint);
    if (!m_enabled || !url.isValid()) {
        return QtFuture::makeReadyFuture();
    }
    return m_flusher.flush(url);
}

QStringList ErrorReportingService::recentSummaries(const DefaultsStorePtr& defaults, qsizetype limit)
{
    const ErrorReportList recent = StoredQueue<ErrorReport>(defaults, recentKey, maxRecent).load();
    QStringList summaries;
    for (qsizetype i = recent.size() - 1; i >= 0 && summaries.size() < limit; --i) {
        const ErrorReport& report = recent.at(i);
        summaries.append(report.feature + QStringLiteral(": ") + textPrefix(report.message, 200));
    }
    return summaries;
}

QMap<QString, QString> ErrorReportingService::sanitizedContext(const QMap<QString, QString>& context)
{
    QMap<QString, QString> sanitized;
    qsizetype taken = 0;
    for (auto it = context.constBegin(); it != context.constEnd() && taken < maxContextEntries; ++it, ++taken) {
        const QString key = textPrefix(it.key(), maxContextKeyLength);
        const QString lower = key.toLower();
        if (lower.contains(QLatin1String("password")) || lower.contains(QLatin1String("serial"))) {
            continue;
        }
        sanitized.insert(key, textPrefix(it.value(), maxContextValueLength));
    }
    return sanitized;
}
