#include "BriskoTest.h"
#include "base/ByteCountFormatter.h"
#include "base/RussianPlural.h"

#include <QLocale>
#include <QTest>

#include <limits>

class tst_ByteCountFormatter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void format_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");

        // The byte count's word in each of its forms; which number takes which
        // is the plural table's.
        QTest::newRow("1") << qint64(1) << QStringLiteral("1\u00a0байт");
        QTest::newRow("2") << qint64(2) << QStringLiteral("2\u00a0байта");
        QTest::newRow("5") << qint64(5) << QStringLiteral("5\u00a0байт");

        // Decimal units; kilobytes whole, megabytes one digit, larger two.
        QTest::newRow("1000") << qint64(1000) << QStringLiteral("1\u00a0КБ");
        QTest::newRow("1500 rounds half up") << qint64(1500) << QStringLiteral("2\u00a0КБ");
        QTest::newRow("1 200 000") << qint64(1'200'000) << QStringLiteral("1,2\u00a0МБ");
        QTest::newRow("999 949 999") << qint64(999'949'999) << QStringLiteral("999,9\u00a0МБ");
        QTest::newRow("1 050 000 000") << qint64(1'050'000'000) << QStringLiteral("1,05\u00a0ГБ");
        QTest::newRow("2 TB") << qint64(2'346'000'000'000) << QStringLiteral("2,35\u00a0ТБ");
        QTest::newRow("1 EB") << qint64(1'000'000'000'000'000'000) << QStringLiteral("1\u00a0ЭБ");

        // A value that rounds up to a thousand of one unit is shown as one of the next.
        QTest::newRow("999 500 to 1 MB") << qint64(999'500) << QStringLiteral("1\u00a0МБ");
        QTest::newRow("999 950 000 to 1 GB") << qint64(999'950'000) << QStringLiteral("1\u00a0ГБ");

        // Negative amounts (a volume that shrank) keep their sign and plural.
        QTest::newRow("-2") << qint64(-2) << QStringLiteral("-2\u00a0байта");
        QTest::newRow("-1 200 000") << qint64(-1'200'000) << QStringLiteral("-1,2\u00a0МБ");
        QTest::newRow("-999 999") << qint64(-999'999) << QStringLiteral("-1\u00a0МБ");
        QTest::newRow("21 470 000 000") << qint64(21'470'000'000) << QStringLiteral("21,47\u00a0ГБ");
        QTest::newRow("int64 max") << std::numeric_limits<qint64>::max() << QStringLiteral("9,22\u00a0ЭБ");
        QTest::newRow("int64 min") << std::numeric_limits<qint64>::min() << QStringLiteral("-9,22\u00a0ЭБ");
        QTest::newRow("int64 min + 1") << std::numeric_limits<qint64>::min() + 1 << QStringLiteral("-9,22\u00a0ЭБ");
    }
    void format()
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

    // one: ends in 1 but not 11; few: ends in 2-4 but not 12-14; many: the rest.
    void russianPlural_data()
    {
        QTest::addColumn<qint64>("n");
        QTest::addColumn<QString>("items");
        QTest::addColumn<QString>("caches");
        const auto row = [](qint64 n, const char* items, const char* caches) {
            const QString number = QString::number(n) + QLatin1Char(' ');
            QTest::addRow("%lld", qlonglong(n)) << n << number + QString::fromUtf8(items) << number + QString::fromUtf8(caches);
        };
        row(1, "элемент", "кэш");
        row(2, "элемента", "кэша");
        row(5, "элементов", "кэшей");
        row(11, "элементов", "кэшей");
        row(21, "элемент", "кэш");
        row(22, "элемента", "кэша");
        row(1'000'013, "элементов", "кэшей");
        row(-2, "элемента", "кэша");
        row(std::numeric_limits<qint64>::min(), "элементов", "кэшей"); // ends in 8
    }
    void russianPlural()
    {
        QFETCH(qint64, n);
        QFETCH(QString, items);
        QFETCH(QString, caches);
        QCOMPARE(RussianPlural::count(n, RussianPlural::items), items);
        QCOMPARE(RussianPlural::count(n, RussianPlural::caches), caches);
    }
};

BRISKO_TEST(tst_ByteCountFormatter)
#include "tst_ByteCountFormatter.moc"
