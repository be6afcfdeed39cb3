#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The user-defaults store: one key, one data value. The small JSON stores of
// the application (settings, move log, history, queues) each live under one
// key. Implementations are safe to use from several threads.
class DefaultsStore
{
public:
    // What update makes of the current value (nothing when the key is
    // absent); nothing leaves the value as it is.
    using Change = std::function<std::optional<QByteArray>(const std::optional<QByteArray>& current)>;

    virtual ~DefaultsStore() = default;

    // The stored bytes, or nothing when the key is absent or the store cannot be read.
    virtual std::optional<QByteArray> data(const QString& key) const = 0;
    // Replaces the value. False when it could not be written; the previous
    // value is then still in place.
    virtual bool setData(const QString& key, const QByteArray& value) = 0;
    virtual bool remove(const QString& key) = 0;

    // Reads the value and writes what change makes of it, with no other
    // update, appendLine or setData of this object in between (a store kept
    // in files also keeps other processes out). False when the new value
    // could not be written (the old one then stays) or change kept it.
    virtual bool update(const QString& key, const Change& change);

    // Adds line (which holds no '\n') and a '\n' at the end of the value. A
    // value that does not end with '\n' (a line cut off by a crash, or a value
    // not written as lines) gets one first, so the new line always stands on
    // its own. A store kept in files adds it without reading or rewriting the
    // value: records that only ever grow cost a small write each. Answers the
    // value's size afterwards, or -1 when the line could not be added.
    virtual qint64 appendLine(const QString& key, const QByteArray& line);

    // A claim on name that no other holder of the store's data can have at
    // the same time (a store kept in files: no other process either), held
    // while the returned object lives; nothing when another holds it. A child
    // process made by fork shares the claim it was born with. The default is
    // a claim within this object.
    virtual std::shared_ptr<void> tryClaim(const QString& name);

    // The bytes appendLine adds to a value whose last byte is, or is not, a
    // line end (an empty value counts as one).
    static QByteArray appendedLine(const QByteArray& line, bool afterLineEnd);

private:
    // Keeps the default update and appendLine of one object one at a time.
    QMutex m_updateMutex;
    // The default claims: a name is claimed while its entry's object lives.
    QMutex m_claimsMutex;
    QHash<QString, std::weak_ptr<void>> m_claims;
};

using DefaultsStorePtr = std::shared_ptr<DefaultsStore>;
