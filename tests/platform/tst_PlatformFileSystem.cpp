#include "BriskoTest.h"
#include "NativeTempDir.h"

#include "platform/FilePath.h"
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

bool writeFile(const QByteArray& path, qint64 size)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const QByteArray chunk(4096, 'x');
    bool ok = true;
    for (qint64 left = size; left > 0 && ok;) {
        const qint64 n = std::min<qint64>(left, chunk.size());
        ok = ::write(fd, chunk.constData(), size_t(n)) == n;
        left -= n;
    }
    return ::close(fd) == 0 && ok;
}

bool makeDir(const QByteArray& path)
{
    return ::mkdir(path.constData(), 0755) == 0;
}

QSet<QByteArray> namesOf(const QList<DirEntry>& entries)
{
    QSet<QByteArray> names;
    for (const DirEntry& entry : entries) {
        names.insert(entry.name);
    }
    return names;
}

const DirEntry* findEntry(const QList<DirEntry>& entries, const QByteArray& name)
{
    for (const DirEntry& entry : entries) {
        if (entry.name == name) {
            return &entry;
        }
    }
    return nullptr;
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
    void listingSkipsHiddenNames();
    void listingReportsLstatValues();
    void sparseFileHasNoAllocatedSize();
    void listingKeepsNativeNames();
    void listingFailures();
    void unreadableFolderFails();
    void readDirectoryReturnsRawNamesWithKinds();
    void readDirectoryReadsLargeFolders();
    void openAndStatRelativeToFolder();
    void pathStatAndExists();
    void chainsDeeperThanPathMax();
};

void tst_PlatformFileSystem::listingSkipsHiddenNames()
{
    NativeTempDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeFile(dir.filePath("visible.txt"), 10));
    QVERIFY(writeFile(dir.filePath(".hidden"), 10));
    QVERIFY(makeDir(dir.filePath(".Trash")));
    QVERIFY(makeDir(dir.filePath("Документы")));
    QVERIFY(writeFile(dir.filePath("Документы/.DS_Store"), 10));

    const FileSystemPtr fs = std::make_shared<PlatformFileSystem>();
    QList<DirEntry> entries;
    QString error;
    QVERIFY(fs->listDirectory(dir.path(), &entries, &error));
    QCOMPARE(entries.size(), 2);
    QCOMPARE(namesOf(entries), (QSet<QByteArray>{"visible.txt", "Документы"}));

    // A folder holding only hidden names lists as empty, not as a failure.
    QVERIFY(fs->listDirectory(dir.filePath("Документы"), &entries, &error));
    QVERIFY(entries.isEmpty());
}

void tst_PlatformFileSystem::listingReportsLstatValues()
{
    NativeTempDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeFile(dir.filePath("file.bin"), 10000));
    QVERIFY(makeDir(dir.filePath("folder")));
    QVERIFY(::symlink("folder", dir.filePath("link-to-folder").constData()) == 0);
    QVERIFY(::symlink("nowhere", dir.filePath("dangling").constData()) == 0);

    // A date with milliseconds, well before the test runs.
    const qint64 modifiedMs = 1'600'000'000'123;
    struct timespec times[2];
    times[0].tv_sec = modifiedMs / 1000;
    times[0].tv_nsec = (modifiedMs % 1000) * 1'000'000 + 456'789;
    times[1] = times[0];
    QVERIFY(::utimensat(AT_FDCWD, dir.filePath("file.bin").constData(), times, 0) == 0);

    QList<DirEntry> entries;
    QVERIFY(std::make_shared<PlatformFileSystem>()->listDirectory(dir.path(), &entries));
    QCOMPARE(entries.size(), 4);

    const DirEntry* file = findEntry(entries, "file.bin");
    QVERIFY(file);
    QVERIFY(file->statOk);
    struct stat st;
    QVERIFY(::lstat(dir.filePath("file.bin").constData(), &st) == 0);
    QVERIFY(!file->stat.isDirectory);
    QVERIFY(!file->stat.isSymlink);
    QCOMPARE(file->stat.size, qint64(10000));
    QVERIFY(file->stat.hasAllocatedSize);
    QCOMPARE(file->stat.allocatedSize, qint64(st.st_blocks) * 512);
    QVERIFY(file->stat.allocatedSize >= 10000);
    QVERIFY(file->stat.hasModified);
    QCOMPARE(file->stat.modifiedMs, modifiedMs);

    const DirEntry* folder = findEntry(entries, "folder");
    QVERIFY(folder && folder->statOk);
    QVERIFY(folder->stat.isDirectory);
    QVERIFY(!folder->stat.isSymlink);

    // The link itself, not the folder it points to: walks must not follow it.
    const DirEntry* link = findEntry(entries, "link-to-folder");
    QVERIFY(link && link->statOk);
    QVERIFY(!link->stat.isDirectory);
    QVERIFY(link->stat.isSymlink);
    QCOMPARE(link->stat.size, qint64(std::strlen("folder")));

    const DirEntry* dangling = findEntry(entries, "dangling");
    QVERIFY(dangling && dangling->statOk);
    QVERIFY(dangling->stat.isSymlink);
}

void tst_PlatformFileSystem::sparseFileHasNoAllocatedSize()
{
    NativeTempDir dir;
    QVERIFY(dir.isValid());
    const qint64 logical = qint64(4) << 30;
    const int fd = ::open(dir.filePath("sparse.img").constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    QVERIFY(fd >= 0);
    QVERIFY(::ftruncate(fd, logical) == 0);
    ::close(fd);

    // One real block near the end: allocated is that block, not the length.
    const int tail = ::open(dir.filePath("tail.img").constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    QVERIFY(tail >= 0);
    const QByteArray block(4096, 'y');
    QVERIFY(::pwrite(tail, block.constData(), size_t(block.size()), logical - block.size()) == block.size());
    ::close(tail);

    QList<DirEntry> entries;
    QVERIFY(std::make_shared<PlatformFileSystem>()->listDirectory(dir.path(), &entries));
    const DirEntry* sparse = findEntry(entries, "sparse.img");
    QVERIFY(sparse && sparse->statOk);
    QCOMPARE(sparse->stat.size, logical);
    QVERIFY(sparse->stat.hasAllocatedSize);
    QCOMPARE(sparse->stat.allocatedSize, qint64(0));

    const DirEntry* partly = findEntry(entries, "tail.img");
    QVERIFY(partly && partly->statOk);
    QCOMPARE(partly->stat.size, logical);
    QVERIFY(partly->stat.allocatedSize >= block.size());
    QVERIFY(partly->stat.allocatedSize < logical / 1024);
}

void tst_PlatformFileSystem::listingKeepsNativeNames()
{
    NativeTempDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeFile(dir.filePath(latin1Name), 3));
    QVERIFY(writeFile(dir.filePath(invalidName), 5));
    QVERIFY(writeFile(dir.filePath(cyrillicName), 7));

    QList<DirEntry> entries;
    QVERIFY(std::make_shared<PlatformFileSystem>()->listDirectory(dir.path(), &entries));
    QCOMPARE(namesOf(entries), (QSet<QByteArray>{latin1Name, invalidName, cyrillicName}));
    for (const DirEntry& entry : entries) {
        QVERIFY2(entry.statOk, entry.name.toHex().constData());
    }
    QCOMPARE(findEntry(entries, latin1Name)->stat.size, qint64(3));
    QCOMPARE(findEntry(entries, invalidName)->stat.size, qint64(5));
    QCOMPARE(findEntry(entries, cyrillicName)->stat.size, qint64(7));

    // Why names stay bytes: through QString the invalid ones come back as
    // other bytes, and the kernel no longer finds the file.
    const FilePath native = FilePath(dir.path()).child(invalidName);
    const FilePath roundTrip = FilePath::fromString(native.toString());
    QVERIFY(roundTrip.native() != native.native());
    FileStat st;
    QVERIFY(std::make_shared<PlatformFileSystem>()->stat(native.native(), false, &st));
    QVERIFY(!std::make_shared<PlatformFileSystem>()->stat(roundTrip.native(), false, &st));

    // A valid UTF-8 (Cyrillic) name survives the trip.
    const FilePath cyrillic = FilePath(dir.path()).child(cyrillicName);
    QCOMPARE(FilePath::fromString(cyrillic.toString()), cyrillic);

    // A listing of a folder whose own name is not UTF-8.
    const QByteArray odd = dir.filePath(invalidName + "-folder");
    QVERIFY(makeDir(odd));
    QVERIFY(writeFile(odd + '/' + latin1Name, 1));
    QVERIFY(std::make_shared<PlatformFileSystem>()->listDirectory(odd, &entries));
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.first().name, latin1Name);
    QVERIFY(entries.first().statOk);
}

void tst_PlatformFileSystem::listingFailures()
{
    NativeTempDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeFile(dir.filePath("plain.txt"), 1));
    const FileSystemPtr fs = std::make_shared<PlatformFileSystem>();

    // Stale entries from an earlier call must not look like a result.
    QList<DirEntry> entries{DirEntry{QByteArray("stale"), {}, true}};
    QString error;
    QVERIFY(!fs->listDirectory(dir.filePath("Нет такой папки"), &entries, &error));
    QVERIFY(entries.isEmpty());
    QCOMPARE(error, QString::fromLocal8Bit(std::strerror(ENOENT)));

    error.clear();
    QVERIFY(!fs->listDirectory(dir.filePath("plain.txt"), &entries, &error));
    QCOMPARE(error, QString::fromLocal8Bit(std::strerror(ENOTDIR)));

    // The error text is optional.
    QVERIFY(!fs->listDirectory(dir.filePath("missing"), &entries));
    QVERIFY(!fs->listDirectory(QByteArray(), &entries, &error));
    QVERIFY(!error.isEmpty());
}

void tst_PlatformFileSystem::unreadableFolderFails()
{
    if (::geteuid() == 0) {
        QSKIP("root reads folders whatever their permissions");
    }
    NativeTempDir dir;
    QVERIFY(dir.isValid());
    const QByteArray locked = dir.filePath("Закрыто");
    QVERIFY(makeDir(locked));
    QVERIFY(writeFile(locked + "/inside", 1));
    QVERIFY(::chmod(locked.constData(), 0) == 0);

    QList<DirEntry> entries;
    QString error;
    QVERIFY(!std::make_shared<PlatformFileSystem>()->listDirectory(locked, &entries, &error));
    QVERIFY(entries.isEmpty());
    QCOMPARE(error, QString::fromLocal8Bit(std::strerror(EACCES)));

    // The parent still lists it, with its stat.
    QVERIFY(std::make_shared<PlatformFileSystem>()->listDirectory(dir.path(), &entries, &error));
    QCOMPARE(entries.size(), 1);
    QVERIFY(entries.first().statOk);
    QVERIFY(entries.first().stat.isDirectory);
}

void tst_PlatformFileSystem::readDirectoryReturnsRawNamesWithKinds()
{
    NativeTempDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeFile(dir.filePath("file"), 1));
    QVERIFY(writeFile(dir.filePath(".hidden"), 1));
    QVERIFY(writeFile(dir.filePath(invalidName), 1));
    QVERIFY(makeDir(dir.filePath("sub")));
    QVERIFY(::symlink("sub", dir.filePath("link").constData()) == 0);
    QVERIFY(::mkfifo(dir.filePath("pipe").constData(), 0600) == 0);

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
    QCOMPARE(QSet<QByteArray>(raw.begin(), raw.end()),
             (QSet<QByteArray>{"file", ".hidden", invalidName, "sub", "link", "pipe"}));
    QCOMPARE(raw.size(), 6);

    const QHash<QByteArray, DirectoryNames::Kind> expected{
        {"file", DirectoryNames::Kind::Regular},    {".hidden", DirectoryNames::Kind::Regular},
        {invalidName, DirectoryNames::Kind::Regular}, {"sub", DirectoryNames::Kind::Directory},
        {"link", DirectoryNames::Kind::Symlink},    {"pipe", DirectoryNames::Kind::Other},
    };
    for (const DirectoryNames::Name& n : names.names) {
        const QByteArray name(names.buffer.constData() + n.offset, n.length);
        // Names are zero-terminated in the buffer so that *at() calls can use them in place.
        QCOMPARE(names.buffer.at(n.offset + n.length), '\0');
        // File systems without type hints say Unknown; a wrong hint is a fault.
        QVERIFY2(n.kind == expected.value(name) || n.kind == DirectoryNames::Kind::Unknown, name.constData());
    }

    QVERIFY(!fs->readDirectory(-1, QByteArray(), &names));
}

void tst_PlatformFileSystem::readDirectoryReadsLargeFolders()
{
    NativeTempDir dir;
    QVERIFY(dir.isValid());
    // Far more than one getdents buffer of names.
    const int count = 1500;
    QSet<QByteArray> made;
    for (int i = 0; i < count; ++i) {
        const QByteArray name = "Файл с длинным именем номер " + QByteArray::number(i) + ".dat";
        QVERIFY(writeFile(dir.filePath(name), 0));
        made.insert(name);
    }
    const FileSystemPtr fs = std::make_shared<PlatformFileSystem>();
    const int fd = fs->openDirectory(FileSystem::CurrentDirectory, dir.path().constData(), dir.path());
    QVERIFY(fd >= 0);
    DirectoryNames names;
    QVERIFY(fs->readDirectory(fd, dir.path(), &names));
    fs->closeDirectory(fd);
    QVERIFY(names.buffer.size() > 32768);
    const QList<QByteArray> raw = rawNames(names);
    QCOMPARE(raw.size(), count);
    QCOMPARE(QSet<QByteArray>(raw.begin(), raw.end()), made);

    QList<DirEntry> entries;
    QVERIFY(fs->listDirectory(dir.path(), &entries));
    QCOMPARE(entries.size(), count);
    QCOMPARE(namesOf(entries), made);
}

void tst_PlatformFileSystem::openAndStatRelativeToFolder()
{
    NativeTempDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(makeDir(dir.filePath("Фото")));
    QVERIFY(writeFile(dir.filePath("Фото/снимок.jpg"), 2048));
    QVERIFY(::symlink("Фото", dir.filePath("ярлык").constData()) == 0);
    QVERIFY(writeFile(dir.filePath("plain"), 1));

    const FileSystemPtr fs = std::make_shared<PlatformFileSystem>();
    const int root = fs->openDirectory(FileSystem::CurrentDirectory, dir.path().constData(), dir.path());
    QVERIFY(root >= 0);

    FileStat st;
    QVERIFY(fs->statAt(root, "ярлык", dir.filePath("ярлык"), false, &st));
    QVERIFY(st.isSymlink);
    QVERIFY(!st.isDirectory);
    QVERIFY(fs->statAt(root, "ярлык", dir.filePath("ярлык"), true, &st));
    QVERIFY(!st.isSymlink);
    QVERIFY(st.isDirectory);
    QVERIFY(!fs->statAt(root, "нет", dir.filePath("нет"), false, &st));

    // Opening follows a link to a folder; a regular file or a missing name is -1.
    const int viaLink = fs->openDirectory(root, "ярлык", dir.filePath("ярлык"));
    QVERIFY(viaLink >= 0);
    QVERIFY(fs->statAt(viaLink, "снимок.jpg", dir.filePath("ярлык/снимок.jpg"), false, &st));
    QCOMPARE(st.size, qint64(2048));
    fs->closeDirectory(viaLink);
    const int onFile = fs->openDirectory(root, "plain", dir.filePath("plain"));
    const int onFileErrno = errno;
    QCOMPARE(onFile, -1);
    QCOMPARE(onFileErrno, ENOTDIR);
    const int onMissing = fs->openDirectory(root, "нет", dir.filePath("нет"));
    const int onMissingErrno = errno;
    QCOMPARE(onMissing, -1);
    QCOMPARE(onMissingErrno, ENOENT);

    // An absolute name ignores the folder descriptor, as openat does.
    const QByteArray absolute = dir.filePath("Фото");
    const int byAbsolute = fs->openDirectory(root, absolute.constData(), absolute);
    QVERIFY(byAbsolute >= 0);
    fs->closeDirectory(byAbsolute);

    // CurrentDirectory is the process's working folder.
    const QByteArray previous = QFile::encodeName(QDir::currentPath());
    QVERIFY(::chdir(dir.path().constData()) == 0);
    const bool relOk = fs->statAt(FileSystem::CurrentDirectory, "plain", QByteArray("plain"), false, &st);
    const int relFd = fs->openDirectory(FileSystem::CurrentDirectory, "Фото", QByteArray("Фото"));
    QVERIFY(::chdir(previous.constData()) == 0);
    QVERIFY(relOk);
    QCOMPARE(st.size, qint64(1));
    QVERIFY(relFd >= 0);
    fs->closeDirectory(relFd);

    fs->closeDirectory(root);
}

void tst_PlatformFileSystem::pathStatAndExists()
{
    NativeTempDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeFile(dir.filePath(invalidName), 100));
    QVERIFY(::symlink(invalidName.constData(), dir.filePath("link").constData()) == 0);
    QVERIFY(::symlink("missing", dir.filePath("dangling").constData()) == 0);

    const FileSystemPtr fs = std::make_shared<PlatformFileSystem>();
    FileStat st;
    QVERIFY(fs->stat(dir.filePath("link"), true, &st));
    QCOMPARE(st.size, qint64(100));
    QVERIFY(!st.isSymlink);
    QVERIFY(fs->stat(dir.filePath("link"), false, &st));
    QVERIFY(st.isSymlink);

    QVERIFY(fs->exists(dir.filePath(invalidName)));
    QVERIFY(fs->exists(dir.path()));
    // exists() follows links: a dangling one names nothing.
    QVERIFY(!fs->exists(dir.filePath("dangling")));
    QVERIFY(fs->stat(dir.filePath("dangling"), false, &st));
    QVERIFY(!fs->exists(dir.filePath("missing")));
    QVERIFY(!fs->exists(QByteArray()));
}

void tst_PlatformFileSystem::chainsDeeperThanPathMax()
{
    NativeTempDir dir;
    QVERIFY(dir.isValid());
    const FileSystemPtr fs = std::make_shared<PlatformFileSystem>();

    // 50 levels of 200-byte names: the full path is about 10 KB, well past PATH_MAX,
    // so only the descriptor chain reaches the bottom.
    const QByteArray name(200, 'd');
    const int levels = 50;
    QByteArray fullPath = dir.path();
    int fd = fs->openDirectory(FileSystem::CurrentDirectory, dir.path().constData(), dir.path());
    QVERIFY(fd >= 0);
    for (int level = 0; level < levels; ++level) {
        QVERIFY(::mkdirat(fd, name.constData(), 0755) == 0);
        fullPath += '/' + name;
        const int next = fs->openDirectory(fd, name.constData(), fullPath);
        fs->closeDirectory(fd);
        QVERIFY2(next >= 0, QByteArray::number(level).constData());
        fd = next;
    }
    QVERIFY(fullPath.size() > 2 * PATH_MAX);

    const int file = ::openat(fd, "глубоко.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    QVERIFY(file >= 0);
    QVERIFY(::write(file, "abc", 3) == 3);
    ::close(file);
    QVERIFY(::mkdirat(fd, ".hidden-deep", 0755) == 0);

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
    QCOMPARE(error, QString::fromLocal8Bit(std::strerror(ENAMETOOLONG)));
    QVERIFY(!fs->stat(fullPath + "/глубоко.txt", false, &st));
    QVERIFY(!fs->exists(fullPath));
}

BRISKO_TEST(tst_PlatformFileSystem)
#include "tst_PlatformFileSystem.moc"
