#include "BriskoTest.h"
#include "fans/SMCFanProfile.h"
#include "fans/SMCHardwareProfile.h"

#include <QtTest>

// The two model classifiers and the advice for raw error texts.
class tst_SMCProfiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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
        QTest::newRow("empty") << "" << "Apple Silicon" << unknown;
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
    }

    void fanProfileNote()
    {
        QCOMPARE(SMCFanProfile::detect(QStringLiteral("Mac16,1")).note(),
                 QStringLiteral("Профиль Apple M5: прямая запись SMC."));
        QCOMPARE(SMCFanProfile::detect(QStringLiteral("Mac14,5")).note(),
                 QStringLiteral("Профиль Apple M3/M4: перед boost выполняется Ftst unlock."));
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
        QTest::newRow("empty") << "" << direct << QString();
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
        const std::optional<QString> actual =
            SMCHardwareProfile::humanizeError(given, SMCHardwareProfile::Kind(kind));
        if (advice.isNull()) {
            QVERIFY(!actual);
        } else {
            QCOMPARE(actual, std::optional<QString>(advice));
        }
    }
};

BRISKO_TEST(tst_SMCProfiles)
#include "tst_SMCProfiles.moc"
