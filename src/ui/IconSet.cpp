#include "IconSet.h"

#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QSvgRenderer>

// The resources live in a static library: nothing would pull their object
// file into a program unless something calls its initialiser. Outside any
// namespace, as Q_INIT_RESOURCE requires.
static void registerIconResources()
{
    Q_INIT_RESOURCE(brisko_icons);
}

namespace {
// Symbol name of the original design → icon-set file (weight/name).
const QHash<QString, QString>& table()
{
    static const QHash<QString, QString> map = {
        // Sidebar
        {u"gauge.with.dots.needle.67percent"_qs, u"regular/gauge"_qs},
        {u"list.bullet.rectangle"_qs, u"regular/list-bullets"_qs},
        {u"fanblades"_qs, u"regular/fan"_qs},
        {u"gearshape"_qs, u"regular/gear-six"_qs},
        {u"chart.pie"_qs, u"regular/chart-donut"_qs},
        // Scan categories
        {u"folder.fill"_qs, u"fill/folder-fill"_qs},
        {u"archivebox.fill"_qs, u"fill/archive-fill"_qs},
        {u"tray.full.fill"_qs, u"fill/tray-fill"_qs},
        {u"film.fill"_qs, u"fill/film-strip-fill"_qs},
        {u"doc.fill"_qs, u"fill/file-fill"_qs},
        {u"shippingbox.fill"_qs, u"fill/package-fill"_qs},
        {u"externaldrive.fill"_qs, u"fill/hard-drives-fill"_qs},
        {u"trash.fill"_qs, u"fill/trash-fill"_qs},
        // Actions and banners
        {u"folder.badge.gearshape"_qs, u"regular/folder-simple-dashed"_qs},
        {u"externaldrive.badge.plus"_qs, u"regular/hard-drives"_qs},
        {u"arrow.uturn.backward"_qs, u"regular/arrow-u-up-left"_qs},
        {u"arrow.triangle.2.circlepath"_qs, u"regular/arrows-clockwise"_qs},
        {u"arrow.down.circle"_qs, u"regular/arrow-circle-down"_qs},
        {u"arrow.clockwise"_qs, u"regular/arrow-clockwise"_qs},
        {u"waveform.path.ecg"_qs, u"regular/heartbeat"_qs},
        {u"lightbulb.fill"_qs, u"fill/lightbulb-fill"_qs},
        {u"info.circle.fill"_qs, u"fill/info-fill"_qs},
        {u"fanblades.fill"_qs, u"fill/fan-fill"_qs},
        {u"envelope"_qs, u"regular/envelope-simple"_qs},
        {u"envelope.badge"_qs, u"regular/envelope-simple-open"_qs},
        {u"paperplane.fill"_qs, u"fill/paper-plane-tilt-fill"_qs},
        {u"checkmark.circle.fill"_qs, u"fill/check-circle-fill"_qs},
        {u"exclamationmark.triangle.fill"_qs, u"fill/warning-fill"_qs},
        {u"hourglass"_qs, u"regular/hourglass"_qs},
        {u"lock.fill"_qs, u"fill/lock-fill"_qs},
        {u"magnifyingglass"_qs, u"regular/magnifying-glass"_qs},
        {u"eye"_qs, u"regular/eye"_qs},
        {u"folder"_qs, u"regular/folder-open"_qs},
        {u"xmark"_qs, u"regular/x"_qs},
        {u"globe"_qs, u"regular/globe"_qs},
        {u"hand.raised.fill"_qs, u"fill/hand-palm-fill"_qs},
        {u"questionmark.circle"_qs, u"regular/question"_qs},
    };
    return map;
}

QByteArray readResource(const QString& path)
{
    static const bool registered = (registerIconResources(), true);
    Q_UNUSED(registered);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}
} // namespace

QStringList IconSet::symbolNames()
{
    QStringList names = table().keys();
    names.sort();
    return names;
}

QString IconSet::resourcePath(const QString& symbolName)
{
    const auto it = table().constFind(symbolName);
    if (it == table().constEnd())
        return {};
    return u":/icons/"_qs + it.value() + u".svg"_qs;
}

QPixmap IconSet::renderSvg(const QByteArray& svg, const QColor& tint, const QSize& size, qreal devicePixelRatio)
{
    if (svg.isEmpty() || size.isEmpty())
        return {};
    QByteArray tinted = svg;
    tinted.replace("currentColor", tint.name(QColor::HexRgb).toLatin1());
    QSvgRenderer renderer(tinted);
    if (!renderer.isValid())
        return {};
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(tint.alphaF());
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return pixmap;
}

QPixmap IconSet::pixmap(const QString& symbolName, const QColor& tint, int size, qreal devicePixelRatio)
{
    const QString path = resourcePath(symbolName);
    if (path.isEmpty())
        return {};
    return renderSvg(readResource(path), tint, QSize(size, size), devicePixelRatio);
}

QIcon IconSet::icon(const QString& symbolName, const QColor& tint, const QColor& disabledTint)
{
    const QString path = resourcePath(symbolName);
    if (path.isEmpty())
        return {};
    const QByteArray svg = readResource(path);
    if (svg.isEmpty())
        return {};
    QIcon icon;
    for (int size : {16, 20, 24, 32, 48}) {
        for (qreal ratio : {1.0, 2.0}) {
            icon.addPixmap(renderSvg(svg, tint, QSize(size, size), ratio), QIcon::Normal);
            if (disabledTint.isValid())
                icon.addPixmap(renderSvg(svg, disabledTint, QSize(size, size), ratio), QIcon::Disabled);
        }
    }
    return icon;
}

QPixmap IconSet::korvaneMark(int size, qreal devicePixelRatio)
{
    return renderSvg(readResource(QString::fromLatin1(markResource)), Qt::black, QSize(size, size), devicePixelRatio);
}

QPixmap IconSet::korvaneLogo(const QSize& size, const QColor& textColour, qreal devicePixelRatio)
{
    return renderSvg(readResource(QString::fromLatin1(logoResource)), textColour, size, devicePixelRatio);
}
