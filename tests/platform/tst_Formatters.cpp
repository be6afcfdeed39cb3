#include "BriskoTest.h"
#include "base/ByteCountFormatter.h"
#include "base/FilePath.h"
#include "base/OffThread.h"
#include "base/RelativeDateFormatter.h"
#include "base/RussianPlural.h"

#include <QCoreApplication>
#include <QHash>
#include <QLocale>
#include <QSemaphore>
#include <QThread>
#include <QtTest>

#include <limits>

// The small helpers of base/: byte counts, plural forms, relative dates, paths
// of native bytes and the hand-over of slow work to a pool and back.
class tst_Formatters : public QObject
{
    Q_OBJECT

public:
    // The process locale is read once; make it the unset "C" before Qt looks.
    static void initMain()
    {
        qputenv("LC_ALL", "C");
        qunsetenv("LANG");
        qunsetenv("LANGUAGE");
    }

private Q_SLOTS:
    void byteCount_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        // The byte count's word in each of its forms; which number takes which
        // is the plural table's.
        QTest::newRow("1") << qint64(1) << QStringLiteral("1\u00a0байт");
        QTest::newRow("2") << qint64(2) << QStringLiteral("2\u00a0байта");
        QTest::newRow("5") << qint64(5) << QStringLiteral("5\u00a0байт");
        // Decimal units; kilobytes whole, megabytes one digit, larger two.
        QTest::newRow("1500 rounds half up") << qint64(1500) << QStringLiteral("2\u00a0КБ");
        QTest::newRow("1 200 000") << qint64(1'200'000) << QStringLiteral("1,2\u00a0МБ");
        QTest::newRow("999 949 999") << qint64(999'949'999) << QStringLiteral("999,9\u00a0МБ");
        QTest::newRow("1 050 000 000") << qint64(1'050'000'000) << QStringLiteral("1,05\u00a0ГБ");
        // A value that rounds up to a thousand of one unit is shown as one of the next.
        QTest::newRow("999 500 to 1 MB") << qint64(999'500) << QStringLiteral("1\u00a0МБ");
        // Negative amounts (a volume that shrank) keep their sign and plural.
        QTest::newRow("-2") << qint64(-2) << QStringLiteral("-2\u00a0байта");
        QTest::newRow("-999 999") << qint64(-999'999) << QStringLiteral("-1\u00a0МБ");
        QTest::newRow("int64 max") << std::numeric_limits<qint64>::max() << QStringLiteral("9,22\u00a0ЭБ");
        QTest::newRow("int64 min") << std::numeric_limits<qint64>::min() << QStringLiteral("-9,22\u00a0ЭБ");
    }
    void byteCount()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        // The interface is Russian whatever the machine's locale; a locale
        // with a point or grouping must not leak into the text.
        const QLocale previous;
        for (const QLocale& locale : {previous, QLocale(QLocale::English, QLocale::UnitedStates),
                                      QLocale(QLocale::German, QLocale::Germany)}) {
            QLocale::setDefault(locale);
            const QString actual = ByteCountFormatter::format(bytes);
            QLocale::setDefault(previous);
            QCOMPARE(actual, text);
        }
    }

    void russianPlural()
    {
        QStringList texts;
        for (qint64 n : std::initializer_list<qint64>{1, 2, 5, 11, 21, 22, 1'000'013, -2, std::numeric_limits<qint64>::min()})
            texts.append(RussianPlural::count(n, RussianPlural::items) + QLatin1Char('/') + RussianPlural::count(n, RussianPlural::caches));
        // one: ends in 1 but not 11; few: ends in 2-4 but not 12-14; many: the rest (the minimum ends in 8).
        QCOMPARE(texts, QStringList({QStringLiteral("1 элемент/1 кэш"), QStringLiteral("2 элемента/2 кэша"),
                                     QStringLiteral("5 элементов/5 кэшей"), QStringLiteral("11 элементов/11 кэшей"),
                                     QStringLiteral("21 элемент/21 кэш"), QStringLiteral("22 элемента/22 кэша"),
                                     QStringLiteral("1000013 элементов/1000013 кэшей"), QStringLiteral("-2 элемента/-2 кэша"),
                                     QStringLiteral("-9223372036854775808 элементов/-9223372036854775808 кэшей")}));
    }

    void relativeDate_data()
    {
        QTest::addColumn<QDateTime>("date");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        const auto row = [](const char* name, const QDateTime& date, const QString& text, const char* locale = "ru_RU") {
            QTest::newRow(name) << date << QString::fromLatin1(locale) << text;
        };
        row("same moment", m_now, QStringLiteral("только что"));
        row("in 20 seconds", m_now.addSecs(20), QStringLiteral("только что"));
        row("60 seconds ago", m_now.addSecs(-60), QStringLiteral("1 минуту назад"));
        row("2 hours ago", m_now.addSecs(-2 * 3600), QStringLiteral("2 часа назад"));
        row("3 days ago", m_now.addDays(-3), QStringLiteral("3 дня назад"));
        row("2 weeks ago", m_now.addDays(-14), QStringLiteral("2 недели назад"));
        // 15 February to 15 March is 29 days, and still one month.
        row("1 month ago", m_now.addMonths(-1), QStringLiteral("1 месяц назад"));
        row("just under a month", m_now.addMonths(-1).addSecs(1), QStringLiteral("4 недели назад"));
        row("365 days ago", m_now.addDays(-365), QStringLiteral("11 месяцев назад"));
        row("1 year ago", m_now.addYears(-1), QStringLiteral("1 год назад"));
        row("in 2 hours", m_now.addSecs(2 * 3600), QStringLiteral("через 2 часа"));
        row("invalid date", QDateTime(), QString());
        row("English, past", m_now.addDays(-3), QStringLiteral("3 days ago"), "en_US");
        row("English, now", m_now.addSecs(-5), QStringLiteral("now"), "en_US");
        // Names that are no language fall back to the interface's Russian.
        for (const char* locale : {"C", "POSIX", "", "C.UTF-8"})
            row(*locale ? locale : "no name", m_now.addDays(-3), QStringLiteral("3 дня назад"), locale);
    }
    void relativeDate()
    {
        QFETCH(QDateTime, date);
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QCOMPARE(RelativeDateFormatter::format(date, m_now, locale), text);
        // The same instant given in UTC reads the same.
        QCOMPARE(RelativeDateFormatter::format(date.toUTC(), m_now.toUTC(), locale), text);
        QVERIFY(RelativeDateFormatter::format(m_now, QDateTime(), locale).isEmpty());
    }

    void processWithoutLocaleIsRussian()
    {
        // initMain() starts the process with LC_ALL=C.
        QCOMPARE(QLocale::system().name(), QStringLiteral("C"));
        QCOMPARE(RelativeDateFormatter::userLocaleName(), QStringLiteral("ru_RU"));
        QCOMPARE(RelativeDateFormatter::format(m_now.addDays(-3), m_now), QStringLiteral("3 дня назад"));
    }

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
        row("top level", "/Volumes", "Volumes", "", "/");
        row("top level doubled", "//a", "a", "", "/");
        row("nested", "/Users/анна/фильм.MOV", "фильм.MOV", "MOV", "/Users/анна");
        row("trailing slashes", "/a/Photos.photoslibrary///", "Photos.photoslibrary", "photoslibrary", "/a");
        row("relative nested", "a/b", "b", "", "a");
        row("relative single", "Загрузки", "Загрузки", "", "");
        row("hidden has no suffix", "/d/.hidden", ".hidden", "", "/d");
        row("hidden with extension", "/d/.config.json", ".config.json", "json", "/d");
        row("dot in folder only", "/d.app/Contents", "Contents", "", "/d.app");
        row("trailing dot", "/d/name.", "name.", "", "/d");
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
        QTest::newRow("relative") << QByteArray("a") << QByteArray("b") << QByteArray("a/b");
        QTest::newRow("not UTF-8") << QByteArray("/x/\xff\xfe") << QByteArray("caf\xe9") << QByteArray("/x/\xff\xfe/caf\xe9");
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

    void pathsKeepTheirNativeBytes()
    {
        const FilePath home("/Users/анна");
        QCOMPARE(home.child(QStringLiteral("Видео")).native(), home.child(QByteArray("Видео")).native());
        const FilePath inner = FilePath(QByteArray("/tmp/x")).child(QByteArray("\xff\xfe-папка")).child(QByteArray("caf\xe9.mov"));
        // The display text is lossy for these bytes; the path itself is not.
        QVERIFY(FilePath::fromString(inner.toString()) != inner);
        QVERIFY(!inner.toString().isEmpty());
        // Equal bytes are equal paths and hash alike; other bytes are other paths.
        const FilePath a(QByteArray("/a/\xe9"));
        const FilePath b = FilePath(QByteArray("/a")).child(QByteArray("\xe9"));
        QCOMPARE(qHash(a), qHash(b));
        QHash<FilePath, int> byPath{{a, 1}, {FilePath(QByteArray("/a/\xe8")), 2}};
        QCOMPARE(byPath.value(b), 1);
        QCOMPARE(byPath.size(), 2);
        QVERIFY(a != FilePath(QByteArray("/a/\xe8")));
        QVERIFY(FilePath().isEmpty() && !a.isEmpty());
    }

    void finishRunsOnTheMainThreadAfterEarlierPosts()
    {
        QObject owner;
        QThreadPool pool;
        QStringList seen;
        QThread* workThread = nullptr;
        QThread* finishThread = nullptr;
        const QPointer<QObject> guard(&owner);
        const QFuture<void> done = OffThread::run(
            &owner,
            [&workThread, guard] {
                workThread = QThread::currentThread();
                OffThread::post<QObject>(guard, [](QObject& o) { o.setObjectName(QStringLiteral("прогресс")); });
                return QStringLiteral("итог");
            },
            [&](QObject& target, QString result) {
                finishThread = QThread::currentThread();
                seen << target.objectName() << result;
            },
            &pool);
        // finish waits for the main thread's event loop.
        QVERIFY(!done.isFinished());
        QTRY_VERIFY(done.isFinished());
        QVERIFY(!done.isCanceled());
        QCOMPARE(seen, (QStringList{QStringLiteral("прогресс"), QStringLiteral("итог")}));
        QCOMPARE(finishThread, QThread::currentThread());
        QVERIFY(workThread != QThread::currentThread());
    }

    void ownerGoneMeanwhileGetsNoCall()
    {
        auto owner = std::make_unique<QObject>();
        auto release = std::make_shared<QSemaphore>();
        bool finished = false;
        bool posted = false;
        const QPointer<QObject> guard(owner.get());
        const QFuture<void> done = OffThread::run(
            owner.get(),
            [release, guard, &posted] {
                release->acquire();
                OffThread::post<QObject>(guard, [&posted](QObject&) { posted = true; });
                return 1;
            },
            [&finished](QObject&, int) { finished = true; });
        owner.reset();
        release->release();
        QTRY_VERIFY(done.isFinished());
        QVERIFY(done.isCanceled());
        QVERIFY(!finished);
        QVERIFY(!posted);
    }

private:
    // A fixed "now" in local time, in a leap year so that month lengths differ.
    const QDateTime m_now{QDate(2024, 3, 15), QTime(12, 0)};
};

BRISKO_TEST(tst_Formatters)
#include "tst_Formatters.moc"
