#include "pages/window_timers.h"

#include <QTimer>

WindowTimers::WindowTimers(QObject *parent)
    : QObject(parent)
{
}

void WindowTimers::SetTimer(int id, int intervalMs)
{
    QTimer *&timer = m_timers[id];
    if (!timer) {
        timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, [this, id] { emit Timeout(id); });
    }
    timer->start(intervalMs);
}

void WindowTimers::KillTimer(int id)
{
    if (QTimer *timer = m_timers.value(id))
        timer->stop();
}

bool WindowTimers::IsRunning(int id) const
{
    const QTimer *timer = m_timers.value(id);
    return timer && timer->isActive();
}
