#include "AppState.h"

#include "model/ReferenceDate.h"
#include "server/AdService.h"

#include <QFutureWatcher>

namespace {
// Runs done on the main thread once future has finished or was cancelled,
// unless owner is destroyed first.
void whenFinishedWith(QObject* owner, const QFuture<void>& future, std::function<void()> done)
{
    auto* watcher = new QFutureWatcher<void>(owner);
    QObject::connect(watcher, &QFutureWatcher<void>::finished, owner, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        done();
    });
    watcher->setFuture(future);
}
} // namespace

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
        trackAdImpression(duties.ads->currentAd().id);
    }

    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    const QFuture<void> finished = promise->future();
    // The update check waits for the flush: both talk to the same server,
    // and the events of this launch should not queue behind a download.
    // Watchers, not continuations, so that nothing runs once this state is
    // gone; the promise then ends cancelled.
    const auto checkForUpdates = [this, promise, duties] {
        if (!duties.checkForUpdates) {
            promise->finish();
            return;
        }
        whenFinishedWith(this, duties.checkForUpdates(m_settings.updateCheckURL), [promise] { promise->finish(); });
    };
    QMetaObject::invokeMethod(
        this,
        [this, duties, checkForUpdates] {
            if (!duties.flushAnalytics) {
                checkForUpdates();
                return;
            }
            whenFinishedWith(this, duties.flushAnalytics(m_settings.analyticsEndpoint, m_settings.analyticsEnabled),
                             checkForUpdates);
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

void AppState::trackAdImpression(const QString& adId)
{
    if (adId.isEmpty() || adId == m_lastAdImpression)
        return;
    m_lastAdImpression = adId;
    track(QStringLiteral("ad_impression"), {{QStringLiteral("ad_id"), adId}});
}
