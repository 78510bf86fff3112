#include "traffic/traffic_rates.h"

#include <algorithm>
#include <array>

#include "traffic/traffic_counters.h"

TrafficRates::TrafficRates(const TrafficCounters &counters, QObject *parent)
    : QObject(parent)
    , m_counters(counters)
    , m_txAtRefresh(counters.TxTotal())
    , m_rxAtRefresh(counters.RxTotal())
{
    connect(&m_refresh, &QTimer::timeout, this, &TrafficRates::OnRefresh);
    m_refresh.start(kRefreshMs);
    m_sinceRefresh.start();
}

void TrafficRates::OnRefresh()
{
    // The timer may come late under a flood; the rate uses the time that really passed.
    const qint64 elapsedMs = std::max<qint64>(1, m_sinceRefresh.restart());
    const qint64 tx = m_counters.TxTotal();
    const qint64 rx = m_counters.RxTotal();
    emit Updated(TxText((tx - m_txAtRefresh) * 1000 / elapsedMs), RxText((rx - m_rxAtRefresh) * 1000 / elapsedMs));
    m_txAtRefresh = tx;
    m_rxAtRefresh = rx;
}

QString TrafficRates::TxText(qint64 bytesPerSecond)
{
    return QStringLiteral("TX ") + RateText(bytesPerSecond);
}

QString TrafficRates::RxText(qint64 bytesPerSecond)
{
    return QStringLiteral("RX ") + RateText(bytesPerSecond);
}

QString TrafficRates::RateText(qint64 bytesPerSecond)
{
    static constexpr std::array<const char *, 5> kUnits{"B/s", "KB/s", "MB/s", "GB/s", "TB/s"};
    if (bytesPerSecond < 1000)
        return QString::number(std::max<qint64>(0, bytesPerSecond)) + QStringLiteral(" B/s");
    double value = static_cast<double>(bytesPerSecond);
    std::size_t unit = 0;
    // Moved up a unit once the figure would round to 1000, so "1000 KB/s" reads "1.0 MB/s".
    while (value >= 999.5 && unit + 1 < kUnits.size()) {
        value /= 1000;
        ++unit;
    }
    const int decimals = value < 99.95 ? 1 : 0;
    return QString::number(value, 'f', decimals) + QLatin1Char(' ') + QLatin1String(kUnits[unit]);
}
