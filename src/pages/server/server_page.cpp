#include "pages/server/server_page.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
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

    m_ipv6AndAll = AddCheckBox(0, QStringLiteral("IPv6/全部"), kRightColumnX, kRightColumnPageY, kRightColumnWidth, 10);
    m_ipv6AndAll->setObjectName(QStringLiteral("ipv6All"));
    m_ipv6AndAll->setToolTip(QStringLiteral("主机列表中加入本机的IPv6地址、0.0.0.0和::(所有网卡)"));
    connect(m_ipv6AndAll, &QCheckBox::toggled, this, &CServerPage::OnIpv6AndAllToggled);
    connect(m_controls.host, &QComboBox::currentTextChanged, this, &CServerPage::ShowWholeHost);

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
    // An IPv6 address in brackets, as in its peer texts, so that the port stands apart.
    const QString address = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return g_strDateTime + QLatin1Char(' ') + m_setup.ids.protocol + QString::fromUtf8(what) + address
           + QLatin1Char(':') + QString::number(port);
}

void CServerPage::OnIpv6AndAllToggled(bool)
{
    RefillHostBox();
    emit StateChanged();
}

void CServerPage::RefillHostBox()
{
    const QString chosen = m_controls.host->currentText();
    const QSignalBlocker quiet(m_controls.host);
    m_controls.host->clear();
    FillHostBox(m_controls.host, m_ipv6AndAll->isChecked());
    const int kept = m_controls.host->findText(chosen);
    m_controls.host->setCurrentIndex(kept >= 0 ? kept : 0);
    ShowWholeHost();
}

void CServerPage::ShowWholeHost()
{
    // An IPv6 address is longer than the box: its list opens as wide as the longest line and
    // the chosen one is whole in the tooltip. Without the option the box is as it always was.
    QComboBox *box = m_controls.host;
    const bool wide = m_ipv6AndAll->isChecked();
    int widest = 0;
    if (wide) {
        const QFontMetrics metrics(box->view()->font());
        for (int row = 0; row < box->count(); ++row)
            widest = std::max(widest, metrics.horizontalAdvance(box->itemText(row)) + 24);
    }
    box->view()->setMinimumWidth(widest);
    box->setToolTip(wide ? box->currentText() : QString());
}

void CServerPage::SetListenControlsEnabled(bool enabled)
{
    m_ipv6AndAll->setEnabled(enabled);
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
    state.insert(QStringLiteral("ipv6All"), m_ipv6AndAll->isChecked());
    state.insert(QStringLiteral("host"), m_controls.host->currentText());
    state.insert(QStringLiteral("port"), m_controls.port->text());
    return state;
}

void CServerPage::RestoreState(const QJsonObject &state)
{
    CTrafficPage::RestoreState(state);
    m_ipv6AndAll->setChecked(state.value(QStringLiteral("ipv6All")).toBool());
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
