#include "FeedbackDiagnostics.h"

#include "ErrorReportingService.h"
#include "base/ByteCountFormatter.h"
#include "platform/PlatformSystemFacts.h"

#include <QStorageInfo>
#include <QSysInfo>

namespace {
constexpr qsizetype recentErrorsShown = 5;
}

FeedbackDiagnostics::FeedbackDiagnostics(Sources sources)
    : m_sources(std::move(sources))
{
}

FeedbackDiagnostics FeedbackDiagnostics::platform(DefaultsStorePtr defaults, const QString& homePath)
{
    Sources sources;
    sources.facts = std::make_shared<PlatformSystemFacts>();
    sources.locale = QLocale::system();
    sources.installRisk = [] { return AppRuntimeGuard::currentRisk(); };
    sources.defaults = std::move(defaults);
    sources.freeDiskSpace = [homePath]() -> std::optional<qint64> {
        const QStorageInfo volume(homePath);
        if (!volume.isValid() || !volume.isReady() || volume.bytesAvailable() < 0) {
            return std::nullopt;
        }
        return volume.bytesAvailable();
    };
    return FeedbackDiagnostics(std::move(sources));
}

QMap<QString, QString> FeedbackDiagnostics::collect() const
{
    QMap<QString, QString> diagnostics;
    diagnostics.insert(QStringLiteral("model"), hardwareModel());
    diagnostics.insert(QStringLiteral("arch"), buildArchitecture());
    diagnostics.insert(QStringLiteral("locale"), m_sources.locale.name());
    const bool safe = !m_sources.installRisk || m_sources.installRisk() == AppRuntimeGuard::Risk::none;
    diagnostics.insert(QStringLiteral("install_location_safe"), safe ? QStringLiteral("yes") : QStringLiteral("no"));
    if (m_sources.defaults) {
        const QStringList recent = ErrorReportingService::recentSummaries(m_sources.defaults, recentErrorsShown);
        if (!recent.isEmpty()) {
            diagnostics.insert(QStringLiteral("recent_errors"), recent.join(QStringLiteral(" || ")));
        }
    }
    if (m_sources.freeDiskSpace) {
        if (const std::optional<qint64> free = m_sources.freeDiskSpace()) {
            diagnostics.insert(QStringLiteral("free_disk"), ByteCountFormatter::format(*free));
        }
    }
    return diagnostics;
}

QString FeedbackDiagnostics::hardwareModel() const
{
    if (m_sources.facts) {
        if (const std::optional<QString> model = m_sources.facts->string(QStringLiteral("hw.model"))) {
            if (!model->isEmpty()) {
                return *model;
            }
        }
    }
    return QStringLiteral("unknown");
}

QString FeedbackDiagnostics::buildArchitecture()
{
    return QSysInfo::buildCpuArchitecture();
}
