#include "BriskoTest.h"
#include "base/FilePath.h"

#include <QHash>
#include <QTest>

class tst_FilePath : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parts_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QByteArray>("parent");
        const auto row = [](const char* tag, const char* path, const char* name, const char* suffix, const char* parent) {
            QTest::newRow(tag) << QByteArray(path) << QByteArray(name) << QString::fromUtf8(suffix) << QByteArray(parent);
        };
        row("root", "/", "", "", "/");
        row("empty", "", "", "", "");
        row("double slash root", "//", "", "", "/");
        row("top level", "/Volumes", "Volumes", "", "/");
        row("top level doubled", "//a", "a", "", "/");
        row("nested", "/Users/анна/фильм.MOV", "фильм.MOV", "MOV", "/Users/анна");
        row("trailing slashes", "/a/Photos.photoslibrary///", "Photos.photoslibrary", "photoslibrary", "/a");
        row("doubled separator", "/a//b", "b", "", "/a");
        row("relative nested", "a/b", "b", "", "a");
        row("relative single", "Загрузки", "Загрузки", "", "");
        row("hidden has no suffix", "/d/.hidden", ".hidden", "", "/d");
        row("hidden with extension", "/d/.config.json", ".config.json", "json", "/d");
        row("double extension", "/d/a.tar.gz", "a.tar.gz", "gz", "/d");
        row("dot in folder only", "/d.app/Contents", "Contents", "", "/d.app");
        row("trailing dot", "/d/name.", "name.", "", "/d");
        row("cyrillic extension", "/d/заметка.тхт", "заметка.тхт", "тхт", "/d");
        row("not utf-8", "/x/caf\xe9", "caf\xe9", "", "/x");
    }
    void parts()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, name);
        QFETCH(QString, suffix);
        QFETCH(QByteArray, parent);
        const FilePath p(path);
        QCOMPARE(p.fileNameNative(), name);
        if (QString::fromUtf8(name).toUtf8() == name)
            QCOMPARE(p.fileName(), QString::fromUtf8(name));
        QCOMPARE(p.suffix(), suffix);
        QCOMPARE(p.parent().native(), parent);
    }

    void child_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("child");
        QTest::newRow("under root") << QByteArray("/") << QByteArray("Volumes") << QByteArray("/Volumes");
        QTest::newRow("plain") << QByteArray("/home/анна") << QByteArray("Загрузки") << QByteArray("/home/анна/Загрузки");
        QTest::newRow("trailing slash") << QByteArray("/home/") << QByteArray("x") << QByteArray("/home/x");
        QTest::newRow("hidden") << QByteArray("/h") << QByteArray(".Trash") << QByteArray("/h/.Trash");
        QTest::newRow("relative") << QByteArray("a") << QByteArray("b") << QByteArray("a/b");
        // An empty path has no folder to put the name under: the name stays relative.
        QTest::newRow("empty base") << QByteArray() << QByteArray("b") << QByteArray("b");
    }
    void child()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, child);
        const FilePath made = FilePath(path).child(name);
        QCOMPARE(made.native(), child);
        QCOMPARE(made.fileNameNative(), name);
    }

    void childWithRelativeText()
    {
        const FilePath home("/Users/анна");
        const FilePath logs = home.child(QStringLiteral("Library/Logs"));
        QCOMPARE(logs.native(), QByteArray("/Users/анна/Library/Logs"));
        QCOMPARE(logs.fileName(), QStringLiteral("Logs"));
        QCOMPARE(logs.parent().parent(), home);
        QCOMPARE(home.child(QStringLiteral("Видео")).native(), home.child(QByteArray("Видео")).native());
    }

    void nativeBytesSurviveChildAndParent()
    {
        const QByteArray folder("\xff\xfe-папка");
        const QByteArray file("caf\xe9.mov");
        const FilePath base(QByteArray("/tmp/x"));
        const FilePath inner = base.child(folder).child(file);
        QCOMPARE(inner.native(), QByteArray("/tmp/x/") + folder + '/' + file);
        QCOMPARE(inner.fileNameNative(), file);
        QCOMPARE(inner.parent().fileNameNative(), folder);
        QCOMPARE(inner.parent().parent(), base);
        QCOMPARE(inner.suffix(), QStringLiteral("mov"));

        // The display text is lossy for these bytes; the path itself is not.
        QVERIFY(FilePath::fromString(inner.toString()) != inner);
        QVERIFY(!inner.toString().isEmpty());
    }

    void equalityAndHash()
    {
        const FilePath a(QByteArray("/a/\xe9"));
        const FilePath b = FilePath(QByteArray("/a")).child(QByteArray("\xe9"));
        QCOMPARE(a, b);
        QCOMPARE(qHash(a), qHash(b));
        QVERIFY(a != FilePath(QByteArray("/a/\xe8")));
        QVERIFY(FilePath().isEmpty());
        QVERIFY(!a.isEmpty());
        QHash<FilePath, int> byPath;
        byPath.insert(a, 1);
        byPath.insert(FilePath(QByteArray("/a/\xe8")), 2);
        QCOMPARE(byPath.value(b), 1);
        QCOMPARE(byPath.size(), 2);
    }
};

BRISKO_TEST(tst_FilePath)
#include "tst_FilePath.moc"
