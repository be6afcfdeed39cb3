#include "BriskoTest.h"
#include "base/ByteCountFormatter.h"
#include "base/RelativeDateFormatter.h"
#include "base/RussianPlural.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTest>

#include <limits>

// Byte counts, plural forms and relative dates as the interface writes them.
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
        row("30 days ago", m_now.addDays(-30), QStringLiteral("1 месяц назад"));
        row("just under a month", m_now.addMonths(-1).addSecs(1), QStringLiteral("4 недели назад"));
        row("365 days ago", m_now.addDays(-365), QStringLiteral("11 месяцев назад"));
        row("1 year ago", m_now.addYears(-1), QStringLiteral("1 год назад"));
        row("2 years ago", m_now.addYears(-2).addDays(-40), QStringLiteral("2 года назад"));
        row("in 2 hours", m_now.addSecs(2 * 3600), QStringLiteral("через 2 часа"));
        row("in 21 years", m_now.addYears(21), QStringLiteral("через 21 год"));
        row("invalid date", QDateTime(), QString());
        row("English, past", m_now.addDays(-3), QStringLiteral("3 days ago"), "en_US");
        row("English, future", m_now.addDays(3), QStringLiteral("in 3 days"), "en_US");
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
        QCOMPARE(RelativeDateFormatter::format(m_now.addSecs(7200), m_now), QStringLiteral("через 2 часа"));
    }

private:
    // A fixed "now" in local time, in a leap year so that month lengths differ.
    const QDateTime m_now{QDate(2024, 3, 15), QTime(12, 0)};
};

BRISKO_TEST(tst_Formatters)
#include "tst_Formatters.moc"
