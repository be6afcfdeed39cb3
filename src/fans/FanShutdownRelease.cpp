#include "FanShutdownRelease.h"

#include "SMCFanWriter.h"

FanShutdownRelease::FanShutdownRelease(SmcMachine machine, SMCFanProfile::WriteStrategy strategy)
    : m_machine(std::move(machine))
    , m_strategy(strategy)
{
}

void FanShutdownRelease::setFans(const FanStatusList& fans)
{
    QMutexLocker lock(&m_mutex);
    m_fans = fans;
}

FanStatusList FanShutdownRelease::fans() const
{
    QMutexLocker lock(&m_mutex);
    return m_fans;
}

bool FanShutdownRelease::releaseNow() const
{
    const FanStatusList current = fans();
    if (current.isEmpty()) {
        return false;
    }
    return SMCFanWriter::releaseFans(m_machine, m_strategy, current);
}
