#pragma once

#include "ServerTestBed.h"

#include <QObject>
#include <QTest>

// The base of the server test classes: a fresh bed for every test function.
// A class that needs more set-up does it in prepare(), once the bed exists.
class ServerTestCase : public QObject
{
    Q_OBJECT

protected:
    virtual void prepare() {}

    std::unique_ptr<ServerTestBed> m_bed;

private Q_SLOTS:
    void init()
    {
        m_bed = std::make_unique<ServerTestBed>();
        QVERIFY(m_bed->isValid());
        prepare();
    }
    void cleanup() { m_bed.reset(); }
};
