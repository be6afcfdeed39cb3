#pragma once

#include "base/FilePath.h"
#include "base/Outcome.h"
#include "platform/FileSystem.h"

#include <QString>

#include <optional>

// What an update image may hold at most.
struct UpdateImageLimits
{
    qint64 maxEntries = 20000;
    qint64 maxUnpackedBytes = qint64(1) << 30;
};

// Unpacks an update image (a .tar.zst) into a fresh folder: the "mount" of
// the image on Linux. The archive is read member by member (the zstd program
// decompresses it into a pipe) and each member is written here, never by
// tar, so that nothing unexpected can be created:
// - absolute names, ".." components, hard links, devices, FIFOs and unknown
//   member types are refused, as are set-uid, set-gid and sticky bits;
// - a symbolic link must stay inside the tree (relative, its ".." only
//   leading and no deeper than the link itself);
// - nothing is written through a link or over an existing entry (every folder
//   is opened without following links, every file created exclusively);
// - the number of members and the unpacked size are capped.
// The first refusal stops the extraction; the caller removes the folder.
class UpdateImageExtractor
{
public:
    using Limits = UpdateImageLimits;

    explicit UpdateImageExtractor(FileSystemPtr fileSystem, Limits limits = Limits(),
                                  QString zstd = QStringLiteral("/usr/bin/zstd"));

    // On failure, why the image could not be unpacked (without the leading
    // "could not mount" text).
    Outcome<void> extract(const QString& image, const FilePath& destination) const;

    // Whether a link at linkDepth folders below the root, pointing at
    // target, stays inside the tree.
    static bool isContainedLinkTarget(const QByteArray& target, int linkDepth);

private:
    // The folder's descriptor, its missing parts made on the way.
    Outcome<int> openFolder(int rootFd, const QByteArray& rootPath, const QList<QByteArray>& components) const;

    FileSystemPtr m_fs;
    Limits m_limits;
    QString m_zstd;
};
