#include "pages/client/client_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

#include "pages/control_ids.h"
#include "pages/dialog_controls.h"
#include "pages/message_box.h"
#include "pages/traffic_area/traffic_area.h"
#include "platform/datagram.h"
#include "platform/host_lookup.h"
#include "platform/ip_socket.h"
#include "platform/socket_address.h"
#include "platform/socket_events.h"
#include "traffic/clock_text.h"
#include "traffic/file_send_tally.h"
#include "traffic/receive_slice.h"
#include "traffic/system_log.h"
#include "traffic/tcp_send_path.h"
#include "traffic/traffic_recorder.h"
#include "widgets/ipv4_address_edit.h"

int g_bClientTrafficLog = 0;

namespace {

const QString kHostNameHint = QStringLiteral("IPv6地址或主机名: 填写时代替左边的IPv4地址");

// An address written out in the host name field needs no lookup.
std::optional<SocketAddress> AddressLiteral(const QString &text, int port)
{
    in_addr v4{};
    if (::inet_pton(AF_INET, text.toLatin1().constData(), &v4) == 1)
        return SocketAddress(Ipv4Endpoint(text, port));
    return ParseIpv6Literal(text, static_cast<quint16>(port));
}

}  // namespace

CClientPage::CClientPage(QWidget *parent)
    : CTrafficPage(kTemplateId, parent)
    , m_socketEvents(new SocketEventRegistry(this))
    , m_sendPath(new TcpSendPath(this))
    , m_receiveSlice(new ReceiveSlice(this))
    , m_hostLookup(new HostLookup(this))
    , m_connectTimer(new QTimer(this))
{
    m_connectTimer->setSingleShot(true);
    m_connectTimer->setTimerType(Qt::PreciseTimer);  // a coarse timer may end the wait a second early
    connect(m_connectTimer, &QTimer::timeout, this, &CClientPage::OnConnectFailed);
    connect(m_socketEvents, &SocketEventRegistry::SocketEvent, this, &CClientPage::OnSocketEvent);
}

CClientPage::~CClientPage()
{
    CloseSocket();
}

void CClientPage::CreateControls()
{
    using namespace ClientIds;
    AddGroup(QStringLiteral("选项"), 2, 2, 351, 66);
    AddLabel(QStringLiteral("主机:"), 10, 16, 22, 10);
    m_editHost = Place(new Ipv4AddressEdit, kHost, 34, 14, 100, 13);
    AddLabel(QStringLiteral(":"), 136, 16, 6, 10);
    m_editPort = AddEdit(kPort, 144, 14, 40, 13);
    AcceptDigitsOnly(m_editPort);
    AddLabel(QStringLiteral("协议:"), 192, 16, 22, 10);
    m_comboProtocol = Place(new QComboBox, kProtocol, 216, 14, 50, 13);
    m_comboProtocol->addItems({QString(), QStringLiteral("TCP"), QStringLiteral("UDP")});
    m_comboProtocol->setCurrentIndex(-1);
    m_editHostName = AddEdit(0, 270, 14, 79, 13);
    m_editHostName->setObjectName(QStringLiteral("hostName"));
    m_editHostName->setPlaceholderText(QStringLiteral("IPv6/主机名"));
    m_editHostName->setToolTip(kHostNameHint);
    m_btnConnect = AddButton(kConnect, QStringLiteral("连  接"), 60, 40, 50, 15);
    m_btnDisconnect = AddButton(kDisconnect, QStringLiteral("断  开"), 150, 40, 50, 15);
    m_broadcast = AddCheckBox(0, QStringLiteral("广播"), kRightColumnX, kRightColumnPageY, kRightColumnWidth, 10);
    m_broadcast->setObjectName(QStringLiteral("broadcast"));
    m_broadcast->setToolTip(QStringLiteral("UDP: 允许发送到广播地址"));

    // Seen from the client, data comes from the server and goes to it.
    CreateTrafficArea(TrafficAreaIds::Of<ClientIds::Id>(),
                      {QStringLiteral("TCP/UDP Client提示"), QStringLiteral("logclient.txt"), &g_bClientTrafficLog,
                       "SERVER->CLIENT  ", "CLIENT->SERVER  ", kRepeatTimerId});
    ConnectSendPath(*m_sendPath, *m_socketEvents, Area().Counters());
    FollowFileSends(*m_sendPath, Area().FileTally());
    Area().TapSends(*m_sendPath);
    Area().SetSendsGone(
        [this] { return m_socket < 0 || (m_sendPath->Queued(m_socket) == 0 && !m_sendPath->IsSendingFile(m_socket)); });
    Area().SetSendsDatagrams(true);

    connect(m_btnConnect, &QPushButton::clicked, this, &CClientPage::OnConnect);
    connect(m_editHost, &Ipv4AddressEdit::AddressChanged, this, &CClientPage::StateChanged);
    connect(m_editHostName, &QLineEdit::textChanged, this, &CClientPage::OnHostNameEdited);
    connect(m_editHostName, &QLineEdit::textChanged, this, &CClientPage::StateChanged);
    connect(m_editPort, &QLineEdit::textChanged, this, &CClientPage::StateChanged);
    connect(m_comboProtocol, &QComboBox::currentIndexChanged, this, &CClientPage::StateChanged);
    connect(m_btnDisconnect, &QPushButton::clicked, this, &CClientPage::OnDisconnect);
    connect(m_broadcast, &QCheckBox::toggled, this, &CClientPage::OnBroadcastToggled);
    connect(&Area(), &TrafficArea::LargeDataChanged, this, [this](bool on) {
        if (on && m_socket >= 0 && !m_socketIsTcp)
            RaiseDatagramReceiveBuffer(m_socket);
    });
}

void CClientPage::OnBroadcastToggled()
{
    if (m_socket >= 0 && !m_socketIsTcp)
        SetBroadcast(m_socket, m_broadcast->isChecked());
    emit StateChanged();
}

void CClientPage::OnInitDialog()
{
    CreateControls();
}

void CClientPage::OnHostNameEdited(const QString &text)
{
    // The field is narrow: a long name is read in full here.
    m_editHostName->setToolTip(text.isEmpty() ? kHostNameHint : text);
}

void CClientPage::CloseSocket()
{
    m_connectTimer->stop();
    m_connectNotifier.reset();
    m_hostLookup->Cancel();
    m_untried.clear();
    if (m_socket >= 0) {
        if (!m_socketIsTcp)
            Area().Tap().UdpClosed(m_socket);
        else if (m_state == State::Open)
            Area().Tap().TcpClosed(m_socket, false);
        // Notifiers and queue go first: the number is free for the next socket at once.
        m_sendPath->Forget(m_socket);
        m_socketEvents->Unregister(m_socket);
        ::close(m_socket);
    }
    m_socket = -1;
    m_state = State::Idle;
}

void CClientPage::OnConnect()
{
    const QString name = m_editHostName->text().trimmed();
    const QString host = name.isEmpty() ? m_editHost->AddressText() : name;
    const QString protocol = m_comboProtocol->currentText();
    const int port = ReadNumber(m_editPort);
    if (host.isEmpty() || protocol.isEmpty() || port == 0) {
        AppMessageBox(QStringLiteral("输入参数不全!"));
        return;
    }
    CloseSocket();
    m_socketIsTcp = protocol == QLatin1String("TCP");
    m_hostText = host;
    m_portNumber = port;
    m_hostTextFromAddress = !name.isEmpty();
    m_anySocketOpened = false;
    m_state = State::Connecting;
    m_comboProtocol->setEnabled(false);
    m_btnConnect->setEnabled(false);
    // One limit for the name's lookup and the attempts on all its addresses.
    m_connectTimer->start(kConnectTimeoutMs);
    if (name.isEmpty()) {
        m_untried = {SocketAddress(Ipv4Endpoint(host, port))};  // 70000 connects to 4464
        TryNextAddress();
    } else if (const auto literal = AddressLiteral(name, port)) {
        m_untried = {*literal};
        TryNextAddress();
    } else if (name.contains(QLatin1Char(':'))) {
        OnConnectFailed();  // no IPv6 address (a scope no interface has), and no name either
    } else {
        m_hostLookup->Start(name, [this](const QList<SocketAddress> &addresses) { OnHostResolved(addresses); });
    }
}

void CClientPage::OnHostResolved(const QList<SocketAddress> &addresses)
{
    if (addresses.isEmpty()) {
        OnConnectFailed();
        return;
    }
    m_untried = addresses;
    for (SocketAddress &address : m_untried)
        address.SetPort(static_cast<quint16>(m_portNumber));
    TryNextAddress();
}

void CClientPage::TryNextAddress()
{
    while (!m_untried.isEmpty()) {
        const SocketAddress address = m_untried.takeFirst();
        m_socket = OpenIpSocket(m_socketIsTcp ? SocketKind::Stream : SocketKind::Datagram, address.Family());
        if (m_socket < 0)
            continue;  // a family this system has no sockets for
        m_anySocketOpened = true;
        m_serverAddr = address;
        if (m_hostTextFromAddress)
            m_hostText = AddressText(address);
        if (!m_socketIsTcp) {
            WidenDatagramReceiveBuffer(m_socket);
            if (Area().IsLargeData())
                RaiseDatagramReceiveBuffer(m_socket);
            if (m_broadcast->isChecked())
                SetBroadcast(m_socket, true);
            m_connectTimer->stop();
            FinishConnect();
            return;
        }
        // The window goes on while the handshake runs; its end comes as writability.
        if (::connect(m_socket, m_serverAddr.Data(), m_serverAddr.Length()) == 0) {
            m_connectTimer->stop();
            FinishConnect();
            return;
        }
        if (errno == EINPROGRESS) {
            m_connectNotifier = std::make_unique<QSocketNotifier>(m_socket, QSocketNotifier::Write);
            connect(m_connectNotifier.get(), &QSocketNotifier::activated, this, &CClientPage::OnConnectWritable);
            return;
        }
        DropAttempt();
    }
    if (m_anySocketOpened) {
        OnConnectFailed();
        return;
    }
    CloseSocket();  // no socket: a later Send says so
    m_comboProtocol->setEnabled(true);
    m_btnConnect->setEnabled(true);
    SystemLog::Append(QStringLiteral("无法创建服务器socket!"), QStringLiteral("无法创建服务器socket!\r\n"));
    AppMessageBox(QStringLiteral("无法创建服务器socket!"));
}

void CClientPage::DropAttempt()
{
    m_connectNotifier.reset();
    ::close(m_socket);  // never registered: nothing else knows it
    m_socket = -1;
}

void CClientPage::OnConnectWritable()
{
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &error, &length);
    m_connectNotifier->setEnabled(false);
    m_connectNotifier.release()->deleteLater();  // it may be the one being delivered
    if (error != 0) {
        DropAttempt();
        TryNextAddress();
        return;
    }
    m_connectTimer->stop();
    FinishConnect();
}

void CClientPage::OnConnectFailed()
{
    // The attempt ends here: its socket too, so the system does not go on trying.
    CloseSocket();
    m_comboProtocol->setEnabled(true);
    m_btnConnect->setEnabled(true);
    SystemLog::Append(QStringLiteral("无法连接服务器!"), QStringLiteral("无法连接服务器!\r\n"));
    AppMessageBox(QStringLiteral("无法连接服务器!"));
}

void CClientPage::FinishConnect()
{
    const int socket = m_socket;
    const bool record = Area().StartLog(m_socketIsTcp ? TrafficLog::Header::TcpClient : TrafficLog::Header::UdpClient);
    if (!record)
        Area().StopLog();  // No means this connection is not recorded
    if (m_socket != socket || m_state != State::Connecting)
        return;  // disconnected while the question was open
    // A datagram socket has no close event: an empty datagram is a datagram.
    m_socketEvents->Register(m_socket, m_socketIsTcp ? FD_READ | FD_CLOSE : FD_READ);
    m_state = State::Open;
    if (m_socketIsTcp)
        Area().Tap().TcpOpened(m_socket, TcpOpener::ThisSide);
    SystemLog::Append(g_strDateTime + QStringLiteral(" 成功连接到") + m_hostText + QStringLiteral("的")
                      + QString::number(m_portNumber) + QStringLiteral("端口 ")
                      + (m_socketIsTcp ? QStringLiteral("连接方式为TCP!\r\n") : QStringLiteral("连接方式为UDP!\r\n")));
    m_comboProtocol->setEnabled(false);
    m_btnConnect->setEnabled(false);
}

void CClientPage::OnDisconnect()
{
    // Also cancels an attempt that is still running: no failure follows.
    CancelFileSend();
    CloseSocket();
    Area().EndCapture();
    SystemLog::Append(g_strDateTime + QStringLiteral(" 用户主动与服务器断开\r\n"));
    m_comboProtocol->setEnabled(true);
    m_btnConnect->setEnabled(true);
    Area().StopLog();
}

void CClientPage::OnSocketEvent(int socket, int event)
{
    if (socket != m_socket)
        return;
    if (m_socketIsTcp)
        OnTcpSocketEvent(socket, event);
    else
        OnUdpSocketEvent(socket, event);
}

void CClientPage::OnTcpSocketEvent(int socket, int event)
{
    if (event == FD_READ)
        ReceiveTcp(socket);
    else if (event == FD_CLOSE)
        OnServerClosed(socket);
}

void CClientPage::OnUdpSocketEvent(int socket, int event)
{
    if (event == FD_READ)
        ReceiveUdp(socket);
}

QByteArray CClientPage::PeerTextOf(int socket) const
{
    return PeerTextOfSocket(socket, m_serverAddr);
}

void CClientPage::OnServerClosed(int socket)
{
    Area().StopTimedSending();
    SystemLog::Append(g_strDateTime + QLatin1Char(' ') + QString::fromLatin1(PeerTextOf(socket))
                      + QStringLiteral("服务器主动断开\r\n"));
    m_state = State::ClosedByServer;  // the socket stays until Connect or Disconnect
    Area().Tap().TcpClosed(socket, true);
    m_comboProtocol->setEnabled(true);
    m_btnConnect->setEnabled(true);
}

void CClientPage::ReceiveTcp(int socket)
{
    m_receiveSlice->Begin();
    const QByteArray peer = PeerTextOf(socket);
    for (int reads = 0; reads < kMaxReadsPerSlice; ++reads) {
        const ssize_t received = ::recv(socket, m_recvBuffer.data(), Area().Limits().streamRead, MSG_DONTWAIT);
        // Nothing there, a failure or the end of the stream (said by the close event): no line.
        if (received <= 0)
            return;
        const QByteArrayView block(m_recvBuffer.data(), received);
        m_receiveSlice->Count(received);
        Area().Tap().TcpReceived(socket, block);
        Area().Recorder().ShowReceived(block, peer);
        if (m_receiveSlice->IsOver() || !DataWaiting(socket))
            return;
    }
}

void CClientPage::ReceiveUdp(int socket)
{
    m_receiveSlice->Begin();
    for (int reads = 0; reads < kMaxReadsPerSlice; ++reads) {
        int received = 0;
        SocketAddress source;
        const DatagramRead read =
            ReadDatagram(socket, m_recvBuffer.data(), Area().Limits().datagramBuffer, received, source);
        if (read == DatagramRead::Nothing)
            return;
        if (read == DatagramRead::Failed) {
            Area().ShowLine(QStringLiteral("接收数据失败！\r\n"));
        } else {
            m_receiveSlice->Count(received);
            ReceivedDatagram(socket, QByteArrayView(m_recvBuffer.data(), received), source);
        }
        if (m_receiveSlice->IsOver())
            return;
    }
}

void CClientPage::ReceivedDatagram(int socket, QByteArrayView datagram, const SocketAddress &source)
{
    Area().Tap().UdpReceived(socket, source.Data(), datagram);
    Area().Recorder().ShowReceived(datagram, PeerText(source));
}

QJsonObject CClientPage::SaveState(bool withHistory) const
{
    QJsonObject state = CTrafficPage::SaveState(withHistory);
    state.insert(QStringLiteral("host"), m_editHost->AddressText());
    state.insert(QStringLiteral("port"), m_editPort->text());
    state.insert(QStringLiteral("hostName"), m_editHostName->text());
    state.insert(QStringLiteral("protocol"), m_comboProtocol->currentText());
    state.insert(QStringLiteral("broadcast"), m_broadcast->isChecked());
    return state;
}

void CClientPage::RestoreState(const QJsonObject &state)
{
    CTrafficPage::RestoreState(state);
    if (state.value(QStringLiteral("host")).isString())
        m_editHost->SetAddressText(state.value(QStringLiteral("host")).toString());
    if (state.value(QStringLiteral("hostName")).isString())
        m_editHostName->setText(state.value(QStringLiteral("hostName")).toString());
    if (state.value(QStringLiteral("port")).isString())
        m_editPort->setText(state.value(QStringLiteral("port")).toString());
    const int protocol = m_comboProtocol->findText(state.value(QStringLiteral("protocol")).toString());
    if (protocol >= 0)
        m_comboProtocol->setCurrentIndex(protocol);
    m_broadcast->setChecked(state.value(QStringLiteral("broadcast")).toBool(false));
}

QList<int> CClientPage::OpenConnections() const
{
    return m_socketIsTcp && m_state == State::Open ? QList<int>{m_socket} : QList<int>{};
}

std::optional<BinCaptureTarget> CClientPage::CapturedPeer()
{
    if (m_state != State::Open) {
        AppMessageBox(QStringLiteral("未连接服务器，无法捕获!"));
        return std::nullopt;
    }
    if (m_socketIsTcp)
        return BinCaptureTarget::Tcp(m_socket);
    return BinCaptureTarget::Udp(IpEndpoint::FromSockaddr(m_serverAddr.Data()));
}

bool CClientPage::StartFileSend(const QString &path, FileSendTally &tally)
{
    if (m_socket < 0 || m_state != State::Open) {
        AppMessageBox(QStringLiteral("套接字为空,无法发送!"));
        return false;
    }
    if (!m_socketIsTcp)
        return Area().SendFileAsDatagrams(m_socket, m_serverAddr, path, tally);
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly) || !m_sendPath->SendFile(m_socket, std::move(file)))
        return false;
    tally.AddTarget(m_socket);
    return true;
}

void CClientPage::CancelFileSend()
{
    if (m_socket >= 0)
        m_sendPath->CancelFile(m_socket);
    Area().CancelDatagramFile();
}

void CClientPage::OnSend()
{
    if (Area().RefuseEmptySend())
        return;
    if (m_socket < 0) {
        Area().RefuseSend(QStringLiteral("套接字为空,无法发送!"));
        return;
    }
    Payload payload;
    if (Area().MakePayload(payload) != PayloadCodec::HexFailure::None)
        return;
    // Nothing goes out before the success line, nor after the server's close.
    if (m_state != State::Open || !SendPayload(payload))
        Area().RefuseSend(QStringLiteral("数据发送失败"));
}

bool CClientPage::SendPayload(const Payload &payload)
{
    if (m_socketIsTcp) {
        if (!m_sendPath->Send(m_socket, payload.bytes, payload.uncountedAt))
            return false;
        Area().Recorder().RecordSent(payload.prepared + payload.TrailerLogText());
        return true;
    }
    if (!SendDatagram(m_socket, payload.bytes, m_serverAddr))
        return false;
    Area().Tap().UdpSent(m_socket, m_serverAddr.Data(), payload.bytes);
    Area().Recorder().CountAndRecordSent(payload.Counted(), payload.prepared + payload.TrailerLogText());
    return true;
}
