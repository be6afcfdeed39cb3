#pragma once

#include <QString>

class QBoxLayout;
class QHBoxLayout;
class QWidget;

// The frame every section of the window shares, so that edges and title
// baselines line up from one section to the next and with the status banner
// above them: the column's margins and spacing, and the title row (large
// title, optional secondary line, room on the right for a section's figures).
class PageTemplate
{
public:
    // Left and right edge of every section's content, the status banner's too.
    static constexpr int sideMargin = 24;
    static constexpr int topMargin = 12;
    static constexpr int bottomMargin = 24;
    // Between the groups of a section.
    static constexpr int groupSpacing = 20;

    // Margins and spacing of a section's main column.
    static void applyColumn(QBoxLayout* column);
    // Adds the title row to column; the returned row takes what a section
    // shows beside its title, right-aligned after a stretch.
    static QHBoxLayout* addTitleRow(QBoxLayout* column, QWidget* parent, const QString& title,
                                    const QString& subtitle = QString());
};
