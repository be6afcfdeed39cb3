#pragma once

#include "base/FilePath.h"

#include <QHash>
#include <QString>

// Reads the user-dirs file of the freedesktop convention: lines like
// XDG_DOWNLOAD_DIR="$HOME/Загрузки", the value quoted, relative to $HOME or
// absolute. The result maps each usable key to its folder; a key whose value
// is the home folder itself maps to an empty path (the folder is disabled).
// Comments, malformed lines, relative values and values that lead outside
// the home folder are left out, so the caller falls back to the usual name.
// A later line of the same key wins, as it would in the shell.
namespace XdgUserDirs {

// Files beyond this many bytes are read only this far.
constexpr qint64 maximumFileSize = 64 * 1024;

QHash<QString, FilePath> parse(const QByteArray& text, const FilePath& home);
// Empty when the file is missing or unreadable.
QHash<QString, FilePath> read(const FilePath& file, const FilePath& home);

} // namespace XdgUserDirs
