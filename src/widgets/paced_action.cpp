#include "widgets/paced_action.h"

PacedAction::PacedAction(std::function<void()> action, QObject *parent)
    : QObject(parent)
    , m_action(std::move(action))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &PacedAction::Run);
}

void PacedAction::Request()
{
    if (m_timer.isActive())
        return;
    const qint64 since = m_lastRun.isValid() ? m_lastRun.elapsed() : kFrameMs;
    if (since >= kFrameMs)
        Run();
    else
        m_timer.start(static_cast<int>(kFrameMs - since));
}

void PacedAction::Flush()
{
    if (m_timer.isActive())
        Run();
}

void PacedAction::Run()
{
    m_timer.stop();
    m_lastRun.start();
    m_action();
}
