#pragma once

#include <QSet>
#include <QString>

namespace AppVideoTypes {
// Lower case, without the dot.
const QSet<QString>& extensions();
// ".3gp, .avi, …": the extensions sorted, each with its dot.
QString extensionsLabel();
} // namespace AppVideoTypes
