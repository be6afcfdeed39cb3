#pragma once

#include <QByteArray>

// A temporary folder addressed by native bytes. QTemporaryDir removes its tree
// through QString paths, which cannot name entries that are not valid UTF-8
// nor reach below PATH_MAX; this one removes by descriptors, so neither a
// non-UTF-8 name, an unreadable folder nor a very deep chain is left behind.
class NativeTempDir
{
public:
    NativeTempDir();
    ~NativeTempDir();
    NativeTempDir(const NativeTempDir&) = delete;
    NativeTempDir& operator=(const NativeTempDir&) = delete;

    bool isValid() const { return !m_path.isEmpty(); }
    const QByteArray& path() const { return m_path; }
    QByteArray filePath(const QByteArray& relative) const { return m_path + '/' + relative; }

    // Removes name inside the folder open as parentFd, whatever it is.
    static bool removeTree(int parentFd, const char* name);

private:
    QByteArray m_path;
};
