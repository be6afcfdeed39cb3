#include "WalkExclusion.h"

#include "model/AppSettings.h"

#include <QFile>

#include <algorithm>

WalkExclusion::WalkExclusion(const AppSettings& settings, WalkExclusionMode mode)
{
    m_contained.append(QByteArrayLiteral("/Volumes/test"));
    for (const QString& name : excludedNames(settings, mode)) {
        const QByteArray encoded = QFile::encodeName(name);
        m_contained.append('/' + encoded + '/');
        m_suffixes.append('/' + encoded);
    }
    for (const QByteArray& pattern : m_contained) {
        noteFirstBytes(pattern);
    }
}

void WalkExclusion::noteFirstBytes(const QByteArray& pattern)
{
    for (qsizetype i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] == '/') {
            m_firstBytes.set(quint8(pattern[i + 1]));
        }
    }
}

QList<QString> WalkExclusion::excludedNames(const AppSettings& settings, WalkExclusionMode mode)
{
    if (mode == WalkExclusionMode::standard) {
        return settings.excludedPaths;
    }
    QList<QString> names;
    for (const QString& name : settings.excludedPaths) {
        if (name != QLatin1String("Library") && name != QLatin1String(".Trash")) {
            names.append(name);
        }
    }
    return names;
}

bool WalkExclusion::excludes(const QByteArray& path) const
{
    for (const QByteArray& text : m_contained) {
        if (path.contains(text)) {
            return true;
        }
    }
    for (const QByteArray& suffix : m_suffixes) {
        if (path.endsWith(suffix)) {
            return true;
        }
    }
    return false;
}

bool WalkExclusion::excludesChild(const QByteArray& path, qsizetype parentLength) const
{
    if (parentLength + 1 >= path.size() || !m_firstBytes.test(quint8(path[parentLength + 1]))) {
        return false;
    }
    for (const QByteArray& text : m_contained) {
        // A match lying wholly inside the parent would have excluded the parent.
        const qsizetype from = std::max<qsizetype>(0, parentLength - text.size() + 1);
        if (path.indexOf(text, from) >= 0) {
            return true;
        }
    }
    for (const QByteArray& suffix : m_suffixes) {
        if (path.endsWith(suffix)) {
            return true;
        }
    }
    return false;
}
