#pragma once

#include <QString>

struct CoolingSnapshot;

// A reading of temperatures and fans as text, as the cooling screen shows
// it: temperatures, fans, the note.
QString describeCooling(const CoolingSnapshot& snapshot);
