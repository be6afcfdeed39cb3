#include "BriskoTest.h"
#include "base/RelativeDateFormatter.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTest>

class tst_RelativeDateFormatter : public QObject
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
    void format_data()
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
    void format()
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

BRISKO_TEST(tst_RelativeDateFormatter)
#include "tst_RelativeDateFormatter.moc"
