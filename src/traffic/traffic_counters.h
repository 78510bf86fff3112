#pragma once

#include <QtGlobal>

#include <functional>

// A traffic page's TX and RX byte counts, exact at every moment. Whoever shows them is told
// of every change and decides how often to look.
class TrafficCounters
{
public:
    explicit TrafficCounters(std::function<void()> onChange = {});

    void AddTx(qint64 bytes);
    void AddRx(qint64 bytes);
    void Clear();
    qint64 Tx() const { return m_txCount; }
    qint64 Rx() const { return m_rxCount; }
    // Every byte since the page was made: "计数清零" does not touch these.
    qint64 TxTotal() const { return m_txTotal; }
    qint64 RxTotal() const { return m_rxTotal; }

private:
    std::function<void()> m_onChange;
    qint64 m_txCount = 0;
    qint64 m_rxCount = 0;
    qint64 m_txTotal = 0;
    qint64 m_rxTotal = 0;
};
