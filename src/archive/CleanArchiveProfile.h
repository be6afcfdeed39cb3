#pragma once

#include "platform/FilePath.h"

#include <QList>
#include <QMetaType>
#include <QString>

#include <optional>

// The data profiles a clean archive copies, identified by their raw values
// "essential", "creative" and "developer", listed in that order.
enum class CleanArchiveProfile {
    essential,
    creative,
    developer,
};

namespace CleanArchiveProfiles {
QList<CleanArchiveProfile> all();
QString rawValue(CleanArchiveProfile profile);
std::optional<CleanArchiveProfile> fromRawValue(const QString& raw);
// The title shown to the user ("Документы и рабочий стол", …).
QString title(CleanArchiveProfile profile);
// Names of the home folder's children that the profile copies, in order.
QList<QByteArray> homeFolders(CleanArchiveProfile profile);
// Whether a file (not a folder) of this name stays out of the profile's copy
// on top of the rules every profile shares.
bool excludesFile(CleanArchiveProfile profile, const QByteArray& name);
} // namespace CleanArchiveProfiles

Q_DECLARE_METATYPE(CleanArchiveProfile)
