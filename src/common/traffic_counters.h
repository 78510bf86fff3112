#pragma once

#include <QObject>

#include "common/paced_action.h"

class QLineEdit;

// A traffic page's TX and RX byte counts and the two read-only boxes that show them. The
// counts are exact at every moment; the boxes follow at most about 60 times a second.
class TrafficCounters : public QObject
{
    Q_OBJECT

public:
    TrafficCounters(QLineEdit *txBox, QLineEdit *rxBox, QObject *parent = nullptr);

    void AddTx(qint64 bytes);
    void AddRx(qint64 bytes);
    void Clear();
    qint64 Tx() const { return m_tx; }
    qint64 Rx() const { return m_rx; }
    // Every byte since the page was made: "计数清零" does not touch these.
    qint64 TxTotal() const { return m_txTotal; }
    qint64 RxTotal() const { return m_rxTotal; }

private:
    void Show();

    QLineEdit *m_txBox;
    QLineEdit *m_rxBox;
    qint64 m_tx = 0;
    qint64 m_rx = 0;
    qint64 m_txTotal = 0;
    qint64 m_rxTotal = 0;
    PacedAction m_show;
};
