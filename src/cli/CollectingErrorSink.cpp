#include "CollectingErrorSink.h"

#include <utility>

CollectingErrorSink::CollectingErrorSink(ErrorReportSinkPtr next)
    : m_next(std::move(next))
{
}

void CollectingErrorSink::configure(const AppSettings& settings, const QString& anonymousId)
{
    m_next->configure(settings, anonymousId);
}

void CollectingErrorSink::report(AppFeature feature, const QString& message, const QMap<QString, QString>& context)
{
    m_next->report(feature, message, context);
}

void CollectingErrorSink::reportOperationErrors(AppFeature feature, const QStringList& errors,
                                               const QMap<QString, QString>& context)
{
    {
        const QMutexLocker lock(&m_mutex);
        m_operationErrors.append(errors);
    }
    m_next->reportOperationErrors(feature, errors, context);
}

QStringList CollectingErrorSink::takeOperationErrors()
{
    const QMutexLocker lock(&m_mutex);
    return std::exchange(m_operationErrors, {});
}
