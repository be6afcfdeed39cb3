#include "CleanArchiveService.h"

#include "CleanArchiveCopier.h"
#include "CleanArchiveDigest.h"
#include "CleanArchiveError.h"
#include "base/DescriptorReader.h"
#include "base/Sha256.h"
#include "fileops/ItemTransfer.h"
#include "platform/ProcessTag.h"
#include "platform/BundleFacts.h"

#include <QDir>
#include <QFile>
#include <QTimeZone>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <thread>

#include <fcntl.h>

namespace {

// A manifest is a few kilobytes; anything far larger is not one of ours.
constexpr qint64 manifestSizeLimit = 16 * 1024 * 1024;

void report(const CleanArchiveService::ProgressHandler& onProgress, bool running, const QString& task, double progress,
            qint64 files)
{
    if (onProgress) {
        onProgress(CleanArchiveProgress{running, task, progress, files});
    }
}

QString displayName(const QByteArray& name)
{
    return QFile::decodeName(name);
}

// Runs on worker threads of a pool: what the digests left with the thread
// goes when the operation ends.
struct ThreadStateRelease
{
    ThreadStateRelease() = default;
    ThreadStateRelease(const ThreadStateRelease&) = delete;
    ThreadStateRelease& operator=(const ThreadStateRelease&) = delete;
    ~ThreadStateRelease() { Sha256::releaseThreadState(); }
};

QByteArray uniqueHiddenName(const char* prefix)
{
    // Tagged with this process, so that a later run sweeps what a kill left.
    return ProcessTag::uniqueName(QByteArray(prefix));
}

} // namespace

CleanArchiveService::CleanArchiveService(FileSystemPtr fileSystem, HomeLayout layout, ClockPtr clock,
                                         FilePath temporaryFolder, QString tar)
    : m_fs(std::move(fileSystem))
    , m_layout(std::move(layout))
    , m_home(m_layout.home())
    , m_clock(std::move(clock))
    , m_temporaryFolder(std::move(temporaryFolder))
    , m_tar(std::move(tar))
{
    if (m_temporaryFolder.isEmpty()) {
        m_temporaryFolder = FilePath::fromString(QDir::tempPath());
    }
}

QString CleanArchiveService::appVersion()
{
    return BundleFacts::infoString(QStringLiteral("CFBundleShortVersionString")).value_or(QStringLiteral("0.0.0"));
}

FilePath CleanArchiveService::newArchiveFolder(const FilePath& root) const
{
    const QByteArray stamp =
        "Brisko_" + m_clock->now().toLocalTime().toString(QStringLiteral("yyyy-MM-dd_HHmmss")).toLatin1();
    // Two archives made within one second must not share (and so overwrite)
    // one folder.
    if (ItemTransfer(m_fs).makePath(root) == 0) {
        for (int attempt = 1; attempt < 1000; ++attempt) {
            const QByteArray name = attempt == 1 ? stamp : stamp + '_' + QByteArray::number(attempt);
            const FilePath folder = root.child(name);
            const int error =
                m_fs->makeDirectoryAt(FileSystem::CurrentDirectory, folder.native().constData(), folder.native(), 0755);
            if (error != EEXIST) {
                return folder;
            }
        }
    }
    return root.child(stamp);
}

CleanArchiveCreateResult CleanArchiveService::create(CleanArchiveProfile profile, const AppSettings& settings,
                                                     const ProgressHandler& onProgress, const StopRequest& stop) const
{
    const ThreadStateRelease release;
    report(onProgress, true, QStringLiteral("Подготовка…"), 0.0, 0);
    const FilePath root = FilePath::fromString(settings.archivePath).child(rootFolderName);

    QList<QByteArray> sources;
    for (const QByteArray& name : CleanArchiveProfiles::homeFolders(profile, m_layout)) {
        if (m_fs->exists(m_home.child(name).native())) {
            sources.append(name);
        }
    }

    const QDateTime now = m_clock->now();
    CleanArchiveManifest manifest;
    manifest.createdAt = QDateTime::fromSecsSinceEpoch(now.toSecsSinceEpoch(), QTimeZone::utc());
    manifest.profile = CleanArchiveProfiles::rawValue(profile);
    manifest.profileTitle = CleanArchiveProfiles::title(profile);
    manifest.homeDirectory = m_home.toString();
    manifest.appVersion = appVersion();

    CleanArchiveCreateResult result;
    if (sources.isEmpty()) {
        report(onProgress, false, QStringLiteral("Нет данных для архива"), 0.0, 0);
        result.archiveURL =
            root.child("Brisko_" + now.toLocalTime().toString(QStringLiteral("yyyy-MM-dd_HHmmss")).toLatin1());
        result.manifest = manifest;
        result.errors.append(QStringLiteral("Не найдены папки профиля «") + manifest.profileTitle
                             + QStringLiteral("»"));
        return result;
    }

    const FilePath archiveFolder = newArchiveFolder(root);
    const FilePath payload = archiveFolder.child(payloadFolderName);
    // The archive folder may lie inside a profile folder (by default it is
    // ~/Movies/Brisko Archive), or be one (~/Documents): the copy must not
    // descend into it, its clean archives or the archive being made, or it
    // would copy itself without end. Known by device and inode, so that no
    // link or second name leads in either.
    QList<std::pair<quint64, quint64>> skippedFolders;
    for (const FilePath& folder : {FilePath::fromString(settings.archivePath), root, archiveFolder}) {
        FileStat st;
        if (!folder.isEmpty() && m_fs->stat(folder.native(), true, &st)) {
            skippedFolders.append({st.device, st.inode});
        }
    }
    result.archiveURL = archiveFolder;
    const qsizetype n = sources.size();
    for (qsizetype i = 0; i < n && !shouldStop(stop); ++i) {
        const QByteArray& name = sources.at(i);
        report(onProgress, true, QStringLiteral("Копирование ") + displayName(name) + QStringLiteral("…"),
               double(i) / double(std::max<qsizetype>(n, 1)), 0);
        if (const int error = ItemTransfer(m_fs).makePath(payload)) {
            result.errors.append(displayName(name) + QStringLiteral(": ") + ItemTransfer::describe(error));
            continue;
        }
        const Outcome<CleanArchiveEntry> entry =
            copyProfileFolder(profile, settings, name, payload, skippedFolders, stop);
        if (!entry) {
            result.errors.append(displayName(name) + QStringLiteral(": ") + entry.message());
            continue;
        }
        manifest.totalBytes += entry->size;
        manifest.entries.append(*entry);
        ++result.copiedFiles;
    }
    if (shouldStop(stop)) {
        // An archive without some of its profile is no archive to restore:
        // nothing of it stays.
        CleanArchiveCopier(m_fs).removeTree(archiveFolder);
        result.stopped = true;
        result.copiedFiles = 0;
        result.manifest = manifest;
        result.manifest.entries.clear();
        result.manifest.totalBytes = 0;
        report(onProgress, false, QStringLiteral("Остановлено"), 1.0, 0);
        return result;
    }

    if (settings.compressCleanArchive) {
        // The tool counts as there when it starts at all, whatever it answers.
        const bool tarAvailable = CleanArchiveCompression::runTar({QStringLiteral("--version")}, m_tar).has_value();
        if (!tarAvailable) {
            result.errors.append(QStringLiteral("tar.zst недоступен — сохранён несжатый payload/"));
        } else if (result.copiedFiles > 0) {
            report(onProgress, true, QStringLiteral("Сжатие tar.zst…"), 0.92, 0);
            pack(archiveFolder, payload, &manifest, &result.errors);
        }
    }

    if (const Outcome<void> written = writeManifest(archiveFolder, manifest); !written) {
        result.errors.append(QStringLiteral("manifest: ") + written.message());
    }
    result.manifest = manifest;
    report(onProgress, false, QStringLiteral("Готово"), 1.0, result.copiedFiles);
    return result;
}

Outcome<CleanArchiveEntry> CleanArchiveService::copyProfileFolder(
    CleanArchiveProfile profile, const AppSettings& settings, const QByteArray& name, const FilePath& payload,
    const QList<std::pair<quint64, quint64>>& skippedFolders, const StopRequest& stop) const
{
    QList<QByteArray> excluded;
    for (const QString& path : settings.excludedPaths) {
        excluded.append(QFile::encodeName(path));
    }
    CleanArchiveCopier::Options options;
    options.digest = true;
    options.followSourceRoot = true;
    const HomeLayout layout = m_layout;
    options.skip = [profile, excluded, skippedFolders, layout, stop](const QByteArray& child, const FileStat& st) {
        // After a stop the rest is skipped; the caller throws the copy away.
        if (shouldStop(stop)) {
            return true;
        }
        if (st.isDirectory && skippedFolders.contains(std::pair(st.device, st.inode))) {
            return true;
        }
        return child.startsWith('.') || child == "node_modules" || excluded.contains(child)
            || (!st.isDirectory && CleanArchiveProfiles::excludesFile(profile, child, layout));
    };
    const CleanArchiveCopier copier(m_fs);
    const FilePath target = payload.child(name);
    const CleanArchiveCopier::Result copied = copier.copy(m_home.child(name), target, options);
    if (!copied.ok()) {
        // What is in the archive is exactly what the manifest lists.
        copier.removeTree(target);
        return Failure{copied.message(), copied.error};
    }
    CleanArchiveEntry entry;
    entry.relativePath = displayName(name);
    entry.size = copied.size;
    entry.isDirectory = copied.isDirectory;
    if (copied.sha256) {
        entry.sha256 = QString::fromLatin1(*copied.sha256);
    }
    return entry;
}

void CleanArchiveService::pack(const FilePath& archiveFolder, const FilePath& payload, CleanArchiveManifest* manifest,
                               QStringList* errors) const
{
    const FilePath archiveFile = archiveFolder.child(packedFileName);
    const CleanArchiveCopier copier(m_fs);
    if (const Outcome<void> packed = CleanArchiveCompression::compress(m_fs, payload, archiveFile, m_tar); !packed) {
        errors->append(QStringLiteral("Сжатие: ") + packed.message());
        // A half-written file beside payload/ would only mislead.
        copier.removeTree(archiveFile);
        return;
    }
    FileStat st;
    const qint64 size = m_fs->stat(archiveFile.native(), false, &st) ? st.size : 0;
    // Removing gigabytes waits on the disk, hashing on the processor: both at once.
    std::thread remover([&copier, &payload] { copier.removeTree(payload); });
    const std::optional<QByteArray> digest = CleanArchiveDigest(m_fs).fileDigest(archiveFile);
    remover.join();
    manifest->compression = QStringLiteral("tar.zst");
    manifest->compressedBytes = size;
    if (digest) {
        manifest->compressedSHA256 = QString::fromLatin1(*digest);
    }
    manifest->archiveFileName = packedFileName;
}

Outcome<void> CleanArchiveService::writeManifest(const FilePath& archiveFolder,
                                                 const CleanArchiveManifest& manifest) const
{
    const FilePath file = archiveFolder.child(manifestFileName);
    int fd = -1;
    if (const int error = m_fs->openFileAt(FileSystem::CurrentDirectory, file.native().constData(), file.native(),
                                           O_WRONLY | O_CREAT | O_EXCL, 0644, &fd)) {
        return Failure{ItemTransfer::describe(error), error};
    }
    const int error = m_fs->writeAll(fd, manifest.toJson(), file.native());
    m_fs->closeFile(fd);
    if (error) {
        return Failure{ItemTransfer::describe(error), error};
    }
    return {};
}

std::optional<CleanArchiveManifest> CleanArchiveService::readManifest(const FilePath& archiveFolder) const
{
    const FilePath file = archiveFolder.child(manifestFileName);
    FileStat st;
    if (!m_fs->stat(file.native(), false, &st) || !st.isRegular || st.size > manifestSizeLimit) {
        return std::nullopt;
    }
    int fd = -1;
    if (m_fs->openFileAt(FileSystem::CurrentDirectory, file.native().constData(), file.native(), O_RDONLY, 0, &fd)) {
        return std::nullopt;
    }
    QByteArray content(manifestSizeLimit + 1, Qt::Uninitialized);
    qint64 total = 0;
    {
        DescriptorReader reader(fd);
        for (;;) {
            const qint64 n = reader.read(content.data() + total, content.size() - total);
            if (n <= 0) {
                total = n < 0 ? -1 : total;
                break;
            }
            total += n;
            if (total == content.size()) {
                total = -1;
                break;
            }
        }
    }
    m_fs->closeFile(fd);
    if (total < 0) {
        return std::nullopt;
    }
    content.truncate(total);
    return CleanArchiveManifest::fromJson(content);
}

CleanArchiveSummaryList CleanArchiveService::listArchives(const FilePath& archiveRoot) const
{
    const FilePath root = archiveRoot.child(rootFolderName);
    QList<DirEntry> children;
    if (!m_fs->listDirectory(root.native(), &children)) {
        return {};
    }
    CleanArchiveSummaryList archives;
    for (const DirEntry& child : children) {
        if (!child.statOk || !child.stat.isDirectory) {
            continue;
        }
        const FilePath folder = root.child(child.name);
        if (const std::optional<CleanArchiveManifest> manifest = readManifest(folder)) {
            archives.append(CleanArchiveSummary{displayName(child.name), folder, *manifest});
        }
    }
    std::stable_sort(archives.begin(), archives.end(), [](const CleanArchiveSummary& a, const CleanArchiveSummary& b) {
        return a.manifest.createdAt > b.manifest.createdAt;
    });
    return archives;
}

RestoreResult CleanArchiveService::restore(const CleanArchiveSummary& summary, const ProgressHandler& onProgress,
                                           const StopRequest& stop) const
{
    const ThreadStateRelease release;
    report(onProgress, true, QStringLiteral("Восстановление…"), 0.0, 0);
    RestoreResult result;
    const CleanArchiveManifest& manifest = summary.manifest;
    const CleanArchiveCopier copier(m_fs);
    const auto finish = [&](const std::optional<QString>& wholeArchiveError) {
        if (wholeArchiveError) {
            result = RestoreResult{0, 0, 1, {*wholeArchiveError}};
        }
        // Also after a whole-archive failure: the operation is over either way.
        report(onProgress, false, QStringLiteral("Готово"), 1.0, 0);
        return result;
    };

    // Unpacking gigabytes only to skip every entry helps nobody.
    if (!manifest.entries.isEmpty() && entriesAlreadyAtHome(summary).size() == manifest.entries.size()) {
        result.skipped = manifest.entries.size();
        return finish(std::nullopt);
    }

    FilePath sourceRoot = summary.url.child(payloadFolderName);
    FilePath extracted;
    if (manifest.compression == QLatin1String("tar.zst")) {
        const QString fileName = manifest.archiveFileName.value_or(packedFileName);
        if (!CleanArchiveEntry::isSafeRelativePath(fileName)) {
            return finish(QStringLiteral("Недопустимое имя файла архива в manifest.json: «") + fileName
                          + QStringLiteral("»"));
        }
        const FilePath archiveFile = summary.url.child(fileName);
        FileStat st;
        if (!m_fs->stat(archiveFile.native(), false, &st) || !st.isRegular) {
            return finish(QStringLiteral("Файл archive.tar.zst не найден"));
        }
        if (manifest.compressedSHA256) {
            const std::optional<QByteArray> digest = CleanArchiveDigest(m_fs).fileDigest(archiveFile);
            if (!digest || QString::fromLatin1(*digest).compare(*manifest.compressedSHA256, Qt::CaseInsensitive) != 0) {
                return finish(CleanArchiveErrors::description(CleanArchiveError::integrityFailed));
            }
        }
        report(onProgress, true, QStringLiteral("Распаковка tar.zst…"), 0.0, 0);
        extracted = m_temporaryFolder.child("BriskoRestore-"
                                            + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1());
        // A folder of its own, made here and now: tar unpacks into nothing
        // that was there before.
        int error = ItemTransfer(m_fs).makePath(m_temporaryFolder);
        if (!error) {
            error = m_fs->makeDirectoryAt(FileSystem::CurrentDirectory, extracted.native().constData(),
                                          extracted.native(), 0700);
        }
        if (error) {
            return finish(CleanArchiveErrors::description(CleanArchiveError::extractionFailed));
        }
        // tar gives the top folder of the unpacked tree the archive's
        // permissions; one level down, the folder made here stays private to
        // the user while it holds the data.
        sourceRoot = extracted.child(payloadFolderName);
        if (const Outcome<void> unpacked = CleanArchiveCompression::extract(m_fs, archiveFile, sourceRoot, m_tar);
            !unpacked) {
            copier.removeTree(extracted);
            return finish(unpacked.message());
        }
    }

    const qsizetype n = manifest.entries.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (shouldStop(stop)) {
            result.stopped = true;
            break;
        }
        const CleanArchiveEntry& entry = manifest.entries.at(i);
        report(onProgress, true, QStringLiteral("Восстановление ") + entry.relativePath + QStringLiteral("…"),
               double(i) / double(std::max<qsizetype>(n, 1)), 0);
        restoreEntry(entry, sourceRoot, &result);
    }
    if (!extracted.isEmpty()) {
        copier.removeTree(extracted);
    }
    return finish(std::nullopt);
}

QStringList CleanArchiveService::entriesAlreadyAtHome(const CleanArchiveSummary& summary) const
{
    QStringList present;
    for (const CleanArchiveEntry& entry : summary.manifest.entries) {
        FileStat existing;
        if (CleanArchiveEntry::isSafeRelativePath(entry.relativePath)
            && m_fs->stat(m_home.child(QFile::encodeName(entry.relativePath)).native(), false, &existing)) {
            present.append(entry.relativePath);
        }
    }
    return present;
}

void CleanArchiveService::restoreEntry(const CleanArchiveEntry& entry, const FilePath& sourceRoot,
                                       RestoreResult* result) const
{
    const QString& relative = entry.relativePath;
    const auto fail = [&](const QString& message) {
        ++result->failed;
        result->errors.append(message);
    };
    if (!CleanArchiveEntry::isSafeRelativePath(relative)) {
        fail(QStringLiteral("«") + relative
             + QStringLiteral("»: недопустимый путь в manifest.json (должно быть имя одной папки в домашней папке)"));
        return;
    }
    const QByteArray name = QFile::encodeName(relative);
    const FilePath source = sourceRoot.child(name);
    const FilePath destination = m_home.child(name);
    FileStat sourceStat;
    if (!m_fs->stat(source.native(), false, &sourceStat)) {
        fail(relative + QStringLiteral(": нет в архиве"));
        return;
    }
    FileStat existing;
    if (m_fs->stat(destination.native(), false, &existing)) {
        ++result->skipped;
        return;
    }
    // What the manifest calls a folder must be a real folder, a file a real
    // file: a link in its place would lead the copy elsewhere.
    if (entry.isDirectory ? !sourceStat.isDirectory : !sourceStat.isRegular) {
        fail(relative
             + (entry.isDirectory ? QStringLiteral(": в архиве не папка") : QStringLiteral(": в архиве не файл")));
        return;
    }
    if (const int error = ItemTransfer(m_fs).makePath(m_home)) {
        fail(relative + QStringLiteral(": ") + ItemTransfer::describe(error));
        return;
    }
    // The copy is made and checked under a hidden name and only then given
    // its own, without replacing anything that appeared meanwhile.
    const CleanArchiveCopier copier(m_fs);
    const FilePath partial = m_home.child(uniqueHiddenName(".brisko-restore-"));
    CleanArchiveCopier::Options options;
    // Set-user and set-group bits do not come back from an archive.
    options.permissionMask = 01777;
    const CleanArchiveCopier::Result copied = copier.copy(source, partial, options);
    if (!copied.ok()) {
        copier.removeTree(partial);
        fail(relative + QStringLiteral(": ") + ItemTransfer::describe(copied.error));
        return;
    }
    if (entry.sha256) {
        const CleanArchiveDigest digests(m_fs);
        const std::optional<QByteArray> digest =
            entry.isDirectory ? digests.directoryDigest(partial) : digests.fileDigest(partial);
        if (!digest || QString::fromLatin1(*digest) != *entry.sha256) {
            copier.removeTree(partial);
            fail(relative + QStringLiteral(": SHA256 не совпадает"));
            return;
        }
    }
    const int renamed =
        m_fs->renameAt(FileSystem::CurrentDirectory, partial.native().constData(), partial.native(),
                       FileSystem::CurrentDirectory, destination.native().constData(), destination.native(), true);
    if (renamed == EEXIST) {
        copier.removeTree(partial);
        ++result->skipped;
        return;
    }
    if (renamed) {
        copier.removeTree(partial);
        fail(relative + QStringLiteral(": ") + ItemTransfer::describe(renamed));
        return;
    }
    ++result->restored;
}
