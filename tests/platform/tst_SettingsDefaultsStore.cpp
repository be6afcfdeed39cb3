#include "BriskoTest.h"
#include "TestValues.h"
#include "platform/FolderDefaultsStore.h"
#include "platform/PlatformDefaultsStore.h"
#include "platform/SettingsDefaultsStore.h"
#include "platform/WriteBehindDefaultsStore.h"

#include <QDir>
#include <QThread>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Value = std::optional<QByteArray>;

const QString settingsKey = QStringLiteral("BriskoSettings");
const QString idKey = QStringLiteral("BriskoAnonymousId");
const QString historyKey = QStringLiteral("BriskoStorageHistory");

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Makes a folder refuse new entries even for root, by the immutable flag.
// Permissions alone stop only ordinary users.
class FrozenFolder
{
public:
    explicit FrozenFolder(const QString& path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (m_fd >= 0 && ::ioctl(m_fd, FS_IOC_GETFLAGS, &m_flags) == 0) {
            const int frozen = m_flags | FS_IMMUTABLE_FL;
            m_immutable = ::ioctl(m_fd, FS_IOC_SETFLAGS, &frozen) == 0;
        }
        m_chmodded = !m_immutable && ::geteuid() != 0 && ::fchmod(m_fd, 0555) == 0;
    }
    ~FrozenFolder()
    {
        if (m_immutable)
            ::ioctl(m_fd, FS_IOC_SETFLAGS, &m_flags);
        if (m_chmodded)
            ::fchmod(m_fd, 0755);
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FrozenFolder(const FrozenFolder&) = delete;
    FrozenFolder& operator=(const FrozenFolder&) = delete;

    bool isFrozen() const { return m_immutable || m_chmodded; }

private:
    int m_fd;
    int m_flags = 0;
    bool m_immutable = false;
    bool m_chmodded = false;
};

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

class tst_SettingsDefaultsStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_path = m_dir->filePath(QStringLiteral("Настройки/defaults.ini"));
    }

    void valuesRoundTripThroughTheFile()
    {
        // Every byte, and sequences an INI or text layer might mangle.
        QByteArray binary("\r\n[section]\nkey=value\\;\"@ByteArray(", 30);
        for (int i = 0; i < 256; ++i)
            binary.append(char(i));
        // A large value (history and queues grow to hundreds of records).
        const QByteArray large = QByteArray("A\xd0\xb6").repeated(20000);
        {
            // Neither the file nor its folder exists yet.
            SettingsDefaultsStore store(m_path, QSettings::IniFormat);
            QCOMPARE(store.data(settingsKey), std::nullopt);
            QVERIFY(!QFileInfo::exists(m_path));
            QVERIFY(store.setData(idKey, binary));
            QCOMPARE(store.fileName(), m_path);
            QVERIFY(store.setData(settingsKey, QByteArray("{\"a\":1}")));
            QVERIFY(store.setData(settingsKey, QByteArray("{}")));
            QVERIFY(store.setData(historyKey, large));
            // The empty value is present rather than absent.
            QVERIFY(store.setData(QStringLiteral("BriskoAdsCache"), QByteArray()));
            QVERIFY(store.setData(QStringLiteral("BriskoErrorQueue"), QByteArray("[1]")));
            QVERIFY(store.remove(QStringLiteral("BriskoErrorQueue")));
            // Removing what is not there is not a failure.
            QVERIFY(store.remove(QStringLiteral("BriskoErrorQueue")));
        }
        QCOMPARE(onDisk(idKey), Value(binary));
        QCOMPARE(onDisk(settingsKey), Value("{}"));
        QCOMPARE(onDisk(historyKey), Value(large));
        QCOMPARE(onDisk(QStringLiteral("BriskoAdsCache")), Value(QByteArray()));
        QCOMPARE(onDisk(QStringLiteral("BriskoErrorQueue")), std::nullopt);
        // Keys are exact: another case is another key.
        QCOMPARE(onDisk(QStringLiteral("briskosettings")), std::nullopt);
    }

    void storeUnderAFileFailsWithoutSideEffects()
    {
        const QString blocker = m_dir->filePath(QStringLiteral("обычный файл"));
        QVERIFY(writeAll(blocker, "not a folder"));
        SettingsDefaultsStore store(blocker + QStringLiteral("/defaults.ini"), QSettings::IniFormat);
        QVERIFY(!store.setData(settingsKey, QByteArray("{}")));
        // What failed to be written must not be read back as if it had been.
        QCOMPARE(store.data(settingsKey), std::nullopt);
        QCOMPARE(readAll(blocker), QByteArray("not a folder"));
    }

    // A file found intact, unreadable or partly readable; writes while its
    // folder refuses new entries, then once it takes them again.
    void failedAndDamagedFilesKeepWhatTheyHold_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Value>("settings"); // what the file answers for the settings key
        QByteArray garbage;
        for (int i = 0; i < 4096; ++i)
            garbage.append(char((i * 7919 + 13) % 256));
        garbage.append("\n[Brisko\n=\n==@ByteArray(\n\xff\xfe\x00\x01", 23);
        QTest::newRow("intact") << QByteArray("BriskoSettings=@ByteArray(v1)\n") << Value("v1");
        QTest::newRow("unreadable") << garbage << Value();
        QTest::newRow("partly readable") << QByteArray("BriskoSettings=@ByteArray({})\n[\xff\xfe\n\x01\x02=\n") << Value("{}");
    }
    void failedAndDamagedFilesKeepWhatTheyHold()
    {
        QFETCH(QByteArray, content);
        QFETCH(Value, settings);
        const QString folder = QFileInfo(m_path).path();
        const QStringList onlyTheStore{QStringLiteral("defaults.ini")};
        QVERIFY(QDir().mkpath(folder) && writeAll(m_path, content));
        SettingsDefaultsStore store(m_path, QSettings::IniFormat);
        QCOMPARE(store.data(settingsKey), settings);
        {
            FrozenFolder frozen(folder);
            if (frozen.isFrozen()) {
                QVERIFY(!store.setData(settingsKey, QByteArray("v2")));
                QVERIFY(!store.setData(idKey, QByteArray("id")));
                QVERIFY(!settings || !store.remove(settingsKey));
                // The store keeps answering with what the file holds, and the file stays as it was.
                QCOMPARE(store.data(settingsKey), settings);
                QCOMPARE(store.data(idKey), std::nullopt);
                QCOMPARE(readAll(m_path), content);
                QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), onlyTheStore);
            }
        }
        // Unreadable content is replaced, what could be parsed kept, and only
        // what was asked for after the failures reaches the file.
        QVERIFY(store.setData(historyKey, QByteArray("[]")));
        QCOMPARE(onDisk(historyKey), Value("[]"));
        QCOMPARE(onDisk(settingsKey), settings);
        QCOMPARE(onDisk(idKey), std::nullopt);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), onlyTheStore);
    }

    // Qt reports a damaged file only to the first object that parses it, so
    // the repair runs when a write is the first to meet the file: the
    // damaged file goes aside until the new one, with what parsed, is in.
    void aDamagedFileMetFirstByAWriteIsReplaced()
    {
        const QString folder = QFileInfo(m_path).path();
        QVERIFY(QDir().mkpath(folder) && writeAll(m_path, QByteArray("[General\nBriskoSettings=@ByteArray({})\n")));
        SettingsDefaultsStore store(m_path, QSettings::IniFormat);
        QVERIFY(store.setData(historyKey, QByteArray("[]")));
        QCOMPARE(onDisk(historyKey), Value("[]"));
        QCOMPARE(onDisk(settingsKey), Value("{}"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("defaults.ini")});
    }

    void storesOnOneFileSeeEachOther()
    {
        SettingsDefaultsStore first(m_path, QSettings::IniFormat);
        SettingsDefaultsStore second(m_path, QSettings::IniFormat);
        QVERIFY(first.setData(settingsKey, QByteArray("one")));
        QCOMPARE(second.data(settingsKey), Value("one"));
        QVERIFY(second.setData(idKey, QByteArray("id")));
        QCOMPARE(first.data(idKey), Value("id"));
        QVERIFY(first.remove(idKey));
        QCOMPARE(second.data(idKey), std::nullopt);
        // Another process replaces the file by a rename.
        const QString elsewhere = m_dir->filePath(QStringLiteral("elsewhere.ini"));
        QVERIFY(SettingsDefaultsStore(elsewhere, QSettings::IniFormat)
                    .setData(settingsKey, QByteArray("from another writer")));
        QVERIFY(::rename(QFile::encodeName(elsewhere).constData(), QFile::encodeName(m_path).constData()) == 0);
        QCOMPARE(first.data(settingsKey), Value("from another writer"));
    }

    void concurrentWritersLoseNothing()
    {
        SettingsDefaultsStore store(m_path, QSettings::IniFormat);
        const auto key = [](int i) { return QStringLiteral("Key%1").arg(i); };
        QList<QFuture<bool>> futures;
        for (int w = 0; w < 4; ++w) {
            futures.append(QtConcurrent::run([&store, &key, w] {
                bool ok = true;
                for (int i = w * 15; i < w * 15 + 15; ++i)
                    ok = store.setData(key(i), key(i).toUtf8()) && store.data(key(i)) == Value(key(i).toUtf8()) && ok;
                return ok;
            }));
        }
        for (QFuture<bool>& future : futures)
            QVERIFY(future.result());
        const SettingsDefaultsStore reopened(m_path, QSettings::IniFormat);
        for (int i = 0; i < 60; ++i)
            QCOMPARE(reopened.data(key(i)), Value(key(i).toUtf8()));
    }

    void platformStoreHonoursOverride()
    {
        const QByteArray previous = qgetenv("BRISKO_DEFAULTS");
        const QString path = m_dir->filePath(QStringLiteral("override/store.ini"));
        qputenv("BRISKO_DEFAULTS", QFile::encodeName(path));
        const QString location = PlatformDefaultsStore::location();
        const bool written = PlatformDefaultsStore::open()->setData(settingsKey, QByteArray("{}"));
        if (previous.isNull())
            qunsetenv("BRISKO_DEFAULTS");
        else
            qputenv("BRISKO_DEFAULTS", previous);
        QCOMPARE(location, path);
        QVERIFY(written);
        QVERIFY(QFileInfo(path).isFile());
    }

    // The store that writes behind another: its own changes read back while
    // they are written, and changes made during a write are combined.
    void writeBehindReadsItsOwnChangesAndCombinesThem()
    {
        auto target = std::make_shared<HeldStore>();
        target->values.insert(QStringLiteral("gone"), "old");
        WriteBehindDefaultsStore store(target);
        QVERIFY(store.setData(QStringLiteral("queue"), "1"));
        // The first write is held inside the store behind; the rest wait their turn.
        QVERIFY(target->started.tryAcquire(1, 10000));
        QCOMPARE(store.data(QStringLiteral("queue")), Value("1"));
        QVERIFY(store.remove(QStringLiteral("gone")));
        QVERIFY(store.setData(QStringLiteral("queue"), "2"));
        QVERIFY(store.setData(QStringLiteral("queue"), "3"));
        QCOMPARE(store.data(QStringLiteral("queue")), Value("3"));
        QCOMPARE(store.data(QStringLiteral("gone")), std::nullopt);
        QCOMPARE(store.data(QStringLiteral("other")), std::nullopt);
        target->allowed.release(3);
        store.waitForWrites();
        QCOMPARE(target->written, (QList<Value>{QByteArray("1"), std::nullopt, QByteArray("3")}));
        QCOMPARE(target->data(QStringLiteral("queue")), Value("3"));
        QCOMPARE(target->data(QStringLiteral("gone")), std::nullopt);
        // A change the store behind refuses is dropped: its value reads again.
        target->refused = {QStringLiteral("queue")};
        target->allowed.release();
        QVERIFY(store.setData(QStringLiteral("queue"), "4"));
        store.waitForWrites();
        QCOMPARE(store.data(QStringLiteral("queue")), Value("3"));
    }

    void writeBehindHasEveryChangeInTheFileOnceDestroyed()
    {
        {
            WriteBehindDefaultsStore store(std::make_shared<SettingsDefaultsStore>(m_path, QSettings::IniFormat));
            for (int i = 0; i < 50; ++i)
                store.setData(QStringLiteral("key%1").arg(i % 5), QByteArray::number(i));
            store.remove(QStringLiteral("key0"));
        }
        QCOMPARE(onDisk(QStringLiteral("key0")), std::nullopt);
        for (int k = 1; k < 5; ++k)
            QCOMPARE(onDisk(QStringLiteral("key%1").arg(k)), Value(QByteArray::number(45 + k)));
    }

    void folderStoreKeepsEachKeyInAFileOfItsOwn_data()
    {
        QTest::addColumn<int>("sync");
        QTest::newRow("synced") << int(FolderDefaultsStore::Sync::data);
        QTest::newRow("written back later") << int(FolderDefaultsStore::Sync::none);
    }
    void folderStoreKeepsEachKeyInAFileOfItsOwn()
    {
        QFETCH(int, sync);
        // The folder does not exist until the first change.
        const QString folder = m_dir->filePath(QStringLiteral("очереди.queues"));
        FolderDefaultsStore store(folder, FolderDefaultsStore::Sync(sync));
        QVERIFY(!store.data(QStringLiteral("Queue")));
        QVERIFY(store.remove(QStringLiteral("Queue")));
        // The bytes go in and come out as they are, not UTF-8 ones included.
        const QByteArray value = QByteArray("[{\"name\":\"файл\"}]\n") + QByteArray("\xff\xfe\0z", 4);
        QVERIFY(store.setData(QStringLiteral("Queue"), value));
        QVERIFY(store.setData(QStringLiteral("Other"), "2"));
        QCOMPARE(readAll(folder + QStringLiteral("/Queue.json")), value);
        QCOMPARE(FolderDefaultsStore(folder, FolderDefaultsStore::Sync::none).data(QStringLiteral("Queue")), value);
        QVERIFY(store.setData(QStringLiteral("Queue"), "[]"));
        QCOMPARE(store.data(QStringLiteral("Queue")), QByteArray("[]"));
        QCOMPARE(store.data(QStringLiteral("Other")), QByteArray("2"));
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(folder).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
        QVERIFY(store.remove(QStringLiteral("Queue")));
        QVERIFY(!store.data(QStringLiteral("Queue")));
        // No temporary file is left behind.
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("Other.json")}));
    }

    // An appended line stands on its own whatever the value ends with, the
    // same in the folder store (which only appends) and in any other (which
    // rewrites the value).
    void appendedLineStandsOnItsOwn_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        const QByteArray line = R"({"n":"я"})";
        for (const bool folder : {true, false}) {
            const char* store = folder ? "folder store, " : "settings file, ";
            QTest::addRow("%sno value", store) << folder << QByteArray() << line + '\n';
            QTest::addRow("%san array written whole", store) << folder << QByteArray("[{}]") << "[{}]\n" + line + '\n';
            QTest::addRow("%slines", store) << folder << QByteArray("{}\n") << "{}\n" + line + '\n';
            QTest::addRow("%sa line cut off", store) << folder << QByteArray("{}\n{\"n") << "{}\n{\"n\n" + line + '\n';
        }
    }
    void appendedLineStandsOnItsOwn()
    {
        QFETCH(bool, folder);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        const QString queues = m_dir->filePath(QStringLiteral("очереди.queues"));
        const DefaultsStorePtr store = folder
            ? DefaultsStorePtr(std::make_shared<FolderDefaultsStore>(queues, FolderDefaultsStore::Sync::data))
            : DefaultsStorePtr(std::make_shared<SettingsDefaultsStore>(m_path, QSettings::IniFormat));
        if (!before.isEmpty())
            QVERIFY(store->setData(QStringLiteral("Queue"), before));
        QCOMPARE(store->appendLine(QStringLiteral("Queue"), R"({"n":"я"})"), qint64(after.size()));
        QCOMPARE(store->data(QStringLiteral("Queue")), Value(after));
        if (folder)
            QCOMPARE(readAll(queues + QStringLiteral("/Queue.json")), after);
    }

    // Separate holders of one folder, as separate processes are, append while
    // another rewrites the value: the lock on the folder keeps every line.
    void updatesKeepLinesAppendedMeanwhile()
    {
        const QString queues = m_dir->filePath(QStringLiteral("q"));
        constexpr int writers = 3;
        constexpr int lines = 150;
        std::atomic<int> finished = 0;
        std::vector<std::thread> threads;
        for (int w = 0; w < writers; ++w) {
            threads.emplace_back([&, w] {
                FolderDefaultsStore own(queues, FolderDefaultsStore::Sync::none);
                for (int i = 0; i < lines; ++i)
                    own.appendLine(QStringLiteral("Queue"), QByteArray::number(w * lines + i));
                ++finished;
            });
        }
        FolderDefaultsStore rewriter(queues, FolderDefaultsStore::Sync::none);
        while (finished < writers)
            rewriter.update(QStringLiteral("Queue"), [](const Value& current) { return Value(current.value_or("")); });
        for (std::thread& thread : threads)
            thread.join();
        QVERIFY(rewriter.update(QStringLiteral("Queue"), [](const Value& current) {
            return Value(QByteArray::number(writers * lines) + '\n' + current.value_or(""));
        }));
        QList<QByteArray> stored = rewriter.data(QStringLiteral("Queue")).value_or("").split('\n');
        QCOMPARE(stored.takeLast(), QByteArray());
        std::sort(stored.begin(), stored.end(), [](const QByteArray& a, const QByteArray& b) { return a.toInt() < b.toInt(); });
        QList<QByteArray> expected;
        for (int n = 0; n <= writers * lines; ++n)
            expected.append(QByteArray::number(n));
        QCOMPARE(stored, expected);
    }

    // A claim excludes every other holder of the folder (as another process
    // is) until it is dropped; the settings store's claims hold within it.
    void claimsExcludeOtherHolders()
    {
        const QString queues = m_dir->filePath(QStringLiteral("q"));
        FolderDefaultsStore first(queues, FolderDefaultsStore::Sync::none);
        FolderDefaultsStore second(queues, FolderDefaultsStore::Sync::none);
        SettingsDefaultsStore settings(m_path, QSettings::IniFormat);
        for (DefaultsStore* other : {static_cast<DefaultsStore*>(&second), static_cast<DefaultsStore*>(&settings)}) {
            DefaultsStore* holder = other == &second ? static_cast<DefaultsStore*>(&first) : other;
            std::shared_ptr<void> claim = holder->tryClaim(QStringLiteral("Очередь.sending"));
            QVERIFY(claim);
            QVERIFY(!other->tryClaim(QStringLiteral("Очередь.sending")));
            QVERIFY(other->tryClaim(QStringLiteral("Other")));
            claim.reset();
            QVERIFY(other->tryClaim(QStringLiteral("Очередь.sending")));
        }
    }

    void folderStoreRefusesWhatItCannotKeep()
    {
        const QString folder = m_dir->filePath(QStringLiteral("q"));
        FolderDefaultsStore store(folder, FolderDefaultsStore::Sync::data);
        for (const QString& key : {QString(), QStringLiteral("../Escape"), QStringLiteral("a/b"), QStringLiteral(".hidden")}) {
            QVERIFY2(!store.setData(key, "x"), qPrintable(key));
            QVERIFY2(!store.data(key), qPrintable(key));
            QVERIFY2(!store.remove(key), qPrintable(key));
            QCOMPARE(store.appendLine(key, "x"), -1);
        }
        QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("Escape.json"))));
        // A folder where the record's file belongs: the replacement cannot be
        // renamed over it (as root too), and its temporary file goes again.
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/Queue.json/inside")));
        QVERIFY(!store.setData(QStringLiteral("Queue"), "new"));
        QCOMPARE(store.appendLine(QStringLiteral("Queue"), "new"), -1);
        QVERIFY(!store.data(QStringLiteral("Queue")));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList({QStringLiteral("Queue.json")}));
        QVERIFY(QFileInfo(folder + QStringLiteral("/Queue.json/inside")).isDir());
        // A folder that cannot be made: no change is taken.
        FolderDefaultsStore underAFile(folder + QStringLiteral("/Queue.json/inside/x/y"), FolderDefaultsStore::Sync::none);
        QVERIFY(QFile(folder + QStringLiteral("/Queue.json/inside/x")).open(QIODevice::WriteOnly));
        QVERIFY(!underAFile.update(QStringLiteral("Queue"), [](const Value&) { return Value("new"); }));
        QCOMPARE(underAFile.appendLine(QStringLiteral("Queue"), "new"), -1);
    }

private:
    // The store's file as a fresh store reads it: a copy under another name,
    // so nothing this process remembers about the file answers.
    Value onDisk(const QString& key)
    {
        const QString copy = m_dir->filePath(QStringLiteral("copy-%1.ini").arg(++m_copies));
        return QFile::copy(m_path, copy) ? SettingsDefaultsStore(copy, QSettings::IniFormat).data(key) : Value();
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
    int m_copies = 0;
};

BRISKO_TEST(tst_SettingsDefaultsStore)
#include "tst_SettingsDefaultsStore.moc"
