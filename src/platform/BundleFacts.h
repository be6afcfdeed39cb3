#pragma once

#include <QString>

#include <optional>

// The application bundle's information dictionary ("CFBundleShortVersionString",
// "CFBundleVersion", "CFBundleIdentifier", "CFBundleName").
class BundleFacts
{
public:
    static std::optional<QString> infoString(const QString& key);
};
