#pragma once

#include "VolumeSource.h"
#include "base/FilePath.h"

// Mounted volumes of this machine. On Linux it reads the mount table and
// leaves out pseudo and virtual file systems (proc, sysfs, tmpfs, overlay and
// the like), the counterpart of the hidden volumes elsewhere — except an
// overlay that holds the home folder (a container's or live system's root),
// which is where the user's space really goes.
class PlatformVolumeSource : public VolumeSource
{
public:
    // mountTable replaces /proc/self/mountinfo, for tests.
    explicit PlatformVolumeSource(QString mountTable = QString(), FilePath home = FilePath());

    std::optional<QList<VolumeFacts>> mountedVolumes() const override;

    static bool isPseudoFileSystem(const QString& type);

private:
    QString m_mountTable;
    FilePath m_home;
};
