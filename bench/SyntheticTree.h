#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// A home-folder-like tree of small files for the walker benchmark, made with
// plain system calls so that building 10^5..10^6 entries takes seconds.
//
// Shape below the root: topFolders project folders; folders branch 4, 3, 3,
// 2, 2, 1, 1, 1, 1 ways on the way down, so most folders sit at depths 6..9;
// each folder holds 40 files. One folder in eight at depth 9 has a depth-10
// child whose files lie beyond a walk of depth 10. Every project also has a
// hidden ".git" folder, a node_modules folder, a folder reached a second time
// through a symbolic link, a link to a file and a dangling link. With
// withContent, one file in four has a few hundred bytes to a few kilobytes
// (the others are empty), the files in hidden folders and node_modules all
// have some, so that a walk that entered them would count more, and three
// 60 MiB ".mp4" files are allocated at depths 1, 5 and 7 below the root.
//
// The counts are known while building, so a walk can be checked against them.
class SyntheticTree
{
public:
    static constexpr int walkDepth = 10;
    static constexpr qint64 videoBytes = 60 * 1024 * 1024;

    SyntheticTree(QByteArray root, int topFolders, bool withContent);

    // Builds the tree unless a complete one with the same shape is already
    // there (a stamp file beside the root records it).
    bool ensure(QString* error);

    const QByteArray& root() const { return m_root; }
    // Every entry below the root, links and hidden ones included.
    qint64 createdEntries() const { return m_created; }
    // Handler calls of a standard-mode walk of the root with maxDepth 10,
    // the root included.
    qint64 expectedWalkVisits() const { return m_visits; }
    int videoCount() const { return m_videos; }

private:
    bool buildFolder(QByteArray& path, int depth);
    bool buildProjectExtras(QByteArray& path);
    bool makeFolder(const QByteArray& path);
    bool makeFile(const QByteArray& path, qint64 contentBytes);
    bool makeLink(const QByteArray& target, const QByteArray& path);
    bool addVideos();
    QByteArray stampPath() const;
    QByteArray stampText() const;
    void count(int depth, bool visible);

    QByteArray m_root;
    int m_topFolders;
    bool m_withContent;
    qint64 m_created = 0;
    qint64 m_visits = 0;
    qint64 m_fileSerial = 0;
    qint64 m_depth9Serial = 0;
    // Set when a complete tree is already there: only the counting runs.
    bool m_dryRun = false;
    int m_videos = 0;
    QString m_error;
};
