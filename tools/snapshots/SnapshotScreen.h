#pragma once

#include <QList>
#include <QSize>
#include <QString>

#include <functional>

class QWidget;
class SnapshotContext;

// One screen the snapshot program renders: a file-name-safe name and a
// factory that builds the widget from a fresh fixture. The program owns the
// widget, sizes it, shows it offscreen, lets pending work settle and saves
// it as <name>-light@1x.png, <name>-dark@1x.png, and the @2x pair.
struct SnapshotScreen
{
    QString name;
    std::function<QWidget*(SnapshotContext&)> make;
    // The window's size unless a screen asks for another.
    QSize size = QSize(1300, 820);
};

// Every registered screen, in the order they are rendered (SnapshotScreens.cpp).
QList<SnapshotScreen> snapshotScreens();
