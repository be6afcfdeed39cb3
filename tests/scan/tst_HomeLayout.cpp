#include "BriskoTest.h"
#include "TestValues.h"
#include "FaultInjectingFileSystem.h"
#include "TempHome.h"

#include "scan/HomeLayout.h"
#include "scan/XdgUserDirs.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QTest>

using namespace Qt::StringLiterals;

class TestHomeLayout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void userDirsLine_data();
    void userDirsLine();
    void userDirsFileBeyondTheCapIsNotRead();
    void freedesktopLayoutOfAHome_data();
    void freedesktopLayoutOfAHome();
    void expandMatchesEveryNameOfAWildcardLevel();
};

// Each row: the file's text, what its key resolves to (a path below /home/u,
// "disabled", or "-" for no usable line), and the key when not the downloads.
void TestHomeLayout::userDirsLine_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* tag, const QByteArray& text, const char* expected,
                        const char* key = "XDG_DOWNLOAD_DIR") {
        QTest::newRow(tag) << text << QString::fromUtf8(key) << QString::fromUtf8(expected);
    };
    row("relative to $HOME", "XDG_DOWNLOAD_DIR=\"$HOME/Загрузки\"", "/home/u/Загрузки");
    row("spaces around and a comment",
        "# written by xdg-user-dirs-update\n  XDG_DESKTOP_DIR=\"$HOME/Рабочий стол\"  \n",
        "/home/u/Рабочий стол", "XDG_DESKTOP_DIR");
    row("the home itself is disabled", "XDG_MUSIC_DIR=\"$HOME\"", "disabled", "XDG_MUSIC_DIR");
    row("the home by its absolute path", "XDG_MUSIC_DIR=\"/home/u\"", "disabled", "XDG_MUSIC_DIR");
    row("dot-dot that stays inside", "XDG_DOWNLOAD_DIR=\"$HOME/a/../Загрузки\"", "/home/u/Загрузки");
    row("dot-dot out of the home", "XDG_DOWNLOAD_DIR=\"$HOME/../v/Downloads\"", "-");
    row("a neighbour sharing the prefix", "XDG_DOWNLOAD_DIR=\"/home/uu/Downloads\"", "-");
    row("relative path", "XDG_DOWNLOAD_DIR=\"Загрузки\"", "-");
    row("not quoted", "XDG_DOWNLOAD_DIR=$HOME/Загрузки", "-");
    row("unclosed quote", "XDG_DOWNLOAD_DIR=\"$HOME/Загрузки", "-");
    row("escaped quote", "XDG_DOWNLOAD_DIR=\"$HOME/my \\\"files\\\"\"", "/home/u/my \"files\"");
    row("later line wins", "XDG_DOWNLOAD_DIR=\"$HOME/a\"\nXDG_DOWNLOAD_DIR=\"$HOME/b\"", "/home/u/b");
    row("a bad later line keeps the earlier one", "XDG_DOWNLOAD_DIR=\"$HOME/a\"\nXDG_DOWNLOAD_DIR=\"/etc\"",
        "/home/u/a");
    row("binary line", QByteArray("XDG_DOWNLOAD_DIR=\"$HOME/a") + '\0' + "b\"", "-");
    row("not UTF-8", "XDG_DOWNLOAD_DIR=\"$HOME/\xff\xfe\"", "-");
    row("CRLF line ends", "XDG_DOCUMENTS_DIR=\"$HOME/Документы\"\r\n", "/home/u/Документы",
        "XDG_DOCUMENTS_DIR");
    row("no equals sign", "XDG_DOWNLOAD_DIR", "-");
}

void TestHomeLayout::userDirsLine()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    const QHash<QString, FilePath> dirs = XdgUserDirs::parse(text, FilePath("/home/u"));
    const auto found = dirs.constFind(key);
    QCOMPARE(found == dirs.cend() ? u"-"_s : (found->isEmpty() ? u"disabled"_s : found->toString()),
             expected);
}

void TestHomeLayout::userDirsFileBeyondTheCapIsNotRead()
{
    TempHome home;
    QByteArray text(XdgUserDirs::maximumFileSize, '#');
    text.append("\nXDG_DOWNLOAD_DIR=\"$HOME/Загрузки\"\n");
    QVERIFY(writeAll(home.filePath(u"user-dirs.dirs"_s), text));
    QVERIFY(XdgUserDirs::read(home.nativePath("user-dirs.dirs"), home.home()).isEmpty());
    QVERIFY(XdgUserDirs::read(home.nativePath("missing"), home.home()).isEmpty());
    QVERIFY(XdgUserDirs::read(home.home(), home.home()).isEmpty());
}

// XDG_CACHE_HOME ("HOME" stands for the home's path; empty for none), the
// user-dirs text, and the places expected (relative to the home; "-" for none).
void TestHomeLayout::freedesktopLayoutOfAHome_data()
{
    QTest::addColumn<QString>("cacheHome");
    QTest::addColumn<QByteArray>("userDirs");
    QTest::addColumn<QString>("downloads");
    QTest::addColumn<QString>("caches");
    QTest::addColumn<QString>("archive");
    const auto row = [](const char* tag, const char* cacheHome, const QByteArray& userDirs,
                        const char* downloads, const char* caches = ".cache",
                        const char* archive = "Videos/Brisko Archive") {
        QTest::newRow(tag) << QString::fromUtf8(cacheHome) << userDirs << QString::fromUtf8(downloads)
                           << QString::fromUtf8(caches) << QString::fromUtf8(archive);
    };
    row("no file", "", {}, "Downloads");
    row("russian folders", "", "XDG_DOWNLOAD_DIR=\"$HOME/Загрузки\"\nXDG_VIDEOS_DIR=\"$HOME/Видео\"\n",
        "Загрузки", ".cache", "Видео/Brisko Archive");
    row("videos disabled", "", "XDG_VIDEOS_DIR=\"$HOME\"", "Downloads", ".cache", "Brisko Archive");
    row("downloads disabled", "", "XDG_DOWNLOAD_DIR=\"$HOME/\"", "-");
    row("cache inside the home", "HOME/var/cache", {}, "Downloads", "var/cache");
    row("cache outside the home", "/var/cache", {}, "Downloads");
    // Shares the home's name as text, and is longer than it: still another folder.
    row("cache in a neighbour of the home", "HOME-neighbour/with/a/long/cache/folder", {}, "Downloads");
    row("relative cache", "cache", {}, "Downloads");
}

void TestHomeLayout::freedesktopLayoutOfAHome()
{
    QFETCH(QString, cacheHome);
    QFETCH(QByteArray, userDirs);
    QFETCH(QString, downloads);
    QFETCH(QString, caches);
    QFETCH(QString, archive);
    TempHome home;
    // The user-dirs file is found through XDG_CONFIG_HOME.
    home.makeDir(u"conf"_s);
    QVERIFY(userDirs.isEmpty() || writeAll(home.filePath(u"conf/user-dirs.dirs"_s), userDirs));
    QProcessEnvironment environment;
    environment.insert(u"XDG_CONFIG_HOME"_s, home.filePath(u"conf"_s));
    if (!cacheHome.isEmpty()) {
        environment.insert(u"XDG_CACHE_HOME"_s, cacheHome.replace(u"HOME"_s, home.path()));
    }
    const HomeLayout layout = HomeLayout::freedesktop(home.home(), environment);
    const auto relative = [&](const std::optional<FilePath>& path) {
        return path ? QFile::decodeName(layout.relativeToHome(*path)) : u"-"_s;
    };
    QCOMPARE((QStringList{relative(layout.userFolder(UserFolder::downloads)), relative(layout.userCaches()),
                          relative(layout.defaultArchiveFolder())}),
             (QStringList{downloads, caches, archive}));
    QCOMPARE(layout.trash(), home.nativePath(".local/share/Trash"));
}

void TestHomeLayout::expandMatchesEveryNameOfAWildcardLevel()
{
    TempHome home;
    for (const QString& folder :
         {u".var/app/org.b/cache"_s, u".var/app/org.a/cache"_s, u".var/app/org.c/data"_s}) {
        home.makeDir(folder);
    }
    for (const QString& file : {u".xsession-errors"_s, u".xsession-errors.old"_s, u"xsession-errors"_s}) {
        home.makeFile(file, 1);
    }
    const HomeLayout layout = HomeLayout::freedesktop(home.home(), QProcessEnvironment());
    FaultInjectingFileSystem fs;
    QCOMPARE(layout.expand(u".var/app/*/cache"_s, fs),
             (QList<FilePath>{home.nativePath(".var/app/org.a/cache"),
                              home.nativePath(".var/app/org.b/cache")}));
    QCOMPARE(layout.expand(u".xsession-errors*"_s, fs),
             (QList<FilePath>{home.nativePath(".xsession-errors"), home.nativePath(".xsession-errors.old")}));
    QVERIFY(layout.expand(u"snap/*/common/.cache"_s, fs).isEmpty());
}

BRISKO_TEST(TestHomeLayout)
#include "tst_HomeLayout.moc"
