#include "EventLoopWait.h"

#include <QEventLoop>
#include <QFutureWatcher>

void waitInEventLoop(const QFuture<void>& future)
{
    if (future.isFinished()) {
        return;
    }
    QEventLoop loop;
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished()) {
        loop.exec();
    }
}
