#include "WriteBehindDefaultsStore.h"

#include <QMutexLocker>

WriteBehindDefaultsStore::WriteBehindDefaultsStore(DefaultsStorePtr target)
    : m_target(std::move(target))
{
}

WriteBehindDefaultsStore::~WriteBehindDefaultsStore()
{
    waitForWrites();
    {
        QMutexLocker lock(&m_mutex);
        m_stopping = true;
        m_changed.wakeAll();
    }
    // The writer finishes every change before it ends.
    if (m_writer.joinable()) {
        m_writer.join();
    }
}

std::optional<QByteArray> WriteBehindDefaultsStore::data(const QString& key) const
{
    {
        QMutexLocker lock(&m_mutex);
        if (const auto pending = m_pending.constFind(key); pending != m_pending.cend()) {
            return *pending;
        }
        if (m_writing && m_writingKey == key) {
            return m_writingValue;
        }
    }
    return m_target->data(key);
}

bool WriteBehindDefaultsStore::setData(const QString& key, const QByteArray& value)
{
    change(key, value);
    return true;
}

bool WriteBehindDefaultsStore::remove(const QString& key)
{
    change(key, std::nullopt);
    return true;
}

void WriteBehindDefaultsStore::change(const QString& key, std::optional<QByteArray> value)
{
    QMutexLocker lock(&m_mutex);
    m_pending.insert(key, std::move(value));
    // Most stores of a short run are never changed: their writer is made
    // with the first change.
    if (!m_writer.joinable()) {
        m_writer = std::thread([this] { writeLoop(); });
    }
    m_changed.wakeAll();
}

void WriteBehindDefaultsStore::waitForWrites()
{
    QMutexLocker lock(&m_mutex);
    while (!m_pending.isEmpty() || m_writing) {
        m_written.wait(&m_mutex);
    }
}

void WriteBehindDefaultsStore::writeLoop()
{
    QMutexLocker lock(&m_mutex);
    for (;;) {
        while (m_pending.isEmpty() && !m_stopping) {
            m_changed.wait(&m_mutex);
        }
        if (m_pending.isEmpty()) {
            return;
        }
        writeNext(lock);
    }
}

// Takes the first change under the lock and writes it without; readers see it
// until the write returns.
void WriteBehindDefaultsStore::writeNext(QMutexLocker<QMutex>& lock)
{
    const auto next = m_pending.begin();
    m_writingKey = next.key();
    m_writingValue = std::move(next.value());
    m_pending.erase(next);
    m_writing = true;
    lock.unlock();
    if (m_writingValue) {
        m_target->setData(m_writingKey, *m_writingValue);
    } else {
        m_target->remove(m_writingKey);
    }
    lock.relock();
    m_writing = false;
    m_writingValue.reset();
    m_written.wakeAll();
}
