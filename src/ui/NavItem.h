#pragma once

#include <QList>
#include <QString>

// One entry of the sidebar; id is the number of the section it shows.
struct NavItem
{
    int id = 0;
    QString title;
    // Symbol name for IconSet.
    QString icon;
};

using NavItemList = QList<NavItem>;
