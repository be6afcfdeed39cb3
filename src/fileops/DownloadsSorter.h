#pragma once

#include "SortResult.h"
#include "base/FilePath.h"
#include "platform/FileSystem.h"

#include <QFuture>
#include <QSet>
#include <QString>

// Tidies the root of the Downloads folder: every loose file goes into a
// subfolder of "_Sorted" named after its kind. Folders stay where they are,
// nothing below the root is looked at, nothing is deleted.
//
// Every move is a rename that never replaces anything: a name that is taken
// gets a counter, and a move that fails leaves the file where it was. A
// "_Sorted" on another volume than Downloads therefore makes each move fail
// (and be reported) instead of copying.
//
// A value without state, cheap to copy; sortSync runs on the calling thread.
class DownloadsSorter
{
public:
    static inline const QString sortedRootName = QStringLiteral("_Sorted");

    // Extensions are lower case, without the dot. Video lacks "3gp" and "mts"
    // on purpose: those stay in "Other" here even though the scanner counts
    // them as videos.
    static const QSet<QString>& videoExtensions();
    static const QSet<QString>& archiveExtensions();
    static const QSet<QString>& documentExtensions();
    static const QSet<QString>& audioExtensions();
    static const QSet<QString>& imageExtensions();
    static const QSet<QString>& codeExtensions();

    // installerExtensions: lower case, without the dot; the system's own
    // installer types go to "Installers".
    explicit DownloadsSorter(FileSystemPtr fileSystem,
                             QSet<QString> installerExtensions = {QStringLiteral("dmg"), QStringLiteral("pkg")});

    // Runs sortSync on the global thread pool.
    QFuture<SortResult> sortDownloads(const FilePath& downloads) const;
    // An unreadable folder gives the single error "Не удалось прочитать
    // Downloads" and no counts; every other failure is one file's and the
    // run goes on with the next.
    SortResult sortSync(const FilePath& downloads) const;

    // "Video", "Installers", "Archives", "Documents", "Audio", "Images",
    // "Code" or "Other", by the last extension of the name, in any case.
    QString bucketName(const FilePath& file) const;
    // target itself when nothing is there, else the first free one of
    // base_2.ext, base_3.ext, … (base_2 without an extension). A dangling
    // symbolic link counts as taken.
    FilePath uniqueURL(const FilePath& target) const;

private:
    bool exists(const FilePath& path) const;
    // uniqueURL's rule for a name in an open folder.
    QByteArray uniqueName(int folderFd, const FilePath& folder, const QByteArray& name) const;

    FileSystemPtr m_fs;
    QSet<QString> m_installerExtensions;
};
