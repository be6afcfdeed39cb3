#include "BriskoTest.h"
#include "platform/SettingsDefaultsStore.h"
#include "platform/WriteBehindDefaultsStore.h"

#include <QMutex>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

namespace {
// A store whose writes wait until the test lets each one through, and which
// refuses the keys it is told to.
class HeldStore : public DefaultsStore
{
public:
    std::optional<QByteArray> data(const QString& key) const override
    {
        QMutexLocker lock(&m_mutex);
        return values.contains(key) ? std::optional(values.value(key)) : std::nullopt;
    }
    bool setData(const QString& key, const QByteArray& value) override { return write(key, value); }
    bool remove(const QString& key) override { return write(key, std::nullopt); }

    QSemaphore started;
    QSemaphore allowed;
    QStringList refused;
    QMap<QString, QByteArray> values;
    QList<std::optional<QByteArray>> written;

private:
    bool write(const QString& key, const std::optional<QByteArray>& value)
    {
        started.release();
        allowed.acquire();
        QMutexLocker lock(&m_mutex);
        written.append(value);
        if (refused.contains(key))
            return false;
        if (value)
            values.insert(key, *value);
        else
            values.remove(key);
        return true;
    }

    mutable QMutex m_mutex;
};
} // namespace

class tst_WriteBehindDefaultsStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void readsItsOwnChangesWhileTheyAreWritten()
    {
        auto target = std::make_shared<HeldStore>();
        target->values.insert(QStringLiteral("queue"), "old");
        target->values.insert(QStringLiteral("gone"), "old");
        WriteBehindDefaultsStore store(target);
        QVERIFY(store.setData(QStringLiteral("queue"), "new"));
        QVERIFY(store.remove(QStringLiteral("gone")));
        // The first write is held inside the store behind; the second waits its turn.
        QVERIFY(target->started.tryAcquire(1, 10000));
        QCOMPARE(store.data(QStringLiteral("queue")), std::optional<QByteArray>("new"));
        QCOMPARE(store.data(QStringLiteral("gone")), std::nullopt);
        QCOMPARE(store.data(QStringLiteral("other")), std::nullopt);
        target->allowed.release(2);
        store.waitForWrites();
        QCOMPARE(target->data(QStringLiteral("queue")), std::optional<QByteArray>("new"));
        QCOMPARE(target->data(QStringLiteral("gone")), std::nullopt);
    }

    void changesMadeDuringAWriteAreCombined()
    {
        auto target = std::make_shared<HeldStore>();
        WriteBehindDefaultsStore store(target);
        store.setData(QStringLiteral("queue"), "1");
        QVERIFY(target->started.tryAcquire(1, 10000));
        store.setData(QStringLiteral("queue"), "2");
        store.setData(QStringLiteral("queue"), "3");
        QCOMPARE(store.data(QStringLiteral("queue")), std::optional<QByteArray>("3"));
        target->allowed.release(2);
        store.waitForWrites();
        QCOMPARE(target->written, (QList<std::optional<QByteArray>>{QByteArray("1"), QByteArray("3")}));
        QCOMPARE(store.data(QStringLiteral("queue")), std::optional<QByteArray>("3"));
    }

    void aRefusedChangeIsDropped()
    {
        auto target = std::make_shared<HeldStore>();
        target->values.insert(QStringLiteral("queue"), "kept");
        target->refused = {QStringLiteral("queue")};
        target->allowed.release(1);
        WriteBehindDefaultsStore store(target);
        QVERIFY(store.setData(QStringLiteral("queue"), "refused"));
        store.waitForWrites();
        QCOMPARE(store.data(QStringLiteral("queue")), std::optional<QByteArray>("kept"));
    }

    void everyChangeIsInTheFileOnceDestroyed()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Настройки.ini"));
        {
            WriteBehindDefaultsStore store(std::make_shared<SettingsDefaultsStore>(file, QSettings::IniFormat));
            for (int i = 0; i < 50; ++i)
                store.setData(QStringLiteral("key%1").arg(i % 5), QByteArray::number(i));
            store.remove(QStringLiteral("key0"));
        }
        const SettingsDefaultsStore reread(file, QSettings::IniFormat);
        QCOMPARE(reread.data(QStringLiteral("key0")), std::nullopt);
        for (int k = 1; k < 5; ++k)
            QCOMPARE(reread.data(QStringLiteral("key%1").arg(k)), std::optional(QByteArray::number(45 + k)));
    }
};

BRISKO_TEST(tst_WriteBehindDefaultsStore)
#include "tst_WriteBehindDefaultsStore.moc"
