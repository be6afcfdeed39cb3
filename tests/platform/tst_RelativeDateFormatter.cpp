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
    void russian_data();
    void russian();
    void processWithoutLocaleIsRussian();
    void explicitLocales();
    void invalidDatesGiveNothing();

private:
    // A fixed "now" in local time, in a leap year so that month lengths differ.
    const QDateTime m_now{QDate(2024, 3, 15), QTime(12, 0)};
};

void tst_RelativeDateFormatter::russian_data()
{
    QTest::addColumn<QDateTime>("date");
    QTest::addColumn<QString>("text");

    QTest::newRow("same moment") << m_now << QStringLiteral("только что");
    QTest::newRow("in 20 seconds") << m_now.addSecs(20) << QStringLiteral("только что");
    QTest::newRow("60 seconds ago") << m_now.addSecs(-60) << QStringLiteral("1 минуту назад");
    QTest::newRow("2 hours ago") << m_now.addSecs(-2 * 3600) << QStringLiteral("2 часа назад");
    QTest::newRow("3 days ago") << m_now.addDays(-3) << QStringLiteral("3 дня назад");
    QTest::newRow("2 weeks ago") << m_now.addDays(-14) << QStringLiteral("2 недели назад");
    // 15 February to 15 March is 29 days, and still one month.
    QTest::newRow("1 month ago") << m_now.addMonths(-1) << QStringLiteral("1 месяц назад");
    QTest::newRow("30 days ago") << m_now.addDays(-30) << QStringLiteral("1 месяц назад");
    QTest::newRow("just under a month") << m_now.addMonths(-1).addSecs(1) << QStringLiteral("4 недели назад");
    QTest::newRow("365 days ago") << m_now.addDays(-365) << QStringLiteral("11 месяцев назад");
    QTest::newRow("1 year ago") << m_now.addYears(-1) << QStringLiteral("1 год назад");
    QTest::newRow("2 years ago") << m_now.addYears(-2).addDays(-40) << QStringLiteral("2 года назад");

    QTest::newRow("in 2 hours") << m_now.addSecs(2 * 3600) << QStringLiteral("через 2 часа");
    QTest::newRow("in 21 years") << m_now.addYears(21) << QStringLiteral("через 21 год");
}

void tst_RelativeDateFormatter::russian()
{
    QFETCH(QDateTime, date);
    QFETCH(QString, text);
    QCOMPARE(RelativeDateFormatter::format(date, m_now, QStringLiteral("ru_RU")), text);
    // The same instant given in UTC reads the same.
    QCOMPARE(RelativeDateFormatter::format(date.toUTC(), m_now.toUTC(), QStringLiteral("ru_RU")), text);
}

void tst_RelativeDateFormatter::processWithoutLocaleIsRussian()
{
    // initMain() starts the process with LC_ALL=C.
    QCOMPARE(QLocale::system().name(), QStringLiteral("C"));
    QCOMPARE(RelativeDateFormatter::userLocaleName(), QStringLiteral("ru_RU"));
    QCOMPARE(RelativeDateFormatter::format(m_now.addDays(-3), m_now), QStringLiteral("3 дня назад"));
    QCOMPARE(RelativeDateFormatter::format(m_now.addSecs(7200), m_now), QStringLiteral("через 2 часа"));
}

void tst_RelativeDateFormatter::explicitLocales()
{
    const QDateTime threeDaysAgo = m_now.addDays(-3);
    QCOMPARE(RelativeDateFormatter::format(threeDaysAgo, m_now, QStringLiteral("en_US")), QStringLiteral("3 days ago"));
    QCOMPARE(RelativeDateFormatter::format(m_now.addDays(3), m_now, QStringLiteral("en_US")), QStringLiteral("in 3 days"));
    QCOMPARE(RelativeDateFormatter::format(m_now.addSecs(-5), m_now, QStringLiteral("en_US")), QStringLiteral("now"));

    // Names that are no language fall back to the interface's Russian.
    for (const QString& name : {QStringLiteral("C"), QStringLiteral("POSIX"), QString(), QStringLiteral("C.UTF-8")}) {
        QCOMPARE(RelativeDateFormatter::format(threeDaysAgo, m_now, name), QStringLiteral("3 дня назад"));
    }
}

void tst_RelativeDateFormatter::invalidDatesGiveNothing()
{
    QVERIFY(RelativeDateFormatter::format(QDateTime(), m_now, QStringLiteral("ru_RU")).isEmpty());
    QVERIFY(RelativeDateFormatter::format(m_now, QDateTime(), QStringLiteral("ru_RU")).isEmpty());
}

BRISKO_TEST(tst_RelativeDateFormatter)

#include "tst_RelativeDateFormatter.moc"
