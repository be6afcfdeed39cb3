#pragma once

#include "JsonArrayLayout.h"
#include "platform/DefaultsStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QList>
#include <QString>

#include <algorithm>

// A capped list of records kept under one key of the defaults store as a
// JSON array, oldest first. Every change reads the stored list again and
// writes it back at once, so several holders of the same key (a flush and new
// records meanwhile) never overwrite each other's changes, and nothing waits
// in memory to be lost. A missing value, or one that is not an array of
// objects, reads as empty and is replaced by the next write; an object that
// is not a record is skipped by readers (and left out when the list is next
// written whole), so one damaged record costs none of the others. A failed
// write is dropped.
//
// Appending does not decode the stored records: the new record's text goes
// beside theirs, so an event costs the same with a full queue as with an
// empty one.
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
        const QJsonArray array = document.array();
        if (!std::all_of(array.begin(), array.end(), [](const QJsonValue& value) { return value.isObject(); })) {
            return {};
        }
        QList<Record> records;
        for (const QJsonValue& value : array) {
            if (std::optional<Record> record = Record::fromJsonObject(value.toObject())) {
                records.append(std::move(*record));
            }
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
        const QByteArray encoded = QJsonDocument(record.toJsonObject()).toJson(QJsonDocument::Compact);
        const std::optional<QByteArray> stored = m_store->data(m_key);
        const std::optional<JsonArrayLayout> layout = stored ? JsonArrayLayout::of(*stored) : std::nullopt;
        QByteArray next = "[";
        if (layout) {
            const qsizetype drop = std::max<qsizetype>(0, layout->count() + 1 - m_limit);
            if (drop < layout->count()) {
                const qsizetype from = layout->starts.at(drop);
                next.append(QByteArrayView(*stored).sliced(from, layout->close - from).trimmed());
                next.append(',');
            }
        }
        next += encoded;
        next += ']';
        m_store->setData(m_key, next);
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
