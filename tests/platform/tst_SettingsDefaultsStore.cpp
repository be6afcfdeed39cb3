#include "BriskoTest.h"
#include "TestValues.h"
#include "platform/PlatformDefaultsStore.h"
#include "platform/SettingsDefaultsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent/QtConcurrentRun>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}


QByteArray everyByte()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i) {
        bytes.append(char(i));
    }
    // Sequences an INI or text layer might mangle.
    bytes.append("\r\n[section]\nkey=value\\;\"@ByteArray(", 30);
    return bytes;
}

// Makes a folder refuse new entries even for root, by the immutable flag.
// Permissions alone stop only ordinary users.
class FrozenFolder
{
public:
    explicit FrozenFolder(const QString& path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        int flags = 0;
        if (m_fd >= 0 && ::ioctl(m_fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            m_frozen = ::ioctl(m_fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (!m_frozen && ::geteuid() != 0) {
            m_chmodded = ::fchmod(m_fd, 0555) == 0;
        }
    }
    ~FrozenFolder()
    {
        if (m_frozen) {
            int flags = 0;
            if (::ioctl(m_fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags &= ~FS_IMMUTABLE_FL;
                ::ioctl(m_fd, FS_IOC_SETFLAGS, &flags);
            }
        }
        if (m_chmodded) {
            ::fchmod(m_fd, 0755);
        }
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FrozenFolder(const FrozenFolder&) = delete;
    FrozenFolder& operator=(const FrozenFolder&) = delete;

    bool isFrozen() const { return m_frozen || m_chmodded; }

private:
    int m_fd;
    bool m_frozen = false;
    bool m_chmodded = false;
};

} // namespace

class tst_SettingsDefaultsStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void valuesRoundTripThroughTheFile();
    void corruptFileReadsAsEmptyAndIsReplaced();
    void storeUnderAFileFailsWithoutSideEffects();
    void failedWriteKeepsPreviousFile();
    void damagedFileSurvivesFailedReplacement();
    void storesOnOneFileSeeEachOther();
    void concurrentWritersLoseNothing();
    void platformStoreHonoursOverride();

private:
    QString storePath(const QString& name = QStringLiteral("Настройки/defaults.ini")) const
    {
        return m_dir->filePath(name);
    }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_SettingsDefaultsStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_SettingsDefaultsStore::cleanup()
{
    m_dir.reset();
}

void tst_SettingsDefaultsStore::valuesRoundTripThroughTheFile()
{
    const QByteArray binary = everyByte();
    // A large value (history and queues grow to hundreds of records).
    QByteArray large;
    for (int i = 0; i < 20000; ++i) {
        large.append(char('A' + i % 26));
        large.append("\xd0\xb6");
    }
    {
        // Neither the file nor its folder exists yet.
        SettingsDefaultsStore store(storePath(), QSettings::IniFormat);
        QCOMPARE(store.data(QStringLiteral("BriskoSettings")), std::nullopt);
        QVERIFY(!QFileInfo::exists(storePath()));
        QVERIFY(store.setData(QStringLiteral("BriskoAnonymousId"), binary));
        QCOMPARE(store.fileName(), storePath());
        QVERIFY(store.setData(QStringLiteral("BriskoSettings"), QByteArray("{\"a\":1}")));
        QVERIFY(store.setData(QStringLiteral("BriskoSettings"), QByteArray("{}")));
        QVERIFY(store.setData(QStringLiteral("BriskoStorageHistory"), large));
        // The empty value is present rather than absent.
        QVERIFY(store.setData(QStringLiteral("BriskoAdsCache"), QByteArray()));
        QVERIFY(store.setData(QStringLiteral("BriskoErrorQueue"), QByteArray("[1]")));
        QVERIFY(store.remove(QStringLiteral("BriskoErrorQueue")));
        // Removing what is not there is not a failure.
        QVERIFY(store.remove(QStringLiteral("BriskoErrorQueue")));
        QCOMPARE(store.data(QStringLiteral("BriskoAnonymousId")), std::optional<QByteArray>(binary));
    }
    // A copy under another name is read from disk, not from anything this
    // process remembers about the first file.
    const QString copy = storePath(QStringLiteral("copy.ini"));
    QVERIFY(QFile::copy(storePath(), copy));
    SettingsDefaultsStore fromDisk(copy, QSettings::IniFormat);
    QCOMPARE(fromDisk.data(QStringLiteral("BriskoAnonymousId")), std::optional<QByteArray>(binary));
    QCOMPARE(fromDisk.data(QStringLiteral("BriskoSettings")), std::optional<QByteArray>(QByteArray("{}")));
    QCOMPARE(fromDisk.data(QStringLiteral("BriskoStorageHistory")), std::optional<QByteArray>(large));
    const std::optional<QByteArray> empty = fromDisk.data(QStringLiteral("BriskoAdsCache"));
    QVERIFY(empty.has_value() && empty->isEmpty());
    QCOMPARE(fromDisk.data(QStringLiteral("BriskoErrorQueue")), std::nullopt);
    // Keys are exact: another case is another key.
    QCOMPARE(fromDisk.data(QStringLiteral("briskosettings")), std::nullopt);
}

void tst_SettingsDefaultsStore::corruptFileReadsAsEmptyAndIsReplaced()
{
    QDir().mkpath(QFileInfo(storePath()).path());
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i) {
        garbage.append(char((i * 7919 + 13) % 256));
    }
    garbage.append("\n[Brisko\n=\n==@ByteArray(\n\xff\xfe\x00\x01", 23);
    QVERIFY(writeAll(storePath(), garbage));

    SettingsDefaultsStore store(storePath(), QSettings::IniFormat);
    QCOMPARE(store.data(QStringLiteral("BriskoSettings")), std::nullopt);

    // The next write replaces the unreadable content and is reported as done.
    QVERIFY(store.setData(QStringLiteral("BriskoSettings"), QByteArray("{\"a\":1}")));
    QCOMPARE(store.data(QStringLiteral("BriskoSettings")), std::optional<QByteArray>(QByteArray("{\"a\":1}")));
    QVERIFY(store.setData(QStringLiteral("BriskoStorageHistory"), QByteArray("[]")));

    const QString copy = storePath(QStringLiteral("after-repair.ini"));
    QVERIFY(QFile::copy(storePath(), copy));
    SettingsDefaultsStore fromDisk(copy, QSettings::IniFormat);
    QCOMPARE(fromDisk.data(QStringLiteral("BriskoSettings")), std::optional<QByteArray>(QByteArray("{\"a\":1}")));
    QCOMPARE(fromDisk.data(QStringLiteral("BriskoStorageHistory")), std::optional<QByteArray>(QByteArray("[]")));
}

void tst_SettingsDefaultsStore::storeUnderAFileFailsWithoutSideEffects()
{
    const QString blocker = storePath(QStringLiteral("обычный файл"));
    QVERIFY(writeAll(blocker, "not a folder"));
    const QString impossible = blocker + QStringLiteral("/defaults.ini");

    SettingsDefaultsStore store(impossible, QSettings::IniFormat);
    QVERIFY(!store.setData(QStringLiteral("BriskoSettings"), QByteArray("{}")));
    // What failed to be written must not be read back as if it had been.
    QCOMPARE(store.data(QStringLiteral("BriskoSettings")), std::nullopt);
    QCOMPARE(readAll(blocker), QByteArray("not a folder"));
}

void tst_SettingsDefaultsStore::failedWriteKeepsPreviousFile()
{
    SettingsDefaultsStore store(storePath(), QSettings::IniFormat);
    QVERIFY(store.setData(QStringLiteral("BriskoSettings"), QByteArray("{\"v\":1}")));
    QVERIFY(store.setData(QStringLiteral("BriskoLastMoveBatch"), QByteArray("[\"партия\"]")));
    const QByteArray before = readAll(storePath());
    QVERIFY(!before.isEmpty());

    {
        FrozenFolder frozen(QFileInfo(storePath()).path());
        if (!frozen.isFrozen()) {
            QSKIP("cannot make a folder read-only here (root without the immutable flag)");
        }
        QVERIFY(!store.setData(QStringLiteral("BriskoSettings"), QByteArray("{\"v\":2}")));
        QCOMPARE(readAll(storePath()), before);
        // The store keeps answering with what the file holds.
        QCOMPARE(store.data(QStringLiteral("BriskoSettings")), std::optional<QByteArray>(QByteArray("{\"v\":1}")));

        QVERIFY(!store.setData(QStringLiteral("BriskoAnalyticsQueue"), QByteArray("[]")));
        QCOMPARE(store.data(QStringLiteral("BriskoAnalyticsQueue")), std::nullopt);

        QVERIFY(!store.remove(QStringLiteral("BriskoLastMoveBatch")));
        QCOMPARE(store.data(QStringLiteral("BriskoLastMoveBatch")),
                 std::optional<QByteArray>(QByteArray("[\"партия\"]")));
        QCOMPARE(readAll(storePath()), before);
    }

    // Once the folder is writable again the same store writes, and only what
    // was asked for after the failures reaches the file.
    QVERIFY(store.setData(QStringLiteral("BriskoSettings"), QByteArray("{\"v\":3}")));
    const QString copy = storePath(QStringLiteral("after.ini"));
    QVERIFY(QFile::copy(storePath(), copy));
    SettingsDefaultsStore fromDisk(copy, QSettings::IniFormat);
    QCOMPARE(fromDisk.data(QStringLiteral("BriskoSettings")), std::optional<QByteArray>(QByteArray("{\"v\":3}")));
    QCOMPARE(fromDisk.data(QStringLiteral("BriskoAnalyticsQueue")), std::nullopt);
    QCOMPARE(fromDisk.data(QStringLiteral("BriskoLastMoveBatch")),
             std::optional<QByteArray>(QByteArray("[\"партия\"]")));
}

void tst_SettingsDefaultsStore::damagedFileSurvivesFailedReplacement()
{
    QDir().mkpath(QFileInfo(storePath()).path());
    const QByteArray damaged("BriskoSettings=@ByteArray({})\n[\xff\xfe\n\x01\x02=\n");
    QVERIFY(writeAll(storePath(), damaged));
    SettingsDefaultsStore store(storePath(), QSettings::IniFormat);
    {
        FrozenFolder frozen(QFileInfo(storePath()).path());
        if (!frozen.isFrozen()) {
            QSKIP("cannot make a folder read-only here (root without the immutable flag)");
        }
        QVERIFY(!store.setData(QStringLiteral("BriskoAnonymousId"), QByteArray("id")));
        QCOMPARE(readAll(storePath()), damaged);
        QCOMPARE(QDir(QFileInfo(storePath()).path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("defaults.ini")});
    }
    // What could be parsed is kept when the file is replaced.
    const std::optional<QByteArray> readable(QByteArray("{}"));
    QCOMPARE(store.data(QStringLiteral("BriskoSettings")), readable);
    QVERIFY(store.setData(QStringLiteral("BriskoAnonymousId"), QByteArray("id")));
    QCOMPARE(store.data(QStringLiteral("BriskoAnonymousId")), std::optional<QByteArray>(QByteArray("id")));
    QCOMPARE(store.data(QStringLiteral("BriskoSettings")), readable);
    QCOMPARE(QDir(QFileInfo(storePath()).path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("defaults.ini")});
}

void tst_SettingsDefaultsStore::storesOnOneFileSeeEachOther()
{
    SettingsDefaultsStore first(storePath(), QSettings::IniFormat);
    SettingsDefaultsStore second(storePath(), QSettings::IniFormat);

    QVERIFY(first.setData(QStringLiteral("BriskoSettings"), QByteArray("one")));
    QCOMPARE(second.data(QStringLiteral("BriskoSettings")), std::optional<QByteArray>(QByteArray("one")));
    QVERIFY(second.setData(QStringLiteral("BriskoSettings"), QByteArray("two")));
    QVERIFY(second.setData(QStringLiteral("BriskoAnonymousId"), QByteArray("id")));
    QCOMPARE(first.data(QStringLiteral("BriskoSettings")), std::optional<QByteArray>(QByteArray("two")));
    QCOMPARE(first.data(QStringLiteral("BriskoAnonymousId")), std::optional<QByteArray>(QByteArray("id")));
    QVERIFY(first.remove(QStringLiteral("BriskoAnonymousId")));
    QCOMPARE(second.data(QStringLiteral("BriskoAnonymousId")), std::nullopt);

    // A write by someone else entirely (another process rewriting the file).
    {
        SettingsDefaultsStore other(storePath(QStringLiteral("elsewhere.ini")), QSettings::IniFormat);
        QVERIFY(other.setData(QStringLiteral("BriskoSettings"), QByteArray("three, from another writer")));
    }
    const QByteArray replacement = readAll(storePath(QStringLiteral("elsewhere.ini")));
    const QString staging = storePath(QStringLiteral("Настройки/staging"));
    QVERIFY(writeAll(staging, replacement));
    QVERIFY(::rename(QFile::encodeName(staging).constData(), QFile::encodeName(storePath()).constData()) == 0);
    QCOMPARE(first.data(QStringLiteral("BriskoSettings")),
             std::optional<QByteArray>(QByteArray("three, from another writer")));
}

void tst_SettingsDefaultsStore::concurrentWritersLoseNothing()
{
    SettingsDefaultsStore store(storePath(), QSettings::IniFormat);
    const int writers = 4;
    const int perWriter = 15;
    QList<QFuture<bool>> futures;
    for (int w = 0; w < writers; ++w) {
        futures.append(QtConcurrent::run([&store, w] {
            bool ok = true;
            for (int i = 0; i < perWriter; ++i) {
                const QString key = QStringLiteral("Key%1_%2").arg(w).arg(i);
                ok = store.setData(key, key.toUtf8()) && ok;
                ok = store.data(key) == std::optional<QByteArray>(key.toUtf8()) && ok;
            }
            return ok;
        }));
    }
    for (QFuture<bool>& future : futures) {
        QVERIFY(future.result());
    }
    SettingsDefaultsStore reopened(storePath(), QSettings::IniFormat);
    for (int w = 0; w < writers; ++w) {
        for (int i = 0; i < perWriter; ++i) {
            const QString key = QStringLiteral("Key%1_%2").arg(w).arg(i);
            QCOMPARE(reopened.data(key), std::optional<QByteArray>(key.toUtf8()));
        }
    }
}

void tst_SettingsDefaultsStore::platformStoreHonoursOverride()
{
    const QByteArray previous = qgetenv("BRISKO_DEFAULTS");
    const QString path = storePath(QStringLiteral("override/store.ini"));
    qputenv("BRISKO_DEFAULTS", QFile::encodeName(path));
    const QString location = PlatformDefaultsStore::location();
    const DefaultsStorePtr store = PlatformDefaultsStore::open();
    const bool written = store->setData(QStringLiteral("BriskoSettings"), QByteArray("{}"));
    if (previous.isNull()) {
        qunsetenv("BRISKO_DEFAULTS");
    } else {
        qputenv("BRISKO_DEFAULTS", previous);
    }
    QCOMPARE(location, path);
    QVERIFY(written);
    QVERIFY(QFileInfo(path).isFile());
}

BRISKO_TEST(tst_SettingsDefaultsStore)
#include "tst_SettingsDefaultsStore.moc"
