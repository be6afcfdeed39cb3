#include "BriskoTest.h"
#include "ScratchDir.h"

#include "base/FilePath.h"
#include "platform/PlatformFileSystem.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QTest>

#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Latin-1 "café" and two bytes that start no UTF-8 sequence: names a
// non-UTF-8 file system or an old archive can hand us.
const QByteArray latin1Name("caf\xe9.txt");
const QByteArray invalidName("\xff\xfe-bytes");
const QByteArray cyrillicName("Отчёт за 2024.txt");

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QHash<QByteArray, DirEntry> byName(const QList<DirEntry>& entries)
{
    QHash<QByteArray, DirEntry> out;
    for (const DirEntry& entry : entries) {
        out.insert(entry.name, entry);
    }
    return out;
}

QList<QByteArray> rawNames(const DirectoryNames& names)
{
    QList<QByteArray> out;
    for (const DirectoryNames::Name& n : names.names) {
        out.append(QByteArray(names.buffer.constData() + n.offset, n.length));
    }
    return out;
}

} // namespace

class tst_PlatformFileSystem : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void listingGivesLstatOfVisibleNativeNames();
    void sparseFileHasNoAllocatedSize();
    void listingFailures_data();
    void listingFailures();
    void readDirectoryReturnsEveryRawNameWithItsKind();
    void openAndStatRelativeToFolder();
    void chainsDeeperThanPathMax();
};

void tst_PlatformFileSystem::listingGivesLstatOfVisibleNativeNames()
{
    ScratchDir dir;
    dir.writeFile("file.bin", QByteArray(10000, 'x'));
    dir.writeFile(".hidden", "h");
    dir.makeDirectory(".Trash");
    dir.writeFile("Документы/.DS_Store", "h");
    dir.writeFile(latin1Name, "abc");
    dir.writeFile(invalidName, "abcde");
    dir.writeFile(cyrillicName, "abcdefg");
    dir.makeLink("Документы", "link-to-folder");
    dir.makeLink("nowhere", "dangling");
    // A date with milliseconds, well before the test runs.
    const qint64 modifiedMs = 1'600'000'000'123;
    struct timespec times[2];
    times[0].tv_sec = modifiedMs / 1000;
    times[0].tv_nsec = (modifiedMs % 1000) * 1'000'000 + 456'789;
    times[1] = times[0];
    QCOMPARE(::utimensat(AT_FDCWD, dir.filePath("file.bin").constData(), times, 0), 0);

    const FileSystemPtr fs = std::make_shared<PlatformFileSystem>();
    QList<DirEntry> list;
    QVERIFY(fs->listDirectory(dir.path(), &list));
    const QHash<QByteArray, DirEntry> entries = byName(list);
    QCOMPARE(QSet<QByteArray>(entries.keyBegin(), entries.keyEnd()),
             (QSet<QByteArray>{"file.bin", "Документы", latin1Name, invalidName, cyrillicName, "link-to-folder",
                               "dangling"}));
    for (const DirEntry& entry : list) {
        QVERIFY2(entry.statOk, entry.name.toHex().constData());
    }
    const FileStat file = entries.value("file.bin").stat;
    struct stat st;
    QCOMPARE(::lstat(dir.filePath("file.bin").constData(), &st), 0);
    QVERIFY(!file.isDirectory && !file.isSymlink);
    QCOMPARE(file.size, qint64(10000));
    QVERIFY(file.hasAllocatedSize);
    QCOMPARE(file.allocatedSize, qint64(st.st_blocks) * 512);
    QVERIFY(file.hasModified);
    QCOMPARE(file.modifiedMs, modifiedMs);
    QVERIFY(entries.value("Документы").stat.isDirectory);
    QCOMPARE(entries.value(invalidName).stat.size, qint64(5));
    QCOMPARE(entries.value(latin1Name).stat.size, qint64(3));
    // The link itself, not the folder it points to: walks must not follow it.
    const FileStat link = entries.value("link-to-folder").stat;
    QVERIFY(link.isSymlink && !link.isDirectory);
    QCOMPARE(link.size, qint64(std::strlen("Документы")));
    QVERIFY(entries.value("dangling").stat.isSymlink);

    // A folder holding only hidden names lists as empty, not as a failure.
    QVERIFY(fs->listDirectory(dir.filePath("Документы"), &list));
    QVERIFY(list.isEmpty());
    // A folder whose own name is not UTF-8.
    dir.writeFile(invalidName + "-folder/" + latin1Name, "1");
    QVERIFY(fs->listDirectory(dir.filePath(invalidName + "-folder"), &list));
    QCOMPARE(list.size(), 1);
    QCOMPARE(list.first().name, latin1Name);
    QVERIFY(list.first().statOk);
}

void tst_PlatformFileSystem::sparseFileHasNoAllocatedSize()
{
    ScratchDir dir;
    const qint64 logical = qint64(4) << 30;
    const int fd = ::open(dir.filePath("sparse.img").constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::ftruncate(fd, logical), 0);
    ::close(fd);
    // One real block near the end: allocated is that block, not the length.
    const int tail = ::open(dir.filePath("tail.img").constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    QVERIFY(tail >= 0);
    const QByteArray block(4096, 'y');
    QCOMPARE(::pwrite(tail, block.constData(), size_t(block.size()), logical - block.size()), ssize_t(block.size()));
    ::close(tail);

    QList<DirEntry> list;
    QVERIFY(std::make_shared<PlatformFileSystem>()->listDirectory(dir.path(), &list));
    const QHash<QByteArray, DirEntry> entries = byName(list);
    QCOMPARE(entries.value("sparse.img").stat.size, logical);
    QVERIFY(entries.value("sparse.img").stat.hasAllocatedSize);
    QCOMPARE(entries.value("sparse.img").stat.allocatedSize, qint64(0));
    QCOMPARE(entries.value("tail.img").stat.size, logical);
    QVERIFY(entries.value("tail.img").stat.allocatedSize >= block.size());
    QVERIFY(entries.value("tail.img").stat.allocatedSize < logical / 1024);
}

void tst_PlatformFileSystem::listingFailures_data()
{
    QTest::addColumn<QByteArray>("relative");
    QTest::addColumn<int>("error");
    QTest::newRow("missing") << QByteArray("Нет такой папки") << ENOENT;
    QTest::newRow("a file") << QByteArray("plain.txt") << ENOTDIR;
    QTest::newRow("unreadable") << QByteArray("Закрыто") << EACCES;
}

void tst_PlatformFileSystem::listingFailures()
{
    QFETCH(QByteArray, relative);
    QFETCH(int, error);
    if (error == EACCES && ::geteuid() == 0) {
        QSKIP("root reads folders whatever their permissions");
    }
    ScratchDir dir;
    dir.writeFile("plain.txt", "1");
    dir.writeFile("Закрыто/inside", "1");
    QCOMPARE(::chmod(dir.filePath("Закрыто").constData(), 0), 0);
    const FileSystemPtr fs = std::make_shared<PlatformFileSystem>();

    // Stale entries from an earlier call must not look like a result.
    QList<DirEntry> entries{DirEntry{QByteArray("stale"), {}, true}};
    QString text;
    QVERIFY(!fs->listDirectory(dir.filePath(relative), &entries, &text));
    QVERIFY(entries.isEmpty());
    QCOMPARE(text, errorText(error));
    // The error text is optional.
    QVERIFY(!fs->listDirectory(dir.filePath(relative), &entries));
    // The parent still lists the unreadable folder, with its stat.
    QVERIFY(fs->listDirectory(dir.path(), &entries));
    QCOMPARE(entries.size(), 2);
    QVERIFY(entries.first().statOk && entries.last().statOk);
}

void tst_PlatformFileSystem::readDirectoryReturnsEveryRawNameWithItsKind()
{
    ScratchDir dir;
    // Far more than one getdents buffer of names, and one of every kind.
    QHash<QByteArray, DirectoryNames::Kind> expected;
    for (int i = 0; i < 1500; ++i) {
        const QByteArray name = "Файл с длинным именем номер " + QByteArray::number(i) + ".dat";
        dir.writeFile(name, {});
        expected.insert(name, DirectoryNames::Kind::Regular);
    }
    dir.writeFile(".hidden", "1");
    dir.writeFile(invalidName, "1");
    dir.makeDirectory("sub");
    dir.makeLink("sub", "link");
    QCOMPARE(::mkfifo(dir.filePath("pipe").constData(), 0600), 0);
    expected.insert(".hidden", DirectoryNames::Kind::Regular);
    expected.insert(invalidName, DirectoryNames::Kind::Regular);
    expected.insert("sub", DirectoryNames::Kind::Directory);
    expected.insert("link", DirectoryNames::Kind::Symlink);
    expected.insert("pipe", DirectoryNames::Kind::Other);

    const FileSystemPtr fs = std::make_shared<PlatformFileSystem>();
    const int fd = fs->openDirectory(FileSystem::CurrentDirectory, dir.path().constData(), dir.path());
    QVERIFY(fd >= 0);
    DirectoryNames names;
    names.buffer = "left over";
    names.names.append({0, 4, DirectoryNames::Kind::Other});
    QVERIFY(fs->readDirectory(fd, dir.path(), &names));
    fs->closeDirectory(fd);
    QCOMPARE(::fcntl(fd, F_GETFD), -1);

    const QList<QByteArray> raw = rawNames(names);
    QCOMPARE(raw.size(), expected.size());
    QCOMPARE(QSet<QByteArray>(raw.begin(), raw.end()), QSet<QByteArray>(expected.keyBegin(), expected.keyEnd()));
    for (const DirectoryNames::Name& n : names.names) {
        const QByteArray name(names.buffer.constData() + n.offset, n.length);
        // Names are zero-terminated in the buffer so that *at() calls can use them in place.
        QCOMPARE(names.buffer.at(n.offset + n.length), '\0');
        // File systems without type hints say Unknown; a wrong hint is a fault.
        QVERIFY2(n.kind == expected.value(name) || n.kind == DirectoryNames::Kind::Unknown, name.constData());
    }
    QVERIFY(!fs->readDirectory(-1, QByteArray(), &names));
}

void tst_PlatformFileSystem::openAndStatRelativeToFolder()
{
    ScratchDir dir;
    dir.writeFile("Фото/снимок.jpg", QByteArray(2048, 'j'));
    dir.makeLink("Фото", "ярлык");
    dir.makeLink("missing", "dangling");
    dir.writeFile("plain", "1");
    const FileSystemPtr fs = std::make_shared<PlatformFileSystem>();
    const int root = fs->openDirectory(FileSystem::CurrentDirectory, dir.path().constData(), dir.path());
    QVERIFY(root >= 0);

    FileStat st;
    QVERIFY(fs->statAt(root, "ярлык", dir.filePath("ярлык"), false, &st));
    QVERIFY(st.isSymlink && !st.isDirectory);
    QVERIFY(fs->statAt(root, "ярлык", dir.filePath("ярлык"), true, &st));
    QVERIFY(!st.isSymlink && st.isDirectory);
    QVERIFY(!fs->statAt(root, "нет", dir.filePath("нет"), false, &st));
    QVERIFY(fs->stat(dir.filePath("ярлык"), false, &st) && st.isSymlink);
    QVERIFY(fs->stat(dir.filePath("ярлык"), true, &st) && st.isDirectory);
    // exists() follows links: a dangling one names nothing.
    QVERIFY(fs->exists(dir.filePath("plain")));
    QVERIFY(!fs->exists(dir.filePath("dangling")));
    QVERIFY(!fs->exists(QByteArray()));

    // Opening follows a link to a folder; a regular file or a missing name is -1.
    const int viaLink = fs->openDirectory(root, "ярлык", dir.filePath("ярлык"));
    QVERIFY(viaLink >= 0);
    QVERIFY(fs->statAt(viaLink, "снимок.jpg", dir.filePath("ярлык/снимок.jpg"), false, &st));
    QCOMPARE(st.size, qint64(2048));
    fs->closeDirectory(viaLink);
    const int onFile = fs->openDirectory(root, "plain", dir.filePath("plain"));
    const int onFileErrno = errno;
    const int onMissing = fs->openDirectory(root, "нет", dir.filePath("нет"));
    const int onMissingErrno = errno;
    QCOMPARE(onFile, -1);
    QCOMPARE(onFileErrno, ENOTDIR);
    QCOMPARE(onMissing, -1);
    QCOMPARE(onMissingErrno, ENOENT);

    // CurrentDirectory is the process's working folder.
    const QByteArray previous = QFile::encodeName(QDir::currentPath());
    QCOMPARE(::chdir(dir.path().constData()), 0);
    const bool relOk = fs->statAt(FileSystem::CurrentDirectory, "plain", QByteArray("plain"), false, &st);
    const int relFd = fs->openDirectory(FileSystem::CurrentDirectory, "Фото", QByteArray("Фото"));
    QCOMPARE(::chdir(previous.constData()), 0);
    QVERIFY(relOk);
    QCOMPARE(st.size, qint64(1));
    QVERIFY(relFd >= 0);
    fs->closeDirectory(relFd);
    fs->closeDirectory(root);
}

void tst_PlatformFileSystem::chainsDeeperThanPathMax()
{
    ScratchDir dir;
    const FileSystemPtr fs = std::make_shared<PlatformFileSystem>();
    // 50 levels of 200-byte names: the full path is about 10 KB, well past PATH_MAX,
    // so only the descriptor chain reaches the bottom.
    const QByteArray name(200, 'd');
    QByteArray fullPath = dir.path();
    int fd = fs->openDirectory(FileSystem::CurrentDirectory, dir.path().constData(), dir.path());
    QVERIFY(fd >= 0);
    for (int level = 0; level < 50; ++level) {
        QCOMPARE(::mkdirat(fd, name.constData(), 0755), 0);
        fullPath += '/' + name;
        const int next = fs->openDirectory(fd, name.constData(), fullPath);
        fs->closeDirectory(fd);
        QVERIFY2(next >= 0, QByteArray::number(level).constData());
        fd = next;
    }
    QVERIFY(fullPath.size() > 2 * PATH_MAX);
    const int file = ::openat(fd, "глубоко.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    QVERIFY(file >= 0);
    QCOMPARE(::write(file, "abc", 3), ssize_t(3));
    ::close(file);
    QCOMPARE(::mkdirat(fd, ".hidden-deep", 0755), 0);

    DirectoryNames names;
    QVERIFY(fs->readDirectory(fd, fullPath, &names));
    QCOMPARE(names.names.size(), 2);
    FileStat st;
    QVERIFY(fs->statAt(fd, "глубоко.txt", fullPath + "/глубоко.txt", false, &st));
    QCOMPARE(st.size, qint64(3));
    fs->closeDirectory(fd);

    // Whole-path calls fail cleanly there.
    QList<DirEntry> entries;
    QString error;
    QVERIFY(!fs->listDirectory(fullPath, &entries, &error));
    QCOMPARE(error, errorText(ENAMETOOLONG));
    QVERIFY(!fs->stat(fullPath + "/глубоко.txt", false, &st));
    QVERIFY(!fs->exists(fullPath));
}

BRISKO_TEST(tst_PlatformFileSystem)
#include "tst_PlatformFileSystem.moc"
