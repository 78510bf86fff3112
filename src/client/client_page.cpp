#include "client/client_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

#include "app/globals.h"
#include "common/extent_list_box.h"
#include "common/receive_slice.h"
#include "common/send_box.h"
#include "common/server_page_layout.h"
#include "common/tcp_send_path.h"
#include "common/timed_sending.h"
#include "common/traffic_counters.h"
#include "common/traffic_rates.h"
#include "common/traffic_recorder.h"
#include "platform/datagram.h"
#include "platform/dialog_controls.h"
#include "platform/gbk.h"
#include "platform/ipv4_endpoint.h"
#include "platform/message_box.h"
#include "platform/socket_events.h"
#include "ui/ipv4_address_edit.h"
#include "ui/system_log.h"

namespace {

const QString kCaption = QStringLiteral("TCP/UDP Client提示");
// Seen from the client, data comes from the server and goes to it.
const QByteArray kReceivedTag = "SERVER->CLIENT  ";
const QByteArray kSentTag = "CLIENT->SERVER  ";
constexpr int kReadSize = 256;
constexpr int kDatagramSize = 128;
constexpr int kMaxReadsPerSlice = 4096;

const TrafficAreaIds kIds{QStringLiteral("logclient.txt"), 1040, 1043, 1057, 1041, 1042, 0, 0, 0,
                          1058, 1059, 1060, 1061, 0, 1056, 1121, 1122, 1123, 1124};

} // namespace

CClientPage::CClientPage(QWidget *parent)
    : CDialogPage(kTemplateId, parent)
    , m_log(QStringLiteral("logclient.txt"), kCaption, g_bClientTrafficLog)
    , m_socketEvents(new SocketEventRegistry(this))
    , m_sendPath(new TcpSendPath(this))
    , m_receiveSlice(new ReceiveSlice(this))
    , m_connectTimer(new QTimer(this))
{
    m_connectTimer->setSingleShot(true);
    m_connectTimer->setTimerType(Qt::PreciseTimer);  // a coarse timer may end the wait a second early
    connect(m_connectTimer, &QTimer::timeout, this, &CClientPage::OnConnectFailed);
    connect(m_socketEvents, &SocketEventRegistry::SocketEvent, this, &CClientPage::OnSocketEvent);
    connect(m_sendPath, &TcpSendPath::BytesSent, this, [this](int, qint64 counted) { m_counters->AddTx(counted); });
    connect(m_sendPath, &TcpSendPath::Drained, this, [this](int socket) {
        // A failed write: reading on shows the close.
        if (m_socketEvents->IsRegistered(socket))
            m_socketEvents->SetReadPaused(socket, false);
    });
}

CClientPage::~CClientPage()
{
    CloseSocket();
}

void CClientPage::CreateControls()
{
    AddGroup(QStringLiteral("选项"), 2, 2, 351, 66);
    AddLabel(QStringLiteral("主机:"), 10, 16, 22, 10);
    m_editHost = Place(new Ipv4AddressEdit, 1052, 34, 14, 100, 13);
    AddLabel(QStringLiteral(":"), 136, 16, 6, 10);
    m_editPort = AddEdit(1039, 144, 14, 40, 13);
    AcceptDigitsOnly(m_editPort);
    AddLabel(QStringLiteral("协议:"), 192, 16, 22, 10);
    m_comboProtocol = Place(new QComboBox, 1053, 216, 14, 50, 13);
    m_comboProtocol->addItems({QString(), QStringLiteral("TCP"), QStringLiteral("UDP")});
    m_comboProtocol->setCurrentIndex(-1);
    m_btnConnect = AddButton(1054, QStringLiteral("连  接"), 60, 40, 50, 15);
    m_btnDisconnect = AddButton(1055, QStringLiteral("断  开"), 150, 40, 50, 15);

    const TrafficAreaControls controls = BuildTrafficArea(this, kIds);
    m_listData = controls.dataList;
    m_sendBox = std::make_unique<SendBox>(controls.sendBox, controls.hexSend, controls.encoding);
    m_timedSending = new TimedSending(controls.timedSend, controls.interval, kRepeatTimerId, this);
    m_counters = new TrafficCounters(controls.tx, controls.rx, this);
    new TrafficRates(*m_counters, controls.txRate, controls.rxRate, m_counters);
    m_recorder = std::make_unique<TrafficRecorder>(m_listData, controls.hexDisplay, controls.encoding, m_log,
                                                   *m_counters, kReceivedTag, kSentTag);

    connect(m_btnConnect, &QPushButton::clicked, this, &CClientPage::OnConnect);
    connect(controls.timedSend, &QCheckBox::clicked, this, &CClientPage::OnTimedSend);
    connect(controls.send, &QPushButton::clicked, this, &CClientPage::OnSend);
    connect(m_timedSending, &TimedSending::Tick, this, &CClientPage::OnSend);
    connect(m_btnDisconnect, &QPushButton::clicked, this, &CClientPage::OnDisconnect);
    connect(controls.clearCounters, &QPushButton::clicked, this, &CClientPage::OnClearCounters);
}

void CClientPage::OnInitDialog()
{
    CreateControls();
}

qint64 CClientPage::RxCount() const
{
    return m_counters ? m_counters->Rx() : 0;
}

qint64 CClientPage::TxCount() const
{
    return m_counters ? m_counters->Tx() : 0;
}

void CClientPage::CloseSocket()
{
    m_connectTimer->stop();
    m_connectNotifier.reset();
    if (m_socket >= 0) {
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
    const QString host = m_editHost->AddressText();
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
    m_socket = ::socket(AF_INET, (m_socketIsTcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_socket < 0) {
        m_socket = -1;  // no socket: a later Send says so
        SystemLog::Append(QStringLiteral("无法创建服务器socket!"), QStringLiteral("无法创建服务器socket!\r\n"));
        AppMessageBox(QStringLiteral("无法创建服务器socket!"));
        return;
    }
    m_serverAddr = {};
    m_serverAddr.sin_family = AF_INET;
    m_serverAddr.sin_port = htons(static_cast<quint16>(port));  // 70000 connects to 4464
    m_serverAddr.sin_addr.s_addr = ::inet_addr(host.toLatin1().constData());
    m_state = State::Connecting;
    m_comboProtocol->setEnabled(false);
    m_btnConnect->setEnabled(false);
    if (!m_socketIsTcp) {
        WidenDatagramReceiveBuffer(m_socket);
        FinishConnect();
        return;
    }
    // The window goes on while the handshake runs; its end comes as writability.
    if (::connect(m_socket, reinterpret_cast<const sockaddr *>(&m_serverAddr), sizeof m_serverAddr) == 0) {
        FinishConnect();
        return;
    }
    if (errno != EINPROGRESS) {
        OnConnectFailed();
        return;
    }
    m_connectNotifier = std::make_unique<QSocketNotifier>(m_socket, QSocketNotifier::Write);
    connect(m_connectNotifier.get(), &QSocketNotifier::activated, this, &CClientPage::OnConnectWritable);
    m_connectTimer->start(kConnectTimeoutMs);
}

void CClientPage::OnConnectWritable()
{
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &error, &length);
    m_connectTimer->stop();
    m_connectNotifier->setEnabled(false);
    m_connectNotifier.release()->deleteLater();  // it may be the one being delivered
    if (error != 0)
        OnConnectFailed();
    else
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
    const bool record = m_log.StartLog(this, m_socketIsTcp ? TrafficLog::Header::TcpClient : TrafficLog::Header::UdpClient);
    if (!record)
        m_log.StopLog();  // No means this connection is not recorded
    if (m_socket != socket || m_state != State::Connecting)
        return;  // disconnected while the question was open
    // A datagram socket has no close event: an empty datagram is a datagram.
    m_socketEvents->Register(m_socket, m_socketIsTcp ? FD_READ | FD_CLOSE : FD_READ);
    m_state = State::Open;
    SystemLog::Append(g_strDateTime + QStringLiteral(" 成功连接到") + m_hostText + QStringLiteral("的")
                      + QString::number(m_portNumber) + QStringLiteral("端口 ")
                      + (m_socketIsTcp ? QStringLiteral("连接方式为TCP!\r\n") : QStringLiteral("连接方式为UDP!\r\n")));
    m_comboProtocol->setEnabled(false);
    m_btnConnect->setEnabled(false);
}

void CClientPage::OnDisconnect()
{
    // Also cancels an attempt that is still running: no failure follows.
    CloseSocket();
    SystemLog::Append(g_strDateTime + QStringLiteral(" 用户主动与服务器断开\r\n"));
    m_comboProtocol->setEnabled(true);
    m_btnConnect->setEnabled(true);
    m_log.StopLog();
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
    m_timedSending->Stop();
    SystemLog::Append(g_strDateTime + QLatin1Char(' ') + QString::fromLatin1(PeerTextOf(socket))
                      + QStringLiteral("服务器主动断开\r\n"));
    m_state = State::ClosedByServer;  // the socket stays until Connect or Disconnect
    m_comboProtocol->setEnabled(true);
    m_btnConnect->setEnabled(true);
}

void CClientPage::ReceiveTcp(int socket)
{
    m_receiveSlice->Begin();
    const QByteArray peer = PeerTextOf(socket);
    for (int reads = 0; reads < kMaxReadsPerSlice; ++reads) {
        std::fill_n(m_recvBuffer.begin(), kReadSize, 0);
        const ssize_t received = ::recv(socket, m_recvBuffer.data(), kReadSize, MSG_DONTWAIT);
        // Nothing there, a failure or the end of the stream (said by the close event): no line.
        if (received <= 0)
            return;
        m_recorder->ShowReceived(QByteArrayView(m_recvBuffer.data(), received), peer);
        if (m_receiveSlice->IsOver() || !DataWaiting(socket))
            return;
    }
}

void CClientPage::ReceiveUdp(int socket)
{
    m_receiveSlice->Begin();
    for (int reads = 0; reads < kMaxReadsPerSlice; ++reads) {
        char datagram[kDatagramSize] = {};
        int received = 0;
        sockaddr_in source{};
        const DatagramRead read = ReadDatagram(socket, datagram, kDatagramSize, received, source);
        if (read == DatagramRead::Nothing)
            return;
        if (read == DatagramRead::Failed)
            m_listData->InsertString(0, ToGbk(u"接收数据失败！\r\n"));
        else
            m_recorder->ShowReceived(QByteArrayView(datagram, received), PeerText(source));
        if (m_receiveSlice->IsOver())
            return;
    }
}

void CClientPage::RefuseSend(const QString &message)
{
    m_timedSending->Stop();
    AppMessageBox(message);
}

void CClientPage::OnSend()
{
    if (m_sendBox->IsEmpty()) {
        RefuseSend(QStringLiteral("发送内容不能为空!"));
        return;
    }
    if (m_socket < 0) {
        RefuseSend(QStringLiteral("套接字为空,无法发送!"));
        return;
    }
    Payload payload;
    const PayloadCodec::HexFailure failure = m_sendBox->MakePayload(payload);
    if (failure != PayloadCodec::HexFailure::None) {
        RefuseSend(PayloadCodec::FailureMessage(failure));
        return;
    }
    // Nothing goes out before the success line, nor after the server's close.
    if (m_state != State::Open) {
        RefuseSend(QStringLiteral("数据发送失败"));
        return;
    }
    if (m_socketIsTcp) {
        if (!m_sendPath->Send(m_socket, payload.bytes, payload.uncountedTail)) {
            RefuseSend(QStringLiteral("数据发送失败"));
            return;
        }
        m_recorder->RecordSent(payload.prepared);
        return;
    }
    const ssize_t sent = ::sendto(m_socket, payload.bytes.constData(), static_cast<size_t>(payload.bytes.size()),
                                  MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr *>(&m_serverAddr),
                                  sizeof m_serverAddr);
    if (sent != payload.bytes.size()) {
        RefuseSend(QStringLiteral("数据发送失败"));
        return;
    }
    m_recorder->CountAndRecordSent(payload.Counted(), payload.prepared);
}

void CClientPage::OnTimedSend()
{
    m_timedSending->OnClicked();
}

void CClientPage::OnClearCounters()
{
    m_counters->Clear();
}
