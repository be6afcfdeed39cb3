#include "BriskoTest.h"
#include "FakePausingClock.h"
#include "ViewTestBed.h"

#include "CoolingView.h"
#include "IconTextLine.h"
#include "PanelCard.h"
#include "app/AppState.h"
#include "fans/FanControlService.h"
#include "fans/SmcSimulator.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

using namespace std::chrono_literals;

// The cooling section on the SMC simulator: what it shows and what its
// controls ask of the fan service, whose boosting is its own test. Poll and
// debounce run at every turn of the event loop.
class tst_CoolingView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_bed = std::make_unique<ViewTestBed>();
        m_state = m_bed->state();
        m_clock = std::make_shared<FakePausingClock>();
        m_flag = std::make_unique<TerminationFlag>();
    }
    void cleanup()
    {
        m_view.reset();
        m_fans.reset();
    }
    void readingsAndPollingFollowVisibility()
    {
        makeView(QStringLiteral("m5"));
        QVERIFY(m_fans->isPolling());
        QTRY_VERIFY(m_fans->snapshot() != CoolingSnapshot::loading());

        // One card per sensor, hottest first, and one per fan.
        const CoolingSnapshot snapshot = m_fans->snapshot();
        QTRY_COMPARE(child<QLabel>(QStringLiteral("maxTemperature"))->text(), QStringLiteral("макс. 58\u00a0°C"));
        const QList<QLabel*> values = m_view->findChildren<QLabel*>(QStringLiteral("value"));
        QCOMPARE(values.size(), snapshot.temperatures.size() + snapshot.fans.size());
        QCOMPARE(values.first()->text(), QStringLiteral("58,0\u00a0°C"));
        QVERIFY(values.last()->text().endsWith(QStringLiteral(" RPM")));
        for (const char* hidden : {"noSensors", "noFans", "monitoringOnly"})
            QVERIFY2(!child<QWidget>(QString::fromLatin1(hidden))->isVisible(), hidden);
        QVERIFY(child<QComboBox>(QStringLiteral("fanControlMode"))->isEnabled());
        QCOMPARE(child<IconTextLine>(QStringLiteral("coolingStatus"))->text(), *snapshot.note);

        // Each poll shows the controller's new state.
        m_sim->setTemperature("Tf09", 71.25);
        QTRY_COMPARE(child<QLabel>(QStringLiteral("maxTemperature"))->text(), QStringLiteral("макс. 71\u00a0°C"));
        QCOMPARE(m_view->findChildren<QLabel*>(QStringLiteral("value")).first()->text(), QStringLiteral("71,3\u00a0°C"));

        // Leaving the section pauses the poll and stores the fan settings.
        m_view->hide();
        QVERIFY(!m_fans->isPolling());
        QCOMPARE(stored("fanControlMode"), QJsonValue(QStringLiteral("system")));
        m_view->show();
        QVERIFY(m_fans->isPolling());
    }

    void boostModesAndRelease()
    {
        AppSettings settings = m_state->settings();
        settings.fanManualBoostPercent = 60;
        m_state->setSettings(settings);
        makeView(QStringLiteral("m5"));
        QTRY_VERIFY(m_fans->snapshot().isControllable);

        auto* mode = child<QComboBox>(QStringLiteral("fanControlMode"));
        mode->setCurrentIndex(mode->findText(QStringLiteral("Ручной boost")));
        QTRY_VERIFY(m_fans->manualOverrideActive());
        QCOMPARE(m_fans->manualBoostPercent(), 60.0);
        QVERIFY(child<QSlider>(QStringLiteral("fanManualBoostPercent"))->isVisible());
        QVERIFY(!child<QSlider>(QStringLiteral("fanAutoBoostTempC"))->isVisible());
        QCOMPARE(stored("fanControlMode"), QJsonValue(QStringLiteral("manual")));

        // The slider moves in steps of five; the boost follows.
        auto* slider = child<QSlider>(QStringLiteral("fanManualBoostPercent"));
        slider->setValue(43);
        QCOMPARE(slider->value(), 45);
        slider->setValue(90);
        QCOMPARE(m_fans->manualBoostPercent(), 90.0);
        QCOMPARE(stored("fanManualBoostPercent"), QJsonValue(90));

        auto* release = child<QPushButton>(QStringLiteral("releaseToSystem"));
        QTRY_VERIFY(!m_fans->isRequestingAdmin());
        QVERIFY(release->isEnabled());
        release->click();
        QTRY_COMPARE(m_fans->mode(), FanControlMode::system);
        QCOMPARE(mode->currentText(), QStringLiteral("Система (авто)"));
        QVERIFY(!slider->isVisible());
        QCOMPARE(stored("fanControlMode"), QJsonValue(QStringLiteral("system")));

        mode->setCurrentIndex(mode->findText(QStringLiteral("Auto при перегреве")));
        QTRY_COMPARE(m_fans->mode(), FanControlMode::autoBoost);
        auto* threshold = child<QSlider>(QStringLiteral("fanAutoBoostTempC"));
        QVERIFY(threshold->isVisible() && !slider->isVisible());
        QCOMPARE(stored("fanControlMode"), QJsonValue(QStringLiteral("autoBoost")));
        threshold->setValue(55);
        QCOMPARE(m_fans->autoBoostThresholdC(), 55.0);
        QCOMPARE(stored("fanAutoBoostTempC"), QJsonValue(55));
    }

    void monitoringOnly_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<bool>("writesRefused");
        QTest::addColumn<bool>("hasFans");
        QTest::newRow("writes refused, no helper") << "m5" << true << true;
        QTest::newRow("fanless") << "fanless" << false << false;
    }

    void monitoringOnly()
    {
        QFETCH(QString, profile);
        QFETCH(bool, writesRefused);
        QFETCH(bool, hasFans);
        makeView(profile, writesRefused);
        QTRY_VERIFY(m_fans->snapshot() != CoolingSnapshot::loading());
        QVERIFY(!m_fans->snapshot().isControllable);

        QTRY_VERIFY(child<QWidget>(QStringLiteral("monitoringOnly"))->isVisible());
        for (const char* hidden : {"fanControlMode", "releaseToSystem", "noSensors"})
            QVERIFY2(!child<QWidget>(QString::fromLatin1(hidden))->isVisible(), hidden);
        QCOMPARE(child<QLabel>(QStringLiteral("noFans"))->isVisible(), !hasFans);
        QVERIFY(m_view->findChildren<QLabel*>(QStringLiteral("value")).size() >= 1);
        if (hasFans)
            QCOMPARE(child<IconTextLine>(QStringLiteral("coolingStatus"))->text(), CoolingView::monitoringOnlyText);
    }

private:
    // The section shown over a fan service on the simulator of this profile.
    void makeView(const QString& profile, bool writesRefused = false);
    QJsonValue stored(const char* field) const { return m_bed->storedSettings().value(QLatin1String(field)); }
    template <typename T>
    T* child(const QString& name) const
    {
        T* widget = m_view->findChild<T*>(name);
        [&] { QVERIFY2(widget, qPrintable(name)); }();
        return widget;
    }

    std::unique_ptr<ViewTestBed> m_bed;
    AppState* m_state = nullptr;
    std::shared_ptr<FakePausingClock> m_clock;
    std::shared_ptr<SmcSimulator> m_sim;
    std::unique_ptr<TerminationFlag> m_flag;
    std::unique_ptr<FanControlService> m_fans;
    std::unique_ptr<CoolingView> m_view;
};

void tst_CoolingView::makeView(const QString& profile, bool writesRefused)
{
    FanControlEnvironment env;
    m_sim = SmcSimulator::create(profile, m_clock);
    QVERIFY(m_sim);
    m_sim->setWritesRefused(writesRefused);
    env.machine = {m_sim, m_clock, m_sim->modelIdentifier()};
    env.fanProfile = SMCFanProfile::detect(m_sim->modelIdentifier());
    env.hardwareKind = SMCHardwareProfile::detect(m_sim->modelIdentifier());
    env.errors = std::make_shared<RecordingErrorSink>();
    env.termination = m_flag.get();
    env.runtimeRisk = [] { return AppRuntimeGuard::Risk::none; };
    env.pollInterval = 0ms;
    env.debounceInterval = 0ms;
    m_fans = std::make_unique<FanControlService>(env);

    WindowServices services = m_bed->services();
    services.fans = m_fans.get();
    m_view = std::make_unique<CoolingView>(services);
    m_view->resize(1000, 900);
    m_view->show();
}

BRISKO_TEST(tst_CoolingView)
#include "tst_CoolingView.moc"
