#include "BriskoTest.h"
#include "TestValues.h"
#include "FaultInjectingFileSystem.h"
#include "TempHome.h"

#include "scan/HomeLayout.h"
#include "scan/XdgUserDirs.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QTest>

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

// Each row: the file's text, the key looked up and what it resolves to: a
// path below /home/u, "disabled", or "-" for no usable line.
void TestHomeLayout::userDirsLine_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("relative to $HOME") << QByteArray("XDG_DOWNLOAD_DIR=\"$HOME/Загрузки\"") << "XDG_DOWNLOAD_DIR"
                                       << "/home/u/Загрузки";
    QTest::newRow("spaces around and a comment")
        << QByteArray("# written by xdg-user-dirs-update\n  XDG_DESKTOP_DIR=\"$HOME/Рабочий стол\"  \n")
        << "XDG_DESKTOP_DIR" << "/home/u/Рабочий стол";
    QTest::newRow("the home itself is disabled") << QByteArray("XDG_MUSIC_DIR=\"$HOME\"") << "XDG_MUSIC_DIR"
                                                 << "disabled";
    QTest::newRow("the home by its absolute path") << QByteArray("XDG_MUSIC_DIR=\"/home/u\"") << "XDG_MUSIC_DIR"
                                                   << "disabled";
    QTest::newRow("dot-dot that stays inside") << QByteArray("XDG_DOWNLOAD_DIR=\"$HOME/a/../Загрузки\"")
                                               << "XDG_DOWNLOAD_DIR" << "/home/u/Загрузки";
    QTest::newRow("dot-dot out of the home") << QByteArray("XDG_DOWNLOAD_DIR=\"$HOME/../v/Downloads\"")
                                             << "XDG_DOWNLOAD_DIR" << "-";
    QTest::newRow("a neighbour sharing the prefix") << QByteArray("XDG_DOWNLOAD_DIR=\"/home/uu/Downloads\"")
                                                    << "XDG_DOWNLOAD_DIR" << "-";
    QTest::newRow("relative path") << QByteArray("XDG_DOWNLOAD_DIR=\"Загрузки\"") << "XDG_DOWNLOAD_DIR" << "-";
    QTest::newRow("not quoted") << QByteArray("XDG_DOWNLOAD_DIR=$HOME/Загрузки") << "XDG_DOWNLOAD_DIR" << "-";
    QTest::newRow("unclosed quote") << QByteArray("XDG_DOWNLOAD_DIR=\"$HOME/Загрузки") << "XDG_DOWNLOAD_DIR" << "-";
    QTest::newRow("escaped quote") << QByteArray("XDG_DOWNLOAD_DIR=\"$HOME/my \\\"files\\\"\"") << "XDG_DOWNLOAD_DIR"
                                   << "/home/u/my \"files\"";
    QTest::newRow("later line wins") << QByteArray("XDG_DOWNLOAD_DIR=\"$HOME/a\"\nXDG_DOWNLOAD_DIR=\"$HOME/b\"")
                                     << "XDG_DOWNLOAD_DIR" << "/home/u/b";
    QTest::newRow("a bad later line keeps the earlier one")
        << QByteArray("XDG_DOWNLOAD_DIR=\"$HOME/a\"\nXDG_DOWNLOAD_DIR=\"/etc\"") << "XDG_DOWNLOAD_DIR"
        << "/home/u/a";
    QTest::newRow("binary line") << (QByteArray("XDG_DOWNLOAD_DIR=\"$HOME/a") + '\0' + "b\"") << "XDG_DOWNLOAD_DIR" << "-";
    QTest::newRow("not UTF-8") << QByteArray("XDG_DOWNLOAD_DIR=\"$HOME/\xff\xfe\"") << "XDG_DOWNLOAD_DIR" << "-";
    QTest::newRow("CRLF line ends") << QByteArray("XDG_DOCUMENTS_DIR=\"$HOME/Документы\"\r\n") << "XDG_DOCUMENTS_DIR"
                                    << "/home/u/Документы";
    QTest::newRow("no equals sign") << QByteArray("XDG_DOWNLOAD_DIR") << "XDG_DOWNLOAD_DIR" << "-";
}

void TestHomeLayout::userDirsLine()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    const QHash<QString, FilePath> dirs = XdgUserDirs::parse(text, FilePath("/home/u"));
    const auto found = dirs.constFind(key);
    const QString actual =
        found == dirs.cend() ? QStringLiteral("-") : (found->isEmpty() ? QStringLiteral("disabled") : found->toString());
    QCOMPARE(actual, expected);
}

void TestHomeLayout::userDirsFileBeyondTheCapIsNotRead()
{
    TempHome home;
    QByteArray text(XdgUserDirs::maximumFileSize, '#');
    text.append("\nXDG_DOWNLOAD_DIR=\"$HOME/Загрузки\"\n");
    QVERIFY(writeAll(home.filePath(QStringLiteral("user-dirs.dirs")), text));
    QVERIFY(XdgUserDirs::read(home.nativePath("user-dirs.dirs"), home.home()).isEmpty());
    QVERIFY(XdgUserDirs::read(home.nativePath("missing"), home.home()).isEmpty());
    QVERIFY(XdgUserDirs::read(home.home(), home.home()).isEmpty());
}

// The environment's variable, the user-dirs text, and the places expected
// (relative to the home; "-" for none).
void TestHomeLayout::freedesktopLayoutOfAHome_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("userDirs");
    QTest::addColumn<QString>("downloads");
    QTest::addColumn<QString>("caches");
    QTest::addColumn<QString>("archive");

    const QByteArray russian = "XDG_DOWNLOAD_DIR=\"$HOME/Загрузки\"\nXDG_VIDEOS_DIR=\"$HOME/Видео\"\n";
    QTest::newRow("no file") << QString() << QString() << QByteArray() << "Downloads" << ".cache"
                             << "Videos/Brisko Archive";
    QTest::newRow("russian folders") << QString() << QString() << russian << "Загрузки" << ".cache"
                                     << "Видео/Brisko Archive";
    QTest::newRow("videos disabled") << QString() << QString() << QByteArray("XDG_VIDEOS_DIR=\"$HOME\"")
                                     << "Downloads" << ".cache" << "Brisko Archive";
    QTest::newRow("downloads disabled") << QString() << QString() << QByteArray("XDG_DOWNLOAD_DIR=\"$HOME/\"") << "-"
                                        << ".cache" << "Videos/Brisko Archive";
    QTest::newRow("cache inside the home") << "XDG_CACHE_HOME" << "HOME/var/cache" << QByteArray() << "Downloads"
                                           << "var/cache" << "Videos/Brisko Archive";
    QTest::newRow("cache outside the home") << "XDG_CACHE_HOME" << "/var/cache" << QByteArray() << "Downloads"
                                            << ".cache" << "Videos/Brisko Archive";
    // Shares the home's name as text, and is longer than it: still another folder.
    QTest::newRow("cache in a neighbour of the home")
        << "XDG_CACHE_HOME" << "HOME-neighbour/with/a/long/cache/folder" << QByteArray() << "Downloads" << ".cache"
        << "Videos/Brisko Archive";
    QTest::newRow("relative cache") << "XDG_CACHE_HOME" << "cache" << QByteArray() << "Downloads" << ".cache"
                                    << "Videos/Brisko Archive";
}

void TestHomeLayout::freedesktopLayoutOfAHome()
{
    QFETCH(QString, variable);
    QFETCH(QString, value);
    QFETCH(QByteArray, userDirs);
    QFETCH(QString, downloads);
    QFETCH(QString, caches);
    QFETCH(QString, archive);
    TempHome home;
    // The user-dirs file is found through XDG_CONFIG_HOME.
    home.makeDir(QStringLiteral("conf"));
    if (!userDirs.isEmpty()) {
        QVERIFY(writeAll(home.filePath(QStringLiteral("conf/user-dirs.dirs")), userDirs));
    }
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("conf")));
    if (!variable.isEmpty()) {
        environment.insert(variable, value.startsWith(QLatin1String("HOME"))
                                         ? home.path() + value.mid(4)
                                         : value);
    }
    const HomeLayout layout = HomeLayout::freedesktop(home.home(), environment);
    const auto relative = [&](const std::optional<FilePath>& path) {
        return path ? QFile::decodeName(layout.relativeToHome(*path)) : QStringLiteral("-");
    };
    QCOMPARE(relative(layout.userFolder(UserFolder::downloads)), downloads);
    QCOMPARE(relative(layout.userCaches()), caches);
    QCOMPARE(relative(layout.defaultArchiveFolder()), archive);
    QCOMPARE(layout.trash(), home.nativePath(".local/share/Trash"));
}

void TestHomeLayout::expandMatchesEveryNameOfAWildcardLevel()
{
    TempHome home;
    home.makeDir(QStringLiteral(".var/app/org.b/cache"));
    home.makeDir(QStringLiteral(".var/app/org.a/cache"));
    home.makeDir(QStringLiteral(".var/app/org.c/data"));
    home.makeFile(QStringLiteral(".xsession-errors"), 1);
    home.makeFile(QStringLiteral(".xsession-errors.old"), 1);
    home.makeFile(QStringLiteral("xsession-errors"), 1);
    const HomeLayout layout = HomeLayout::freedesktop(home.home(), QProcessEnvironment());
    FaultInjectingFileSystem fs;
    QCOMPARE(layout.expand(QStringLiteral(".var/app/*/cache"), fs),
             (QList<FilePath>{home.nativePath(".var/app/org.a/cache"), home.nativePath(".var/app/org.b/cache")}));
    QCOMPARE(layout.expand(QStringLiteral(".xsession-errors*"), fs),
             (QList<FilePath>{home.nativePath(".xsession-errors"), home.nativePath(".xsession-errors.old")}));
    QVERIFY(layout.expand(QStringLiteral("snap/*/common/.cache"), fs).isEmpty());
}

BRISKO_TEST(TestHomeLayout)
#include "tst_HomeLayout.moc"
