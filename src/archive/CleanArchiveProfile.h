#pragma once

#include "base/FilePath.h"
#include "scan/HomeLayout.h"

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
// Names of the home folder's children that the profile copies, in order:
// the user folders under their real names (a disabled one, or one that is
// not a direct child of the home, is left out), then the fixed names.
QList<QByteArray> homeFolders(CleanArchiveProfile profile, const HomeLayout& layout);
// Whether a file (not a folder) of this name stays out of the profile's copy
// on top of the rules every profile shares: installers of the layout and
// zip files in the documents profile.
bool excludesFile(CleanArchiveProfile profile, const QByteArray& name, const HomeLayout& layout);
} // namespace CleanArchiveProfiles

Q_DECLARE_METATYPE(CleanArchiveProfile)
