#pragma once

#include "FakeClock.h"
#include "FaultInjectingFileSystem.h"
#include "ScratchDir.h"
#include "TreeInventory.h"

#include "archive/CleanArchiveService.h"
#include "model/AppSettings.h"

#include <QByteArray>

#include <memory>

// One throw-away place for a clean-archive test: root/home (the home folder),
// root/archive (the archive folder of the settings), root/tmp (the temporary
// folder restores unpack into) and root/outside (what no archive may touch).
class ArchiveSandbox
{
public:
    ArchiveSandbox();

    bool isValid() const { return m_root.isValid(); }
    const QByteArray& root() const { return m_root.path(); }
    QByteArray path(const QByteArray& relative) const { return m_root.filePath(relative); }
    FilePath home() const { return m_root.nativePath("home"); }
    FilePath archiveRoot() const { return m_root.nativePath("archive"); }
    FilePath temporary() const { return m_root.nativePath("tmp"); }
    QByteArray outside() const { return m_root.filePath("outside"); }
    FilePath cleanArchives() const { return archiveRoot().child(QByteArrayLiteral("CleanArchives")); }

    ScratchDir& scratch() { return m_root; }
    QByteArray writeHome(const QByteArray& relative, const QByteArray& content, unsigned mode = 0644)
    {
        return m_root.writeFile("home/" + relative, content, mode);
    }

    // The settings with the sandbox's archive folder.
    AppSettings settings(bool compress) const;
    CleanArchiveService service(const QString& tar = CleanArchiveCompression::defaultTar) const
    {
        return CleanArchiveService(fs, HomeLayout::original(home()), clock, temporary(), tar);
    }
    CleanArchiveService serviceFor(const FilePath& otherHome) const
    {
        return CleanArchiveService(fs, HomeLayout::original(otherHome), clock, temporary());
    }

    // A hand-made archive folder CleanArchives/id holding manifest.json with
    // exactly these bytes. Returns the folder.
    FilePath makeArchive(const QByteArray& id, const QByteArray& manifestJson);
    // Its summary as listed, or an empty one (and a failed check) when the
    // listing leaves it out.
    std::optional<CleanArchiveSummary> listed(const QByteArray& id) const;

    // Everything in the sandbox but the home folder.
    TreeInventory outsideHome() const
    {
        return TreeInventory::take(m_root.path(), {QByteArrayLiteral("home")});
    }
    TreeInventory homeInventory() const { return TreeInventory::take(home().native()); }

    std::shared_ptr<FaultInjectingFileSystem> fs;
    std::shared_ptr<FakeClock> clock;

private:
    ScratchDir m_root;
};

// A manifest for hand-made archives: one entry per (relativePath, isDirectory,
// sha256 or empty), packed or not.
QByteArray manifestJson(const QList<CleanArchiveEntry>& entries, bool packed,
                        const std::optional<QString>& compressedSHA256 = std::nullopt,
                        const std::optional<QString>& archiveFileName = std::nullopt);

// SHA-256 of data computed apart from the code under test (Qt's own).
QByteArray independentSha256(const QByteArray& data);
