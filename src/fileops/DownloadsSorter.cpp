#include "DownloadsSorter.h"

#include "ItemTransfer.h"
#include "platform/ScopedDirectory.h"

#include <QFile>
#include <QtConcurrent/QtConcurrentRun>

#include <cerrno>
#include <map>

namespace {

// The last extension of a name, as written, or empty. A leading dot starts a
// hidden name, not an extension, and a trailing dot has nothing after it.
struct NameParts
{
    QByteArray base;
    QByteArray extension;
};

NameParts splitName(const QByteArray& name)
{
    const qsizetype dot = name.lastIndexOf('.');
    if (dot <= 0 || dot + 1 >= name.size()) {
        return {name, {}};
    }
    return {name.left(dot), name.mid(dot + 1)};
}

QSet<QString> textSet(std::initializer_list<const char*> words)
{
    QSet<QString> set;
    for (const char* word : words) {
        set.insert(QString::fromLatin1(word));
    }
    return set;
}

} // namespace

const QSet<QString>& DownloadsSorter::videoExtensions()
{
    static const QSet<QString> set = textSet({"mp4", "mov", "avi", "mkv", "m4v", "wmv", "webm", "flv", "mpeg", "mpg"});
    return set;
}

const QSet<QString>& DownloadsSorter::archiveExtensions()
{
    static const QSet<QString> set = textSet({"zip", "rar", "7z", "tar", "gz", "bz2", "xz"});
    return set;
}

const QSet<QString>& DownloadsSorter::documentExtensions()
{
    static const QSet<QString> set = textSet(
        {"pdf", "doc", "docx", "xls", "xlsx", "ppt", "pptx", "txt", "pages", "numbers", "key", "rtf", "csv"});
    return set;
}

const QSet<QString>& DownloadsSorter::audioExtensions()
{
    static const QSet<QString> set = textSet({"mp3", "wav", "aiff", "m4a", "flac", "aac", "ogg"});
    return set;
}

const QSet<QString>& DownloadsSorter::imageExtensions()
{
    static const QSet<QString> set = textSet({"jpg", "jpeg", "png", "gif", "webp", "heic", "psd", "tiff", "bmp", "svg"});
    return set;
}

const QSet<QString>& DownloadsSorter::codeExtensions()
{
    static const QSet<QString> set = textSet({"swift", "js", "ts", "py", "json", "html", "css", "php", "rb", "go", "rs",
                                              "java", "c", "cpp", "h", "sh", "yaml", "yml", "xml"});
    return set;
}

DownloadsSorter::DownloadsSorter(FileSystemPtr fileSystem, QSet<QString> installerExtensions)
    : m_fs(std::move(fileSystem))
    , m_installerExtensions(std::move(installerExtensions))
{
}

QFuture<SortResult> DownloadsSorter::sortDownloads(const FilePath& downloads) const
{
    const DownloadsSorter self = *this;
    return QtConcurrent::run([self, downloads] { return self.sortSync(downloads); });
}

QString DownloadsSorter::bucketName(const FilePath& file) const
{
    const QString extension = QString::fromUtf8(splitName(file.fileNameNative()).extension).toLower();
    if (videoExtensions().contains(extension)) {
        return QStringLiteral("Video");
    }
    if (m_installerExtensions.contains(extension)) {
        return QStringLiteral("Installers");
    }
    if (archiveExtensions().contains(extension)) {
        return QStringLiteral("Archives");
    }
    if (documentExtensions().contains(extension)) {
        return QStringLiteral("Documents");
    }
    if (audioExtensions().contains(extension)) {
        return QStringLiteral("Audio");
    }
    if (imageExtensions().contains(extension)) {
        return QStringLiteral("Images");
    }
    if (codeExtensions().contains(extension)) {
        return QStringLiteral("Code");
    }
    return QStringLiteral("Other");
}

bool DownloadsSorter::exists(const FilePath& path) const
{
    FileStat st;
    return m_fs->stat(path.native(), false, &st);
}

FilePath DownloadsSorter::uniqueURL(const FilePath& target) const
{
    if (!exists(target)) {
        return target;
    }
    const FilePath folder = target.parent();
    const NameParts parts = splitName(target.fileNameNative());
    for (qint64 n = 2;; ++n) {
        QByteArray name = parts.base + '_' + QByteArray::number(n);
        if (!parts.extension.isEmpty()) {
            name += '.' + parts.extension;
        }
        const FilePath candidate = folder.child(name);
        if (!exists(candidate)) {
            return candidate;
        }
    }
}

SortResult DownloadsSorter::sortSync(const FilePath& downloads) const
{
    SortResult result;
    // No folder (the user disabled Downloads) must not become a relative one.
    if (downloads.isEmpty()) {
        result.errors.append(QStringLiteral("Не удалось прочитать Downloads"));
        return result;
    }
    // The Downloads folder is the trusted root (it may itself be a link the
    // user made); below it nothing is followed: "_Sorted" and its buckets are
    // opened from their parents with O_NOFOLLOW and every move is a rename
    // between two open folders, so a link swapped in cannot send a file
    // elsewhere.
    const FilePath sortedRoot = downloads.child(sortedRootName);
    // A missing Downloads is made with it, empty.
    ItemTransfer(m_fs).makePath(sortedRoot);
    const ScopedDirectory folder(*m_fs, m_fs->openDirectory(FileSystem::CurrentDirectory,
                                                            downloads.native().constData(), downloads.native()));
    QList<DirEntry> children;
    if (!folder.isOpen() || !m_fs->listDirectory(downloads.native(), &children)) {
        result.errors.append(QStringLiteral("Не удалось прочитать Downloads"));
        return result;
    }
    const QByteArray sortedRootNative = QFile::encodeName(sortedRootName);
    const auto openFolder = [this](int parent, const QByteArray& name, const QByteArray& path, ScopedDirectory* out) {
        const int made = m_fs->makeDirectoryAt(parent, name.constData(), path, 0755);
        if (made && made != EEXIST) {
            return made;
        }
        return m_fs->openDirectoryNoFollow(parent, name.constData(), path, out->receive());
    };
    // A folder that cannot be made or opened shows up as the failed move
    // into it, with its reason; the next file tries again.
    ScopedDirectory sorted(*m_fs);
    std::map<QString, ScopedDirectory> buckets;
    for (const DirEntry& child : children) {
        if (child.name == sortedRootNative) {
            continue;
        }
        // A link to a folder is no folder here: the link itself is filed.
        if (child.statOk && child.stat.isDirectory) {
            ++result.skipped;
            continue;
        }
        const FilePath source = downloads.child(child.name);
        const QString bucket = bucketName(source);
        const FilePath bucketFolder = sortedRoot.child(bucket);
        auto found = buckets.find(bucket);
        int error = sorted.isOpen() ? 0 : openFolder(folder.get(), sortedRootNative, sortedRoot.native(), &sorted);
        if (!error && found == buckets.end()) {
            ScopedDirectory opened(*m_fs);
            error = openFolder(sorted.get(), QFile::encodeName(bucket), bucketFolder.native(), &opened);
            if (!error) {
                found = buckets.emplace(bucket, std::move(opened)).first;
            }
        }
        if (!error) {
            const QByteArray target = uniqueName(found->second.get(), bucketFolder, child.name);
            error = m_fs->renameAt(folder.get(), child.name.constData(), source.native(), found->second.get(),
                                   target.constData(), bucketFolder.child(target).native(), true);
        }
        if (error == 0) {
            ++result.moved;
            ++result.byBucket[bucket];
        } else {
            ++result.failed;
            result.errors.append(source.fileName() + QStringLiteral(": ") + ItemTransfer::describe(error));
        }
    }
    return result;
}

QByteArray DownloadsSorter::uniqueName(int folderFd, const FilePath& folder, const QByteArray& name) const
{
    const auto taken = [&](const QByteArray& candidate) {
        FileStat st;
        return m_fs->statAt(folderFd, candidate.constData(), folder.child(candidate).native(), false, &st);
    };
    if (!taken(name)) {
        return name;
    }
    const NameParts parts = splitName(name);
    for (qint64 n = 2;; ++n) {
        QByteArray candidate = parts.base + '_' + QByteArray::number(n);
        if (!parts.extension.isEmpty()) {
            candidate += '.' + parts.extension;
        }
        if (!taken(candidate)) {
            return candidate;
        }
    }
}
