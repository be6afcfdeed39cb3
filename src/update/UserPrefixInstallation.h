#pragma once

#include "base/FilePath.h"
#include "base/Outcome.h"
#include "platform/FileSystem.h"

#include <QString>

#include <functional>
#include <optional>

// The per-user installation the program updates itself in:
//   <prefix>/versions/<build>/   one complete application folder per build
//   <prefix>/current             symbolic link "versions/<build>"
//   <prefix>/updates/            downloaded images
// where <prefix> is $XDG_DATA_HOME/brisko-vella (normally
// ~/.local/share/brisko-vella). The launcher runs current/Contents/bin/…
//
// A new build is staged beside the installed ones under a hidden name,
// flushed to disk, checked, renamed to versions/<build>, flushed again, and
// only then does current switch, by renaming a fresh link over it. rename is
// atomic, so after a crash or a full disk at any step current leads to the
// complete old tree or the complete new one, never to a partial one; the
// previous build stays installed. recover() clears what an interrupted
// install left behind. All disk access goes through the FileSystem.
class UserPrefixInstallation
{
public:
    UserPrefixInstallation(FileSystemPtr fileSystem, FilePath prefix);

    static FilePath defaultPrefix();

    const FilePath& prefix() const { return m_prefix; }
    FilePath versionsFolder() const;
    FilePath currentLink() const;
    FilePath updatesFolder() const;
    // The build folder current leads to, or nothing.
    std::optional<QByteArray> currentVersion() const;
    // The path inside a version folder ("Contents/bin/brisko") when path
    // lies in <prefix>/versions/<build>/, else nothing.
    std::optional<QByteArray> pathInsideVersion(const FilePath& path) const;

    // Removes hidden staging folders and temporary links of an interrupted
    // install. Never touches current or the folder it leads to.
    void recover() const;

    // Moves the checked bundle folder in as versions/<build> and switches
    // current to it. checkStaged runs on the staged, flushed copy (a message
    // refuses it with its failure). On failure current and every installed
    // build are as they were.
    Outcome<void> install(const FilePath& bundle, const QByteArray& build,
                          const std::function<Outcome<void>(const FilePath&)>& checkStaged) const;

private:
    int sync(const FilePath& folder) const;
    void removeQuietly(const FilePath& path) const;

    FileSystemPtr m_fs;
    FilePath m_prefix;
};
