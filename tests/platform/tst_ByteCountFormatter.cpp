#include "BriskoTest.h"
#include "base/ByteCountFormatter.h"

#include <QLocale>
#include <QTest>

#include <limits>

class tst_ByteCountFormatter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void format_data();
    void format();
    void extremesDoNotBreak();
    void independentOfProcessLocale();
};

void tst_ByteCountFormatter::format_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");

    // The byte count's word in each of its forms; which number takes which
    // is tst_RussianPlural's table.
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
}

void tst_ByteCountFormatter::format()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(ByteCountFormatter::format(bytes), text);
}

void tst_ByteCountFormatter::extremesDoNotBreak()
{
    QCOMPARE(ByteCountFormatter::format(std::numeric_limits<qint64>::max()), QStringLiteral("9,22\u00a0ЭБ"));
    QCOMPARE(ByteCountFormatter::format(std::numeric_limits<qint64>::min()), QStringLiteral("-9,22\u00a0ЭБ"));
    QCOMPARE(ByteCountFormatter::format(std::numeric_limits<qint64>::min() + 1), QStringLiteral("-9,22\u00a0ЭБ"));
}

void tst_ByteCountFormatter::independentOfProcessLocale()
{
    // The interface is Russian whatever the machine's locale; a locale with
    // a point or grouping must not leak into the text.
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QString megabytes = ByteCountFormatter::format(1'200'000);
    const QString gigabytes = ByteCountFormatter::format(21'470'000'000);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString german = ByteCountFormatter::format(1'200'000);
    QLocale::setDefault(previous);
    QCOMPARE(megabytes, QStringLiteral("1,2\u00a0МБ"));
    QCOMPARE(gigabytes, QStringLiteral("21,47\u00a0ГБ"));
    QCOMPARE(german, QStringLiteral("1,2\u00a0МБ"));
}

BRISKO_TEST(tst_ByteCountFormatter)
#include "tst_ByteCountFormatter.moc"
