#include "udpserver/udp_server_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/globals.h"
#include "common/extent_list_box.h"
#include "common/receive_slice.h"
#include "common/send_box.h"
#include "common/server_page_layout.h"
#include "common/single_box.h"
#include "common/timed_sending.h"
#include "common/traffic_counters.h"
#include "common/traffic_recorder.h"
#include "platform/datagram.h"
#include "platform/dialog_controls.h"
#include "platform/gbk.h"
#include "platform/ipv4_endpoint.h"
#include "platform/message_box.h"
#include "platform/socket_events.h"
#include "ui/system_log.h"

namespace {

const QString kCaption = QStringLiteral("UDP Server提示");
// Datagrams waiting are read one after the other for up to one shared slice of the event
// loop, so a flood costs no repaint per datagram.
constexpr int kMaxDatagramsPerSlice = 4096;

const ServerPageIds kIds{
    QStringLiteral("UDP"), QStringLiteral("删  除"),
    1027, 1026, 1023, 1024, 1025, 1029, 1054,
    {QStringLiteral("logudp.txt"), 1043, 1047, 1044, 1045, 1046, 1066, 1067, 1068, 1031, 1032, 1030, 1048, 1055, 1035,
     1111, 1112, 1113, 1114},
};

} // namespace

CUdpServerPage::CUdpServerPage(QWidget *parent)
    : CServerPage(kTemplateId, kIds, kCaption, g_bUdpTrafficLog, kRepeatTimerId, parent)
    , m_receiveFailureBox(std::make_unique<SingleBox>())
{
}

CUdpServerPage::~CUdpServerPage()
{
    CloseSocket();
}

void CUdpServerPage::OnInitDialog()
{
    m_listPeers = CreateServerControls().peers;
    m_editPort->setText(QStringLiteral("7000"));
}

void CUdpServerPage::CloseSocket()
{
    if (m_socket < 0)
        return;
    // The notifier goes first: the number is free for the next socket at once.
    m_socketEvents->Unregister(m_socket);
    ::close(m_socket);
    m_socket = -1;
}

void CUdpServerPage::OnListen()
{
    const QString host = m_comboHost->currentText();
    const int port = ReadNumber(m_editPort);
    if (port == 0 || host.isEmpty()) {
        AppMessageBox(QStringLiteral("请填写所有参数"));
        return;
    }
    if (IsListening())
        return;  // the button is disabled then; a second socket would leak the first
    CloseSocket();

    const int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<quint16>(port));  // 70000 binds 4464, -1 binds 65535
    local.sin_addr.s_addr = ::inet_addr(host.toLatin1().constData());
    if (socket < 0 || ::bind(socket, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        if (socket >= 0)
            ::close(socket);  // never used: closed at once
        PageMessageBox(this, kCaption, QStringLiteral("绑定失败"));
        return;
    }
    WidenDatagramReceiveBuffer(socket);
    m_socket = socket;
    m_socketEvents->Register(m_socket, FD_READ);

    m_comboHost->setEnabled(false);
    m_editPort->setEnabled(false);
    m_btnListen->setEnabled(false);
    // A datagram that comes while the question is open is handled at once, unrecorded.
    m_log.StartLog(this);
    SystemLog::Append(g_strDateTime + QStringLiteral(" UDP开始监听") + host + QLatin1Char(':') + QString::number(port)
                      + QStringLiteral(" 等待客户端连接\r\n"));
}

void CUdpServerPage::OnStop()
{
    m_comboHost->setEnabled(true);
    m_editPort->setEnabled(true);
    m_btnListen->setEnabled(true);
    CloseSocket();
    m_log.StopLog();
    SystemLog::Append(g_strDateTime + QStringLiteral(" UDP停止监听") + m_comboHost->currentText() + QLatin1Char(':')
                      + QString::number(ReadNumber(m_editPort)) + QStringLiteral(" 关闭线程\r\n"));
}

void CUdpServerPage::AddPeer(const QByteArray &peerText)
{
    if (m_peers.contains(peerText))
        return;
    m_peers.insert(peerText);
    m_listPeers->AddString(peerText);
}

void CUdpServerPage::OnDeletePeer()
{
    const int selected = m_listPeers->GetCurSel();
    if (selected < 0) {
        AppMessageBox(QStringLiteral("请选择要删除的客户端!"));
        return;
    }
    m_peers.remove(m_listPeers->GetText(selected));
    m_listPeers->DeleteString(selected);
    m_listPeers->SetCurSel(-1);  // the list view would select the neighbour
}

void CUdpServerPage::OnSocketEvent(int socket, int event)
{
    if (event != FD_READ || socket != m_socket)
        return;
    m_receiveSlice->Begin();
    for (int datagrams = 0; datagrams < kMaxDatagramsPerSlice; ++datagrams) {
        if (!ReceiveDatagram() || m_receiveSlice->IsOver())
            return;
    }
}

bool CUdpServerPage::ReceiveDatagram()
{
    char datagram[kDatagramSize] = {};
    int received = 0;
    sockaddr_in source{};
    switch (ReadDatagram(m_socket, datagram, kDatagramSize, received, source)) {
    case DatagramRead::Nothing:
        return false;
    case DatagramRead::Failed:
        // While its box is open, further failures are dropped without another box.
        m_receiveFailureBox->ShowPlain(this, QStringLiteral("接收数据失败！"));
        return false;
    case DatagramRead::Datagram:
        break;
    }
    const QByteArray peer = PeerText(source);
    AddPeer(peer);
    const sockaddr_in replyAddress = source;
    SystemLog::Append(g_strDateTime + QStringLiteral(" UDP接收来自") + QString::fromLatin1(peer) + QStringLiteral("的数据\r\n"));
    const QByteArrayView bytes(datagram, received);
    m_recorder->ShowReceived(bytes, peer);

    ReadReplyMode();
    if (m_pAutoReply->isChecked()) {
        if (m_replyMode == 0)
            ReplyWithData(replyAddress);
        else
            ReplyEcho(replyAddress, bytes);
    }
    // A box shown on the way may have let Stop close the socket.
    return m_socket >= 0;
}

bool CUdpServerPage::SendTo(const sockaddr_in &to, QByteArrayView bytes)
{
    if (m_socket < 0)
        return false;
    const ssize_t sent = ::sendto(m_socket, bytes.data(), static_cast<size_t>(bytes.size()), MSG_DONTWAIT | MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr *>(&to), sizeof to);
    return sent == bytes.size();
}

QByteArray CUdpServerPage::LoggedText(const Payload &payload)
{
    return payload.hex ? PayloadCodec::DataText(payload.bytes, false) : payload.prepared;
}

void CUdpServerPage::ReplyWithData(const sockaddr_in &replyAddress)
{
    Payload payload;
    const PayloadCodec::HexFailure failure = m_sendBox->MakeServerReply(payload);
    if (failure != PayloadCodec::HexFailure::None) {
        m_replyFailureBox->Show(PayloadCodec::FailureMessage(failure));
        return;
    }
    // A reply the system refused is not reported as sent.
    if (SendTo(replyAddress, payload.bytes))
        m_recorder->CountAndRecordSent(payload.Counted(), LoggedText(payload));
}

void CUdpServerPage::ReplyEcho(const sockaddr_in &replyAddress, QByteArrayView datagram)
{
    if (SendTo(replyAddress, datagram))
        m_recorder->CountAndRecordSent(datagram.size(), PayloadCodec::DataText(datagram, false));
}

void CUdpServerPage::OnSend()
{
    if (m_sendBox->IsEmpty()) {
        m_timedSending->Stop();
        AppMessageBox(QStringLiteral("发送内容不能为空!"));
        return;
    }
    const int selected = m_listPeers->GetCurSel();
    if (selected < 0) {
        m_timedSending->Stop();
        AppMessageBox(QStringLiteral("请选择要发送的目的地!"));
        return;
    }
    const sockaddr_in destination = EndpointOfPeerText(m_listPeers->GetText(selected));
    Payload payload;
    const PayloadCodec::HexFailure failure = m_sendBox->MakePayload(payload);
    if (failure != PayloadCodec::HexFailure::None) {
        m_timedSending->Stop();
        AppMessageBox(PayloadCodec::FailureMessage(failure));
        return;
    }
    if (!SendTo(destination, payload.bytes)) {
        m_listData->InsertString(0, ToGbk(u"数据发送失败!"));
        m_timedSending->Stop();
        return;
    }
    m_recorder->CountAndRecordSent(payload.Counted(), LoggedText(payload));
}
