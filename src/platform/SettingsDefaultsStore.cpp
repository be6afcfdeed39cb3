#include "SettingsDefaultsStore.h"

#include <QMutexLocker>

SettingsDefaultsStore::SettingsDefaultsStore(const QString& fileName, QSettings::Format format)
    : m_settings(fileName, format)
{
    m_settings.setFallbacksEnabled(false);
}

std::optional<QByteArray> SettingsDefaultsStore::data(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    // Pick up writes of other processes (the CLI and the window share the store).
    m_settings.sync();
    const QVariant value = m_settings.value(key);
    if (!value.isValid()) {
        return std::nullopt;
    }
    return value.toByteArray();
}

bool SettingsDefaultsStore::setData(const QString& key, const QByteArray& value)
{
    QMutexLocker lock(&m_mutex);
    const QVariant previous = m_settings.value(key);
    m_settings.setValue(key, value);
    m_settings.sync();
    if (m_settings.status() == QSettings::NoError) {
        return true;
    }
    // The file on disk is untouched; make the in-memory view agree with it.
    if (previous.isValid()) {
        m_settings.setValue(key, previous);
    } else {
        m_settings.remove(key);
    }
    return false;
}

bool SettingsDefaultsStore::remove(const QString& key)
{
    QMutexLocker lock(&m_mutex);
    const QVariant previous = m_settings.value(key);
    m_settings.remove(key);
    m_settings.sync();
    if (m_settings.status() == QSettings::NoError) {
        return true;
    }
    if (previous.isValid()) {
        m_settings.setValue(key, previous);
    }
    return false;
}

QString SettingsDefaultsStore::fileName() const
{
    QMutexLocker lock(&m_mutex);
    return m_settings.fileName();
}
