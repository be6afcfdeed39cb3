#include "DownloadsSorter.h"

#include "ItemTransfer.h"

#include <QFile>
#include <QtConcurrent/QtConcurrentRun>

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
    const ItemTransfer folders(m_fs);
    const FilePath sortedRoot = downloads.child(sortedRootName);
    // A folder that cannot be made shows up as the failed moves into it, each
    // with its reason; nothing more to say here.
    folders.makePath(sortedRoot);

    QList<DirEntry> children;
    if (!m_fs->listDirectory(downloads.native(), &children)) {
        result.errors.append(QStringLiteral("Не удалось прочитать Downloads"));
        return result;
    }
    const QByteArray sortedRootNative = QFile::encodeName(sortedRootName);
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
        folders.makePath(bucketFolder);
        FilePath target = bucketFolder.child(child.name);
        if (exists(target)) {
            target = uniqueURL(target);
        }
        const int error =
            m_fs->renameAt(FileSystem::CurrentDirectory, source.native().constData(), source.native(),
                           FileSystem::CurrentDirectory, target.native().constData(), target.native(), true);
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
