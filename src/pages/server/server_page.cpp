#include "pages/server/server_page.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <unistd.h>

#include "pages/dialog_controls.h"
#include "pages/message_box.h"
#include "pages/traffic_area/traffic_area.h"
#include "platform/ip_socket.h"
#include "platform/socket_events.h"
#include "traffic/clock_text.h"
#include "traffic/receive_slice.h"
#include "traffic/system_log.h"

CServerPage::CServerPage(unsigned templateId, const Setup &setup, QWidget *parent)
    : CTrafficPage(templateId, parent)
    , m_setup(setup)
    , m_socketEvents(new SocketEventRegistry(this))
    , m_receiveSlice(new ReceiveSlice(this))
{
    connect(m_socketEvents, &SocketEventRegistry::SocketEvent, this, &CServerPage::OnSocketEvent);
}

CServerPage::~CServerPage() = default;

void CServerPage::CreateServerControls()
{
    m_controls = BuildServerPage(this, m_setup.ids);
    m_peers = m_controls.peers;
    CreateTrafficArea(m_setup.ids.traffic, {m_setup.caption, m_setup.logFileName, m_setup.logFlag, "CLIENT->SERVER  ",
                                            "SERVER->CLIENT  ", m_setup.repeatTimerId});

    connect(m_controls.listen, &QPushButton::clicked, this, &CServerPage::OnListen);
    connect(m_controls.stop, &QPushButton::clicked, this, &CServerPage::OnStop);
    connect(m_controls.ipInfo, &QPushButton::clicked, this, &CServerPage::OnIpInfo);
    connect(m_controls.peerButton, &QPushButton::clicked, this, &CServerPage::OnPeerButton);
    connect(m_controls.host, &QComboBox::currentIndexChanged, this, &CServerPage::StateChanged);
    connect(m_controls.port, &QLineEdit::textChanged, this, &CServerPage::StateChanged);

    FillHostBox(m_controls.host);
    m_replyMode = ReplyMode::Data;
}

ReplyMode CServerPage::ReadReplyMode()
{
    m_replyMode = Area().ReadReplyMode();
    return m_replyMode;
}

QString CServerPage::ListenText(const char *what, const QString &host, int port) const
{
    return g_strDateTime + QLatin1Char(' ') + m_setup.ids.protocol + QString::fromUtf8(what) + host + QLatin1Char(':')
           + QString::number(port);
}

void CServerPage::SetListenControlsEnabled(bool enabled)
{
    m_controls.host->setEnabled(enabled);
    m_controls.port->setEnabled(enabled);
    m_controls.listen->setEnabled(enabled);
}

void CServerPage::OnListen()
{
    const QString host = m_controls.host->currentText();
    const int port = ReadNumber(m_controls.port);
    if (!AcceptsListenFields(host, port))
        return;
    const int socket = OpenServerSocket(IsStreamServer() ? SocketKind::Stream : SocketKind::Datagram, host, port);
    if (socket < 0) {
        PageMessageBox(this, m_setup.caption, QStringLiteral("绑定失败"));
        return;
    }
    StartServing(socket);
    SetListenControlsEnabled(false);
    // What comes while the question is open waits (TCP) or is handled at once, unrecorded.
    Area().StartLog();
    SystemLog::Append(ListenText("开始监听", host, port) + QStringLiteral(" 等待客户端连接\r\n"));
    OnListening();
}

void CServerPage::OnStop()
{
    CancelFileSend();
    StopServing();
    Area().EndCapture();
    SetListenControlsEnabled(true);
    SystemLog::Append(ListenText("停止监听", m_controls.host->currentText(), ReadNumber(m_controls.port))
                      + QStringLiteral(" 关闭线程\r\n"));
    Area().StopLog();
}

QJsonObject CServerPage::SaveState(bool withHistory) const
{
    QJsonObject state = CTrafficPage::SaveState(withHistory);
    state.insert(QStringLiteral("host"), m_controls.host->currentText());
    state.insert(QStringLiteral("port"), m_controls.port->text());
    return state;
}

void CServerPage::RestoreState(const QJsonObject &state)
{
    CTrafficPage::RestoreState(state);
    // Only an address the machine still has.
    const int host = m_controls.host->findText(state.value(QStringLiteral("host")).toString());
    if (host >= 0)
        m_controls.host->setCurrentIndex(host);
    if (state.value(QStringLiteral("port")).isString())
        m_controls.port->setText(state.value(QStringLiteral("port")).toString());
}

void CServerPage::OnIpInfo()
{
    emit IpInfoRequested();
}

void CServerPage::OnAutoReply()
{
    Area().OnAutoReply();
}

void CServerPage::OnClearData()
{
    Area().OnClearData();
}
