#pragma once

#include <QJsonObject>

#include "pages/dialog_page.h"
#include "pages/traffic_area/capture_control.h"
#include "pages/traffic_area/file_send_control.h"
#include "pages/traffic_area/traffic_area.h"

class CExtentListBox;

// A page with a traffic area below its own controls: what the three traffic pages answer
// and handle the same way.
class CTrafficPage : public CDialogPage, public CaptureSource, public FileSendSource
{
    Q_OBJECT

public:
    qint64 RxCount() const;
    qint64 TxCount() const;
    CExtentListBox *DataList() const;
    bool IsTimedSending() const;

    // The send button, and every tick of timed sending.
    virtual void OnSend() = 0;

    // The fields a start restores while 记住设置 is on (the traffic area's, and the page's
    // own address fields); see TrafficArea::SaveState.
    virtual QJsonObject SaveState(bool withHistory) const;
    virtual void RestoreState(const QJsonObject &state);

signals:
    void StateChanged();

public:
    void OnTimedSend();
    void OnClearCounters();

protected:
    using CDialogPage::CDialogPage;

    // Builds the area once the page's own controls stand.
    void CreateTrafficArea(const TrafficAreaIds &ids, const TrafficArea::Setup &setup);
    TrafficArea &Area() const { return *m_area; }

private:
    TrafficArea *m_area = nullptr;
};
