#pragma once

#include "platform/DefaultsStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <algorithm>

// A capped list of records kept under one key of the defaults store, oldest
// first: the value is lines of JSON, a line holding an array of records
// (what a whole write leaves, and what earlier versions stored), a single
// record (an append) or {"removed": record} (a removal). Readers take the
// lines in order, a removal taking away the oldest equal record before it,
// and a record beyond `limit` pushing out the oldest.
//
// Appending and removing add one line (DefaultsStore::appendLine): a file
// store takes it without reading or replacing the queue, so an event, or a
// delivery, costs the same small write with a full queue as with an empty
// one, and several holders of the key (a flush, new records meanwhile,
// another process) never drop each other's changes. Once the value passes
// `limit` times bytesPerRecord, the change writes it whole again, newest
// `limit` records only (DefaultsStore::update), so the file stays bounded.
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

    // Held by whoever sends the queue, so that two senders never post the
    // same records (DefaultsStore::tryClaim); nothing while another holds it.
    std::shared_ptr<void> claimSending() const { return m_store->tryClaim(m_key + QStringLiteral(".sending")); }

    // Drops the oldest records beyond the limit.
    void append(const Record& record) const { addLine(record.toJsonObject()); }

    // Removes the oldest record equal to this one, if any is still there.
    void removeFirst(const Record& record) const { addLine({{removedKey, record.toJsonObject()}}); }

private:
    static inline const QString removedKey = QStringLiteral("removed");

    void addLine(const QJsonObject& object) const
    {
        const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
        if (m_store->appendLine(m_key, line) > m_limit * bytesPerRecord) {
            m_store->update(m_key, [this](const std::optional<QByteArray>& current) {
                return std::optional<QByteArray>(encode(decode(current)));
            });
        }
    }

    QList<Record> decode(const std::optional<QByteArray>& stored) const
    {
        QList<Record> records;
        if (!stored) {
            return records;
        }
        // The limit applies as each record comes, as it did when it was
        // appended: a record it pushed out does not come back when a later
        // one is removed.
        const auto take = [this, &records](const QJsonValue& value) {
            if (value.isObject()) {
                if (std::optional<Record> record = Record::fromJsonObject(value.toObject())) {
                    records.append(std::move(*record));
                    if (records.size() > m_limit) {
                        records.removeFirst();
                    }
                }
            }
        };
        for (const QByteArray& line : stored->split('\n')) {
            const QJsonDocument document = QJsonDocument::fromJson(line);
            const QJsonObject object = document.object();
            const QJsonValue removed = object.value(removedKey);
            if (removed.isObject() && object.size() == 1) {
                if (const std::optional<Record> record = Record::fromJsonObject(removed.toObject())) {
                    records.removeOne(*record);
                }
            } else if (document.isObject()) {
                take(object);
            } else {
                const QJsonArray array = document.array();
                std::for_each(array.begin(), array.end(), take);
            }
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
