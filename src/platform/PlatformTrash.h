#pragma once

#include "TrustedRoots.h"

#include "Clock.h"
#include "FileSystem.h"
#include "Trash.h"

#include <QDateTime>

class ScopedDirectory;

// The freedesktop.org Trash.
//
// Items on the volume of the home trash ($XDG_DATA_HOME/Trash) go there, with
// the absolute path in their record. Items on any other volume go to a trash
// at the top of that volume (its mount point, found by walking up the item's
// real path while the device stays the same): $topdir/.Trash/$uid when the
// administrator provided a sticky .Trash that is not a link, else
// $topdir/.Trash-$uid. Their record holds the path relative to $topdir, so the
// trash stays valid when the volume is mounted elsewhere. Missing trash folders
// are created with mode 0700; a volume trash folder that other users may write
// into is not used, since they could empty or replace what we put there.
//
// For each item the record info/NAME.trashinfo is created first, exclusively,
// which reserves NAME in both info/ and files/; then the item is renamed to
// files/NAME without replacing anything. A clash in either folder moves on to
// the next name ("report.2.pdf", "report.3.pdf", …). If the rename fails the
// record is removed again and the item stays where it was. There is no copy
// across volumes and no deletion as a fallback.
//
// Every access goes through the FileSystem handed in, so tests can put the
// trash in a temporary folder and inject faults.
class PlatformTrash : public Trash
{
public:
    // dataHome is $XDG_DATA_HOME, normally ~/.local/share; it need not exist.
    // The clock dates the records (local time). roots are the home
    // and the cache folder: an item below one is reached from it folder by folder
    // without following links, so that a folder swapped for a link cannot
    // redirect the move.
    PlatformTrash(FilePath dataHome, FileSystemPtr fileSystem, ClockPtr clock = {}, TrustedRoots roots = {});

    // $XDG_DATA_HOME when it is set to an absolute path, else $HOME/.local/share.
    static FilePath defaultDataHome();

    TrashResult moveToTrash(const FilePath& item) const override;

    FilePath homeTrashPath() const;

    // The record's Path= value: every byte except the unreserved characters
    // of RFC 2396 and "/" written as %XX (upper-case hexadecimal), so that
    // any name, UTF-8 or not, survives.
    static QByteArray encodePath(const QByteArray& path);
    // The whole record: "[Trash Info]", Path= and DeletionDate= in local time
    // as YYYY-MM-DDThh:mm:ss.
    static QByteArray infoContents(const QByteArray& encodedPath, const QDateTime& deletedAt);
    // The name tried in files/ and info/ on the given attempt (1 = the item's
    // own name), shortened where needed so that NAME.trashinfo fits in a
    // file name.
    static QByteArray trashName(const QByteArray& name, int attempt);

private:
    struct OpenTrash;

    QString openHomeTrash(OpenTrash* trash) const;
    QString openVolumeTrash(quint64 device, const QByteArray& parentPath, OpenTrash* trash) const;
    int openOrCreate(int dirFd, const QByteArray& name, const QByteArray& fullPath, ScopedDirectory* out) const;
    int openTrashFolders(OpenTrash* trash) const;
    bool isHomeTrashDevice(quint64 device) const;
    bool isPrivateFolder(int fd, const QByteArray& path) const;
    bool isAncestorOrSelf(const FileStat& candidate, int dirFd, const QByteArray& path) const;
    int canonicalPath(const QByteArray& path, QByteArray* out) const;

    FilePath m_dataHome;
    FileSystemPtr m_fs;
    ClockPtr m_clock;
    TrustedRoots m_roots;
};
