#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include <pthread.h>
#include <sys/types.h>

namespace Chaos {

class EventGapTracer;

// How late a 10 ms timer of the GUI thread comes, less the time the thread waited, runnable,
// for a CPU held by others (the kernel's schedstat): the program's own lateness. A watchdog
// thread sees a hang from outside: a timer silent for the hang's bound ends the run loudly,
// with its seed, rather than waiting for the test's time-out.
class LatenessWatch
{
public:
    // situation says what the window was doing, for a tick over 100 ms late; nothing once
    // the window is gone, when late ticks are no longer kept.
    explicit LatenessWatch(std::function<std::optional<QString>()> situation);
    ~LatenessWatch();

    void Start(qint64 hangMs, quint64 seed);
    void StopTimer() { m_timer.stop(); }
    // The timer and the watchdog.
    void Stop();
    // With VELVANE_CHAOS_TRACE: the longest gap between two events in each late tick's line,
    // and the GUI thread's stack in every stall of over 150 ms.
    void StartTracing();
    void StopTracing();

    double WorstOwnLateMs() const { return m_worstOwnLateMs; }
    double WorstWallLateMs() const { return m_worstWallLateMs; }
    double WorstWallWaitedMs() const { return m_worstWallWaitedMs; }
    long LateTickCount() const { return m_lateTickCount; }
    // The worst late ticks, worst first, after ": "; empty when there were none.
    QString LateTicksText() const;

private:
    void OnTick();
    void WatchForHang(qint64 hangMs, quint64 seed, bool sampleStalls);

    std::function<std::optional<QString>()> m_situation;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastTickNs = 0;
    qint64 m_lastRunDelayNs = 0;
    pid_t m_guiThread = 0;
    pthread_t m_guiThreadHandle{};
    double m_worstWallLateMs = 0;
    double m_worstWallWaitedMs = 0;
    double m_worstOwnLateMs = 0;
    long m_lateTickCount = 0;
    std::multimap<qint64, QString> m_lateTicks;  // the worst ones
    std::unique_ptr<EventGapTracer> m_tracer;
    // Milliseconds since the clock started, at the last tick: what the watchdog watches.
    std::atomic<qint64> m_heartbeat{0};
    std::atomic<bool> m_watching{false};
    std::thread m_watchdog;
};

}  // namespace Chaos
