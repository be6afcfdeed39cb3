#include "BriskoTest.h"
#include "ViewTestBed.h"

#include "HealthGauge.h"
#include "IconTextLine.h"
#include "MacHealthDashboardSection.h"
#include "Theme.h"
#include "app/AppState.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <cmath>

// The health panel: the gauge's bands as words and as painted colour, and
// the panel before and after a real quick health scan.
class tst_MacHealthDashboardSection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void gaugeBands_data();
    void gaugeBands();
    void beforeAndAfterAScan();
};

void tst_MacHealthDashboardSection::gaugeBands_data()
{
    QTest::addColumn<int>("score");
    QTest::addColumn<QString>("label");
    // 0 accent, 1 orange, 2 red
    QTest::addColumn<int>("colour");
    QTest::newRow("49") << 49 << "Требует внимания" << 2;
    QTest::newRow("50") << 50 << "Средне" << 1;
    QTest::newRow("69") << 69 << "Средне" << 1;
    QTest::newRow("70") << 70 << "Хорошо" << 0;
    QTest::newRow("84") << 84 << "Хорошо" << 0;
    QTest::newRow("85") << 85 << "Отлично" << 0;
}

void tst_MacHealthDashboardSection::gaugeBands()
{
    QFETCH(int, score);
    QFETCH(QString, label);
    QFETCH(int, colour);
    for (const QPalette& palette : {Theme::lightPalette(), Theme::darkPalette()}) {
        const Theme theme(palette);
        const QColor expected = QList<QColor>{theme.accent(), theme.warning(), theme.danger()}.at(colour);
        QCOMPARE(HealthGauge::label(score), label);
        QCOMPARE(HealthGauge::colour(score, theme), expected);

        // The painted ring starts at its lower left in the band's colour, and
        // the number and word are drawn.
        HealthGauge gauge;
        gauge.setPalette(palette);
        gauge.resize(gauge.sizeHint());
        gauge.setScore(score);
        const QImage image = gauge.grab().toImage();
        const double radius = (gauge.width() - 12) / 2.0;
        const QPoint start(qRound(gauge.width() / 2.0 - radius * M_SQRT1_2 + 2),
                           qRound(gauge.height() / 2.0 + radius * M_SQRT1_2 - 2));
        const QColor painted = image.pixelColor(start);
        QVERIFY2(std::abs(painted.red() - expected.red()) <= 8 && std::abs(painted.green() - expected.green()) <= 8 &&
                     std::abs(painted.blue() - expected.blue()) <= 8,
                 qPrintable(painted.name() + QStringLiteral(" against ") + expected.name()));
        QCOMPARE(gauge.accessibleDescription(), QString::number(score) + QStringLiteral("% · ") + label);
    }
}

void tst_MacHealthDashboardSection::beforeAndAfterAScan()
{
    ViewTestBed bed;
    bed.fixture.sized(QStringLiteral("Downloads/Старый установщик.dmg"), 300 << 20);
    bed.fixture.sized(QStringLiteral("Library/Caches/pip/колёса.bin"), 40 << 20);
    AppState& state = *bed.state();
    MacHealthDashboardSection section(bed.services());
    section.resize(1000, 500);
    section.show();

    auto* scan = section.findChild<QPushButton*>(QStringLiteral("quickHealthScan"));
    QVERIFY(!section.findChild<QPushButton*>(QStringLiteral("repeatHealthScan"))->isVisible());
    scan->click();
    QVERIFY(state.isBusy());
    QVERIFY(!scan->isEnabled());
    QTRY_VERIFY(state.healthSnapshot().has_value() && !state.isBusy());

    const MacHealthSnapshot snapshot = *state.healthSnapshot();
    QVERIFY(!scan->isVisible());
    QCOMPARE(section.gauge()->score(), snapshot.healthPercent);
    QVERIFY(snapshot.itemCount >= 1);
    QCOMPARE(section.findChild<QLabel*>(QStringLiteral("found"))->text(), QString::number(snapshot.itemCount));
    QStringList tips;
    for (IconTextLine* line : section.findChildren<IconTextLine*>(QStringLiteral("healthTip")))
        tips.append(line->text());
    QCOMPARE(tips, snapshot.tips);
    QStringList facts;
    for (QLabel* fact : section.findChildren<QLabel*>(QStringLiteral("fact")))
        facts.append(fact->text());
    QCOMPARE(facts.size(), 6);
    QCOMPARE(facts.at(3), QString::number(snapshot.hardware.memoryGB) + QStringLiteral("\u00a0ГБ"));
    QVERIFY2(!facts.join(u' ').contains(QLatin1String("unknown")), qPrintable(facts.join(u' ')));

    QSignalSpy results(&section, &MacHealthDashboardSection::showResultsRequested);
    section.findChild<QPushButton*>(QStringLiteral("healthResults"))->click();
    QCOMPARE(results.count(), 1);
}

BRISKO_TEST(tst_MacHealthDashboardSection)
#include "tst_MacHealthDashboardSection.moc"
