#include "BriskoTest.h"
#include "ScratchDir.h"

#include "platform/FolderDefaultsStore.h"

#include <QDir>
#include <QTest>

#include <sys/stat.h>

class tst_FolderDefaultsStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void keepsEachKeyInAFileOfItsOwn_data();
    void keepsEachKeyInAFileOfItsOwn();
    void refusesKeysThatAreNotFileNames();
    void aFailedChangeLeavesNothingBehind();
};

void tst_FolderDefaultsStore::keepsEachKeyInAFileOfItsOwn_data()
{
    QTest::addColumn<int>("sync");
    QTest::newRow("synced") << int(FolderDefaultsStore::Sync::data);
    QTest::newRow("written back later") << int(FolderDefaultsStore::Sync::none);
}

void tst_FolderDefaultsStore::keepsEachKeyInAFileOfItsOwn()
{
    QFETCH(int, sync);
    ScratchDir scratch;
    // The folder does not exist until the first change.
    const QString folder = QString::fromLocal8Bit(scratch.path()) + QStringLiteral("/очереди.queues");
    FolderDefaultsStore store(folder, FolderDefaultsStore::Sync(sync));
    QVERIFY(!store.data(QStringLiteral("Queue")));
    QVERIFY(store.remove(QStringLiteral("Queue")));

    // The bytes go in and come out as they are, not UTF-8 ones included.
    const QByteArray value = QByteArray("[{\"name\":\"файл\"}]\n") + QByteArray("\xff\xfe\0z", 4);
    QVERIFY(store.setData(QStringLiteral("Queue"), value));
    QVERIFY(store.setData(QStringLiteral("Other"), "2"));
    QCOMPARE(ScratchDir::readFile(QFile::encodeName(folder) + "/Queue.json"), value);
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

void tst_FolderDefaultsStore::refusesKeysThatAreNotFileNames()
{
    ScratchDir scratch;
    FolderDefaultsStore store(QString::fromLocal8Bit(scratch.path()) + QStringLiteral("/q"), FolderDefaultsStore::Sync::none);
    for (const QString& key : {QString(), QStringLiteral("../Escape"), QStringLiteral("a/b"), QStringLiteral(".hidden")}) {
        QVERIFY2(!store.setData(key, "x"), qPrintable(key));
        QVERIFY2(!store.data(key), qPrintable(key));
        QVERIFY2(!store.remove(key), qPrintable(key));
    }
    QVERIFY(!QFile::exists(QString::fromLocal8Bit(scratch.path()) + QStringLiteral("/Escape.json")));
}

void tst_FolderDefaultsStore::aFailedChangeLeavesNothingBehind()
{
    // A folder where the record's file belongs: the replacement cannot be
    // renamed over it (as root too), and its temporary file goes again.
    ScratchDir scratch;
    const QString folder = QString::fromLocal8Bit(scratch.path()) + QStringLiteral("/q");
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/Queue.json/inside")));
    FolderDefaultsStore store(folder, FolderDefaultsStore::Sync::data);
    QVERIFY(!store.setData(QStringLiteral("Queue"), "new"));
    QVERIFY(!store.data(QStringLiteral("Queue")));
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList({QStringLiteral("Queue.json")}));
    QVERIFY(QFileInfo(folder + QStringLiteral("/Queue.json/inside")).isDir());
}

BRISKO_TEST(tst_FolderDefaultsStore)
#include "tst_FolderDefaultsStore.moc"
