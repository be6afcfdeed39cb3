#pragma once

#include "platform/DefaultsStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <algorithm>

// A capped list of records kept under one key of the defaults store, oldest
// first: the value is lines of JSON, a line holding either an array of
// records (what a whole write leaves, and what earlier versions stored) or a
// single record (what an append adds). Readers take the records of every
// line in order, the newest `limit` of them.
//
// Appending adds one line (DefaultsStore::appendLine): a file store takes it
// without reading or replacing the queue, so an event costs the same small
// write with a full queue as with an empty one. Once the value passes
// `limit` times bytesPerRecord, an append writes it whole again, newest
// `limit` records only, so the file stays bounded. Removal reads and
// rewrites the value in one DefaultsStore::update, so several holders of
// the key (a flush, new records meanwhile, another process) never drop each
// other's changes, and nothing waits in memory to be lost.
//
// A line that does not decode (one cut off by a crash, or damage), an
// element that is not an object and an object that is not a record are
// skipped, so one damaged record costs none of the others; they are left
// out when the value is next written whole. A failed write is dropped.
//
// Record needs toJsonObject(), static fromJsonObject() and operator==.
template <typename Record>
class StoredQueue
{
public:
    // Bytes allowed per record of the limit before an append compacts.
    static constexpr qsizetype bytesPerRecord = 1024;

    StoredQueue(DefaultsStorePtr store, QString key, qsizetype limit)
        : m_store(std::move(store))
        , m_key(std::move(key))
        , m_limit(limit)
    {
    }

    const QString& key() const { return m_key; }
    qsizetype limit() const { return m_limit; }

    QList<Record> load() const { return decode(m_store->data(m_key)); }

    bool save(const QList<Record>& records) const { return m_store->setData(m_key, encode(records)); }

    // Drops the oldest records beyond the limit.
    void append(const Record& record) const
    {
        const QByteArray line = QJsonDocument(record.toJsonObject()).toJson(QJsonDocument::Compact);
        if (m_store->appendLine(m_key, line) > m_limit * bytesPerRecord) {
            m_store->update(m_key, [this](const std::optional<QByteArray>& current) {
                return std::optional<QByteArray>(encode(decode(current)));
            });
        }
    }

    // Removes the oldest record equal to this one, if any is still there.
    void removeFirst(const Record& record) const
    {
        m_store->update(m_key, [this, &record](const std::optional<QByteArray>& current) {
            QList<Record> records = decode(current);
            const qsizetype index = records.indexOf(record);
            if (index < 0) {
                return std::optional<QByteArray>();
            }
            records.removeAt(index);
            return std::optional<QByteArray>(encode(records));
        });
    }

private:
    QList<Record> decode(const std::optional<QByteArray>& stored) const
    {
        QList<Record> records;
        if (!stored) {
            return records;
        }
        const auto take = [&records](const QJsonValue& value) {
            if (value.isObject()) {
                if (std::optional<Record> record = Record::fromJsonObject(value.toObject())) {
                    records.append(std::move(*record));
                }
            }
        };
        for (const QByteArray& line : stored->split('\n')) {
            const QJsonDocument document = QJsonDocument::fromJson(line);
            if (document.isObject()) {
                take(document.object());
            } else {
                const QJsonArray array = document.array();
                std::for_each(array.begin(), array.end(), take);
            }
        }
        if (records.size() > m_limit) {
            records.remove(0, records.size() - m_limit);
        }
        return records;
    }

    static QByteArray encode(const QList<Record>& records)
    {
        QJsonArray array;
        for (const Record& record : records) {
            array.append(record.toJsonObject());
        }
        return QJsonDocument(array).toJson(QJsonDocument::Compact);
    }

    DefaultsStorePtr m_store;
    QString m_key;
    qsizetype m_limit;
};
