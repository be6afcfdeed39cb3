#include "BriskoTest.h"
#include "FakePausingClock.h"
#include "fans/AppleSMC.h"
#include "fans/SMCFanWriter.h"
#include "fans/SMCHardwareProfile.h"
#include "fans/SMCSensorReader.h"
#include "fans/SmcSimulator.h"

#include <QtTest>

#include <cmath>

// The write batches on every simulated machine, the model classifiers and the
// advice for raw error texts.
class tst_SMCFanWriter : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<FakePausingClock> m_clock;

    struct Rig
    {
        std::shared_ptr<SmcSimulator> sim;
        SmcMachine machine;
        FanStatusList fans;
        SMCFanProfile profile;
    };

    Rig rig(const QString& profile)
    {
        Rig r;
        r.sim = SmcSimulator::create(profile, m_clock);
        r.machine.transport = r.sim;
        r.machine.clock = m_clock;
        r.machine.modelIdentifier = r.sim->modelIdentifier();
        r.profile = SMCFanProfile::detect(r.sim->modelIdentifier());
        AppleSMC smc(r.sim, m_clock);
        if (smc.open())
            r.fans = SMCSensorReader::readFans(smc);
        return r;
    }

private Q_SLOTS:
    void init() { m_clock = std::make_shared<FakePausingClock>(); }

    void profiles_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("chip"); // of the write strategy; unlock with "M3/M4"
        QTest::addColumn<int>("kind"); // of the error wording
        const int direct = int(SMCHardwareProfile::Kind::directWrite);
        const int unlock = int(SMCHardwareProfile::Kind::ftstUnlock);
        const int unknown = int(SMCHardwareProfile::Kind::unknown);
        QTest::newRow("Mac16,1") << "Mac16,1" << "Apple M5" << direct;
        QTest::newRow("Mac15,13") << "Mac15,13" << "Apple M5" << direct;
        QTest::newRow("Mac15,14 upper case") << "MAC15,14" << "Apple M5" << direct;
        QTest::newRow("Mac14,2") << "Mac14,2" << "Apple M3/M4" << unlock;
        QTest::newRow("Mac15,6") << "Mac15,6" << "Apple M3/M4" << unlock;
        // The error wording disagrees with the write strategy here.
        QTest::newRow("Mac15,3") << "Mac15,3" << "Apple M1/M2" << unlock;
        QTest::newRow("MacBookAir10,1") << "MacBookAir10,1" << "Apple M1/M2" << direct;
        QTest::newRow("iMac21,1") << "iMac21,1" << "Apple Silicon" << direct;
        QTest::newRow("a PC") << "ThinkPad X1 Carbon" << "Apple Silicon" << unknown;
    }
    void profiles()
    {
        QFETCH(QString, model);
        QFETCH(QString, chip);
        QFETCH(int, kind);
        const SMCFanProfile profile = SMCFanProfile::detect(model);
        QCOMPARE(profile.strategy == SMCFanProfile::WriteStrategy::ftstUnlock, chip == QLatin1String("Apple M3/M4"));
        QCOMPARE(profile.chipLabel, chip);
        QCOMPARE(profile.modelIdentifier, model);
        QCOMPARE(int(SMCHardwareProfile::detect(model)), kind);
        if (model == QLatin1String("Mac16,1") || model == QLatin1String("Mac14,2")) {
            QCOMPARE(profile.note(), chip == QLatin1String("Apple M5")
                         ? QStringLiteral("Профиль Apple M5: прямая запись SMC.")
                         : QStringLiteral("Профиль Apple M3/M4: перед boost выполняется Ftst unlock."));
        }
    }

    void humanizeError_data()
    {
        QTest::addColumn<QString>("message"); // null: none given
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("advice"); // null: none
        const int direct = int(SMCHardwareProfile::Kind::directWrite);
        const int unlock = int(SMCHardwareProfile::Kind::ftstUnlock);
        const int unknown = int(SMCHardwareProfile::Kind::unknown);
        const QString cancelled =
            QStringLiteral("Запрос пароля администратора отменён. Повторите boost — macOS покажет диалог снова.");
        QTest::newRow("none") << QString() << direct << QString();
        QTest::newRow("-128") << "execution error: User canceled. (-128)" << direct << cancelled;
        QTest::newRow("Cancel in any case") << "CANCELLED by user" << unknown << cancelled;
        QTest::newRow("non-zero status, direct")
            << "The command exited with a non-zero status." << direct
            << "SMC отклонил команду (Apple Silicon (прямая запись SMC)). Убедитесь, что Brisko установлен в «Программы», "
               "введите пароль администратора и повторите. На M5 не используйте запуск с DMG.";
        QTest::newRow("non-zero status in Russian, unlock")
            << "Помощник SMC завершился с ненулевым статусом 4." << unlock
            << "SMC отклонил команду. Повторите boost или перезагрузите Mac.";
        QTest::newRow("helper missing")
            << "SMC helper не найден" << direct
            << "Встроенный помощник SMC не найден. Переустановите Brisko Vella из DMG в папку «Программы».";
        QTest::newRow("write, direct")
            << "SMC write failed" << direct
            << "Не удалось записать в SMC (Apple Silicon (прямая запись SMC)). Проверьте, что приложение установлено в "
               "«Программы», а не запущено с DMG.";
        QTest::newRow("запись, unlock")
            << "Запись в SMC недоступна." << unlock
            << "Не удалось записать в SMC (Apple Silicon (Ftst unlock)). На M3/M4 иногда нужен повторный boost после "
               "перезагрузки. Если ошибка повторяется — используйте режим «только мониторинг».";
        QTest::newRow("write, unknown")
            << "smc write refused" << unknown
            << "Не удалось записать в SMC. Установите приложение в «Программы» и повторите.";
        QTest::newRow("open")
            << "Не удалось открыть Apple SMC" << unlock
            << "Apple SMC недоступен. Перезагрузите Mac. На некоторых конфигурациях доступен только мониторинг.";
        QTest::newRow("unrelated") << "Диск отключён" << direct << "Диск отключён";
        QTest::newRow("smc without writing") << "SMC busy" << direct << "SMC busy";
    }
    void humanizeError()
    {
        QFETCH(QString, message);
        QFETCH(int, kind);
        QFETCH(QString, advice);
        const std::optional<QString> given = message.isNull() ? std::nullopt : std::optional<QString>(message);
        const std::optional<QString> actual = SMCHardwareProfile::humanizeError(given, SMCHardwareProfile::Kind(kind));
        QCOMPARE(actual, advice.isNull() ? std::nullopt : std::optional<QString>(advice));
    }
    // Truncated (33.3 % is 1200 + 1531.8), and held within the fan's range;
    // not a number is the minimum.
    void targetRPM()
    {
        QList<int> rpms;
        for (double percent : {0.0, 50.0, 33.3, 100.0, 150.0, -10.0, std::nan("")})
            rpms.append(SMCFanWriter::targetRPM(FanStatus{0, {}, 0, 1200, 5800, {}}, percent));
        QCOMPARE(rpms, (QList<int>{1200, 3500, 2731, 5800, 5800, 1200, 1200}));
    }

    void boostAndReleaseOnEveryMachine_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<int>("releasedMode");
        QTest::newRow("intel") << "intel" << 0;
        QTest::newRow("m1-m4") << "m1-m4" << int(SmcSimulator::modeHeldBySystem);
        QTest::newRow("m5") << "m5" << 0;
    }
    void boostAndReleaseOnEveryMachine()
    {
        QFETCH(QString, profile);
        QFETCH(int, releasedMode);
        Rig r = rig(profile);
        QVERIFY(!r.fans.isEmpty());
        QVERIFY(SMCFanWriter::setAllFansTarget(r.machine, r.profile.strategy, r.fans, 60.0));
        for (const FanStatus& fan : r.fans) {
            const int expected = fan.minimumRPM + int(0.6 * (fan.maximumRPM - fan.minimumRPM));
            QCOMPARE(r.sim->fanMode(fan.id), 1);
            QCOMPARE(r.sim->targetRPM(fan.id), std::optional<int>(expected));
            QCOMPARE(r.sim->currentRPM(fan.id), expected);
        }
        QCOMPARE(r.sim->openConnectionCount(), 0);
        QVERIFY(SMCFanWriter::releaseFans(r.machine, r.profile.strategy, r.fans));
        for (const FanStatus& fan : r.fans) {
            QCOMPARE(r.sim->fanMode(fan.id), releasedMode);
            QCOMPARE(r.sim->targetRPM(fan.id), std::optional<int>(0));
            QCOMPARE(r.sim->currentRPM(fan.id), fan.currentRPM);
        }
        if (r.profile.strategy == SMCFanProfile::WriteStrategy::ftstUnlock)
            QCOMPARE(r.sim->value("Ftst"), std::optional<QByteArray>(QByteArray(1, '\0')));
        QCOMPARE(r.sim->openConnectionCount(), 0);
    }

    void heldFansNeedTheUnlock()
    {
        // Mac15,3 is written directly, but this firmware holds its fans until
        // "Ftst" is set: every fan is skipped after its manual-mode attempts.
        Rig r = rig(QStringLiteral("m1-m4"));
        QVERIFY(!SMCFanWriter::setAllFansTarget(r.machine, SMCFanProfile::WriteStrategy::directWrite, r.fans, 80.0));
        QCOMPARE(r.sim->writeCount("F0Tg"), 0);
        QCOMPARE(r.sim->writeCount("F0Md"), 20);
        QCOMPARE(m_clock->pausedMs(), 2 * 1900);
    }

    // Fans without a range, speeds the target's type cannot hold (better no
    // write than 0x3A), fans without keys, and refused or missing controllers.
    void writesThatCannotBeMade()
    {
        Rig r = rig(QStringLiteral("intel"));
        FanStatusList flat = r.fans;
        flat[0].maximumRPM = flat[0].minimumRPM;
        flat[1].maximumRPM = 1000;
        QVERIFY(!SMCFanWriter::setAllFansTarget(r.machine, r.profile.strategy, flat, 100.0));
        QCOMPARE(r.sim->totalWrites(), 0);
        r.sim->setWritesRefused(true);
        QVERIFY(!SMCFanWriter::setAllFansTarget(r.machine, r.profile.strategy, r.fans, 50.0));
        QVERIFY(!SMCFanWriter::releaseFans(r.machine, r.profile.strategy, r.fans));
        QCOMPARE(r.sim->fanMode(0), 0);
        SmcMachine none;
        none.clock = m_clock;
        QVERIFY(!SMCFanWriter::setAllFansTarget(none, SMCFanProfile::WriteStrategy::directWrite, r.fans, 50.0));
        QVERIFY(!SMCFanWriter::releaseFans(none, SMCFanProfile::WriteStrategy::ftstUnlock, r.fans));
        Rig fanless = rig(QStringLiteral("fanless"));
        QVERIFY(!SMCFanWriter::releaseFans(fanless.machine, fanless.profile.strategy, fanless.fans));
        Rig m5 = rig(QStringLiteral("m5"));
        m5.fans.append(FanStatus{3, {}, 0, 1000, 3000, {}});
        QVERIFY(SMCFanWriter::setAllFansTarget(m5.machine, m5.profile.strategy, m5.fans, 100.0));
        QCOMPARE(m5.sim->targetRPM(0), std::optional<int>(4900));
        m5.sim->defineKey("F0Tg", "ui8 ", QByteArray(2, '\0'), true);
        QVERIFY(!SMCFanWriter::setAllFansTarget(m5.machine, m5.profile.strategy, m5.fans.mid(0, 1), 50.0));
        QCOMPARE(m5.sim->value("F0Tg")->toHex(), QByteArray("0000"));
        const FanStatusList small = {FanStatus{0, {}, 0, 100, 250, {}}};
        QVERIFY(SMCFanWriter::setAllFansTarget(m5.machine, m5.profile.strategy, small, 50.0));
        QCOMPARE(m5.sim->value("F0Tg")->toHex(), QByteArray("af00"));
    }
};

BRISKO_TEST(tst_SMCFanWriter)
#include "tst_SMCFanWriter.moc"
