#pragma once

#include <QString>

class QVBoxLayout;
class QWidget;

// The frame of a full-height section: a borderless vertical scroll area
// filling page, holding one column in the PageTemplate frame that starts
// with the section's title row. Sections add their groups to the returned column, whose parent
// widget is the scrolled content.
class ScrollingPage
{
public:
    static QVBoxLayout* install(QWidget* page, const QString& title);
};
