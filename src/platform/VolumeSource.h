#pragma once

#include <QList>
#include <QString>

#include <memory>
#include <optional>

// One mounted volume as the platform reports it. Missing values stay empty;
// deciding what to show is the scanner's business.
struct VolumeFacts
{
    QString path;
    std::optional<QString> name;
    std::optional<QString> localizedName;
    std::optional<qint64> total;
    std::optional<qint64> available;
};

class VolumeSource
{
public:
    virtual ~VolumeSource() = default;
    // Mounted user-visible volumes in the platform's order, or nothing when
    // the platform gives no list.
    virtual std::optional<QList<VolumeFacts>> mountedVolumes() const = 0;
};

using VolumeSourcePtr = std::shared_ptr<const VolumeSource>;
