#pragma once

#include <QString>

// Where the download and installation of an update stand.
struct UpdatePhase
{
    enum class Kind { idle, downloading, readyToInstall, installing, failed };

    Kind kind = Kind::idle;
    // readyToInstall: the verified image in the updates folder.
    QString localPath;
    // failed: what went wrong, for the user.
    QString message;

    static UpdatePhase idle() { return {}; }
    static UpdatePhase downloading() { return {Kind::downloading, {}, {}}; }
    static UpdatePhase readyToInstall(const QString& localPath) { return {Kind::readyToInstall, localPath, {}}; }
    static UpdatePhase installing() { return {Kind::installing, {}, {}}; }
    static UpdatePhase failed(const QString& message) { return {Kind::failed, {}, message}; }

    bool operator==(const UpdatePhase&) const = default;
};
