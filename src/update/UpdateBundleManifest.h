#pragma once

#include "base/FilePath.h"
#include "base/Outcome.h"
#include "platform/FileSystem.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>

// The signed list of an update bundle ("Brisko Vella.app"): the bundle's
// identity and every file (with its SHA-256) and symbolic link (with its
// target) below the bundle, by path relative to it. The list lies in
// Contents/_CodeSignature/CodeResources.json and its Ed25519 signature in
// CodeResources.sig beside it; those two are the only entries not listed.
// Folders are implied by the paths.
struct UpdateBundleManifest
{
    QString identifier;
    QString version;
    QString build;
    QMap<QByteArray, QByteArray> files;
    QMap<QByteArray, QByteArray> links;

    static inline const QByteArray infoPath = QByteArrayLiteral("Contents/Info.json");
    static inline const QByteArray signatureFolder = QByteArrayLiteral("Contents/_CodeSignature");
    static inline const QByteArray manifestPath = QByteArrayLiteral("Contents/_CodeSignature/CodeResources.json");
    static inline const QByteArray signaturePath = QByteArrayLiteral("Contents/_CodeSignature/CodeResources.sig");
    // Larger lists or Info.json files are not read.
    static constexpr qint64 maxManifestBytes = qint64(16) << 20;

    // Compact JSON with sorted keys: the bytes that are signed.
    QByteArray encode() const;
    static std::optional<UpdateBundleManifest> decode(const QByteArray& json);

    // Lists the files and links below bundle (identity left empty). Fails for
    // anything else (devices, FIFOs, sockets) and for names that are not
    // UTF-8.
    static Outcome<UpdateBundleManifest> scan(const FileSystemPtr& fs, const FilePath& bundle);
    // Reads a whole regular file without following a link; nothing when it
    // cannot be read or is larger than maxBytes.
    static std::optional<QByteArray> readFile(const FileSystemPtr& fs, const QByteArray& path, qint64 maxBytes);
    bool sameContentAs(const UpdateBundleManifest& other) const { return files == other.files && links == other.links; }
};
