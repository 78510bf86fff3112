#pragma once

#include <QObject>

#include "traffic/traffic_counters.h"
#include "widgets/paced_action.h"

class QLineEdit;

// A page's TX and RX counters and the two read-only boxes that show them: the counts are
// exact at every moment, the boxes follow at most about 60 times a second.
class CounterBoxes : public QObject
{
    Q_OBJECT

public:
    CounterBoxes(QLineEdit *txBox, QLineEdit *rxBox, QObject *parent = nullptr);

    TrafficCounters &Counters() { return m_counters; }
    const TrafficCounters &Counters() const { return m_counters; }
    // "计数清零": the user pressed a button, so the zeros show at once.
    void Clear();

private:
    void Show();

    QLineEdit *m_txBox;
    QLineEdit *m_rxBox;
    PacedAction m_show;
    TrafficCounters m_counters;
};
