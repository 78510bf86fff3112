#include "pages/udp_server/udp_server_page.h"

#include <QComboBox>
#include <QJsonArray>
#include <QLineEdit>
#include <QPushButton>

#include <sys/socket.h>
#include <unistd.h>

#include "pages/control_ids.h"
#include "pages/message_box.h"
#include "pages/single_box.h"
#include "pages/traffic_area/traffic_area.h"
#include "pages/udp_server/multicast_window.h"
#include "platform/datagram.h"
#include "platform/ip_socket.h"
#include "platform/multicast.h"
#include "platform/socket_address.h"
#include "platform/socket_events.h"
#include "traffic/clock_text.h"
#include "traffic/multicast_memberships.h"
#include "traffic/receive_slice.h"
#include "traffic/system_log.h"
#include "traffic/traffic_recorder.h"
#include "widgets/display_list/line_list_box.h"

int g_bUdpTrafficLog = 0;

CUdpServerPage::CUdpServerPage(QWidget *parent)
    : CServerPage(kTemplateId,
                  {ServerPageIds::Of<UdpServerIds::Id>(QStringLiteral("UDP"), QStringLiteral("删  除")),
                   QStringLiteral("UDP Server提示"), QStringLiteral("logudp.txt"), &g_bUdpTrafficLog, kRepeatTimerId},
                  parent)
    , m_receiveFailureBox(std::make_unique<SingleBox>())
    , m_multicast(new MulticastMemberships(this))
{
    connect(m_multicast, &MulticastMemberships::Changed, this, &CUdpServerPage::StateChanged);
}

CUdpServerPage::~CUdpServerPage()
{
    CloseSocket();
}

void CUdpServerPage::OnInitDialog()
{
    CreateServerControls();
    Area().SetSendsDatagrams(true);
    PortBox()->setText(QStringLiteral("7000"));
    QPushButton *multicast = AddButton(0, QStringLiteral("组播…"), kRightColumnX, 219, kRightColumnWidth, 14);
    multicast->setObjectName(QStringLiteral("multicast"));
    connect(multicast, &QPushButton::clicked, this, &CUdpServerPage::OnMulticast);
    connect(&Area(), &TrafficArea::LargeDataChanged, this, [this](bool on) {
        if (on && m_socket >= 0)
            RaiseDatagramReceiveBuffer(m_socket);
    });
}

void CUdpServerPage::CloseSocket()
{
    if (m_socket < 0)
        return;
    // The notifier goes first: the number is free for the next socket at once.
    SocketEvents()->Unregister(m_socket);
    m_multicast->Detach();
    ::close(m_socket);
    m_socket = -1;
}

bool CUdpServerPage::AcceptsListenFields(const QString &host, int port)
{
    if (port == 0 || host.isEmpty()) {
        AppMessageBox(QStringLiteral("请填写所有参数"));
        return false;
    }
    return !IsListening();  // the button is disabled then; a second socket would leak the first
}

void CUdpServerPage::StartServing(int socket)
{
    WidenDatagramReceiveBuffer(socket);
    if (Area().IsLargeData())
        RaiseDatagramReceiveBuffer(socket);
    m_socket = socket;
    m_family = SocketFamily(socket);
    m_allInterfaces = IsBoundToAllInterfaces(socket);
    SocketEvents()->Register(m_socket, FD_READ);
    m_multicast->Attach(m_socket, m_allInterfaces || IsBoundToGroup(m_socket));
}

void CUdpServerPage::OnMulticast()
{
    if (!m_multicastWindow) {
        m_multicastWindow = new MulticastWindow(*m_multicast, this);
        connect(m_multicastWindow, &MulticastWindow::SendToGroupRequested, this, &CUdpServerPage::OnSendToGroup);
    }
    auto *host = qobject_cast<QComboBox *>(GetDlgItem(UdpServerIds::kHost));
    QStringList addresses;
    for (int i = 0; host && i < host->count(); ++i)
        addresses.append(host->itemText(i));
    m_multicastWindow->SetHostAddresses(addresses);
    m_multicastWindow->show();
    m_multicastWindow->raise();
    m_multicastWindow->activateWindow();
}

void CUdpServerPage::OnSendToGroup(const QString &group)
{
    SocketAddress local;
    socklen_t length = SocketAddress::Capacity();
    std::optional<SocketAddress> destination = ParseGroupAddress(group);
    if (m_socket < 0 || !destination || ::getsockname(m_socket, local.Data(), &length) != 0) {
        AppMessageBox(QStringLiteral("请先侦听!"));
        return;
    }
    destination->SetPort(local.Port());
    const QByteArray line = PeerText(*destination);
    AddPeer(line);
    for (int row = 0; row < Peers()->GetCount(); ++row)
        if (Peers()->GetText(row) == line)
            Peers()->SetCurSel(row);
}

QJsonObject CUdpServerPage::SaveState(bool withHistory) const
{
    QJsonObject state = CServerPage::SaveState(withHistory);
    QJsonArray groups;
    for (const MulticastGroup &group : m_multicast->Groups())
        groups.append(
            QJsonObject{{QStringLiteral("group"), group.group}, {QStringLiteral("interface"), group.interfaceAddress}});
    state.insert(QStringLiteral("multicastGroups"), groups);
    state.insert(QStringLiteral("multicastHops"), m_multicast->Hops());
    state.insert(QStringLiteral("multicastLoopback"), m_multicast->Loopback());
    return state;
}

void CUdpServerPage::RestoreState(const QJsonObject &state)
{
    CServerPage::RestoreState(state);
    QList<MulticastGroup> groups;
    for (const QJsonValue &group : state.value(QStringLiteral("multicastGroups")).toArray())
        groups.append({group[QStringLiteral("group")].toString(), group[QStringLiteral("interface")].toString()});
    m_multicast->SetGroups(groups);
    m_multicast->SetHops(
        std::clamp(state.value(QStringLiteral("multicastHops")).toInt(MulticastMemberships::kDefaultHops), 0, 255));
    m_multicast->SetLoopback(state.value(QStringLiteral("multicastLoopback")).toBool(true));
}

void CUdpServerPage::AddPeer(const QByteArray &peerText)
{
    if (m_peers.contains(peerText))
        return;
    m_peers.insert(peerText);
    Peers()->AddString(peerText);
}

void CUdpServerPage::OnDeletePeer()
{
    const int selected = Peers()->GetCurSel();
    if (selected < 0) {
        AppMessageBox(QStringLiteral("请选择要删除的客户端!"));
        return;
    }
    m_peers.remove(Peers()->GetText(selected));
    Peers()->DeleteString(selected);
    Peers()->SetCurSel(-1);  // the list view would select the neighbour
}

void CUdpServerPage::OnSocketEvent(int socket, int event)
{
    if (event != FD_READ || socket != m_socket)
        return;
    Slice()->Begin();
    for (int datagrams = 0; datagrams < kMaxReadsPerSlice; ++datagrams) {
        if (!ReceiveDatagram() || Slice()->IsOver())
            return;
    }
}

bool CUdpServerPage::ReceiveDatagram()
{
    // On the stack, not a member: a box shown on the way lets the next datagram be read into
    // a buffer of its own while this one is still to be echoed.
    char datagram[kLargeDatagramSize];
    int received = 0;
    SocketAddress source;
    DatagramArrival arrival;
    switch (ReadDatagram(m_socket, datagram, Area().Limits().datagramBuffer, received, source,
                         m_allInterfaces ? &arrival : nullptr)) {
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
    const SocketAddress replyAddress = source;
    SystemLog::Append(g_strDateTime + QStringLiteral(" UDP接收来自") + QString::fromLatin1(peer)
                      + QStringLiteral("的数据\r\n"));
    const QByteArrayView bytes(datagram, received);
    Slice()->Count(received);
    Area().Tap().UdpReceived(m_socket, source.Data(), bytes);
    Area().Recorder().ShowReceived(bytes, peer);

    ReadReplyMode();
    if (Area().IsAutoReplying()) {
        if (m_replyMode == ReplyMode::Data)
            ReplyWithData(replyAddress, arrival);
        else
            ReplyEcho(replyAddress, arrival, bytes);
    }
    // A box shown on the way may have let Stop close the socket.
    return m_socket >= 0;
}

bool CUdpServerPage::SendTo(const SocketAddress &to, QByteArrayView bytes, const DatagramArrival *from)
{
    if (m_socket < 0 || !SendDatagram(m_socket, bytes, to, from))
        return false;
    Area().Tap().UdpSent(m_socket, to.Data(), bytes);
    return true;
}

SocketAddress CUdpServerPage::PeerOfLine(int row) const
{
    return EndpointOfPeerText(Peers()->GetText(row)).For(m_family);
}

void CUdpServerPage::ReplyWithData(const SocketAddress &replyAddress, const DatagramArrival &arrival)
{
    Payload payload;
    if (!Area().MakeDataReply(payload))
        return;
    // A reply the system refused is not reported as sent.
    if (SendTo(replyAddress, payload.bytes, &arrival))
        Area().Recorder().CountAndRecordSent(payload.Counted(), payload.BytesLogText());
}

void CUdpServerPage::ReplyEcho(const SocketAddress &replyAddress, const DatagramArrival &arrival,
                               QByteArrayView datagram)
{
    if (SendTo(replyAddress, datagram, &arrival))
        Area().Recorder().CountAndRecordSent(datagram.size(), PayloadCodec::DataText(datagram, false));
}

std::optional<BinCaptureTarget> CUdpServerPage::CapturedPeer()
{
    const int selected = Peers()->GetCurSel();
    if (selected < 0) {
        AppMessageBox(QStringLiteral("请选择需要捕获的客户端!"));
        return std::nullopt;
    }
    return BinCaptureTarget::Udp(IpEndpoint::FromSockaddr(EndpointOfPeerText(Peers()->GetText(selected)).Data()));
}

bool CUdpServerPage::StartFileSend(const QString &path, FileSendTally &tally)
{
    const int selected = Peers()->GetCurSel();
    if (m_socket < 0 || selected < 0) {
        AppMessageBox(QStringLiteral("请选择要发送的目的地!"));
        return false;
    }
    return Area().SendFileAsDatagrams(m_socket, PeerOfLine(selected), path, tally);
}

void CUdpServerPage::CancelFileSend()
{
    Area().CancelDatagramFile();
}

void CUdpServerPage::OnSend()
{
    if (Area().RefuseEmptySend())
        return;
    const int selected = Peers()->GetCurSel();
    if (selected < 0) {
        Area().RefuseSend(QStringLiteral("请选择要发送的目的地!"));
        return;
    }
    const SocketAddress destination = PeerOfLine(selected);
    Payload payload;
    if (Area().MakePayload(payload) != PayloadCodec::HexFailure::None)
        return;
    if (!SendTo(destination, payload.bytes)) {
        Area().FailSend(QStringLiteral("数据发送失败!"));
        return;
    }
    Area().Recorder().CountAndRecordSent(payload.Counted(), payload.BytesLogText());
}
