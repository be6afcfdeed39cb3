#pragma once

#include <QCoreApplication>
#include <QFuture>
#include <QPointer>
#include <QPromise>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

// The one way a main-thread object hands slow work to a pool and takes the
// result back: the caller marks itself busy, run() does the work on the pool
// and then finish(owner, result) on the main thread, while the owner still
// exists. Results travel the main thread's event queue behind anything post()
// sent before them, so progress is always published before the result.
namespace OffThread {

// Runs call on the main thread later, only while owner still exists. The
// application object lives on the main thread as long as anything does; the
// owner may be gone by the time the call runs.
template <typename Owner>
void post(const QPointer<Owner>& owner, std::function<void(Owner&)> call)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [owner, call = std::move(call)] {
            if (owner) {
                call(*owner);
            }
        },
        Qt::QueuedConnection);
}

// work() on pool, then finish(*owner, result) on the main thread. The future
// finishes after finish has run; it is cancelled when the owner went away
// first (finish is not called then).
template <typename Owner, typename Work, typename Finish>
QFuture<void> run(Owner* owner, Work work, Finish finish, QThreadPool* pool = QThreadPool::globalInstance())
{
    using Result = std::invoke_result_t<Work&>;
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    QFuture<void> finished = promise->future();
    const QPointer<Owner> self(owner);
    pool->start([self, promise, work = std::move(work), finish = std::move(finish)]() mutable {
        Result result = work();
        post<Owner>(self, [promise, finish, result = std::move(result)](Owner& target) mutable {
            finish(target, std::move(result));
            promise->finish();
        });
    });
    return finished;
}

} // namespace OffThread
