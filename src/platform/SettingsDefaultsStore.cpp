#include "SettingsDefaultsStore.h"

#include <QFile>
#include <QMutexLocker>

#include <cstdio>

// QSettings::status() keeps the first error an object ever met, so one
// long-lived object would report every later write as failed after a single
// failure or after reading a damaged file. Each operation therefore works on
// a fresh object; QSettings shares the parsed file between objects, so this
// costs one stat of the file.

SettingsDefaultsStore::SettingsDefaultsStore(const QString& fileName, QSettings::Format format)
    : m_fileName(fileName)
    , m_format(format)
{
}

std::optional<QByteArray> SettingsDefaultsStore::data(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    // A fresh object also picks up writes of other processes (the CLI and
    // the window share the store).
    QSettings settings(m_fileName, m_format);
    settings.setFallbacksEnabled(false);
    const QVariant value = settings.value(key);
    if (!value.isValid()) {
        return std::nullopt;
    }
    return value.toByteArray();
}

bool SettingsDefaultsStore::setData(const QString& key, const QByteArray& value)
{
    QMutexLocker lock(&m_mutex);
    return change(key, [&](QSettings& settings) { settings.setValue(key, value); });
}

bool SettingsDefaultsStore::remove(const QString& key)
{
    QMutexLocker lock(&m_mutex);
    return change(key, [&](QSettings& settings) { settings.remove(key); });
}

QString SettingsDefaultsStore::fileName() const
{
    return m_fileName;
}

bool SettingsDefaultsStore::change(const QString& key, const std::function<void(QSettings&)>& apply)
{
    QSettings settings(m_fileName, m_format);
    settings.setFallbacksEnabled(false);
    switch (settings.status()) {
    case QSettings::NoError:
        break;
    case QSettings::FormatError:
        return replaceUnreadable(settings, apply);
    case QSettings::AccessError:
        // A file that exists but cannot be read must not be overwritten with
        // a store that lacks everything in it.
        return false;
    }
    const QVariant previous = settings.value(key);
    apply(settings);
    settings.sync();
    if (settings.status() == QSettings::NoError) {
        return true;
    }
    // The file on disk is untouched, but QSettings keeps the change pending
    // in the data it shares between objects and would write it with the next
    // successful change of any key. Undo it there.
    if (previous.isValid()) {
        settings.setValue(key, previous);
    } else {
        settings.remove(key);
    }
    return false;
}

bool SettingsDefaultsStore::replaceUnreadable(const QSettings& unreadable, const std::function<void(QSettings&)>& apply)
{
    // Whatever could still be parsed is kept; the rest of the file is given
    // up, as an unreadable value reads as empty and is replaced on the next
    // write. The damaged file stays aside until the new one is in place, so
    // a failed write leaves it as it was.
    QList<std::pair<QString, QVariant>> kept;
    for (const QString& key : unreadable.allKeys()) {
        const QVariant value = unreadable.value(key);
        if (value.isValid()) {
            kept.append({key, value});
        }
    }
    const QByteArray path = QFile::encodeName(m_fileName);
    const QByteArray aside = path + ".unreadable";
    if (std::rename(path.constData(), aside.constData()) != 0) {
        return false;
    }
    bool ok;
    {
        QSettings fresh(m_fileName, m_format);
        fresh.setFallbacksEnabled(false);
        for (const auto& [key, value] : kept) {
            fresh.setValue(key, value);
        }
        apply(fresh);
        fresh.sync();
        ok = fresh.status() == QSettings::NoError;
        if (!ok) {
            fresh.clear();
        }
    }
    if (!ok) {
        std::rename(aside.constData(), path.constData());
        return false;
    }
    std::remove(aside.constData());
    return true;
}
