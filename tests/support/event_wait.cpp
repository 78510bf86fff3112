#include "support/event_wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

bool WaitUntil(const std::function<bool()> &done, int timeoutMs)
{
    // The tick keeps the loop from sleeping past the bound, and looks at done() again when
    // what it waits for comes without an event (a peer thread, a socket of the caller's own).
    QTimer tick;
    tick.start(5);
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void RunEventsFor(int milliseconds)
{
    WaitUntil([] { return false; }, milliseconds);
}
