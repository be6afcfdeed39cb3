#include "UsageRingChart.h"

#include "Theme.h"
#include "base/ByteCountFormatter.h"
#include "scan/UsageRisk.h"

#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

// Arcs shorter than this are not drawn: they could be neither seen nor hit.
constexpr double smallestSpan = 0.8;
// Beyond this many arcs the outer rings stop growing.
constexpr size_t mostSegments = 4000;

QPainterPath annularSector(const QPointF& centre, double inner, double outer, double start, double span)
{
    // Qt's angles run counter-clockwise from three o'clock.
    const double qtStart = 90.0 - start;
    QPainterPath path;
    const QRectF outerRect(centre.x() - outer, centre.y() - outer, 2 * outer, 2 * outer);
    const QRectF innerRect(centre.x() - inner, centre.y() - inner, 2 * inner, 2 * inner);
    path.arcMoveTo(outerRect, qtStart);
    path.arcTo(outerRect, qtStart, -span);
    path.arcTo(innerRect, qtStart - span, span);
    path.closeSubpath();
    return path;
}

} // namespace

UsageRingChart::UsageRingChart(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("usageRingChart"));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("Кольцевая диаграмма размеров"));
}

void UsageRingChart::setTree(UsageTreePtr tree, UsageTree::Index focus, const HomeLayout& layout)
{
    m_tree = std::move(tree);
    m_focus = focus;
    m_layout = layout;
    m_hovered = UsageTree::noNode;
    if (!m_tree || m_tree->isEmpty() || m_selected >= UsageTree::Index(m_tree->nodeCount())) {
        m_selected = UsageTree::noNode;
    }
    layoutSegments();
    if (m_tree && !m_tree->isEmpty()) {
        setAccessibleDescription(m_tree->name(m_focus) + QStringLiteral(": ")
                                 + ByteCountFormatter::format(m_tree->size(m_focus)));
    }
    update();
}

void UsageRingChart::setHint(const QString& text)
{
    m_hint = text;
    update();
}

void UsageRingChart::setSelected(UsageTree::Index index)
{
    if (m_selected != index) {
        m_selected = index;
        update();
    }
}

void UsageRingChart::layoutSegments()
{
    m_segments.clear();
    if (!m_tree || m_tree->isEmpty() || m_tree->size(m_focus) <= 0) {
        return;
    }
    addRing(m_focus, 0, 0.0, 360.0, -1);
}

void UsageRingChart::addRing(UsageTree::Index folder, int ring, double start, double span, int hue)
{
    const UsageTree& tree = *m_tree;
    const double total = double(tree.size(folder));
    if (ring >= rings || total <= 0) {
        return;
    }
    double at = start;
    int order = 0;
    for (const UsageTree::Index child : tree.largestChildren(folder)) {
        const double childSpan = span * double(tree.size(child)) / total;
        // Children come largest first: the rest are smaller still.
        if (childSpan < smallestSpan || m_segments.size() >= mostSegments) {
            break;
        }
        // The golden angle spreads neighbouring hues as far apart as it can.
        const int childHue = hue >= 0 ? hue : int(std::fmod(210.0 + order * 137.508, 360.0));
        std::optional<CacheRisk> risk;
        if (tree.isDirectory(child)) {
            risk = UsageRisk::verdict(tree.path(child).toString(), *m_layout);
        }
        m_segments.push_back({child, ring, at, childSpan, childHue, risk});
        if (tree.isDirectory(child)) {
            addRing(child, ring + 1, at, childSpan, childHue);
        }
        at += childSpan;
        ++order;
    }
}

QRectF UsageRingChart::chartRect() const
{
    const double side = std::max(0, std::min(width(), height()) - 2 * Theme::spacing);
    return QRectF((width() - side) / 2.0, (height() - side) / 2.0, side, side);
}

double UsageRingChart::holeRadius() const
{
    return chartRect().width() / 2.0 * 0.26;
}

double UsageRingChart::ringWidth() const
{
    return (chartRect().width() / 2.0 - holeRadius()) / rings;
}

QColor UsageRingChart::colourOf(const Segment& segment) const
{
    const Theme theme = Theme::of(this);
    const UsageTree& tree = *m_tree;
    if (tree.isUnreadable(segment.index)) {
        return theme.trackBackground();
    }
    if (segment.risk == CacheRisk::safe) {
        return theme.success();
    }
    if (segment.risk == CacheRisk::caution) {
        return theme.warning();
    }
    // Deeper rings and files are paler, so the hue of a top folder stays
    // readable through its whole family.
    const int saturation = tree.isDirectory(segment.index) ? 150 - segment.ring * 22 : 60;
    const int value = theme.dark() ? 190 - segment.ring * 14 : 225 - segment.ring * 4;
    return QColor::fromHsv(segment.hue, std::max(40, saturation), std::clamp(value, 90, 255));
}

std::optional<CacheRisk> UsageRingChart::riskOf(UsageTree::Index index) const
{
    for (const Segment& segment : m_segments) {
        if (segment.index == index) {
            return segment.risk;
        }
    }
    if (m_tree && index < UsageTree::Index(m_tree->nodeCount()) && m_tree->isDirectory(index)) {
        return UsageRisk::verdict(m_tree->path(index).toString(), *m_layout);
    }
    return std::nullopt;
}

void UsageRingChart::paintEvent(QPaintEvent*)
{
    const Theme theme = Theme::of(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = chartRect();
    const QPointF centre = area.center();
    const double hole = holeRadius();
    const double width = ringWidth();

    if (!m_tree || m_tree->isEmpty()) {
        painter.setPen(theme.secondaryText());
        painter.setFont(theme.bodyFont());
        painter.drawText(rect().adjusted(Theme::padding, 0, -Theme::padding, 0), Qt::AlignCenter | Qt::TextWordWrap,
                         m_hint);
        return;
    }

    const QPen separator(theme.windowBackground(), 1.0);
    for (const Segment& segment : m_segments) {
        const double inner = hole + segment.ring * width;
        const QPainterPath path = annularSector(centre, inner, inner + width - 1.0, segment.start, segment.span);
        QColor fill = colourOf(segment);
        if (segment.index == m_hovered) {
            fill = theme.dark() ? fill.lighter(125) : fill.darker(112);
        }
        painter.setPen(separator);
        painter.setBrush(fill);
        painter.drawPath(path);
        if (segment.risk == CacheRisk::forbidden) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(QBrush(Theme::withAlpha(theme.danger(), 0.8), Qt::BDiagPattern));
            painter.drawPath(path);
        }
    }
    for (const Segment& segment : m_segments) {
        if (segment.index == m_selected) {
            const double inner = hole + segment.ring * width;
            painter.setPen(QPen(theme.accent(), 2.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(annularSector(centre, inner, inner + width - 1.0, segment.start, segment.span));
        }
    }

    // The folder in focus, in the hole; a click there goes up.
    painter.setPen(QPen(theme.cardBorder(), 1.0));
    painter.setBrush(m_hovered == m_focus ? theme.selectionBackground() : theme.cardBackground());
    painter.drawEllipse(centre, hole - 4, hole - 4);
    const QRectF text(centre.x() - hole * 0.8, centre.y() - hole * 0.55, hole * 1.6, hole * 1.1);
    QFont nameFont = theme.headlineFont();
    painter.setFont(nameFont);
    painter.setPen(theme.text());
    const QString name = m_focus == 0 ? m_tree->rootPath().fileName() : m_tree->name(m_focus);
    painter.drawText(text.adjusted(0, 0, 0, -text.height() / 2), Qt::AlignHCenter | Qt::AlignBottom,
                     QFontMetrics(nameFont).elidedText(name.isEmpty() ? QStringLiteral("/") : name, Qt::ElideMiddle,
                                                       int(text.width())));
    painter.setFont(theme.bodyFont());
    painter.setPen(theme.secondaryText());
    painter.drawText(text.adjusted(0, text.height() / 2 + 2, 0, 0), Qt::AlignHCenter | Qt::AlignTop,
                     ByteCountFormatter::format(m_tree->size(m_focus)));
}

void UsageRingChart::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    update();
}

const UsageRingChart::Segment* UsageRingChart::segmentAt(const QPointF& point) const
{
    const QPointF centre = chartRect().center();
    const double dx = point.x() - centre.x();
    const double dy = point.y() - centre.y();
    const double radius = std::hypot(dx, dy);
    const int ring = int(std::floor((radius - holeRadius()) / ringWidth()));
    if (radius < holeRadius() || ring >= rings) {
        return nullptr;
    }
    const double qtAngle = std::atan2(-dy, dx) * 180.0 / M_PI;
    const double angle = std::fmod(90.0 - qtAngle + 720.0, 360.0);
    for (const Segment& segment : m_segments) {
        if (segment.ring == ring && angle >= segment.start && angle < segment.start + segment.span) {
            return &segment;
        }
    }
    return nullptr;
}

UsageTree::Index UsageRingChart::entryAt(const QPointF& point) const
{
    if (!m_tree || m_tree->isEmpty()) {
        return UsageTree::noNode;
    }
    const QPointF centre = chartRect().center();
    if (std::hypot(point.x() - centre.x(), point.y() - centre.y()) < holeRadius()) {
        return m_focus;
    }
    const Segment* segment = segmentAt(point);
    return segment ? segment->index : UsageTree::noNode;
}

std::optional<QPointF> UsageRingChart::pointOf(UsageTree::Index index) const
{
    for (const Segment& segment : m_segments) {
        if (segment.index == index) {
            const double radius = holeRadius() + (segment.ring + 0.5) * ringWidth();
            const double qtAngle = (90.0 - (segment.start + segment.span / 2.0)) * M_PI / 180.0;
            const QPointF centre = chartRect().center();
            return QPointF(centre.x() + radius * std::cos(qtAngle), centre.y() - radius * std::sin(qtAngle));
        }
    }
    return std::nullopt;
}

void UsageRingChart::mouseMoveEvent(QMouseEvent* event)
{
    const UsageTree::Index hovered = entryAt(event->position());
    if (hovered != m_hovered) {
        m_hovered = hovered;
        update();
        Q_EMIT hoveredChanged(hovered);
    }
}

void UsageRingChart::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    if (m_hovered != UsageTree::noNode) {
        m_hovered = UsageTree::noNode;
        update();
        Q_EMIT hoveredChanged(UsageTree::noNode);
    }
}

void UsageRingChart::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const UsageTree::Index index = entryAt(event->position());
    if (index == UsageTree::noNode) {
        return;
    }
    if (index == m_focus) {
        Q_EMIT centreClicked();
    } else {
        Q_EMIT entryClicked(index);
    }
}

void UsageRingChart::contextMenuEvent(QContextMenuEvent* event)
{
    UsageTree::Index index = UsageTree::noNode;
    if (event->reason() == QContextMenuEvent::Mouse) {
        index = entryAt(event->pos());
    } else {
        index = m_selected != UsageTree::noNode ? m_selected : m_focus;
    }
    if (index != UsageTree::noNode) {
        Q_EMIT contextMenuRequested(index, event->globalPos());
    }
}

void UsageRingChart::keyPressEvent(QKeyEvent* event)
{
    if (!m_tree || m_tree->isEmpty()) {
        QWidget::keyPressEvent(event);
        return;
    }
    const QList<UsageTree::Index> children = m_tree->largestChildren(m_focus);
    const qsizetype at = children.indexOf(m_selected);
    switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Left:
        if (!children.isEmpty()) {
            const qsizetype step = event->key() == Qt::Key_Right ? 1 : -1;
            const qsizetype next = at < 0 ? 0 : (at + step + children.size()) % children.size();
            Q_EMIT selectionRequested(children[next]);
        }
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_selected != UsageTree::noNode) {
            Q_EMIT entryClicked(m_selected);
        }
        return;
    case Qt::Key_Backspace:
        Q_EMIT centreClicked();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}
