#pragma once

#include "base/FilePath.h"

#include <QDateTime>
#include <QTemporaryDir>

#include <optional>

// A throw-away home folder with real files. Files are written with real bytes
// (not sparse), so their allocated size is their length rounded up to the
// file system's block.
class TempHome
{
public:
    TempHome();
    // Removes the tree by native paths: QDir cannot reach names that are not valid UTF-8.
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    FilePath home() const { return FilePath::fromString(m_dir.path()); }
    QString filePath(const QString& relative) const;
    FilePath nativePath(const QByteArray& relative) const;

    // Parents are created as needed. Returns the absolute path.
    QString makeFile(const QString& relative, qint64 size, std::optional<QDateTime> modified = std::nullopt);
    // For names that are not valid UTF-8.
    FilePath makeFileNative(const QByteArray& relative, qint64 size);
    QString makeDir(const QString& relative, std::optional<QDateTime> modified = std::nullopt);
    QString makeSymlink(const QString& target, const QString& relative);
    static bool setModified(const QString& absolutePath, const QDateTime& modified);

private:
    QTemporaryDir m_dir;
};
