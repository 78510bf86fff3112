#include "traffic/receive_slice.h"

#include <QTimer>

ReceiveSlice::ReceiveSlice(QObject *parent)
    : QObject(parent)
{
}

void ReceiveSlice::Begin()
{
    if (m_open)
        return;
    m_open = true;
    m_bytes = 0;
    m_clock.start();
    // A zero timer runs once the loop has come round to its timers: the next pass then
    // opens a new slice.
    QTimer::singleShot(0, this, [this] { m_open = false; });
}
