#include "BriskoTest.h"

#include "base/OffThread.h"

#include <QSemaphore>
#include <QThread>
#include <QtTest>

#include <memory>

// The hand-over of slow work to a pool and of its result back to the main
// thread, with an owner that may go away meanwhile.
class tst_OffThread : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void finishRunsOnTheMainThreadAfterEarlierPosts()
    {
        QObject owner;
        QThreadPool pool;
        QStringList seen;
        QThread* workThread = nullptr;
        QThread* finishThread = nullptr;
        const QPointer<QObject> guard(&owner);
        const QFuture<void> done = OffThread::run(
            &owner,
            [&workThread, guard] {
                workThread = QThread::currentThread();
                OffThread::post<QObject>(guard, [](QObject& o) { o.setObjectName(QStringLiteral("прогресс")); });
                return QStringLiteral("итог");
            },
            [&](QObject& target, QString result) {
                finishThread = QThread::currentThread();
                seen << target.objectName() << result;
            },
            &pool);
        // finish waits for the main thread's event loop.
        QVERIFY(!done.isFinished());
        QTRY_VERIFY(done.isFinished());
        QVERIFY(!done.isCanceled());
        QCOMPARE(seen, (QStringList{QStringLiteral("прогресс"), QStringLiteral("итог")}));
        QCOMPARE(finishThread, QThread::currentThread());
        QVERIFY(workThread != QThread::currentThread());
    }

    void ownerGoneMeanwhileGetsNoCall()
    {
        auto owner = std::make_unique<QObject>();
        auto release = std::make_shared<QSemaphore>();
        bool finished = false;
        bool posted = false;
        const QPointer<QObject> guard(owner.get());
        const QFuture<void> done = OffThread::run(
            owner.get(),
            [release, guard, &posted] {
                release->acquire();
                OffThread::post<QObject>(guard, [&posted](QObject&) { posted = true; });
                return 1;
            },
            [&finished](QObject&, int) { finished = true; });
        owner.reset();
        release->release();
        QTRY_VERIFY(done.isFinished());
        QVERIFY(done.isCanceled());
        QVERIFY(!finished);
        QVERIFY(!posted);
    }
};

BRISKO_TEST(tst_OffThread)
#include "tst_OffThread.moc"
