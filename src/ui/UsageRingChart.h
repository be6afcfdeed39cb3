#pragma once

#include "scan/CacheRisk.h"
#include "scan/HomeLayout.h"
#include "scan/UsageTree.h"

#include <QWidget>

#include <optional>
#include <vector>

// The size map as rings around the folder in focus: the first ring holds
// the folder's children, each further ring their children, every entry an
// arc as long as its share of the folder. Each child of the focus has its
// own hue, kept by its descendants; safe caches take the palette's positive
// colour, folders the classifier forbids are hatched, unreadable ones grey.
// Painted in paintEvent from the palette, so the dark palette works alike.
//
// The chart only reports what the user pointed at; the owner drills in,
// goes up and opens menus. Keyboard: Left/Right walk the first ring,
// Return drills into the chosen folder, Backspace goes up, the menu key
// opens the context menu.
class UsageRingChart : public QWidget
{
    Q_OBJECT
public:
    static constexpr int rings = 4;

    explicit UsageRingChart(QWidget* parent = nullptr);

    // The tree, the folder in the centre and the home the classifier
    // judges against; an empty tree shows the hint text instead.
    void setTree(UsageTreePtr tree, UsageTree::Index focus, const HomeLayout& layout);
    void setHint(const QString& text);
    void setSelected(UsageTree::Index index);
    UsageTree::Index selected() const { return m_selected; }
    UsageTree::Index focus() const { return m_focus; }

    // The entry drawn at a point of the widget (the focus for the centre),
    // or noNode.
    UsageTree::Index entryAt(const QPointF& point) const;
    // The middle of an entry's arc, or nothing when it is too small to draw.
    std::optional<QPointF> pointOf(UsageTree::Index index) const;
    // The classifier's word on an entry, as the chart colours it.
    std::optional<CacheRisk> riskOf(UsageTree::Index index) const;

    QSize sizeHint() const override { return {520, 520}; }
    QSize minimumSizeHint() const override { return {260, 260}; }

Q_SIGNALS:
    void entryClicked(UsageTree::Index index);
    void centreClicked();
    void hoveredChanged(UsageTree::Index index);
    void selectionRequested(UsageTree::Index index);
    void contextMenuRequested(UsageTree::Index index, const QPoint& globalPosition);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Segment
    {
        UsageTree::Index index;
        int ring;
        // Clockwise from twelve o'clock, in degrees.
        double start;
        double span;
        int hue;
        std::optional<CacheRisk> risk;
    };

    void layoutSegments();
    void addRing(UsageTree::Index folder, int ring, double start, double span, int hue);
    const Segment* segmentAt(const QPointF& point) const;
    QRectF chartRect() const;
    double holeRadius() const;
    double ringWidth() const;
    QColor colourOf(const Segment& segment) const;

    UsageTreePtr m_tree;
    UsageTree::Index m_focus = 0;
    UsageTree::Index m_selected = UsageTree::noNode;
    UsageTree::Index m_hovered = UsageTree::noNode;
    std::optional<HomeLayout> m_layout;
    QString m_hint;
    std::vector<Segment> m_segments;
};
