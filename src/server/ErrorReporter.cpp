#include "ErrorReporter.h"

#include "CrashHandler.h"
#include "model/AppSettings.h"
#include "platform/PlatformDefaultsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>

namespace {
constexpr qsizetype messagesInReport = 5;
}

ErrorReporter::ErrorReporter(std::shared_ptr<ErrorReportingService> service)
    : m_service(std::move(service))
{
}

template <typename Work>
void ErrorReporter::onServiceThread(Work work)
{
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || !m_service) {
        return;
    }
    if (QThread::currentThread() == application->thread()) {
        work(*m_service);
        return;
    }
    const std::weak_ptr<ErrorReportingService> weak = m_service;
    QMetaObject::invokeMethod(
        application,
        [weak, work = std::move(work)]() mutable {
            if (const std::shared_ptr<ErrorReportingService> service = weak.lock()) {
                work(*service);
            }
        },
        Qt::QueuedConnection);
}

void ErrorReporter::configure(const AppSettings& settings, const QString& anonymousId)
{
    onServiceThread([endpoint = settings.errorsEndpoint, enabled = settings.errorReportingEnabled,
                     anonymousId](ErrorReportingService& service) { service.configure(endpoint, enabled, anonymousId); });
}

void ErrorReporter::report(AppFeature feature, const QString& message, const QMap<QString, QString>& context)
{
    onServiceThread(
        [feature, message, context](ErrorReportingService& service) { service.report(feature, message, context); });
}

void ErrorReporter::reportOperationErrors(AppFeature feature, const QStringList& errors,
                                          const QMap<QString, QString>& context)
{
    if (errors.isEmpty()) {
        return;
    }
    report(feature, operationMessage(errors), operationContext(errors, context));
}

QString ErrorReporter::operationMessage(const QStringList& errors)
{
    return errors.mid(0, messagesInReport).join(QStringLiteral(" | "));
}

QMap<QString, QString> ErrorReporter::operationContext(const QStringList& errors, QMap<QString, QString> context)
{
    context.insert(QStringLiteral("error_count"), QString::number(errors.size()));
    if (errors.size() > messagesInReport) {
        context.insert(QStringLiteral("more_errors"),
                       QStringLiteral("+") + QString::number(errors.size() - messagesInReport));
    }
    return context;
}

void ErrorReporter::installCrashHandler()
{
    CrashHandler::install(defaultCrashFilePath());
}

QString ErrorReporter::defaultCrashFilePath()
{
    const QFileInfo store(PlatformDefaultsStore::location());
    return store.dir().filePath(store.completeBaseName() + QStringLiteral(".crash"));
}
