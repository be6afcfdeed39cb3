#include "CleanArchiveCompression.h"

#include "CleanArchiveError.h"
#include "fileops/ItemTransfer.h"

#include <QFile>
#include <QProcess>
#include <QThread>

namespace {

QString pathArgument(const FilePath& path)
{
    return QFile::decodeName(path.native());
}

// Starts tar with its input from the null device; output goes to outputFile,
// or is collected when outputFile is empty and collect is given.
std::optional<int> startAndWait(const QString& tar, const QStringList& arguments, QByteArray* collect,
                                const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProgram(tar);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (!collect) {
        process.setStandardOutputFile(QProcess::nullDevice());
    }
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(-1)) {
        return std::nullopt;
    }
    if (collect) {
        // Read as it comes: a long listing must not wait on a full pipe.
        while (process.state() != QProcess::NotRunning) {
            process.waitForReadyRead(-1);
            collect->append(process.readAllStandardOutput());
        }
        collect->append(process.readAllStandardOutput());
    } else {
        process.waitForFinished(-1);
    }
    if (process.exitStatus() != QProcess::NormalExit) {
        return -1;
    }
    return process.exitCode();
}

} // namespace

std::optional<int> CleanArchiveCompression::runTar(const QStringList& arguments, const QString& tar)
{
    return startAndWait(tar, arguments, nullptr);
}

bool CleanArchiveCompression::isUnsafeMemberName(const QByteArray& name)
{
    if (name.startsWith('/')) {
        return true;
    }
    for (const QByteArray& component : name.split('/')) {
        if (component == "..") {
            return true;
        }
    }
    return false;
}

Outcome<void> CleanArchiveCompression::compress(const FileSystemPtr& fs, const FilePath& sourceDirectory,
                                                const FilePath& archiveFile, const QString& tar)
{
    FileStat st;
    if (fs->stat(archiveFile.native(), false, &st)) {
        if (const int error = fs->removeAt(FileSystem::CurrentDirectory, archiveFile.native().constData(),
                                           archiveFile.native(), st.isDirectory)) {
            return Failure{ItemTransfer::describe(error), error};
        }
    }
    if (const int error = ItemTransfer(fs).makePath(archiveFile.parent())) {
        return Failure{ItemTransfer::describe(error), error};
    }
    // --force-local: a colon in the path must not make tar look for a remote
    // host. The POSIX format keeps modification times to the nanosecond (the
    // default one only to the second) and names of any length.
    // zstd compresses on every core when it is told so; it is what the
    // packing waits for on a large archive.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!environment.contains(QStringLiteral("ZSTD_NBTHREADS"))) {
        environment.insert(QStringLiteral("ZSTD_NBTHREADS"), QString::number(QThread::idealThreadCount()));
    }
    const std::optional<int> status =
        startAndWait(tar,
                     {QStringLiteral("--force-local"), QStringLiteral("--format=posix"), QStringLiteral("-caf"),
                      pathArgument(archiveFile), QStringLiteral("-C"), pathArgument(sourceDirectory),
                      QStringLiteral(".")},
                     nullptr, environment);
    if (!status || *status != 0) {
        return Failure{CleanArchiveErrors::description(CleanArchiveError::compressionFailed)};
    }
    return {};
}

Outcome<void> CleanArchiveCompression::extract(const FileSystemPtr& fs, const FilePath& archiveFile,
                                               const FilePath& destination, const QString& tar)
{
    const Failure failed{CleanArchiveErrors::description(CleanArchiveError::extractionFailed)};
    if (const int error = ItemTransfer(fs).makePath(destination)) {
        return Failure{failed.message, error};
    }
    // GNU tar on its own strips a leading "/" and skips ".." members with a
    // warning; an archive that holds such names was not made by us and is
    // refused as a whole. Names are listed escaped, so a line is one name.
    QByteArray listing;
    const std::optional<int> listed =
        startAndWait(tar,
                     {QStringLiteral("--force-local"), QStringLiteral("--quoting-style=escape"), QStringLiteral("-taf"),
                      pathArgument(archiveFile)},
                     &listing);
    if (!listed || *listed != 0) {
        return failed;
    }
    for (const QByteArray& name : listing.split('\n')) {
        if (isUnsafeMemberName(name)) {
            return failed;
        }
    }
    const std::optional<int> status =
        runTar({QStringLiteral("--force-local"), QStringLiteral("-xaf"), pathArgument(archiveFile),
                QStringLiteral("-C"), pathArgument(destination), QStringLiteral("--no-same-owner"),
                QStringLiteral("--preserve-permissions"), QStringLiteral("--keep-old-files")},
               tar);
    if (!status || *status != 0) {
        return failed;
    }
    return {};
}
