#include "common/traffic_counters.h"

#include <QLineEdit>

TrafficCounters::TrafficCounters(QLineEdit *txBox, QLineEdit *rxBox, QObject *parent)
    : QObject(parent)
    , m_txBox(txBox)
    , m_rxBox(rxBox)
    , m_show([this] { Show(); }, this)
{
    Show();
}

void TrafficCounters::AddTx(qint64 bytes)
{
    m_tx += bytes;
    m_txTotal += bytes;
    m_show.Request();
}

void TrafficCounters::AddRx(qint64 bytes)
{
    m_rx += bytes;
    m_rxTotal += bytes;
    m_show.Request();
}

void TrafficCounters::Clear()
{
    m_tx = 0;
    m_rx = 0;
    m_show.Request();
    m_show.Flush();  // the user pressed a button: show it now
}

void TrafficCounters::Show()
{
    // 64-bit counts in decimal: they never wrap in a long session.
    m_txBox->setText(QString::number(m_tx));
    m_rxBox->setText(QString::number(m_rx));
}
