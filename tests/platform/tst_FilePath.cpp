#include "BriskoTest.h"
#include "base/FilePath.h"

#include <QHash>
#include <QTest>

class tst_FilePath : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parts_data();
    void parts();
    void child_data();
    void child();
    void childWithRelativeText();
    void nativeBytesSurviveChildAndParent();
    void equalityAndHash();
};

void tst_FilePath::parts_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("parent");

    QTest::newRow("root") << QByteArray("/") << QByteArray() << QString() << QByteArray("/");
    QTest::newRow("empty") << QByteArray() << QByteArray() << QString() << QByteArray();
    QTest::newRow("double slash root") << QByteArray("//") << QByteArray() << QString() << QByteArray("/");
    QTest::newRow("top level") << QByteArray("/Volumes") << QByteArray("Volumes") << QString() << QByteArray("/");
    QTest::newRow("top level doubled") << QByteArray("//a") << QByteArray("a") << QString() << QByteArray("/");
    QTest::newRow("nested") << QByteArray("/Users/анна/фильм.MOV") << QByteArray("фильм.MOV")
                            << QStringLiteral("MOV") << QByteArray("/Users/анна");
    QTest::newRow("trailing slashes") << QByteArray("/a/Photos.photoslibrary///") << QByteArray("Photos.photoslibrary")
                                      << QStringLiteral("photoslibrary") << QByteArray("/a");
    QTest::newRow("doubled separator") << QByteArray("/a//b") << QByteArray("b") << QString() << QByteArray("/a");
    QTest::newRow("relative nested") << QByteArray("a/b") << QByteArray("b") << QString() << QByteArray("a");
    QTest::newRow("relative single") << QByteArray("Загрузки") << QByteArray("Загрузки") << QString() << QByteArray();
    QTest::newRow("hidden has no suffix") << QByteArray("/d/.hidden") << QByteArray(".hidden") << QString()
                                          << QByteArray("/d");
    QTest::newRow("hidden with extension") << QByteArray("/d/.config.json") << QByteArray(".config.json")
                                           << QStringLiteral("json") << QByteArray("/d");
    QTest::newRow("double extension") << QByteArray("/d/a.tar.gz") << QByteArray("a.tar.gz") << QStringLiteral("gz")
                                      << QByteArray("/d");
    QTest::newRow("dot in folder only") << QByteArray("/d.app/Contents") << QByteArray("Contents") << QString()
                                        << QByteArray("/d.app");
    QTest::newRow("trailing dot") << QByteArray("/d/name.") << QByteArray("name.") << QString() << QByteArray("/d");
    QTest::newRow("cyrillic extension") << QByteArray("/d/заметка.тхт") << QByteArray("заметка.тхт")
                                        << QStringLiteral("тхт") << QByteArray("/d");
    QTest::newRow("not utf-8") << QByteArray("/x/caf\xe9") << QByteArray("caf\xe9") << QString() << QByteArray("/x");
}

void tst_FilePath::parts()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, name);
    QFETCH(QString, suffix);
    QFETCH(QByteArray, parent);
    const FilePath p(path);
    QCOMPARE(p.fileNameNative(), name);
    if (QString::fromUtf8(name).toUtf8() == name) {
        QCOMPARE(p.fileName(), QString::fromUtf8(name));
    }
    QCOMPARE(p.suffix(), suffix);
    QCOMPARE(p.parent().native(), parent);
}

void tst_FilePath::child_data()
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

void tst_FilePath::child()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, child);
    const FilePath made = FilePath(path).child(name);
    QCOMPARE(made.native(), child);
    QCOMPARE(made.fileNameNative(), name);
}

void tst_FilePath::childWithRelativeText()
{
    const FilePath home("/Users/анна");
    const FilePath logs = home.child(QStringLiteral("Library/Logs"));
    QCOMPARE(logs.native(), QByteArray("/Users/анна/Library/Logs"));
    QCOMPARE(logs.fileName(), QStringLiteral("Logs"));
    QCOMPARE(logs.parent().parent(), home);
    QCOMPARE(home.child(QStringLiteral("Видео")).native(), home.child(QByteArray("Видео")).native());
}

void tst_FilePath::nativeBytesSurviveChildAndParent()
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

void tst_FilePath::equalityAndHash()
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

BRISKO_TEST(tst_FilePath)
#include "tst_FilePath.moc"
