#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// One copied profile folder (or file) of a clean archive.
struct CleanArchiveEntry
{
    // The item's name in the home folder ("Documents", ".ssh"). Read from a
    // manifest it is untrusted text: see isSafeRelativePath.
    QString relativePath;
    // Bytes of the copy: allocated size for a folder, length for a file.
    qint64 size = 0;
    bool isDirectory = false;
    // SHA-256 of a file's content, or the folder digest of a folder, in
    // lower-case hexadecimal.
    std::optional<QString> sha256;

    QJsonObject toJson() const;
    // Strict: the three required keys with the right types, sha256 a string
    // when present; nothing otherwise.
    static std::optional<CleanArchiveEntry> fromJson(const QJsonObject& object);

    // Whether relativePath names exactly one child of a folder: not empty,
    // not "." or "..", no separator, no NUL. Anything else could reach
    // outside the home folder on restore.
    static bool isSafeRelativePath(const QString& path);

    bool operator==(const CleanArchiveEntry& other) const = default;
};

using CleanArchiveEntryList = QList<CleanArchiveEntry>;
