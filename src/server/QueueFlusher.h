#pragma once

#include "ServerHTTPClient.h"
#include "StoredQueue.h"

#include <QFuture>
#include <QPromise>
#include <QUrl>

#include <memory>
#include <vector>

// Sends what a stored queue holds, one record per request, oldest first, with
// at most two requests in flight (the gate of the client lets fewer through
// to a host that has not answered yet). Each delivered record is removed from
// the store as soon as the server has taken it, so an interrupted flush
// leaves exactly the undelivered ones (those in flight at most are sent again
// later); a record that was not delivered stays, and the flush goes on with
// the next one.
//
// One pass runs at a time. A flush asked for while a pass runs is not
// started beside it, which would post the same records twice: the running
// pass goes round once more when it ends, with the latest address, and picks
// up whatever was added meanwhile.
//
// Lives on the thread of the transport behind the client (the main thread).
template <typename Record>
class QueueFlusher
{
public:
    QueueFlusher(StoredQueue<Record> queue, ServerHTTPClient client)
        : m_state(std::make_shared<State>(std::move(queue), std::move(client)))
    {
    }

    ~QueueFlusher()
    {
        // Requests in flight find the state gone and stop; nobody waits in vain.
        for (const std::shared_ptr<QPromise<void>>& waiter : m_state->waiters) {
            waiter->future().cancel();
            waiter->finish();
        }
    }

    QueueFlusher(const QueueFlusher&) = delete;
    QueueFlusher& operator=(const QueueFlusher&) = delete;

    void setTimeout(std::chrono::milliseconds timeout) { m_state->timeout = timeout; }
    bool isRunning() const { return m_state->running; }
    // Whether a flush to url would post now, rather than keep everything for
    // a host that is held back.
    bool wouldPost(const QUrl& url) const { return !m_state->client.holdsBack(url); }

    // Finishes when the running passes end; at once when none runs.
    QFuture<void> whenIdle()
    {
        if (!m_state->running) {
            return QtFuture::makeReadyFuture();
        }
        auto waiter = std::make_shared<QPromise<void>>();
        waiter->start();
        m_state->waiters.push_back(waiter);
        return waiter->future();
    }

    // Finishes when the passes that cover everything queued so far are done.
    QFuture<void> flush(const QUrl& url)
    {
        auto waiter = std::make_shared<QPromise<void>>();
        waiter->start();
        m_state->waiters.push_back(waiter);
        m_state->stopped = false;
        if (m_state->running) {
            m_state->again = true;
            m_state->nextUrl = url;
        } else {
            m_state->running = true;
            startPass(m_state, url);
        }
        return waiter->future();
    }

    // The pass ends after the requests in flight; no further pass is made.
    void stop()
    {
        m_state->stopped = true;
        m_state->again = false;
    }

private:
    static constexpr int maxInFlight = RateLimitGate::maxPostsPerHost;

    struct State
    {
        State(StoredQueue<Record> q, ServerHTTPClient c)
            : queue(std::move(q))
            , client(std::move(c))
        {
        }
        StoredQueue<Record> queue;
        ServerHTTPClient client;
        std::chrono::milliseconds timeout = ServerHTTPClient::postTimeout;
        bool running = false;
        bool again = false;
        bool stopped = false;
        QUrl url;
        QUrl nextUrl;
        QList<Record> batch;
        qsizetype next = 0;
        int inFlight = 0;
        std::vector<std::shared_ptr<QPromise<void>>> waiters;
    };

    static void startPass(const std::shared_ptr<State>& state, const QUrl& url)
    {
        state->url = url;
        // A host that would refuse every post at once gets none: the pass
        // ends with the whole queue kept, without a round of the event loop
        // per record (hundreds, while a command waits to exit).
        state->batch = state->client.holdsBack(url) ? QList<Record>() : state->queue.load();
        state->next = 0;
        fill(state);
    }

    // Posts until the window is full, and ends the pass once nothing is left
    // to post or in flight. Never re-entered: the client always answers later.
    static void fill(const std::shared_ptr<State>& state)
    {
        while (!state->stopped && state->inFlight < maxInFlight && state->next < state->batch.size()) {
            const Record record = state->batch.at(state->next++);
            ++state->inFlight;
            const std::weak_ptr<State> weak = state;
            state->client.postJSON(
                state->url, record.toJsonObject(), state->timeout,
                [weak, record](PostOutcome outcome) {
                    const std::shared_ptr<State> alive = weak.lock();
                    if (!alive) {
                        return;
                    }
                    --alive->inFlight;
                    if (outcome.isDelivered()) {
                        alive->queue.removeFirst(record);
                    }
                    fill(alive);
                },
                [weak] { return !weak.expired(); });
        }
        if (state->inFlight > 0 || (!state->stopped && state->next < state->batch.size())) {
            return;
        }
        if (state->again && !state->stopped) {
            state->again = false;
            startPass(state, state->nextUrl);
            return;
        }
        state->running = false;
        state->batch.clear();
        std::vector<std::shared_ptr<QPromise<void>>> waiters;
        waiters.swap(state->waiters);
        for (const std::shared_ptr<QPromise<void>>& waiter : waiters) {
            waiter->finish();
        }
    }

    std::shared_ptr<State> m_state;
};
