#include "lateness_watch.h"

#include <QCoreApplication>
#include <QEvent>
#include <QStringList>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <execinfo.h>
#include <pthread.h>
#include <unistd.h>

#include "chaos_probes.h"

namespace Chaos {

using namespace std::chrono_literals;

// With VELVANE_CHAOS_TRACE set: the longest gaps between two events the application
// delivered, and the event before each, to find what held the GUI thread.
class EventGapTracer : public QObject
{
public:
    EventGapTracer()
    {
        m_clock.start();
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~EventGapTracer() override { QCoreApplication::instance()->removeEventFilter(this); }

    // The longest gap since the last call, with the event before it.
    QString LastGap()
    {
        const QString text = QStringLiteral("longest event %1 ms: %2").arg(m_worstMs).arg(m_worstEvent);
        m_worstMs = 0;
        return text;
    }

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        const qint64 now = m_clock.elapsed();
        if (now - m_lastMs > m_worstMs) {
            m_worstMs = now - m_lastMs;
            m_worstEvent = QStringLiteral("%1 to %2 \"%3\" (parent %4)")
                               .arg(m_lastType)
                               .arg(QString::fromLatin1(m_lastClass))
                               .arg(m_lastName)
                               .arg(QString::fromLatin1(m_lastParentClass));
        }
        m_lastMs = now;
        m_lastType = int(event->type());
        m_lastClass = receiver->metaObject()->className();
        m_lastName = receiver->objectName();
        m_lastParentClass = receiver->parent() ? receiver->parent()->metaObject()->className() : "none";
        return false;
    }

private:
    QElapsedTimer m_clock;
    qint64 m_lastMs = 0;
    qint64 m_worstMs = 0;
    int m_lastType = 0;
    const char *m_lastClass = "";
    QString m_lastName;
    const char *m_lastParentClass = "";
    QString m_worstEvent;
};

// Takes the GUI thread's stack from the watchdog thread: a signal makes the GUI thread
// write its frames, the watchdog prints them with their symbols (VELVANE_CHAOS_TRACE only).
namespace StallSampler {

namespace {

void *s_frames[64];
std::atomic<int> s_count{-1};

void OnSignal(int)
{
    s_count = ::backtrace(s_frames, 64);
}

void Install()
{
    struct sigaction action
    {
    };
    action.sa_handler = OnSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGUSR2, &action, nullptr);
}

void Sample(pthread_t thread, qint64 silentMs)
{
    s_count = -1;
    ::pthread_kill(thread, SIGUSR2);
    for (int wait = 0; wait < 100 && s_count < 0; ++wait)
        std::this_thread::sleep_for(1ms);
    std::fprintf(stderr, "chaos: the GUI thread silent for %lld ms, in:\n", static_cast<long long>(silentMs));
    if (s_count > 0)
        ::backtrace_symbols_fd(s_frames, s_count.load(), 2);
}

}  // namespace

}  // namespace StallSampler

LatenessWatch::LatenessWatch(std::function<std::optional<QString>()> situation)
    : m_situation(std::move(situation))
{
    m_timer.setObjectName(QStringLiteral("chaos late check"));
    m_timer.setInterval(10);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { OnTick(); });
}

LatenessWatch::~LatenessWatch()
{
    Stop();
}

void LatenessWatch::Start(qint64 hangMs, quint64 seed)
{
    m_guiThread = ::gettid();
    m_guiThreadHandle = ::pthread_self();
    m_clock.start();
    m_lastRunDelayNs = RunDelayNs(m_guiThread);
    m_timer.start();
    // With VELVANE_CHAOS_TRACE the watchdog also takes the GUI thread's stack once in every
    // stall of over 150 ms (a signal to it), and prints it: where the window was held.
    const bool sampleStalls = qEnvironmentVariableIsSet("VELVANE_CHAOS_TRACE");
    if (sampleStalls)
        StallSampler::Install();
    m_watching = true;
    m_watchdog = std::thread([this, hangMs, seed, sampleStalls] { WatchForHang(hangMs, seed, sampleStalls); });
}

void LatenessWatch::WatchForHang(qint64 hangMs, quint64 seed, bool sampleStalls)
{
    bool sampled = false;
    while (m_watching) {
        std::this_thread::sleep_for(sampleStalls ? 20ms : 100ms);
        const qint64 silent = m_clock.elapsed() - m_heartbeat;
        if (sampleStalls && silent > 150 && !sampled) {
            sampled = true;
            StallSampler::Sample(m_guiThreadHandle, silent);
        } else if (silent <= 150) {
            sampled = false;
        }
        if (m_watching && silent > hangMs) {
            std::fprintf(stderr, "chaos: the GUI thread did not run a timer for %lld s: a hang (seed %llu)\n",
                         static_cast<long long>(hangMs / 1000), static_cast<unsigned long long>(seed));
            std::abort();
        }
    }
}

void LatenessWatch::Stop()
{
    m_timer.stop();
    m_watching = false;
    if (m_watchdog.joinable())
        m_watchdog.join();
}

void LatenessWatch::StartTracing()
{
    if (qEnvironmentVariableIsSet("VELVANE_CHAOS_TRACE"))
        m_tracer = std::make_unique<EventGapTracer>();
}

void LatenessWatch::StopTracing()
{
    m_tracer.reset();
}

void LatenessWatch::OnTick()
{
    const qint64 now = m_clock.nsecsElapsed();
    const qint64 runDelay = RunDelayNs(m_guiThread);
    const double lateMs = (now - m_lastTickNs) / 1e6 - 10;
    // What of it the GUI thread spent waiting for a CPU that others held: the machine's
    // load, not the program's work.
    const double waitedMs = (runDelay - m_lastRunDelayNs) / 1e6;
    const double ownMs = std::max(0.0, lateMs - waitedMs);
    m_lastTickNs = now;
    m_lastRunDelayNs = runDelay;
    m_heartbeat = now / 1000000;
    if (lateMs > m_worstWallLateMs) {
        m_worstWallLateMs = lateMs;
        m_worstWallWaitedMs = waitedMs;
    }
    m_worstOwnLateMs = std::max(m_worstOwnLateMs, ownMs);
    const QString gap = m_tracer ? QStringLiteral("; ") + m_tracer->LastGap() : QString();
    if (lateMs < 100)
        return;
    const std::optional<QString> situation = m_situation();
    if (!situation)
        return;
    ++m_lateTickCount;
    m_lateTicks.emplace(qint64(lateMs), QStringLiteral("%1 ms (%2 waiting for a CPU) at %3 s (%4%5)")
                                            .arg(lateMs, 0, 'f', 0)
                                            .arg(waitedMs, 0, 'f', 0)
                                            .arg(now / 1e9, 0, 'f', 2)
                                            .arg(*situation)
                                            .arg(gap));
    if (m_lateTicks.size() > 8)
        m_lateTicks.erase(m_lateTicks.begin());
}

QString LatenessWatch::LateTicksText() const
{
    QStringList texts;
    for (auto it = m_lateTicks.rbegin(); it != m_lateTicks.rend(); ++it)
        texts << it->second;
    return texts.isEmpty() ? QString() : QStringLiteral(": ") + texts.join(QStringLiteral("; "));
}

}  // namespace Chaos
