#include "FanTimer.h"

#include <QTimer>

FanTimer::Factory FanTimer::eventLoop()
{
    class EventLoopTimer : public FanTimer
    {
    public:
        EventLoopTimer(std::chrono::milliseconds interval, std::function<void()> fire)
        {
            m_timer.setSingleShot(true);
            m_timer.setInterval(interval);
            QObject::connect(&m_timer, &QTimer::timeout, &m_timer, std::move(fire));
        }
        void start() override { m_timer.start(); }
        void stop() override { m_timer.stop(); }

    private:
        QTimer m_timer;
    };
    return [](std::chrono::milliseconds interval, std::function<void()> fire) -> std::unique_ptr<FanTimer> {
        return std::make_unique<EventLoopTimer>(interval, std::move(fire));
    };
}
