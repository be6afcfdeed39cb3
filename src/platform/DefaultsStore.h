#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

// The user-defaults store: one key, one data value. The small JSON stores of
// the application (settings, move log, history, queues) each live under one
// key. Implementations are safe to use from several threads.
class DefaultsStore
{
public:
    virtual ~DefaultsStore() = default;

    // The stored bytes, or nothing when the key is absent or the store cannot be read.
    virtual std::optional<QByteArray> data(const QString& key) const = 0;
    // Replaces the value. False when it could not be written; the previous
    // value is then still in place.
    virtual bool setData(const QString& key, const QByteArray& value) = 0;
    virtual bool remove(const QString& key) = 0;
};

using DefaultsStorePtr = std::shared_ptr<DefaultsStore>;
