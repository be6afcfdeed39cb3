#include "DefaultsStore.h"

#include <QMutexLocker>

bool DefaultsStore::update(const QString& key, const Change& change)
{
    QMutexLocker lock(&m_updateMutex);
    const std::optional<QByteArray> next = change(data(key));
    return next && setData(key, *next);
}

qint64 DefaultsStore::appendLine(const QString& key, const QByteArray& line)
{
    qint64 size = -1;
    const bool added = update(key, [&](const std::optional<QByteArray>& current) {
        QByteArray next = current.value_or(QByteArray());
        next += appendedLine(line, next.isEmpty() || next.endsWith('\n'));
        size = next.size();
        return std::optional<QByteArray>(next);
    });
    return added ? size : -1;
}

QByteArray DefaultsStore::appendedLine(const QByteArray& line, bool afterLineEnd)
{
    QByteArray bytes;
    bytes.reserve(line.size() + 2);
    if (!afterLineEnd) {
        bytes += '\n';
    }
    bytes += line;
    bytes += '\n';
    return bytes;
}

std::shared_ptr<void> DefaultsStore::tryClaim(const QString& name)
{
    QMutexLocker lock(&m_claimsMutex);
    if (!m_claims.value(name).expired()) {
        return nullptr;
    }
    auto claim = std::make_shared<int>(0);
    m_claims.insert(name, claim);
    return claim;
}
