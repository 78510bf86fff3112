#include "pages/traffic_area/traffic_page.h"

void CTrafficPage::CreateTrafficArea(const TrafficAreaIds &ids, const TrafficArea::Setup &setup)
{
    m_area = new TrafficArea(this, ids, setup);
    m_area->SetCaptureSource(this);
    m_area->SetFileSendSource(this);
    connect(m_area, &TrafficArea::SendRequested, this, &CTrafficPage::OnSend);
    connect(m_area, &TrafficArea::StateChanged, this, &CTrafficPage::StateChanged);
}

QJsonObject CTrafficPage::SaveState(bool withHistory) const
{
    return m_area ? m_area->SaveState(withHistory) : QJsonObject();
}

void CTrafficPage::RestoreState(const QJsonObject &state)
{
    if (m_area)
        m_area->RestoreState(state);
}

qint64 CTrafficPage::RxCount() const
{
    return m_area ? m_area->RxCount() : 0;
}

qint64 CTrafficPage::TxCount() const
{
    return m_area ? m_area->TxCount() : 0;
}

CExtentListBox *CTrafficPage::DataList() const
{
    return m_area ? m_area->DataList() : nullptr;
}

bool CTrafficPage::IsTimedSending() const
{
    return m_area && m_area->IsTimedSending();
}

void CTrafficPage::OnTimedSend()
{
    m_area->OnTimedSend();
}

void CTrafficPage::OnClearCounters()
{
    m_area->OnClearCounters();
}
