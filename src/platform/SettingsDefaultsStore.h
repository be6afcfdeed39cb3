#pragma once

#include "DefaultsStore.h"

#include <QMutex>
#include <QSettings>

#include <functional>

// A defaults store kept in one QSettings file. QSettings writes the file
// through a temporary file and a rename, so a failed write never leaves a
// half-written store behind.
class SettingsDefaultsStore : public DefaultsStore
{
public:
    SettingsDefaultsStore(const QString& fileName, QSettings::Format format);

    std::optional<QByteArray> data(const QString& key) const override;
    bool setData(const QString& key, const QByteArray& value) override;
    bool remove(const QString& key) override;

    QString fileName() const;

private:
    bool change(const QString& key, const std::function<void(QSettings&)>& apply);
    bool replaceUnreadable(const QSettings& unreadable, const std::function<void(QSettings&)>& apply);

    mutable QMutex m_mutex;
    const QString m_fileName;
    const QSettings::Format m_format;
};
