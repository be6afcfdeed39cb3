#include "BriskoTest.h"
#include "Theme.h"

// Every colour a widget draws text or a control's edge in, against every
// surface it is drawn on, in both palettes: text 4.5:1, graphics 3:1.
class tst_ThemeContrast : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ratioFormula()
    {
        QCOMPARE(Theme::contrastRatio(Qt::black, Qt::white), 21.0);
        QCOMPARE(Theme::contrastRatio(QColor(0x12, 0x34, 0x56), QColor(0x12, 0x34, 0x56)), 1.0);
        // The usual reference: #767676 is the lightest grey that passes on white.
        QVERIFY(Theme::contrastRatio(QColor(0x76, 0x76, 0x76), Qt::white) >= 4.5);
        QVERIFY(Theme::contrastRatio(QColor(0x77, 0x77, 0x77), Qt::white) < 4.5);
        QCOMPARE(Theme::over(QColor(0, 0, 0, 128), Qt::white).red(), 127);
    }

    void pairs_data()
    {
        QTest::addColumn<QColor>("foreground");
        QTest::addColumn<QColor>("surface");
        QTest::addColumn<double>("minimum");

        for (const bool dark : {false, true}) {
            const Theme t(dark ? Theme::darkPalette() : Theme::lightPalette());
            const QPalette& p = t.palette();
            const QColor currentItem = Theme::over(t.selectionBackground(), t.sidebarBackground());
            const QList<std::pair<const char*, QColor>> surfaces = {
                {"window", t.windowBackground()},
                {"card", t.cardBackground()},
                {"alternate row", p.color(QPalette::AlternateBase)},
                {"sidebar", t.sidebarBackground()},
                {"button", p.color(QPalette::Button)},
                {"accent banner", t.tintedCard(t.accent())},
                {"warning banner", t.tintedCard(t.warning())},
            };
            const auto add = [&](const char* role, const QColor& colour, const QList<QColor>& on, double minimum) {
                for (const auto& [name, surface] : surfaces) {
                    if (!on.contains(surface))
                        continue;
                    QTest::addRow("%s %s on %s", dark ? "dark" : "light", role, name) << colour << surface << minimum;
                }
            };
            QList<QColor> all;
            for (const auto& surface : surfaces)
                all.append(surface.second);
            const QList<QColor> pages = {t.windowBackground(), t.cardBackground(), p.color(QPalette::AlternateBase)};

            add("text", t.text(), all, 4.5);
            add("secondary text", t.secondaryText(), all, 4.5);
            add("disabled text", t.disabledText(), {t.windowBackground(), t.cardBackground(), p.color(QPalette::Button)},
                4.5);
            add("link", t.accent(), pages + QList<QColor>{t.sidebarBackground()}, 4.5);
            add("danger text", t.danger(), pages, 4.5);
            add("success", t.success(), {t.windowBackground(), t.cardBackground()}, 3.0);
            add("warning", t.warning(), {t.windowBackground(), t.cardBackground()}, 3.0);
            add("checkbox border", t.controlBorder(), pages, 3.0);
            add("focus ring", t.focusRing(), pages + QList<QColor>{t.sidebarBackground()}, 3.0);
            add("ticked box", t.accent(), pages, 3.0);

            const char* mode = dark ? "dark" : "light";
            QTest::addRow("%s text on the current sidebar item", mode) << t.text() << currentItem << 4.5;
            QTest::addRow("%s text on a selected row", mode) << t.accentText() << t.accentFill() << 4.5;
            QTest::addRow("%s text on a destructive button", mode) << t.accentText() << t.dangerFill() << 4.5;
            QTest::addRow("%s tick on a ticked box", mode) << t.markOn(t.accent()) << t.accent() << 3.0;
            QTest::addRow("%s tooltip", mode) << p.color(QPalette::ToolTipText) << p.color(QPalette::ToolTipBase) << 4.5;
        }
    }

    void pairs()
    {
        QFETCH(QColor, foreground);
        QFETCH(QColor, surface);
        QFETCH(double, minimum);
        const double ratio = Theme::contrastRatio(foreground, surface);
        QVERIFY2(ratio >= minimum, qPrintable(QStringLiteral("%1 on %2: %3:1")
                                                  .arg(foreground.name(), surface.name())
                                                  .arg(ratio, 0, 'f', 2)));
    }
};

BRISKO_TEST(tst_ThemeContrast)
#include "tst_ThemeContrast.moc"
