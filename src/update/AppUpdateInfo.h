#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// An update the maker's server offers: newer than the running build.
struct AppUpdateInfo
{
    QString version;
    QString build;
    QUrl downloadURL;
    QString releaseNotes;
    // Hexadecimal SHA-256 of the image, as the server wrote it.
    std::optional<QString> sha256;

    bool operator==(const AppUpdateInfo&) const = default;
};
