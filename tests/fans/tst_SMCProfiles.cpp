#include "BriskoTest.h"
#include "fans/SMCFanProfile.h"
#include "fans/SMCHardwareProfile.h"

#include <QtTest>

// The two model classifiers and the advice for raw error texts.
class tst_SMCProfiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fanProfile_data();
    void fanProfile();
    void fanProfileNote();
    void hardwareKind_data();
    void hardwareKind();
    void humanizeError_data();
    void humanizeError();
};

void tst_SMCProfiles::fanProfile_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("unlock");
    QTest::addColumn<QString>("chip");

    QTest::newRow("Mac16,1") << "Mac16,1" << false << "Apple M5";
    QTest::newRow("Mac15,13") << "Mac15,13" << false << "Apple M5";
    QTest::newRow("Mac15,14 upper case") << "MAC15,14" << false << "Apple M5";
    QTest::newRow("Mac14,2") << "Mac14,2" << true << "Apple M3/M4";
    QTest::newRow("Mac15,6") << "Mac15,6" << true << "Apple M3/M4";
    QTest::newRow("Mac15,3") << "Mac15,3" << false << "Apple M1/M2";
    QTest::newRow("Mac13,1") << "Mac13,1" << false << "Apple M1/M2";
    QTest::newRow("MacBookAir10,1") << "MacBookAir10,1" << false << "Apple M1/M2";
    QTest::newRow("MacBookPro16,1") << "MacBookPro16,1" << false << "Apple M1/M2";
    QTest::newRow("iMac21,1") << "iMac21,1" << false << "Apple Silicon";
    QTest::newRow("unknown") << "unknown" << false << "Apple Silicon";
    QTest::newRow("a PC") << "ThinkPad X1 Carbon" << false << "Apple Silicon";
}

void tst_SMCProfiles::fanProfile()
{
    QFETCH(QString, model);
    QFETCH(bool, unlock);
    QFETCH(QString, chip);
    const SMCFanProfile profile = SMCFanProfile::detect(model);
    QCOMPARE(profile.strategy == SMCFanProfile::WriteStrategy::ftstUnlock, unlock);
    QCOMPARE(profile.chipLabel, chip);
    QCOMPARE(profile.modelIdentifier, model);
}

void tst_SMCProfiles::fanProfileNote()
{
    QCOMPARE(SMCFanProfile::detect(QStringLiteral("Mac16,1")).note(),
             QStringLiteral("Профиль Apple M5: прямая запись SMC."));
    QCOMPARE(SMCFanProfile::detect(QStringLiteral("Mac14,5")).note(),
             QStringLiteral("Профиль Apple M3/M4: перед boost выполняется Ftst unlock."));
}

void tst_SMCProfiles::hardwareKind_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("kind");

    const int direct = int(SMCHardwareProfile::Kind::directWrite);
    const int unlock = int(SMCHardwareProfile::Kind::ftstUnlock);
    const int unknown = int(SMCHardwareProfile::Kind::unknown);
    QTest::newRow("Mac16,1") << "Mac16,1" << direct;
    QTest::newRow("Mac15,13") << "Mac15,13" << direct;
    QTest::newRow("Mac14,2") << "Mac14,2" << unlock;
    // The error wording disagrees with the write strategy here.
    QTest::newRow("Mac15,3") << "Mac15,3" << unlock;
    QTest::newRow("MacBookPro18,1") << "MacBookPro18,1" << direct;
    QTest::newRow("iMac21,1") << "iMac21,1" << direct;
    QTest::newRow("empty") << "" << unknown;
    QTest::newRow("a PC") << "OptiPlex 7090" << unknown;
}

void tst_SMCProfiles::hardwareKind()
{
    QFETCH(QString, model);
    QFETCH(int, kind);
    QCOMPARE(int(SMCHardwareProfile::detect(model)), kind);
}

void tst_SMCProfiles::humanizeError_data()
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

void tst_SMCProfiles::humanizeError()
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

BRISKO_TEST(tst_SMCProfiles)
#include "tst_SMCProfiles.moc"
