#pragma once

#include "base/FilePath.h"
#include "base/Outcome.h"
#include "platform/FileSystem.h"

#include <QString>
#include <QStringList>

#include <optional>

// The packing of clean archives with the system's tar: "tar -caf" picks the
// zstd compression from the ".tar.zst" suffix (GNU tar runs the zstd program
// for it). Each call starts one tar process and waits for it; tar's standard
// output and error go to the null device, so that nothing it prints can fill
// a pipe and block it.
namespace CleanArchiveCompression {

inline const QString defaultTar = QStringLiteral("/usr/bin/tar");

// Runs tar with the arguments; its exit status, or nothing when the process
// could not be started.
std::optional<int> runTar(const QStringList& arguments, const QString& tar = defaultTar);

// Packs the content of sourceDirectory (paths relative to it) into
// archiveFile, replacing a file already there.
Outcome<void> compress(const FileSystemPtr& fs, const FilePath& sourceDirectory, const FilePath& archiveFile,
                       const QString& tar = defaultTar);

// Unpacks archiveFile into destination, which should be a fresh folder of
// its own. An archive with an absolute member name or a ".." component is
// refused before anything is written; tar then extracts without following
// links already in place, without replacing anything it extracted before
// (so a member cannot be written through a link another member made) and
// without taking owners from the archive.
Outcome<void> extract(const FileSystemPtr& fs, const FilePath& archiveFile, const FilePath& destination,
                      const QString& tar = defaultTar);

// Whether a member name, as tar lists it, could land outside the folder it
// is unpacked into.
bool isUnsafeMemberName(const QByteArray& name);

} // namespace CleanArchiveCompression
