#pragma once

#include "CardFrame.h"

// A neutral stand-in for a section whose view is not wired in yet: a card with
// the section's title. Keeps the window's layout whole meanwhile.
class PlaceholderSection : public CardFrame
{
    Q_OBJECT
public:
    explicit PlaceholderSection(const QString& title, QWidget* parent = nullptr);
};
