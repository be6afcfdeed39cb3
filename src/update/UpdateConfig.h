#pragma once

#include <QByteArray>
#include <QString>

#include "base/Outcome.h"

#include <optional>

// The version file the maker's server publishes ("version.json").
struct UpdateConfig
{
    QString version;
    QString build;
    QString downloadURL;
    QString releaseNotes;
    std::optional<QString> sha256;

    // Strict about the four required texts ("version", "build",
    // "download_url", "release_notes") and the type of "sha256"; unknown keys
    // are ignored. A version that could not name a file safely (anything but
    // letters, digits and ".+-_", or longer than 64) is refused as well,
    // since the download is stored under it.
    static Outcome<UpdateConfig> decode(const QByteArray& json);
    static bool isSafeVersionText(const QString& version);
};
