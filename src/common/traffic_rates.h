#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QLabel;
class TrafficCounters;

// How fast a page's traffic flows right now: the bytes per second it sent and received over
// the last second ("TX 1.2 MB/s", "RX 0 B/s"), refreshed once a second beside its counts.
class TrafficRates : public QObject
{
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 1000;

    TrafficRates(const TrafficCounters &counters, QLabel *txRate, QLabel *rxRate, QObject *parent = nullptr);

    // Bytes per second in steps of 1000: "999 B/s", "1.2 KB/s", "120 MB/s".
    static QString RateText(qint64 bytesPerSecond);

private:
    void OnRefresh();
    void Show(qint64 txPerSecond, qint64 rxPerSecond);

    const TrafficCounters &m_counters;
    QLabel *m_txRate;
    QLabel *m_rxRate;
    QTimer m_refresh;
    QElapsedTimer m_sinceRefresh;
    qint64 m_txAtRefresh = 0;
    qint64 m_rxAtRefresh = 0;
};
