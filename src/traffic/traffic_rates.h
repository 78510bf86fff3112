#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class TrafficCounters;

// How fast a page's traffic flows right now: the bytes per second it sent and received over
// the last second, said once a second as "TX 1.2 MB/s" and "RX 0 B/s".
class TrafficRates : public QObject
{
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 1000;

    explicit TrafficRates(const TrafficCounters &counters, QObject *parent = nullptr);

    // Bytes per second in steps of 1000: "999 B/s", "1.2 KB/s", "120 MB/s".
    static QString RateText(qint64 bytesPerSecond);
    // The same after "TX " or "RX ", as the page shows it.
    static QString TxText(qint64 bytesPerSecond);
    static QString RxText(qint64 bytesPerSecond);

signals:
    void Updated(const QString &txText, const QString &rxText);

private:
    void OnRefresh();

    const TrafficCounters &m_counters;
    QTimer m_refresh;
    QElapsedTimer m_sinceRefresh;
    qint64 m_txAtRefresh = 0;
    qint64 m_rxAtRefresh = 0;
};
