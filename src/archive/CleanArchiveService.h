#pragma once

#include "CleanArchiveCompression.h"
#include "CleanArchiveCreateResult.h"
#include "CleanArchiveProfile.h"
#include "CleanArchiveProgress.h"
#include "CleanArchiveSummary.h"
#include "RestoreResult.h"
#include "base/FilePath.h"
#include "base/Outcome.h"
#include "model/AppSettings.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "scan/HomeLayout.h"
#include "platform/StopRequest.h"

#include <functional>

// Makes clean archives of a data profile of the home folder, lists them and
// restores them into the home folder without overwriting anything.
//
// An archive is a folder <archivePath>/CleanArchives/Brisko_<time> holding a
// payload/ copy of the profile's folders (or, packed, archive.tar.zst) and a
// manifest.json with the size and SHA-256 digest of every entry. The sources
// are only read. A restore puts an entry back only where nothing of that name
// exists, only under the exact name of one child of the home folder, and only
// after its digest matched; it never follows a link that came with the
// archive.
//
// A value type; its calls run on one worker thread at a time (the
// application state's busy guard) and call onProgress on that thread.
class CleanArchiveService
{
public:
    using ProgressHandler = std::function<void(const CleanArchiveProgress&)>;

    static inline const QByteArray rootFolderName = QByteArrayLiteral("CleanArchives");
    static inline const QByteArray payloadFolderName = QByteArrayLiteral("payload");
    static inline const QByteArray manifestFileName = QByteArrayLiteral("manifest.json");
    static inline const QString packedFileName = QStringLiteral("archive.tar.zst");

    // temporaryFolder: where restores unpack archives (the system's temporary
    // folder when empty). tar: the program that packs and unpacks.
    CleanArchiveService(FileSystemPtr fileSystem, HomeLayout layout, ClockPtr clock, FilePath temporaryFolder = {},
                        QString tar = CleanArchiveCompression::defaultTar);

    // Never fails as a whole: what went wrong is in the result's errors.
    // stop is asked between files; once it holds, the partial archive is
    // removed and the result says stopped.
    CleanArchiveCreateResult create(CleanArchiveProfile profile, const AppSettings& settings,
                                    const ProgressHandler& onProgress, const StopRequest& stop = {}) const;
    // Archives with a readable manifest under archiveRoot/CleanArchives,
    // newest first; empty when there is no such folder.
    CleanArchiveSummaryList listArchives(const FilePath& archiveRoot) const;
    // Nothing is unpacked when every entry is already in the home folder.
    // stop is asked before each entry; restored entries stay.
    RestoreResult restore(const CleanArchiveSummary& summary, const ProgressHandler& onProgress,
                          const StopRequest& stop = {}) const;
    // The entries a restore would skip because something of that name is in
    // the home folder already, in manifest order.
    QStringList entriesAlreadyAtHome(const CleanArchiveSummary& summary) const;

    // "CFBundleShortVersionString", or "0.0.0".
    static QString appVersion();

private:
    // The archive folder for a new archive: the time stamp, with "_2", "_3"…
    // added when an archive of the same second is there already.
    FilePath newArchiveFolder(const FilePath& root) const;
    // skippedFolders: device and inode of the archive folder, its clean
    // archives and the archive being made, never copied.
    Outcome<CleanArchiveEntry> copyProfileFolder(CleanArchiveProfile profile, const AppSettings& settings,
                                                 const QByteArray& name, const FilePath& payload,
                                                 const QList<std::pair<quint64, quint64>>& skippedFolders,
                                                 const StopRequest& stop) const;
    void pack(const FilePath& archiveFolder, const FilePath& payload, CleanArchiveManifest* manifest,
              QStringList* errors) const;
    Outcome<void> writeManifest(const FilePath& archiveFolder, const CleanArchiveManifest& manifest) const;
    std::optional<CleanArchiveManifest> readManifest(const FilePath& archiveFolder) const;
    // Restores one entry from sourceRoot; adds to result.
    void restoreEntry(const CleanArchiveEntry& entry, const FilePath& sourceRoot, RestoreResult* result) const;

    FileSystemPtr m_fs;
    HomeLayout m_layout;
    FilePath m_home;
    ClockPtr m_clock;
    FilePath m_temporaryFolder;
    QString m_tar;
};
