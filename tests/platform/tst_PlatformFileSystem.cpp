#include "BriskoTest.h"
#include "ScratchDir.h"
#include "TestValues.h"

#include "platform/PlatformFileSystem.h"

#include <QDir>
#include <QSet>
#include <QTest>

#include <climits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Latin-1 "café" and two bytes that start no UTF-8 sequence: names a
// non-UTF-8 file system or an old archive can hand us.
const QByteArray latin1Name("caf\xe9.txt");
const QByteArray invalidName("\xff\xfe-bytes");

// The entries of a folder with their stat, by name.
QHash<QByteArray, FileStat> listed(const FileSystem& fs, const QByteArray& folder)
{
    QList<DirEntry> list;
    QHash<QByteArray, FileStat> out;
    if (fs.listDirectory(folder, &list)) {
        for (const DirEntry& entry : list) {
            if (entry.statOk)
                out.insert(entry.name, entry.stat);
        }
    }
    return out;
}

} // namespace

class tst_PlatformFileSystem : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_dir = std::make_unique<ScratchDir>(); }

    void listingGivesLstatOfVisibleNativeNames()
    {
        m_dir->writeFile("file.bin", QByteArray(10000, 'x'));
        m_dir->writeFile(".hidden", "h");
        m_dir->makeDirectory(".Trash");
        m_dir->writeFile("Документы/.DS_Store", "h");
        m_dir->writeFile(latin1Name, "abc");
        m_dir->writeFile(invalidName, "abcde");
        m_dir->writeFile("Отчёт за 2024.txt", "abcdefg");
        m_dir->makeLink("Документы", "link-to-folder");
        m_dir->makeLink("nowhere", "dangling");
        // A date with milliseconds, well before the test runs.
        const qint64 modifiedMs = 1'600'000'000'123;
        const struct timespec time{modifiedMs / 1000, (modifiedMs % 1000) * 1'000'000 + 456'789};
        const struct timespec times[2] = {time, time};
        QCOMPARE(::utimensat(AT_FDCWD, m_dir->filePath("file.bin").constData(), times, 0), 0);
        // Entries listed without their stat are left out.
        const QHash<QByteArray, FileStat> entries = listed(m_fs, m_dir->path());
        QCOMPARE(QSet<QByteArray>(entries.keyBegin(), entries.keyEnd()),
                 (QSet<QByteArray>{"file.bin", "Документы", latin1Name, invalidName, "Отчёт за 2024.txt",
                                   "link-to-folder", "dangling"}));
        const FileStat file = entries.value("file.bin");
        struct stat st;
        QCOMPARE(::lstat(m_dir->filePath("file.bin").constData(), &st), 0);
        QVERIFY(!file.isDirectory && !file.isSymlink);
        QCOMPARE(file.size, qint64(10000));
        QVERIFY(file.hasAllocatedSize && file.hasModified);
        QCOMPARE(file.allocatedSize, qint64(st.st_blocks) * 512);
        QCOMPARE(file.modifiedMs, modifiedMs);
        QVERIFY(entries.value("Документы").isDirectory);
        const QList<qint64> sizes{entries.value(invalidName).size, entries.value(latin1Name).size,
                                  entries.value("Отчёт за 2024.txt").size};
        QCOMPARE(sizes, (QList<qint64>{5, 3, 7}));
        // The link itself, not the folder it points to: walks must not follow it.
        const FileStat link = entries.value("link-to-folder");
        QVERIFY(link.isSymlink && !link.isDirectory);
        QCOMPARE(link.size, qint64(std::strlen("Документы")));
        QVERIFY(entries.value("dangling").isSymlink);
        // A folder holding only hidden names lists as empty, not as a failure.
        QList<DirEntry> list{DirEntry{QByteArray("stale"), {}, true}};
        QVERIFY(m_fs.listDirectory(m_dir->filePath("Документы"), &list));
        QVERIFY(list.isEmpty());
        // A folder whose own name is not UTF-8.
        m_dir->writeFile(invalidName + "-folder/" + latin1Name, "1");
        QCOMPARE(listed(m_fs, m_dir->filePath(invalidName + "-folder")).value(latin1Name).size, qint64(1));
    }

    void listingFailures_data()
    {
        QTest::addColumn<QByteArray>("relative");
        QTest::addColumn<int>("error");
        QTest::newRow("missing") << QByteArray("Нет такой папки") << ENOENT;
        QTest::newRow("a file") << QByteArray("plain.txt") << ENOTDIR;
        QTest::newRow("unreadable") << QByteArray("Закрыто") << EACCES;
    }

    void listingFailures()
    {
        QFETCH(QByteArray, relative);
        QFETCH(int, error);
        if (error == EACCES && ::geteuid() == 0)
            QSKIP("root reads folders whatever their permissions");
        m_dir->writeFile("plain.txt", "1");
        m_dir->writeFile("Закрыто/inside", "1");
        QCOMPARE(::chmod(m_dir->filePath("Закрыто").constData(), 0), 0);
        // Stale entries from an earlier call must not look like a result.
        QList<DirEntry> entries{DirEntry{QByteArray("stale"), {}, true}};
        QString text;
        QVERIFY(!m_fs.listDirectory(m_dir->filePath(relative), &entries, &text));
        QVERIFY(entries.isEmpty());
        QCOMPARE(text, platformText(error));
        // The error text is optional.
        QVERIFY(!m_fs.listDirectory(m_dir->filePath(relative), &entries));
        // The parent still lists the unreadable folder, with its stat.
        QVERIFY(listed(m_fs, m_dir->path()).value("Закрыто").isDirectory);
    }

    void readDirectoryReturnsEveryRawNameWithItsKind()
    {
        // Far more than one getdents buffer of names, and one of every kind.
        QHash<QByteArray, DirectoryNames::Kind> expected;
        for (int i = 0; i < 1500; ++i) {
            const QByteArray name = "Файл с длинным именем номер " + QByteArray::number(i) + ".dat";
            m_dir->writeFile(name, {});
            expected.insert(name, DirectoryNames::Kind::Regular);
        }
        m_dir->writeFile(".hidden", "1");
        m_dir->writeFile(invalidName, "1");
        m_dir->makeDirectory("sub");
        m_dir->makeLink("sub", "link");
        QCOMPARE(::mkfifo(m_dir->filePath("pipe").constData(), 0600), 0);
        expected.insert({{".hidden", DirectoryNames::Kind::Regular}, {invalidName, DirectoryNames::Kind::Regular},
                         {"sub", DirectoryNames::Kind::Directory}, {"link", DirectoryNames::Kind::Symlink},
                         {"pipe", DirectoryNames::Kind::Other}});
        const int fd = m_fs.openDirectory(FileSystem::CurrentDirectory, m_dir->path().constData(), m_dir->path());
        QVERIFY(fd >= 0);
        DirectoryNames names;
        names.buffer = "left over";
        names.names.append({0, 4, DirectoryNames::Kind::Other});
        QVERIFY(m_fs.readDirectory(fd, m_dir->path(), &names));
        m_fs.closeDirectory(fd);
        QCOMPARE(::fcntl(fd, F_GETFD), -1);
        QCOMPARE(names.names.size(), expected.size());
        QSet<QByteArray> seen;
        for (const DirectoryNames::Name& n : names.names) {
            const QByteArray name(names.buffer.constData() + n.offset, n.length);
            seen.insert(name);
            // Names are zero-terminated in the buffer so that *at() calls can use them in place.
            QCOMPARE(names.buffer.at(n.offset + n.length), '\0');
            // File systems without type hints say Unknown; a wrong hint is a fault.
            QVERIFY2(n.kind == expected.value(name) || n.kind == DirectoryNames::Kind::Unknown, name.constData());
        }
        QCOMPARE(seen, QSet<QByteArray>(expected.keyBegin(), expected.keyEnd()));
        QVERIFY(!m_fs.readDirectory(-1, QByteArray(), &names));
    }

    void openAndStatRelativeToFolder()
    {
        m_dir->writeFile("Фото/снимок.jpg", QByteArray(2048, 'j'));
        m_dir->makeLink("Фото", "ярлык");
        m_dir->makeLink("missing", "dangling");
        m_dir->writeFile("plain", "1");
        const int root = m_fs.openDirectory(FileSystem::CurrentDirectory, m_dir->path().constData(), m_dir->path());
        QVERIFY(root >= 0);
        const QByteArray link = m_dir->filePath("ярлык");
        FileStat st;
        QVERIFY(m_fs.statAt(root, "ярлык", link, false, &st) && st.isSymlink && !st.isDirectory);
        QVERIFY(m_fs.statAt(root, "ярлык", link, true, &st) && !st.isSymlink && st.isDirectory);
        QVERIFY(!m_fs.statAt(root, "нет", m_dir->filePath("нет"), false, &st));
        QVERIFY(m_fs.stat(link, false, &st) && st.isSymlink);
        QVERIFY(m_fs.stat(link, true, &st) && st.isDirectory);
        // exists() follows links: a dangling one names nothing.
        QVERIFY(m_fs.exists(m_dir->filePath("plain")));
        QVERIFY(!m_fs.exists(m_dir->filePath("dangling")));
        QVERIFY(!m_fs.exists(QByteArray()));
        // Opening follows a link to a folder; a regular file or a missing name is -1.
        const int viaLink = m_fs.openDirectory(root, "ярлык", link);
        QVERIFY(viaLink >= 0);
        QVERIFY(m_fs.statAt(viaLink, "снимок.jpg", link + "/снимок.jpg", false, &st));
        QCOMPARE(st.size, qint64(2048));
        m_fs.closeDirectory(viaLink);
        const int onFile = m_fs.openDirectory(root, "plain", m_dir->filePath("plain"));
        QCOMPARE(std::pair(onFile, errno), std::pair(-1, ENOTDIR));
        const int onMissing = m_fs.openDirectory(root, "нет", m_dir->filePath("нет"));
        QCOMPARE(std::pair(onMissing, errno), std::pair(-1, ENOENT));
        // CurrentDirectory is the process's working folder.
        const QByteArray previous = QFile::encodeName(QDir::currentPath());
        QCOMPARE(::chdir(m_dir->path().constData()), 0);
        const bool relOk = m_fs.statAt(FileSystem::CurrentDirectory, "plain", QByteArray("plain"), false, &st);
        const int relFd = m_fs.openDirectory(FileSystem::CurrentDirectory, "Фото", QByteArray("Фото"));
        QCOMPARE(::chdir(previous.constData()), 0);
        QVERIFY(relOk);
        QCOMPARE(st.size, qint64(1));
        QVERIFY(relFd >= 0);
        m_fs.closeDirectory(relFd);
        m_fs.closeDirectory(root);
    }

    void chainsDeeperThanPathMax()
    {
        // 50 levels of 200-byte names: about 10 KB of path, well past
        // PATH_MAX, so only the descriptor chain reaches the bottom.
        const QByteArray name(200, 'd');
        QByteArray fullPath = m_dir->path();
        int fd = m_fs.openDirectory(FileSystem::CurrentDirectory, fullPath.constData(), fullPath);
        for (int level = 0; level < 50 && fd >= 0; ++level) {
            QCOMPARE(::mkdirat(fd, name.constData(), 0755), 0);
            fullPath += '/' + name;
            const int next = m_fs.openDirectory(fd, name.constData(), fullPath);
            m_fs.closeDirectory(fd);
            fd = next;
        }
        QVERIFY(fd >= 0 && fullPath.size() > 2 * PATH_MAX);
        QCOMPARE(::mkdirat(fd, "глубоко", 0755), 0);
        DirectoryNames names;
        FileStat st;
        QVERIFY(m_fs.readDirectory(fd, fullPath, &names) && names.names.size() == 1);
        QVERIFY(m_fs.statAt(fd, "глубоко", fullPath + "/глубоко", false, &st) && st.isDirectory);
        m_fs.closeDirectory(fd);
        // Whole-path calls fail cleanly there.
        QList<DirEntry> entries;
        QString error;
        QVERIFY(!m_fs.listDirectory(fullPath, &entries, &error));
        QCOMPARE(error, platformText(ENAMETOOLONG));
        QVERIFY(!m_fs.stat(fullPath + "/глубоко", false, &st));
        QVERIFY(!m_fs.exists(fullPath));
    }

private:
    std::unique_ptr<ScratchDir> m_dir;
    const PlatformFileSystem m_fs{};
};

BRISKO_TEST(tst_PlatformFileSystem)
#include "tst_PlatformFileSystem.moc"
