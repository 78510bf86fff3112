#include "common/server_page.h"

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>

#include "common/extent_list_box.h"
#include "common/receive_slice.h"
#include "common/send_box.h"
#include "common/single_box.h"
#include "common/timed_sending.h"
#include "common/traffic_counters.h"
#include "common/traffic_rates.h"
#include "common/traffic_recorder.h"
#include "platform/socket_events.h"

CServerPage::CServerPage(unsigned templateId, const ServerPageIds &ids, const QString &caption, int &trafficLogFlag,
                         int repeatTimerId, QWidget *parent)
    : CDialogPage(templateId, parent)
    , m_log(ids.traffic.logFileName, caption, trafficLogFlag)
    , m_socketEvents(new SocketEventRegistry(this))
    , m_receiveSlice(new ReceiveSlice(this))
    , m_replyFailureBox(std::make_unique<SingleBox>())
    , m_ids(ids)
    , m_repeatTimerId(repeatTimerId)
{
    connect(m_socketEvents, &SocketEventRegistry::SocketEvent, this, &CServerPage::OnSocketEvent);
}

CServerPage::~CServerPage() = default;

ServerPageControls CServerPage::CreateServerControls()
{
    const ServerPageControls controls = BuildServerPage(this, m_ids);
    const TrafficAreaControls &traffic = controls.traffic;
    m_comboHost = controls.host;
    m_editPort = controls.port;
    m_btnListen = controls.listen;
    m_checkHexSend = traffic.hexSend;
    m_pAutoReply = traffic.autoReply;
    m_pReplyData = traffic.replyData;
    m_pReplyEcho = traffic.replyEcho;
    m_listData = traffic.dataList;

    m_sendBox = std::make_unique<SendBox>(traffic.sendBox, m_checkHexSend, traffic.encoding);
    m_timedSending = new TimedSending(traffic.timedSend, traffic.interval, m_repeatTimerId, this);
    m_counters = new TrafficCounters(traffic.tx, traffic.rx, this);
    new TrafficRates(*m_counters, traffic.txRate, traffic.rxRate, m_counters);
    m_recorder = std::make_unique<TrafficRecorder>(m_listData, traffic.hexDisplay, traffic.encoding, m_log,
                                                   *m_counters, TrafficLog::kReceivedTag, TrafficLog::kSentTag);

    connect(m_btnListen, &QPushButton::clicked, this, &CServerPage::OnListen);
    connect(controls.stop, &QPushButton::clicked, this, &CServerPage::OnStop);
    connect(controls.ipInfo, &QPushButton::clicked, this, &CServerPage::OnIpInfo);
    connect(controls.peerButton, &QPushButton::clicked, this, &CServerPage::OnPeerButton);
    connect(traffic.send, &QPushButton::clicked, this, &CServerPage::OnSend);
    connect(traffic.timedSend, &QCheckBox::clicked, this, &CServerPage::OnTimedSend);
    connect(m_timedSending, &TimedSending::Tick, this, &CServerPage::OnSend);
    connect(m_pAutoReply, &QCheckBox::clicked, this, &CServerPage::OnAutoReply);
    connect(traffic.clearCounters, &QPushButton::clicked, this, &CServerPage::OnClearCounters);
    connect(traffic.clearData, &QPushButton::clicked, this, &CServerPage::OnClearData);

    FillHostBox(m_comboHost);
    m_replyMode = 0;
    m_pReplyData->setChecked(true);
    return controls;
}

int CServerPage::ReadReplyMode()
{
    m_replyMode = m_pReplyEcho->isChecked() ? 1 : 0;
    return m_replyMode;
}

qint64 CServerPage::RxCount() const
{
    return m_counters ? m_counters->Rx() : 0;
}

qint64 CServerPage::TxCount() const
{
    return m_counters ? m_counters->Tx() : 0;
}

bool CServerPage::IsTimedSending() const
{
    return m_timedSending && m_timedSending->IsRunning();
}

void CServerPage::OnIpInfo()
{
    ShowIpInfo();
}

void CServerPage::OnTimedSend()
{
    m_timedSending->OnClicked();
}

void CServerPage::OnAutoReply()
{
    // "16进制发送" keeps its tick while greyed out: data replies still follow it.
    m_checkHexSend->setEnabled(!m_pAutoReply->isChecked());
}

void CServerPage::OnClearCounters()
{
    m_counters->Clear();
}

void CServerPage::OnClearData()
{
    m_listData->ResetContent();
}
