#include "traffic/traffic_rates.h"

#include <algorithm>

#include "traffic/traffic_counters.h"

TrafficRates::TrafficRates(const TrafficCounters &counters, QObject *parent)
    : QObject(parent)
    , m_counters(counters)
    , m_txAtRefresh(counters.TxTotal())
    , m_rxAtRefresh(counters.RxTotal())
{
    connect(&m_refresh, &QTimer::timeout, this, &TrafficRates::Refresh);
    m_refresh.start(kRefreshMs);
    m_sinceStart.start();
}

void TrafficRates::SetClock(std::function<qint64()> nowMs)
{
    m_clock = std::move(nowMs);
    m_refreshedAtMs = NowMs();
}

void TrafficRates::Refresh()
{
    // The timer may come late under a flood; the rate uses the time that really passed.
    const qint64 now = NowMs();
    const qint64 elapsedMs = std::max<qint64>(1, now - m_refreshedAtMs);
    m_refreshedAtMs = now;
    // The totals, which "计数清零" leaves alone: a cleared count is no negative rate.
    const qint64 tx = m_counters.TxTotal();
    const qint64 rx = m_counters.RxTotal();
    const ByteRate rate{(tx - m_txAtRefresh) * 1000 / elapsedMs, (rx - m_rxAtRefresh) * 1000 / elapsedMs};
    m_txAtRefresh = tx;
    m_rxAtRefresh = rx;
    emit Updated(TxText(rate.tx), RxText(rate.rx));
    emit Measured(rate, elapsedMs);
}

QString TrafficRates::TxText(qint64 bytesPerSecond)
{
    return QStringLiteral("TX ") + ByteRateText(bytesPerSecond);
}

QString TrafficRates::RxText(qint64 bytesPerSecond)
{
    return QStringLiteral("RX ") + ByteRateText(bytesPerSecond);
}
