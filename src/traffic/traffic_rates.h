#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

#include "text/byte_rate.h"

class TrafficCounters;

// How fast a page's traffic flows right now: the bytes per second it sent and received over
// the last second, said once a second as "TX 1.2 MB/s" and "RX 0 B/s", and as numbers for
// whoever keeps them.
class TrafficRates : public QObject
{
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 1000;

    explicit TrafficRates(const TrafficCounters &counters, QObject *parent = nullptr);

    // ByteRateText after "TX " or "RX ", as the page shows it.
    static QString TxText(qint64 bytesPerSecond);
    static QString RxText(qint64 bytesPerSecond);

    // The timer's tick: the rates since the last one. Tests call it, with a clock they move.
    void Refresh();
    void SetClock(std::function<qint64()> nowMs);

signals:
    void Updated(const QString &txText, const QString &rxText);
    // The same rates, with the milliseconds they were measured over.
    void Measured(ByteRate rate, qint64 elapsedMs);

private:
    qint64 NowMs() const { return m_clock ? m_clock() : m_sinceStart.elapsed(); }

    const TrafficCounters &m_counters;
    QTimer m_refresh;
    QElapsedTimer m_sinceStart;
    std::function<qint64()> m_clock;
    qint64 m_refreshedAtMs = 0;
    qint64 m_txAtRefresh = 0;
    qint64 m_rxAtRefresh = 0;
};
