#include "pages/traffic_area/counter_boxes.h"

#include <QLineEdit>

CounterBoxes::CounterBoxes(QLineEdit *txBox, QLineEdit *rxBox, QObject *parent)
    : QObject(parent)
    , m_txBox(txBox)
    , m_rxBox(rxBox)
    , m_show([this] { Show(); }, this)
    , m_counters([this] { m_show.Request(); })
{
    Show();
}

void CounterBoxes::Clear()
{
    m_counters.Clear();
    m_show.Flush();
}

void CounterBoxes::Show()
{
    // 64-bit counts in decimal: they never wrap in a long session.
    m_txBox->setText(QString::number(m_counters.Tx()));
    m_rxBox->setText(QString::number(m_counters.Rx()));
}
