#pragma once

#include "platform/DefaultsStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QList>
#include <QString>

// A capped list of records kept under one key of the defaults store as a
// JSON array, oldest first. Every change reads the stored list again and
// writes it back at once, so several holders of the same key (a flush and new
// records meanwhile) never overwrite each other's changes, and nothing waits
// in memory to be lost. A missing or undecodable value reads as empty and is
// replaced by the next write; a failed write is dropped.
//
// Record needs toJsonObject(), static fromJsonObject() and operator==.
template <typename Record>
class StoredQueue
{
public:
    StoredQueue(DefaultsStorePtr store, QString key, qsizetype limit)
        : m_store(std::move(store))
        , m_key(std::move(key))
        , m_limit(limit)
    {
    }

    const QString& key() const { return m_key; }
    qsizetype limit() const { return m_limit; }

    QList<Record> load() const
    {
        const std::optional<QByteArray> stored = m_store->data(m_key);
        if (!stored) {
            return {};
        }
        const QJsonDocument document = QJsonDocument::fromJson(*stored);
        if (!document.isArray()) {
            return {};
        }
        QList<Record> records;
        for (const QJsonValue& value : document.array()) {
            if (!value.isObject()) {
                return {};
            }
            std::optional<Record> record = Record::fromJsonObject(value.toObject());
            if (!record) {
                return {};
            }
            records.append(std::move(*record));
        }
        return records;
    }

    bool save(const QList<Record>& records) const
    {
        QJsonArray array;
        for (const Record& record : records) {
            array.append(record.toJsonObject());
        }
        return m_store->setData(m_key, QJsonDocument(array).toJson(QJsonDocument::Compact));
    }

    // Drops the oldest records beyond the limit.
    void append(const Record& record) const
    {
        QList<Record> records = load();
        records.append(record);
        if (records.size() > m_limit) {
            records.remove(0, records.size() - m_limit);
        }
        save(records);
    }

    // Removes the oldest record equal to this one, if any is still there.
    void removeFirst(const Record& record) const
    {
        QList<Record> records = load();
        const qsizetype index = records.indexOf(record);
        if (index >= 0) {
            records.removeAt(index);
            save(records);
        }
    }

private:
    DefaultsStorePtr m_store;
    QString m_key;
    qsizetype m_limit;
};
