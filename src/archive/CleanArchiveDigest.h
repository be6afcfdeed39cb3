#pragma once

#include "base/FilePath.h"
#include "platform/FileSystem.h"

#include <QByteArray>
#include <QList>

#include <optional>

// The digests and sizes a clean archive records for its entries.
//
// File digest: SHA-256 of the whole content, 64 lower-case hex digits.
// Folder digest: for every regular file below the folder (hidden files and
// folders skipped, links not followed) the line "relative/path<TAB>digest";
// the lines sorted byte-wise, joined with "\n" (none after the last), and the
// SHA-256 of that text.
//
// Nothing here follows a symbolic link: a link where a folder or file was
// expected is not read through.
class CleanArchiveDigest
{
public:
    explicit CleanArchiveDigest(FileSystemPtr fileSystem);

    // Nothing when the file cannot be read (or is not a regular file).
    std::optional<QByteArray> fileDigest(const FilePath& file) const;
    // Nothing when the folder or anything in it cannot be read.
    std::optional<QByteArray> directoryDigest(const FilePath& folder) const;
    // A folder: the allocated size of everything in it except folders
    // (hidden items skipped), or the length where the allocated size is not
    // known. A file: its length. 0 when unavailable.
    qint64 entrySize(const FilePath& path) const;

    // The digest of a folder from the lines of its files (any order).
    static QByteArray digestOfLines(QList<QByteArray> lines);
    static QByteArray line(const QByteArray& relativePath, const QByteArray& fileDigest);

    // Hashes an open file from its current offset to the end; nothing on a
    // read failure. buffer is scratch space, reused by the caller.
    static std::optional<QByteArray> digestOfDescriptor(int fd, QByteArray* buffer);

private:
    bool collect(int dirFd, const QByteArray& path, const QByteArray& relative, QList<QByteArray>* lines,
                 QByteArray* buffer) const;
    qint64 sizeBelow(int dirFd, const QByteArray& path, int depth = 0) const;

    FileSystemPtr m_fs;
};
