#include "BriskoTest.h"
#include "AppFixture.h"
#include "LoopbackMakerServer.h"

#include "app/AppState.h"
#include "model/ReferenceDate.h"
#include "server/AdService.h"
#include "server/HttpTransport.h"

#include <QPromise>
#include <QThreadPool>
#include <QSignalSpy>
#include <QTest>

// The launch duties against recording sinks, a banner service on a real
// loopback server, and flush and update stand-ins whose futures the test
// finishes by hand.
class tst_AppStateLaunch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void dutiesRunInOrderAndOnlyOnce();
    void updateCheckWaitsForTheFlush();
    void missingCollaboratorsAreSkipped();
    void acceptingTheAgreementAndFinishingTheIntroductionAreStored();

private:
    LaunchDuties recordingDuties();

    std::unique_ptr<AppFixture> m_fixture;
    std::unique_ptr<LoopbackMakerServer> m_server;
    std::unique_ptr<HttpTransport> m_transport;
    std::unique_ptr<AdService> m_ads;
    std::unique_ptr<AppState> m_state;
    QTemporaryDir m_pictures;

    QStringList m_calls;
    QList<std::pair<QString, bool>> m_flushes;
    QStringList m_updateChecks;
    std::shared_ptr<QPromise<void>> m_flushPromise;
    std::shared_ptr<QPromise<void>> m_updatePromise;
};

void tst_AppStateLaunch::init()
{
    m_fixture = std::make_unique<AppFixture>();
    m_server = std::make_unique<LoopbackMakerServer>();
    QVERIFY(m_server->listen());
    m_transport = std::make_unique<HttpTransport>();
    m_ads = std::make_unique<AdService>(m_transport.get(), m_fixture->store, m_pictures.path());
    m_state = std::make_unique<AppState>(m_fixture->environment());

    AppSettings settings = m_state->settings();
    settings.adsConfigURL = m_server->endpoint(QStringLiteral("ads.json"));
    settings.analyticsEndpoint = m_server->endpoint(QStringLiteral("events.php"));
    settings.updateCheckURL = m_server->endpoint(QStringLiteral("version.json"));
    settings.analyticsEnabled = false;
    m_state->setSettings(settings);

    m_calls.clear();
    m_flushes.clear();
    m_updateChecks.clear();
    m_flushPromise = std::make_shared<QPromise<void>>();
    m_updatePromise = std::make_shared<QPromise<void>>();
}

void tst_AppStateLaunch::cleanup()
{
    m_state.reset();
    m_ads.reset();
    m_transport.reset();
    m_server.reset();
    m_fixture.reset();
}

LaunchDuties tst_AppStateLaunch::recordingDuties()
{
    LaunchDuties duties;
    duties.installCrashHandler = [this] { m_calls.append(QStringLiteral("crash handler")); };
    duties.ads = m_ads.get();
    duties.flushAnalytics = [this](const QString& endpoint, bool enabled) {
        m_calls.append(QStringLiteral("flush"));
        m_flushes.append({endpoint, enabled});
        m_flushPromise->start();
        return m_flushPromise->future();
    };
    duties.checkForUpdates = [this](const QString& url) {
        m_calls.append(QStringLiteral("update check"));
        m_updateChecks.append(url);
        m_updatePromise->start();
        return m_updatePromise->future();
    };
    return duties;
}

void tst_AppStateLaunch::dutiesRunInOrderAndOnlyOnce()
{
    QVERIFY(!m_state->launchDutiesStarted());
    const QFuture<void> launched = m_state->onLaunch(recordingDuties());
    QVERIFY(m_state->launchDutiesStarted());

    // The synchronous part: crash handler, then the two events.
    QCOMPARE(m_calls, QStringList{QStringLiteral("crash handler")});
    QCOMPARE(m_fixture->usage->names(), (QStringList{QStringLiteral("app_launch"), QStringLiteral("ad_impression")}));
    QVERIFY(m_fixture->usage->events.first().metadata.isEmpty());
    const QString shownId = m_fixture->usage->events.last().metadata.value(QStringLiteral("ad_id"));
    QVERIFY(!shownId.isEmpty());
    QCOMPARE(shownId, m_ads->currentAd().id);

    // The reporter is configured in the background with the settings and the anonymous id.
    QTRY_COMPARE(m_fixture->errors->configureCount(), 1);
    {
        QMutexLocker lock(&m_fixture->errors->mutex);
        QCOMPARE(m_fixture->errors->configured.first().first, m_state->settings().errorsEndpoint);
        QCOMPARE(m_fixture->errors->configured.first().second, QStringLiteral("ANON-ID"));
    }

    // The banner service was started with the configured address.
    QTRY_COMPARE(m_server->count(QStringLiteral("/api/brisko/ads.json")), qsizetype(1));

    QTRY_COMPARE(m_flushes.size(), qsizetype(1));
    QCOMPARE(m_flushes.first(), std::make_pair(m_state->settings().analyticsEndpoint, false));
    m_flushPromise->finish();
    QTRY_COMPARE(m_updateChecks, QStringList{m_state->settings().updateCheckURL});
    QVERIFY(!launched.isFinished());
    m_updatePromise->finish();
    QTRY_VERIFY(launched.isFinished());
    QCOMPARE(m_calls, (QStringList{QStringLiteral("crash handler"), QStringLiteral("flush"),
                                   QStringLiteral("update check")}));

    // A second call does nothing at all, now or later.
    const QFuture<void> again = m_state->onLaunch(recordingDuties());
    QVERIFY(again.isFinished());
    QCoreApplication::sendPostedEvents();
    QThreadPool::globalInstance()->waitForDone();
    QCOMPARE(m_calls.size(), 3);
    QCOMPARE(m_fixture->usage->events.size(), 2);
    QCOMPARE(m_fixture->errors->configureCount(), 1);
    QCOMPARE(m_server->count(QStringLiteral("/api/brisko/ads.json")), qsizetype(1));
}

void tst_AppStateLaunch::updateCheckWaitsForTheFlush()
{
    const QFuture<void> launched = m_state->onLaunch(recordingDuties());
    QTRY_COMPARE(m_flushes.size(), qsizetype(1));
    // However long the flush takes, the update check waits for it.
    QCoreApplication::sendPostedEvents();
    QVERIFY(m_updateChecks.isEmpty());
    // A flush that is given up on still lets the check run.
    m_flushPromise->future().cancel();
    m_flushPromise->finish();
    QTRY_COMPARE(m_updateChecks.size(), qsizetype(1));
    m_updatePromise->finish();
    QTRY_VERIFY(launched.isFinished());
}

void tst_AppStateLaunch::missingCollaboratorsAreSkipped()
{
    const QFuture<void> launched = m_state->onLaunch(LaunchDuties{});
    QTRY_VERIFY(launched.isFinished());
    // Without a banner service there is no banner to report.
    QCOMPARE(m_fixture->usage->names(), QStringList{QStringLiteral("app_launch")});
    QTRY_COMPARE(m_fixture->errors->configureCount(), 1);
}

void tst_AppStateLaunch::acceptingTheAgreementAndFinishingTheIntroductionAreStored()
{
    const QDateTime now(QDate(2026, 2, 3), QTime(10, 20, 30), Qt::UTC);
    m_fixture->clock->setNow(now);
    QSignalSpy settingsChanged(m_state.get(), &AppState::settingsChanged);

    m_state->acceptLicenceAgreement();
    QCOMPARE(settingsChanged.size(), 1);
    QVERIFY(m_state->settings().eulaAccepted);
    QVERIFY(m_state->settings().eulaAcceptedAt.has_value());
    QCOMPARE(ReferenceDate::toDateTime(*m_state->settings().eulaAcceptedAt), now);
    QVERIFY(!m_state->settings().onboardingCompleted);

    m_state->completeOnboarding();
    QCOMPARE(settingsChanged.size(), 2);

    // A later launch reads both from the store.
    AppState next(m_fixture->environment());
    QVERIFY(next.settings().eulaAccepted);
    QCOMPARE(next.settings().eulaAcceptedAt, m_state->settings().eulaAcceptedAt);
    QVERIFY(next.settings().onboardingCompleted);
}

BRISKO_TEST(tst_AppStateLaunch)
#include "tst_AppStateLaunch.moc"
