#include "BriskoTest.h"
#include "base/RussianPlural.h"

#include <QTest>

#include <limits>

class tst_RussianPlural : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void count_data();
    void count();
};

void tst_RussianPlural::count_data()
{
    QTest::addColumn<qint64>("n");
    QTest::addColumn<QString>("items");
    QTest::addColumn<QString>("caches");

    // one: ends in 1 but not 11; few: ends in 2-4 but not 12-14; many: the rest.
    QTest::newRow("1") << qint64(1) << QStringLiteral("1 элемент") << QStringLiteral("1 кэш");
    QTest::newRow("2") << qint64(2) << QStringLiteral("2 элемента") << QStringLiteral("2 кэша");
    QTest::newRow("5") << qint64(5) << QStringLiteral("5 элементов") << QStringLiteral("5 кэшей");
    QTest::newRow("11") << qint64(11) << QStringLiteral("11 элементов") << QStringLiteral("11 кэшей");
    QTest::newRow("21") << qint64(21) << QStringLiteral("21 элемент") << QStringLiteral("21 кэш");
    QTest::newRow("22") << qint64(22) << QStringLiteral("22 элемента") << QStringLiteral("22 кэша");
    QTest::newRow("1 000 013") << qint64(1'000'013) << QStringLiteral("1000013 элементов")
                               << QStringLiteral("1000013 кэшей");
    QTest::newRow("-2") << qint64(-2) << QStringLiteral("-2 элемента") << QStringLiteral("-2 кэша");
    QTest::newRow("int64 min ends in 8") << std::numeric_limits<qint64>::min()
                                         << QStringLiteral("-9223372036854775808 элементов")
                                         << QStringLiteral("-9223372036854775808 кэшей");
}

void tst_RussianPlural::count()
{
    QFETCH(qint64, n);
    QFETCH(QString, items);
    QFETCH(QString, caches);
    QCOMPARE(RussianPlural::count(n, RussianPlural::items), items);
    QCOMPARE(RussianPlural::count(n, RussianPlural::caches), caches);
}

BRISKO_TEST(tst_RussianPlural)
#include "tst_RussianPlural.moc"
