#include "tcpserver/tcp_server_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>

#include <arpa/inet.h>
#include <climits>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/globals.h"
#include "common/extent_list_box.h"
#include "common/payload_codec.h"
#include "common/receive_slice.h"
#include "common/tcp_send_path.h"
#include "common/traffic_counters.h"
#include "platform/gbk.h"
#include "platform/message_box.h"
#include "platform/socket_events.h"
#include "platform/window_timers.h"
#include "tcpserver/accept_worker.h"
#include "tcpserver/client_session.h"
#include "ui/ip_info_dlg.h"
#include "ui/system_log.h"

namespace {

const QString kCaption = QStringLiteral("TCP Server提示");
const QByteArray kOwnReply = ToGbk(u"服务器自己进行数据回复");
constexpr int kReadSize = 256;
// A flood is read block after block for up to one shared slice per pass of the event loop
// (at least one block per notification, so every sender gets its turn).
constexpr int kMaxBlocksPerSlice = 4096;

bool DataWaiting(int socket)
{
    int waiting = 0;
    return ::ioctl(socket, FIONREAD, &waiting) == 0 && waiting > 0;
}

// Reads a box as a signed number, 0 when it is not one.
int ReadNumber(const QLineEdit *edit)
{
    bool ok = false;
    const int value = edit->text().trimmed().toInt(&ok);
    return ok ? value : 0;
}

// The id of a client list line "a.b.c.d:port-id": the whole number after the first hyphen,
// so that 10000 is never read as 1000.
int IdOfClientLine(const QByteArray &line)
{
    const qsizetype hyphen = line.indexOf('-');
    if (hyphen < 0)
        return -1;
    bool ok = false;
    const int id = line.mid(hyphen + 1).toInt(&ok);
    return ok ? id : -1;
}

QByteArray PeerTextFromSocket(int socket)
{
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    ::getpeername(socket, reinterpret_cast<sockaddr *>(&peer), &length);
    char address[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    return QByteArray(address) + ':' + QByteArray::number(ntohs(peer.sin_port));
}

} // namespace

CTcpServerPage::CTcpServerPage(QWidget *parent)
    : CDialogPage(kTemplateId, parent)
    , m_log(QStringLiteral("logtcp.txt"), kCaption, g_bTcpTrafficLog)
    , m_socketEvents(new SocketEventRegistry(this))
    , m_sendPath(new TcpSendPath(this))
    , m_receiveSlice(new ReceiveSlice(this))
    , m_timers(new WindowTimers(this))
{
    connect(m_socketEvents, &SocketEventRegistry::SocketEvent, this, &CTcpServerPage::OnSocketEvent);
    connect(m_sendPath, &TcpSendPath::BytesSent, this, [this](int, qint64 counted) { m_counters->AddTx(counted); });
    connect(m_sendPath, &TcpSendPath::Drained, this, &CTcpServerPage::OnSendDrained);
    connect(m_timers, &WindowTimers::Timeout, this, &CTcpServerPage::OnTimer);
}

CTcpServerPage::~CTcpServerPage()
{
    // The window goes while listening: end the worker first, then every socket, silently.
    EndAcceptWorker();
    for (ClientSession *session = g_pSessionHead; session; session = session->next)
        CloseSessionSocket(session->socket);
    Sessions::Clear();
    if (m_listenSocket >= 0)
        ::close(m_listenSocket);
}

void CTcpServerPage::CreateControls()
{
    AddGroup(QStringLiteral("TCP服务设置"), 2, 2, 351, 132);
    AddGroup(QStringLiteral("选项"), 6, 11, 150, 60);
    AddLabel(QStringLiteral("主机:"), 10, 22, 22, 10);
    m_comboHost = Place(new QComboBox, 1007, 34, 20, 72, 13);
    auto *ipInfo = AddButton(1008, QStringLiteral("IP信息"), 110, 20, 40, 14);
    AddLabel(QStringLiteral("TCP端口:"), 10, 39, 38, 10);
    m_editPort = AddEdit(1006, 50, 37, 40, 12);
    m_btnListen = AddButton(1004, QStringLiteral("侦 听"), 10, 53, 40, 14);
    auto *stop = AddButton(1005, QStringLiteral("停 止"), 56, 53, 40, 14);

    AddGroup(QStringLiteral("客户端"), 160, 11, 189, 60);
    m_listClients = Place(new LineListBox, 1010, 164, 21, 122, 46);
    m_listClients->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *disconnectButton = AddButton(1009, QStringLiteral("断 开"), 292, 21, 40, 14);
    AddIcon(QStringLiteral(":/icons/143.png"), 300, 44);

    AddLabel(QStringLiteral("数据发送区:"), 8, 76, 50, 10);
    m_editSend = AddEdit(1039, 8, 87, 240, 13);
    auto *send = AddButton(1042, QStringLiteral("发  送"), 254, 86, 45, 15);
    m_checkTimedSend = AddCheckBox(1038, QStringLiteral("定时发送"), 8, 104, 46, 10);
    m_editInterval = AddEdit(1040, 56, 103, 36, 12);
    m_editInterval->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d*")), m_editInterval));
    AddLabel(QStringLiteral("ms"), 94, 105, 12, 10);
    m_checkHexSend = AddCheckBox(1041, QStringLiteral("16进制发送"), 110, 104, 56, 10);
    m_checkSendAll = AddCheckBox(1065, QStringLiteral("是否群发"), 170, 104, 46, 10);
    m_pAutoReply = AddCheckBox(1062, QStringLiteral("自动回复"), 8, 119, 46, 10);
    m_pReplyData = AddRadioButton(1063, QStringLiteral("数据回复"), 56, 119, 46, 10);
    m_pReplyEcho = AddRadioButton(1064, QStringLiteral("透明回复"), 104, 119, 46, 10);
    AddLabel(QStringLiteral("TX:"), 156, 120, 14, 10);
    m_editTx = AddEdit(1011, 170, 118, 54, 12);
    AddLabel(QStringLiteral("RX:"), 228, 120, 14, 10);
    m_editRx = AddEdit(1012, 242, 118, 54, 12);
    for (QLineEdit *count : {m_editTx, m_editRx}) {
        count->setReadOnly(true);
        count->setAlignment(Qt::AlignCenter);
    }
    m_counters = new TrafficCounters(m_editTx, m_editRx, this);
    auto *clearCounters = AddButton(1013, QStringLiteral("计数清零"), 300, 117, 46, 14);

    AddLabel(QStringLiteral("数据显示区:"), 4, 139, 50, 10);
    m_checkHexDisplay = AddCheckBox(1022, QStringLiteral("16进制显示"), 58, 138, 56, 10);
    auto *clearData = AddButton(1054, QStringLiteral("清空数据"), 118, 136, 46, 14);
    AddLabel(QStringLiteral("/*收发数据保存在当前目录下的logtcp.txt中*/"), 170, 139, 183, 10);
    m_listData = Place(new CExtentListBox, 1050, 2, 152, 351, 86);

    SetDefaultButton(send);
    connect(m_btnListen, &QPushButton::clicked, this, &CTcpServerPage::OnListen);
    connect(stop, &QPushButton::clicked, this, &CTcpServerPage::OnStop);
    connect(ipInfo, &QPushButton::clicked, this, &CTcpServerPage::OnIpInfo);
    connect(disconnectButton, &QPushButton::clicked, this, &CTcpServerPage::OnDisconnect);
    connect(send, &QPushButton::clicked, this, &CTcpServerPage::OnSend);
    connect(m_checkTimedSend, &QCheckBox::clicked, this, &CTcpServerPage::OnTimedSend);
    connect(m_pAutoReply, &QCheckBox::clicked, this, &CTcpServerPage::OnAutoReply);
    connect(clearCounters, &QPushButton::clicked, this, &CTcpServerPage::OnClearCounters);
    connect(clearData, &QPushButton::clicked, this, &CTcpServerPage::OnClearData);
}

void CTcpServerPage::OnInitDialog()
{
    CreateControls();
    if (g_pHostEntry) {
        for (const QString &address : g_pHostEntry->addresses)
            m_comboHost->addItem(address);
        m_comboHost->model()->sort(0);  // the host box sorts its items
    }
    m_comboHost->setCurrentIndex(0);
    m_editPort->setText(QStringLiteral("6800"));
    m_editInterval->setText(QStringLiteral("1000"));
    m_replyMode = 0;
    m_pReplyData->setChecked(true);
    for (QWidget *control : std::initializer_list<QWidget *>{m_pAutoReply, m_pReplyData, m_pReplyEcho})
        control->setEnabled(false);
}

bool CTcpServerPage::IsTimedSending() const
{
    return m_timers->IsRunning(kRepeatTimerId);
}

void CTcpServerPage::OnListen()
{
    const QString host = m_comboHost->currentText();
    const int port = ReadNumber(m_editPort);
    if (port == 0 || host.isEmpty() || IsListening())
        return;

    const int listenSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // As on the system the tool was made for, connections left in TIME_WAIT by an earlier
    // Stop do not keep a new Listen from binding; a live listener still does.
    const int reuse = 1;
    if (listenSocket >= 0)
        ::setsockopt(listenSocket, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<quint16>(port));  // a port above 65535 binds modulo 65536
    local.sin_addr.s_addr = ::inet_addr(host.toLatin1().constData());
    if (listenSocket < 0 || ::bind(listenSocket, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        if (listenSocket >= 0)
            ::close(listenSocket);
        PageMessageBox(this, kCaption, QStringLiteral("绑定失败"));
        return;
    }
    // A backlog of 8 refuses a burst on Windows, but on Linux the overflowing clients believe
    // they are connected while the server never sees them: take the system's largest queue.
    ::listen(listenSocket, SOMAXCONN);
    m_listenSocket = listenSocket;

    m_comboHost->setEnabled(false);
    m_editPort->setEnabled(false);
    m_btnListen->setEnabled(false);
    m_log.StartLog(this);

    SystemLog::Append(g_strDateTime + QStringLiteral(" TCP开始监听") + host + QLatin1Char(':') + QString::number(port)
                      + QStringLiteral(" 等待客户端连接\r\n"));

    // Both run on the worker: queued calls, never a wait for the GUI thread.
    m_pAcceptThread = std::make_unique<AcceptWorker>(
        m_listenSocket, [this] { QMetaObject::invokeMethod(this, &CTcpServerPage::OnAcceptedClients, Qt::QueuedConnection); },
        [this](bool paused) {
            QMetaObject::invokeMethod(this, [this, paused] { OnAcceptPaused(paused); }, Qt::QueuedConnection);
        });
    m_pAcceptThread->Start();
}

void CTcpServerPage::EndAcceptWorker()
{
    if (!m_pAcceptThread)
        return;
    m_pAcceptThread->Stop();
    // Accepted but never taken in: nobody else will close them.
    for (const AcceptWorker::AcceptedClient &client : m_pAcceptThread->TakeAccepted())
        ::close(client.socket);
    m_pAcceptThread.reset();
}

void CTcpServerPage::OnAcceptedClients()
{
    if (!m_pAcceptThread)
        return;  // a wake-up from a worker that Stop has ended
    for (const AcceptWorker::AcceptedClient &client : m_pAcceptThread->TakeAccepted())
        OnAccepted(client.socket, client.peerText, client.id);
}

void CTcpServerPage::OnAccepted(int socket, const QByteArray &peerText, int id)
{
    Sessions::Append(socket, id, peerText);
    m_socketEvents->Register(socket, FD_READ | FD_CLOSE);
    SystemLog::Append(g_strDateTime + QLatin1Char(' ') + QString::fromLatin1(peerText) + QStringLiteral("连接到本机\r\n"));
    m_listClients->AddString(peerText + '-' + QByteArray::number(id));
    // As after a rebuild of the list, nothing is selected: a send must never go to a client
    // the user did not pick.
    m_listClients->SetCurSel(-1);
    RefreshClientList();
}

void CTcpServerPage::OnAcceptPaused(bool paused)
{
    if (!IsListening())
        return;  // a word from a worker that Stop has ended
    SystemLog::Append(g_strDateTime + (paused ? QStringLiteral(" TCP连接数接近系统上限，暂停接受新的客户端\r\n")
                                              : QStringLiteral(" TCP恢复接受新的客户端\r\n")));
}

void CTcpServerPage::RefreshClientList()
{
    const bool anySession = !Sessions::IsEmpty();
    if (!anySession)
        m_pAutoReply->setChecked(false);
    for (QWidget *control : std::initializer_list<QWidget *>{m_pAutoReply, m_pReplyData, m_pReplyEcho})
        control->setEnabled(anySession);
}

int CTcpServerPage::RowOfClient(int id) const
{
    // Lines stand in accept order, so their ids rise from top to bottom.
    int low = 0;
    int high = m_listClients->GetCount() - 1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        const int found = IdOfClientLine(m_listClients->GetText(middle));
        if (found == id)
            return middle;
        if (found < id)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return -1;
}

void CTcpServerPage::CloseSessionSocket(int socket)
{
    m_sendPath->Forget(socket);
    m_socketEvents->Unregister(socket);
    ::close(socket);
}

void CTcpServerPage::RemoveSession(int socket)
{
    const ClientSession *session = Sessions::FindBySocket(socket);
    if (!session) {
        RefreshClientList();
        return;
    }
    const int row = RowOfClient(session->id);
    if (row >= 0) {
        m_listClients->DeleteString(row);
        m_listClients->SetCurSel(-1);  // the list view would move the selection to a neighbour
    }
    Sessions::Remove(socket);
    RefreshClientList();
}

void CTcpServerPage::OnSendDrained(int socket)
{
    if (m_socketEvents->IsRegistered(socket))
        m_socketEvents->SetReadPaused(socket, false);
}

void CTcpServerPage::OnDisconnect()
{
    const int selected = m_listClients->GetCurSel();
    if (selected < 0) {
        AppMessageBox(QStringLiteral("请选择需要断开的客户端!"));
        return;
    }
    const ClientSession *session = Sessions::FindById(IdOfClientLine(m_listClients->GetText(selected)));
    if (!session)
        return;
    const int socket = session->socket;
    CloseSessionSocket(socket);
    RemoveSession(socket);
}

void CTcpServerPage::OnStop()
{
    EndAcceptWorker();
    m_comboHost->setEnabled(true);
    m_editPort->setEnabled(true);
    m_btnListen->setEnabled(true);
    if (m_listenSocket >= 0) {
        ::close(m_listenSocket);
        m_listenSocket = -1;
    }
    for (ClientSession *session = g_pSessionHead; session; session = session->next)
        CloseSessionSocket(session->socket);
    Sessions::Clear();
    m_listClients->ResetContent();
    RefreshClientList();
    m_checkHexSend->setEnabled(true);
    SystemLog::Append(g_strDateTime + QStringLiteral(" TCP停止监听") + m_comboHost->currentText() + QLatin1Char(':')
                      + QString::number(ReadNumber(m_editPort)) + QStringLiteral(" 关闭线程\r\n"));
    m_log.StopLog();
}

void CTcpServerPage::OnIpInfo()
{
    CIpInfoDlg dialog(window());
    dialog.exec();
}

QByteArray CTcpServerPage::PeerTextOf(int socket) const
{
    const ClientSession *session = Sessions::FindBySocket(socket);
    return session ? session->peerText : PeerTextFromSocket(socket);
}

void CTcpServerPage::OnSocketEvent(int socket, int event)
{
    if (event == FD_READ) {
        ReceiveBlocks(socket);
        return;
    }
    if (event != FD_CLOSE)
        return;
    SystemLog::Append(g_strDateTime + QLatin1Char(' ') + QString::fromLatin1(PeerTextOf(socket))
                      + QStringLiteral("断开与服务器的连接\r\n"));
    CloseSessionSocket(socket);
    RemoveSession(socket);
}

void CTcpServerPage::ReceiveBlocks(int socket)
{
    m_receiveSlice->Begin();
    for (int blocks = 0; blocks < kMaxBlocksPerSlice; ++blocks) {
        // After a box the socket may have been closed meanwhile: the next notification decides.
        if (!ReceiveBlock(socket))
            return;
        if (m_sendPath->IsBackedUp(socket)) {
            // The peer does not take our replies: leave its data in the kernel, so TCP slows
            // it down, until the queue has drained.
            m_socketEvents->SetReadPaused(socket, true);
            return;
        }
        if (m_receiveSlice->IsOver() || !DataWaiting(socket))
            return;
    }
}

// Handles one read of at most 256 bytes; false when nothing more should be read now
// (nothing was read, or a box was shown).
bool CTcpServerPage::ReceiveBlock(int socket)
{
    const QByteArray peer = PeerTextOf(socket);
    SystemLog::Append(g_strDateTime + QStringLiteral(" 接收来自") + QString::fromLatin1(peer) + QStringLiteral("的数据\r\n"));

    std::fill_n(m_recvBuffer.begin(), kReadSize, 0);
    const ssize_t received = ::recv(socket, m_recvBuffer.data(), kReadSize, 0);
    const QByteArrayView block(m_recvBuffer.data(), received > 0 ? received : 0);

    const QByteArray line = PayloadCodec::FormatReceived(block, m_checkHexDisplay->isChecked(), peer);
    m_listData->InsertString(0, line);
    m_log.WriteLine(TrafficLog::kReceivedTag + line);
    m_counters->AddRx(block.size());

    m_replyMode = m_pReplyEcho->isChecked() ? 1 : 0;
    if (m_pAutoReply->isChecked()) {
        if (m_replyMode == 0) {
            if (!ReplyWithData(socket))
                return false;
        } else {
            ReplyTransparent(socket, block);
        }
    }
    return !block.isEmpty();
}

QByteArray CTcpServerPage::SendBoxText() const
{
    return ToGbk(m_editSend->text());
}

bool CTcpServerPage::SendBytes(int socket, QByteArrayView bytes, int uncountedTail)
{
    return m_sendPath->Send(socket, bytes, uncountedTail);
}

void CTcpServerPage::LogSent(const QByteArray &loggedText)
{
    m_log.WriteLine(TrafficLog::kSentTag + loggedText + "\r\n");
}

// False when the reply failed with a box (the handler then ends).
bool CTcpServerPage::ReplyWithData(int socket)
{
    QByteArray text = SendBoxText();
    if (text.isEmpty()) {
        SendBytes(socket, QByteArrayView(kOwnReply.constData(), kOwnReply.size() + 1), 1);  // with its NUL byte
        LogSent(kOwnReply);
        return true;
    }
    PayloadCodec::PrepareSendText(text);
    if (!m_checkHexSend->isChecked()) {
        SendBytes(socket, QByteArrayView(text.constData(), text.size() + 1), 1);
        LogSent(text);
        return true;
    }
    std::array<char, PayloadCodec::kHexBufferSize> buffer;
    int byteCount = 0;
    const PayloadCodec::HexFailure failure = PayloadCodec::EncodeHex(text, buffer, byteCount);
    if (failure != PayloadCodec::HexFailure::None) {
        if (m_replyBoxOpen)
            return false;  // a flood of blocks must not pile up boxes
        m_replyBoxOpen = true;
        AppMessageBox(PayloadCodec::FailureMessage(failure));
        m_replyBoxOpen = false;
        return false;
    }
    SendBytes(socket, QByteArrayView(buffer.data(), byteCount));
    LogSent(text);
    return true;
}

void CTcpServerPage::ReplyTransparent(int socket, QByteArrayView block)
{
    // The echo counts and is logged only while the connection takes bytes.
    if (!SendBytes(socket, block))
        return;
    LogSent(PayloadCodec::DataText(block, false));
}

void CTcpServerPage::StopTimedSending()
{
    m_checkTimedSend->setChecked(false);
    m_timers->KillTimer(kRepeatTimerId);
}

CTcpServerPage::SendResult CTcpServerPage::SendToSession(int id, QByteArray prepared, bool sendToAll)
{
    const ClientSession *session = Sessions::FindById(id);
    if (!session) {
        StopTimedSending();
        AppMessageBox(QStringLiteral("套接字为空,无法发送!"));
        return sendToAll ? SendResult::NextClient : SendResult::EndSend;
    }
    const int socket = session->socket;
    if (!m_checkHexSend->isChecked()) {
        SendBytes(socket, QByteArrayView(prepared.constData(), prepared.size() + 1), 1);
        LogSent(prepared);
        return SendResult::Sent;
    }
    std::array<char, PayloadCodec::kHexBufferSize> buffer;
    int byteCount = 0;
    const PayloadCodec::HexFailure failure = PayloadCodec::EncodeHex(prepared, buffer, byteCount);
    if (failure != PayloadCodec::HexFailure::None) {
        StopTimedSending();
        AppMessageBox(PayloadCodec::FailureMessage(failure));
        const bool goOn = sendToAll && failure != PayloadCodec::HexFailure::BadToken;
        return goOn ? SendResult::NextClient : SendResult::EndSend;
    }
    SendBytes(socket, QByteArrayView(buffer.data(), byteCount));
    LogSent(prepared);
    return SendResult::Sent;
}

void CTcpServerPage::OnSend()
{
    QByteArray text = SendBoxText();
    if (text.isEmpty()) {
        StopTimedSending();
        AppMessageBox(QStringLiteral("发送内容不能为空!"));
        return;
    }
    PayloadCodec::PrepareSendText(text);

    if (m_checkSendAll->isChecked()) {
        if (m_listClients->GetCount() == 0) {
            StopTimedSending();
            AppMessageBox(QStringLiteral("当前没有在线客户端!"));
            return;
        }
        // The ids are taken first: boxes shown on the way let clients come and go meanwhile.
        QList<int> ids;
        for (int row = 0; row < m_listClients->GetCount(); ++row)
            ids.append(IdOfClientLine(m_listClients->GetText(row)));
        for (const int id : ids) {
            if (SendToSession(id, text, true) == SendResult::EndSend)
                return;
        }
        return;
    }

    const int selected = m_listClients->GetCurSel();
    if (selected < 0) {
        StopTimedSending();
        AppMessageBox(QStringLiteral("请选择要发送的目的地!"));
        return;
    }
    SendToSession(IdOfClientLine(m_listClients->GetText(selected)), text, false);
}

void CTcpServerPage::OnTimer(int id)
{
    if (id == kRepeatTimerId)
        OnSend();
}

void CTcpServerPage::OnTimedSend()
{
    if (!m_checkTimedSend->isChecked()) {
        m_timers->KillTimer(kRepeatTimerId);
        return;
    }
    const auto interval = static_cast<unsigned>(ReadNumber(m_editInterval));
    if (interval > 499)
        m_timers->SetTimer(kRepeatTimerId, static_cast<int>(std::min<unsigned>(interval, INT_MAX)));
    else
        AppMessageBox(QStringLiteral("发送时间间隔太短!"));
}

void CTcpServerPage::OnAutoReply()
{
    m_checkHexSend->setEnabled(!m_pAutoReply->isChecked());
}

qint64 CTcpServerPage::RxCount() const
{
    return m_counters ? m_counters->Rx() : 0;
}

qint64 CTcpServerPage::TxCount() const
{
    return m_counters ? m_counters->Tx() : 0;
}

void CTcpServerPage::OnClearCounters()
{
    m_counters->Clear();
}

void CTcpServerPage::OnClearData()
{
    m_listData->ResetContent();
}
