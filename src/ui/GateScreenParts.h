#pragma once

#include <QLabel>

// Labels every gate screen builds the same way.
class GateScreenParts
{
public:
    // The maker's mark at size × size, sharp on high-density screens.
    static QLabel* mark(int size, QWidget* parent);
    // A label in one of the theme's fonts, optionally in the secondary text colour.
    static QLabel* text(const QString& text, const QFont& font, bool secondary, QWidget* parent);
};
