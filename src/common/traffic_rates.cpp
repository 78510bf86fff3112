#include "common/traffic_rates.h"

#include <QLabel>

#include <array>

#include "common/traffic_counters.h"

TrafficRates::TrafficRates(const TrafficCounters &counters, QLabel *txRate, QLabel *rxRate, QObject *parent)
    : QObject(parent)
    , m_counters(counters)
    , m_txRate(txRate)
    , m_rxRate(rxRate)
    , m_txAtRefresh(counters.TxTotal())
    , m_rxAtRefresh(counters.RxTotal())
{
    connect(&m_refresh, &QTimer::timeout, this, &TrafficRates::OnRefresh);
    m_refresh.start(kRefreshMs);
    m_sinceRefresh.start();
    Show(0, 0);
}

void TrafficRates::OnRefresh()
{
    // The timer may come late under a flood; the rate uses the time that really passed.
    const qint64 elapsedMs = std::max<qint64>(1, m_sinceRefresh.restart());
    const qint64 tx = m_counters.TxTotal();
    const qint64 rx = m_counters.RxTotal();
    Show((tx - m_txAtRefresh) * 1000 / elapsedMs, (rx - m_rxAtRefresh) * 1000 / elapsedMs);
    m_txAtRefresh = tx;
    m_rxAtRefresh = rx;
}

void TrafficRates::Show(qint64 txPerSecond, qint64 rxPerSecond)
{
    m_txRate->setText(QStringLiteral("TX ") + RateText(txPerSecond));
    m_rxRate->setText(QStringLiteral("RX ") + RateText(rxPerSecond));
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
