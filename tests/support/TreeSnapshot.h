#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>

// Every entry below a root, by relative path ("" is the root itself), with
// its kind ('f' file, 'd' folder, 'l' link, 'o' other), the SHA-256 of a
// file's content or a link's target, and a file's size. Links are not followed.
class TreeSnapshot
{
public:
    struct Entry
    {
        char kind = 'o';
        QByteArray content;
        qint64 size = 0;
        bool operator==(const Entry& other) const
        {
            return kind == other.kind && content == other.content && size == other.size;
        }
    };

    // Empty when root does not exist.
    static TreeSnapshot take(const QByteArray& root);

    bool isEmpty() const { return m_entries.isEmpty(); }
    const QMap<QByteArray, Entry>& entries() const { return m_entries; }
    bool operator==(const TreeSnapshot& other) const { return m_entries == other.m_entries; }

    // Relative paths of entries of this snapshot that other lacks or holds differently.
    QList<QByteArray> missingFrom(const TreeSnapshot& other) const;

private:
    void add(const QByteArray& path, const QByteArray& relative);

    QMap<QByteArray, Entry> m_entries;
};
