#include "tcpserver/tcp_server_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/globals.h"
#include "common/extent_list_box.h"
#include "common/payload_codec.h"
#include "common/receive_slice.h"
#include "common/send_box.h"
#include "common/server_page_layout.h"
#include "common/single_box.h"
#include "common/tcp_send_path.h"
#include "common/timed_sending.h"
#include "common/traffic_counters.h"
#include "common/traffic_recorder.h"
#include "platform/dialog_controls.h"
#include "platform/ipv4_endpoint.h"
#include "platform/message_box.h"
#include "platform/socket_events.h"
#include "tcpserver/accept_worker.h"
#include "tcpserver/client_list_line.h"
#include "tcpserver/client_session.h"
#include "ui/system_log.h"

namespace {

const QString kCaption = QStringLiteral("TCP Server提示");
constexpr int kReadSize = 256;
// A flood is read block after block for up to one shared slice per pass of the event loop
// (at least one block per notification, so every sender gets its turn).
constexpr int kMaxBlocksPerSlice = 4096;

const ServerPageIds kIds{
    QStringLiteral("TCP"), QStringLiteral("断 开"),
    1007, 1008, 1006, 1004, 1005, 1010, 1009,
    {QStringLiteral("logtcp.txt"), 1039, 1042, 1038, 1040, 1041, 1062, 1063, 1064, 1011, 1012, 1013, 1022, 1054, 1050,
     1101, 1102, 1103, 1104},
};

} // namespace

CTcpServerPage::CTcpServerPage(QWidget *parent)
    : CServerPage(kTemplateId, kIds, kCaption, g_bTcpTrafficLog, kRepeatTimerId, parent)
    , m_sendPath(new TcpSendPath(this))
{
    connect(m_sendPath, &TcpSendPath::BytesSent, this, [this](int, qint64 counted) { m_counters->AddTx(counted); });
    connect(m_sendPath, &TcpSendPath::Drained, this, &CTcpServerPage::OnSendDrained);
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

void CTcpServerPage::OnInitDialog()
{
    const ServerPageControls controls = CreateServerControls();
    m_listClients = controls.peers;
    m_checkSendAll = AddCheckBox(1065, QStringLiteral("是否群发"), kServerExtraX, kServerExtraY, 46, 10);
    m_editPort->setText(QStringLiteral("6800"));
    for (QWidget *control : std::initializer_list<QWidget *>{m_pAutoReply, m_pReplyData, m_pReplyEcho})
        control->setEnabled(false);
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
    m_listClients->AddString(ClientListLine(peerText, id));
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

QByteArray CTcpServerPage::PeerTextOf(int socket) const
{
    const ClientSession *session = Sessions::FindBySocket(socket);
    return session ? session->peerText : PeerTextOfSocket(socket);
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
    m_recorder->ShowReceived(block, peer);

    ReadReplyMode();
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

void CTcpServerPage::SendPayload(int socket, const Payload &payload)
{
    // A connection that has already failed takes nothing: nothing is logged as sent then.
    if (m_sendPath->Send(socket, payload.bytes, payload.uncountedTail))
        m_recorder->RecordSent(payload.prepared);  // in hex mode the digits, as typed
}

// False when the reply failed with a box (the handler then ends).
bool CTcpServerPage::ReplyWithData(int socket)
{
    Payload payload;
    const PayloadCodec::HexFailure failure = m_sendBox->MakeServerReply(payload);
    if (failure != PayloadCodec::HexFailure::None) {
        m_replyFailureBox->Show(PayloadCodec::FailureMessage(failure));  // a flood must not pile up boxes
        return false;
    }
    SendPayload(socket, payload);
    return true;
}

void CTcpServerPage::ReplyTransparent(int socket, QByteArrayView block)
{
    // The echo counts and is logged only while the connection takes bytes.
    if (!m_sendPath->Send(socket, block))
        return;
    m_recorder->RecordSent(PayloadCodec::DataText(block, false));
}

CTcpServerPage::SendResult CTcpServerPage::SendToSession(int id, const QByteArray &prepared, bool sendToAll)
{
    const ClientSession *session = Sessions::FindById(id);
    if (!session) {
        m_timedSending->Stop();
        AppMessageBox(QStringLiteral("套接字为空,无法发送!"));
        return sendToAll ? SendResult::NextClient : SendResult::EndSend;
    }
    Payload payload;
    const PayloadCodec::HexFailure failure = m_sendBox->MakePayloadOf(prepared, payload);
    if (failure != PayloadCodec::HexFailure::None) {
        m_timedSending->Stop();
        AppMessageBox(PayloadCodec::FailureMessage(failure));
        const bool goOn = sendToAll && failure != PayloadCodec::HexFailure::BadToken;
        return goOn ? SendResult::NextClient : SendResult::EndSend;
    }
    SendPayload(session->socket, payload);
    return SendResult::Sent;
}

void CTcpServerPage::OnSend()
{
    QByteArray text = m_sendBox->Text();
    if (text.isEmpty()) {
        m_timedSending->Stop();
        AppMessageBox(QStringLiteral("发送内容不能为空!"));
        return;
    }
    PayloadCodec::PrepareSendText(text);

    if (m_checkSendAll->isChecked()) {
        if (m_listClients->GetCount() == 0) {
            m_timedSending->Stop();
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
        m_timedSending->Stop();
        AppMessageBox(QStringLiteral("请选择要发送的目的地!"));
        return;
    }
    SendToSession(IdOfClientLine(m_listClients->GetText(selected)), text, false);
}
