#include "AppState.h"

#include "ReferenceDate.h"
#include "server/AdService.h"

QFuture<void> AppState::onLaunch(const LaunchDuties& duties)
{
    if (m_launchDutiesStarted) {
        return QtFuture::makeReadyFuture();
    }
    m_launchDutiesStarted = true;

    // The reporter is configured off the main thread; reports made before it
    // lands use the configuration it was created with.
    const ErrorReportSinkPtr errors = m_env.errors;
    const AppSettings copy = m_settings;
    const QString anonymousId = m_env.usage->anonymousId();
    QThreadPool::globalInstance()->start([errors, copy, anonymousId] { errors->configure(copy, anonymousId); });

    if (duties.installCrashHandler) {
        duties.installCrashHandler();
    }
    track(QStringLiteral("app_launch"));

    if (duties.ads) {
        duties.ads->start(m_settings.adsConfigURL);
        track(QStringLiteral("ad_impression"), {{QStringLiteral("ad_id"), duties.ads->currentAd().id}});
    }

    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    const QFuture<void> finished = promise->future();
    QPointer<AppState> self(this);
    // The update check waits for the flush: both talk to the same server,
    // and the events of this launch should not queue behind a download.
    QMetaObject::invokeMethod(
        this,
        [self, promise, duties] {
            const auto checkForUpdates = [self, promise, duties] {
                if (self && duties.checkForUpdates) {
                    duties.checkForUpdates(self->m_settings.updateCheckURL)
                        .then(self.data(), [promise] { promise->finish(); })
                        .onCanceled(self.data(), [promise] { promise->finish(); });
                    return;
                }
                promise->finish();
            };
            if (!self || !duties.flushAnalytics) {
                checkForUpdates();
                return;
            }
            duties.flushAnalytics(self->m_settings.analyticsEndpoint, self->m_settings.analyticsEnabled)
                .then(self.data(), checkForUpdates)
                .onCanceled(self.data(), checkForUpdates);
        },
        Qt::QueuedConnection);
    return finished;
}

void AppState::acceptLicenceAgreement()
{
    AppSettings settings = m_settings;
    settings.eulaAccepted = true;
    settings.eulaAcceptedAt = ReferenceDate::fromDateTime(m_env.clock->now());
    setSettings(settings);
    saveSettings();
}

void AppState::completeOnboarding()
{
    AppSettings settings = m_settings;
    settings.onboardingCompleted = true;
    setSettings(settings);
    saveSettings();
}
