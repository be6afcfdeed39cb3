#include "BriskoTest.h"
#include "IconSet.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTest>

namespace {
struct InkCount
{
    int opaque = 0;
    int matchingTint = 0;
};

// Counts the clearly visible pixels and how many of them carry the tint.
InkCount ink(const QPixmap& pixmap, const QColor& tint)
{
    InkCount count;
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() < 200)
                continue;
            ++count.opaque;
            if (qAbs(pixel.red() - tint.red()) < 8 && qAbs(pixel.green() - tint.green()) < 8
                && qAbs(pixel.blue() - tint.blue()) < 8) {
                ++count.matchingTint;
            }
        }
    }
    return count;
}
} // namespace

class tst_IconSet : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyMappedSymbolRendersInItsTint_data();
    void everyMappedSymbolRendersInItsTint();
    void iconsCarryNormalAndDisabledTints();
    void unknownSymbolsYieldNothing();
    void makersMarksRender();
    void svgImagePluginIsPresent();
};

void tst_IconSet::everyMappedSymbolRendersInItsTint_data()
{
    QTest::addColumn<QString>("symbol");
    const QStringList names = IconSet::symbolNames();
    // The screens name far more than a handful; an empty table means the pipeline lost it.
    QVERIFY(names.size() >= 30);
    for (const QString& name : names)
        QTest::newRow(name.toUtf8().constData()) << name;
}

void tst_IconSet::everyMappedSymbolRendersInItsTint()
{
    QFETCH(QString, symbol);
    const QString path = IconSet::resourcePath(symbol);
    QVERIFY2(QFile::exists(path), qPrintable(path));

    const QColor tint(0x1f, 0x6f, 0xeb);
    for (qreal ratio : {1.0, 2.0}) {
        const QPixmap pixmap = IconSet::pixmap(symbol, tint, 24, ratio);
        QVERIFY(!pixmap.isNull());
        QCOMPARE(pixmap.size(), QSize(24, 24) * ratio);
        const InkCount count = ink(pixmap, tint);
        QVERIFY2(count.opaque > 5 * ratio * ratio, qPrintable(QString::number(count.opaque)));
        QCOMPARE(count.matchingTint, count.opaque);
    }
}

void tst_IconSet::iconsCarryNormalAndDisabledTints()
{
    const QColor normal(Qt::darkGreen);
    const QColor disabled(0xa1, 0xa1, 0xa6);
    const QIcon icon = IconSet::icon(QStringLiteral("trash.fill"), normal, disabled);
    QVERIFY(!icon.isNull());
    const InkCount normalInk = ink(icon.pixmap(QSize(20, 20), 1.0, QIcon::Normal), normal);
    const InkCount disabledInk = ink(icon.pixmap(QSize(20, 20), 1.0, QIcon::Disabled), disabled);
    QVERIFY(normalInk.opaque > 0);
    QCOMPARE(normalInk.matchingTint, normalInk.opaque);
    QVERIFY(disabledInk.opaque > 0);
    QCOMPARE(disabledInk.matchingTint, disabledInk.opaque);
}

void tst_IconSet::unknownSymbolsYieldNothing()
{
    const QString unknown = QStringLiteral("нет.такого.символа");
    QVERIFY(IconSet::resourcePath(unknown).isEmpty());
    QVERIFY(IconSet::pixmap(unknown, Qt::black, 16).isNull());
    QVERIFY(IconSet::icon(unknown, Qt::black).isNull());
    QVERIFY(IconSet::renderSvg(QByteArrayLiteral("<svg broken"), Qt::black, QSize(16, 16), 1.0).isNull());
}

void tst_IconSet::makersMarksRender()
{
    const QPixmap mark = IconSet::korvaneMark(72, 2.0);
    QCOMPARE(mark.size(), QSize(144, 144));
    const QImage markImage = mark.toImage();
    // A filled badge: opaque in the middle, transparent beyond its rounded corners.
    QCOMPARE(markImage.pixelColor(72, 72).alpha(), 255);
    QCOMPARE(markImage.pixelColor(1, 1).alpha(), 0);

    // The word mark follows the text colour; the badge beside it keeps its own colours.
    const QColor textColour(0xf2, 0xf2, 0xf7);
    const QPixmap logo = IconSet::korvaneLogo(QSize(156, 32), textColour);
    QCOMPARE(logo.size(), QSize(156, 32));
    const QPixmap wordmark = logo.copy(QRect(40, 0, 116, 32));
    const InkCount words = ink(wordmark, textColour);
    QVERIFY(words.opaque > 50);
    QCOMPARE(words.matchingTint, words.opaque);

    const QPixmap appIcon = IconSet::renderSvg(
        [] {
            QFile file(QStringLiteral(":/brand/BriskoVella.svg"));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }(),
        Qt::black, QSize(64, 64), 1.0);
    QVERIFY(!appIcon.isNull());
    QCOMPARE(appIcon.toImage().pixelColor(32, 32).alpha(), 255);
}

void tst_IconSet::svgImagePluginIsPresent()
{
    // Views that load an SVG as an image (QIcon, QImage) need the plugin, not only the library.
    QVERIFY(QImageReader::supportedImageFormats().contains("svg"));
    QImage image(QString::fromLatin1(IconSet::markResource));
    QVERIFY(!image.isNull());
}

BRISKO_TEST(tst_IconSet)
#include "tst_IconSet.moc"
