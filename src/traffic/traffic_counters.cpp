#include "traffic/traffic_counters.h"

TrafficCounters::TrafficCounters(std::function<void()> onChange)
    : m_onChange(std::move(onChange))
{
}

void TrafficCounters::AddTx(qint64 bytes)
{
    m_txCount += bytes;
    m_txTotal += bytes;
    if (m_onChange)
        m_onChange();
}

void TrafficCounters::AddRx(qint64 bytes)
{
    m_rxCount += bytes;
    m_rxTotal += bytes;
    if (m_onChange)
        m_onChange();
}

void TrafficCounters::Clear()
{
    m_txCount = 0;
    m_rxCount = 0;
    if (m_onChange)
        m_onChange();
}
