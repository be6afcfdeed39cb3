#pragma once

#include "CleanArchiveEntry.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// The manifest.json of a clean archive: what was copied, from where, and how
// it is packed. Written once when the archive is made; never rewritten.
struct CleanArchiveManifest
{
    static constexpr qint64 currentVersion = 1;

    qint64 version = currentVersion;
    // Whole seconds, UTC.
    QDateTime createdAt;
    QString profile;
    QString profileTitle;
    QString homeDirectory;
    CleanArchiveEntryList entries;
    qint64 totalBytes = 0;
    QString appVersion;
    // The packing fields are all present ("tar.zst", …) or all absent.
    std::optional<QString> compression;
    std::optional<qint64> compressedBytes;
    std::optional<QString> compressedSHA256;
    std::optional<QString> archiveFileName;

    // Pretty-printed UTF-8 JSON with the keys sorted at every level, absent
    // optionals left out and createdAt as e.g. "2026-03-14T06:30:15Z".
    QByteArray toJson() const;
    // Strict: every required key with the right type, or nothing. The
    // entries' paths are not judged here: a restore refuses the unsafe ones.
    static std::optional<CleanArchiveManifest> fromJson(const QByteArray& json);

    static QString formatDate(const QDateTime& date);
    static std::optional<QDateTime> parseDate(const QString& text);

    bool operator==(const CleanArchiveManifest& other) const = default;
};
