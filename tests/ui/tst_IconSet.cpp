#include "BriskoTest.h"
#include "IconSet.h"

#include <QApplication>
#include <QImage>

namespace {
// The clearly visible pixels, and how many of them do not carry the tint.
std::pair<int, int> ink(const QPixmap& pixmap, const QColor& tint)
{
    int opaque = 0;
    int stray = 0;
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() < 200)
                continue;
            ++opaque;
            stray += qAbs(pixel.red() - tint.red()) < 8 && qAbs(pixel.green() - tint.green()) < 8
                    && qAbs(pixel.blue() - tint.blue()) < 8 ? 0 : 1;
        }
    }
    return {opaque, stray};
}
} // namespace

// The symbols and marks the screens draw, through the resource and SVG
// pipeline, in the colours they are asked for.
class tst_IconSet : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyMappedSymbolRendersInItsTint_data()
    {
        QTest::addColumn<QString>("symbol");
        const QStringList names = IconSet::symbolNames();
        // The screens name far more than a handful; an empty table means the pipeline lost it.
        QVERIFY(names.size() >= 30);
        for (const QString& name : names)
            QTest::newRow(name.toUtf8().constData()) << name;
    }

    void everyMappedSymbolRendersInItsTint()
    {
        QFETCH(QString, symbol);
        const QColor tint(0x1f, 0x6f, 0xeb);
        for (qreal ratio : {1.0, 2.0}) {
            const QPixmap pixmap = IconSet::pixmap(symbol, tint, 24, ratio);
            QCOMPARE(pixmap.size(), QSize(24, 24) * ratio);
            const auto [opaque, stray] = ink(pixmap, tint);
            QVERIFY2(opaque > 5 * ratio * ratio, qPrintable(QString::number(opaque)));
            QCOMPARE(stray, 0);
        }
    }

    void iconsCarryNormalAndDisabledTintsUnknownOnesNothing()
    {
        const QColor normal(Qt::darkGreen);
        const QColor disabled(0xa1, 0xa1, 0xa6);
        const QIcon icon = IconSet::icon(QStringLiteral("trash.fill"), normal, disabled);
        for (const auto& [mode, tint] : {std::pair{QIcon::Normal, normal}, std::pair{QIcon::Disabled, disabled}}) {
            const auto [opaque, stray] = ink(icon.pixmap(QSize(20, 20), 1.0, mode), tint);
            QVERIFY(opaque > 0);
            QCOMPARE(stray, 0);
        }
        const QString unknown = QStringLiteral("нет.такого.символа");
        QVERIFY(IconSet::resourcePath(unknown).isEmpty());
        QVERIFY(IconSet::pixmap(unknown, Qt::black, 16).isNull());
        QVERIFY(IconSet::icon(unknown, Qt::black).isNull());
        QVERIFY(IconSet::renderSvg(QByteArrayLiteral("<svg broken"), Qt::black, QSize(16, 16), 1.0).isNull());
    }

    void makersMarksRender()
    {
        const QImage mark = IconSet::korvaneMark(72, 2.0).toImage();
        QCOMPARE(mark.size(), QSize(144, 144));
        // A filled badge: opaque in the middle, transparent beyond its rounded corners.
        QCOMPARE(mark.pixelColor(72, 72).alpha(), 255);
        QCOMPARE(mark.pixelColor(1, 1).alpha(), 0);

        // The word mark follows the text colour; the badge beside it keeps its own colours.
        const QColor textColour(0xf2, 0xf2, 0xf7);
        const QPixmap logo = IconSet::korvaneLogo(QSize(156, 32), textColour);
        const auto [opaque, stray] = ink(logo.copy(QRect(40, 0, 116, 32)), textColour);
        QVERIFY(opaque > 50);
        QCOMPARE(stray, 0);

        // Views that load an SVG as an image (QIcon, QImage) need the plugin, not only the library.
        QVERIFY(!QImage(QString::fromLatin1(IconSet::markResource)).isNull());
        const QImage appIcon = QImage(QStringLiteral(":/brand/BriskoVella.svg")).scaled(64, 64);
        QCOMPARE(appIcon.pixelColor(32, 32).alpha(), 255);
    }
};

BRISKO_TEST(tst_IconSet)
#include "tst_IconSet.moc"
