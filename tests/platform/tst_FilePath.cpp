#include "BriskoTest.h"
#include "base/FilePath.h"

#include <QHash>
#include <QTest>

class tst_FilePath : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fileName_data();
    void fileName();
    void suffix_data();
    void suffix();
    void parent_data();
    void parent();
    void child_data();
    void child();
    void childWithRelativeText();
    void nativeBytesSurviveChildAndParent();
    void equalityAndHash();
};

void tst_FilePath::fileName_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("name");

    QTest::newRow("root") << QByteArray("/") << QByteArray();
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("double slash root") << QByteArray("//") << QByteArray();
    QTest::newRow("plain") << QByteArray("/Users/анна/Movies") << QByteArray("Movies");
    QTest::newRow("trailing slash") << QByteArray("/a/b/") << QByteArray("b");
    QTest::newRow("trailing slashes") << QByteArray("/a/b///") << QByteArray("b");
    QTest::newRow("relative single") << QByteArray("Загрузки") << QByteArray("Загрузки");
    QTest::newRow("relative nested") << QByteArray("a/b") << QByteArray("b");
    QTest::newRow("hidden") << QByteArray("/home/x/.hidden") << QByteArray(".hidden");
    QTest::newRow("double extension") << QByteArray("/d/a.tar.gz") << QByteArray("a.tar.gz");
    QTest::newRow("top level") << QByteArray("/Volumes") << QByteArray("Volumes");
    QTest::newRow("not utf-8") << QByteArray("/x/caf\xe9") << QByteArray("caf\xe9");
}

void tst_FilePath::fileName()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, name);
    const FilePath p(path);
    QCOMPARE(p.fileNameNative(), name);
    if (QString::fromUtf8(name).toUtf8() == name) {
        QCOMPARE(p.fileName(), QString::fromUtf8(name));
    }
}

void tst_FilePath::suffix_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("suffix");

    QTest::newRow("simple") << QByteArray("/d/фильм.MOV") << QStringLiteral("MOV");
    QTest::newRow("double extension") << QByteArray("/d/a.tar.gz") << QStringLiteral("gz");
    QTest::newRow("hidden has none") << QByteArray("/d/.hidden") << QString();
    QTest::newRow("hidden with extension") << QByteArray("/d/.config.json") << QStringLiteral("json");
    QTest::newRow("no dot") << QByteArray("/d/README") << QString();
    QTest::newRow("dot in folder only") << QByteArray("/d.app/Contents") << QString();
    QTest::newRow("trailing dot") << QByteArray("/d/name.") << QString();
    QTest::newRow("trailing slash") << QByteArray("/d/Photos.photoslibrary/") << QStringLiteral("photoslibrary");
    QTest::newRow("root") << QByteArray("/") << QString();
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("cyrillic extension") << QByteArray("/d/заметка.тхт") << QStringLiteral("тхт");
}

void tst_FilePath::suffix()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, suffix);
    QCOMPARE(FilePath(path).suffix(), suffix);
}

void tst_FilePath::parent_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("parent");

    QTest::newRow("root stays root") << QByteArray("/") << QByteArray("/");
    QTest::newRow("top level") << QByteArray("/Users") << QByteArray("/");
    QTest::newRow("nested") << QByteArray("/Users/анна/Desktop") << QByteArray("/Users/анна");
    QTest::newRow("trailing slash") << QByteArray("/a/b/") << QByteArray("/a");
    QTest::newRow("doubled separator") << QByteArray("/a//b") << QByteArray("/a");
    QTest::newRow("top level doubled") << QByteArray("//a") << QByteArray("/");
    QTest::newRow("relative nested") << QByteArray("a/b") << QByteArray("a");
    QTest::newRow("relative single") << QByteArray("a") << QByteArray();
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void tst_FilePath::parent()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, parent);
    QCOMPARE(FilePath(path).parent().native(), parent);
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
