#pragma once

#include "platform/Clock.h"
#include "platform/DefaultsStore.h"

#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>

// The per-host gate in front of every post of a small record. The key is the
// host (see ServerHTTPClient::gateKey). For each key it keeps:
// - until when the server asked us to stay away (status 429). Not persisted:
//   a restart clears these blocks, and a block ends by time only.
// - the back-off after the host could not be reached (a name lookup or
//   connect that failed, or no answer at all): 60 s after the first failure,
//   doubling with each further one, at most an hour; the first answer clears
//   it. With a store attached it is kept there, so that a short run of the
//   command line does not try again a host that the last run could not
//   reach.
// - how many posts run at once: one while the host has not answered in this
//   process, so that one attempt finds out whether it can be reached, and
//   maxPostsPerHost once it has.
//
// Safe to use from any thread. Slot waiters run on the thread that frees the
// slot (the transport's thread in the program), never under the gate's lock.
class RateLimitGate
{
public:
    static inline const QString backoffKey = QStringLiteral("BriskoServerBackoff");
    static constexpr qint64 firstBackoffSeconds = 60;
    static constexpr qint64 maxBackoffSeconds = 3600;
    static constexpr int maxPostsPerHost = 2;

    explicit RateLimitGate(ClockPtr clock);

    // False for an unknown key; an entry whose time has passed is removed.
    bool isBlocked(const QString& key);
    void block(const QString& key, double seconds);

    // Takes in the back-offs kept in the store (a later end wins over the one
    // already known) and writes every later change there. An unreadable
    // value reads as none; an end further away than the longest back-off
    // comes from a clock that has since gone back and is dropped.
    void persistIn(DefaultsStorePtr store);
    // True while the host's back-off runs.
    bool isBackingOff(const QString& key);
    void recordUnreachable(const QString& key);
    // The host answered (any HTTP status): its back-off and count of
    // failures end, and it gets all of its slots.
    void recordAnswered(const QString& key);

    // mayPost true: the caller holds a slot of the host and must release it.
    // false: the host went into its back-off while the caller waited.
    using SlotWaiter = std::function<void(bool mayPost)>;
    // Calls waiter at once when the host has a free slot, else when one is
    // released, in the order of asking.
    void acquireSlot(const QString& key, SlotWaiter waiter);
    void releaseSlot(const QString& key);
    // For a process that stops waiting for its posts: every host with a post
    // in flight that has not answered in this process counts as unreachable.
    // Returns those hosts.
    QStringList abandonUnanswered();

private:
    struct Backoff
    {
        int failures = 0;
        QDateTime retryAt;
    };
    struct Slots
    {
        int inFlight = 0;
        std::deque<SlotWaiter> waiting;
    };

    static QHash<QString, Backoff> decode(const QByteArray& stored, const QDateTime& now);
    // A stored time of retry: what encode writes, or any ISO 8601 form.
    static QDateTime retryTime(const QString& text);
    static QByteArray encode(const QHash<QString, Backoff>& backoffs);
    // Under the lock: writes one key's change into the stored value, keeping
    // what other processes stored for other hosts.
    void store(const QString& key);
    // Under the lock: takes the waiters of a host in back-off.
    std::deque<SlotWaiter> takeWaiters(const QString& key);

    QMutex m_mutex;
    ClockPtr m_clock;
    DefaultsStorePtr m_store;
    QHash<QString, QDateTime> m_blockedUntil;
    QHash<QString, Backoff> m_backoffs;
    QSet<QString> m_answered;
    QHash<QString, Slots> m_slots;
};
