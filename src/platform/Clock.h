#pragma once

#include <QDateTime>

#include <memory>

// Source of the current time; services take one so that tests can set the date.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

using ClockPtr = std::shared_ptr<const Clock>;
