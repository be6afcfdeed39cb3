#pragma once

#include <QString>

// A temperature as the Russian interface writes it: decimal comma and a
// non-breaking space before the unit ("52,0 °C", "макс. 58 °C" with
// decimals 0), whatever the process locale.
namespace TemperatureText {
QString celsius(double value, int decimals);
} // namespace TemperatureText
