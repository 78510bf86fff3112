#include "pages/tcp_server/tcp_server_page.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QMetaObject>

#include <sys/socket.h>
#include <unistd.h>

#include "pages/control_ids.h"
#include "pages/message_box.h"
#include "pages/traffic_area/send_box.h"
#include "pages/traffic_area/traffic_area.h"
#include "platform/socket_address.h"
#include "platform/socket_events.h"
#include "traffic/accept_worker.h"
#include "traffic/client_list_line.h"
#include "traffic/client_session.h"
#include "traffic/clock_text.h"
#include "traffic/file_send_tally.h"
#include "traffic/receive_slice.h"
#include "traffic/system_log.h"
#include "traffic/tcp_send_path.h"
#include "traffic/traffic_counters.h"
#include "traffic/traffic_recorder.h"
#include "widgets/display_list/line_list_box.h"

int g_bTcpTrafficLog = 0;

CTcpServerPage::CTcpServerPage(QWidget *parent)
    : CServerPage(kTemplateId,
                  {ServerPageIds::Of<TcpServerIds::Id>(QStringLiteral("TCP"), QStringLiteral("断 开")),
                   QStringLiteral("TCP Server提示"), QStringLiteral("logtcp.txt"), &g_bTcpTrafficLog, kRepeatTimerId},
                  parent)
    , m_sendPath(new TcpSendPath(this))
{
}

CTcpServerPage::~CTcpServerPage()
{
    // The window goes while listening: end the worker first, then every socket, silently.
    EndAcceptWorker();
    CloseSessions();
    if (m_listenSocket >= 0)
        ::close(m_listenSocket);
}

void CTcpServerPage::CloseSessions()
{
    for (ClientSession *session = g_pSessionHead; session; session = session->next)
        CloseSessionSocket(session->socket, false);
    Sessions::Clear();
}

void CTcpServerPage::OnInitDialog()
{
    CreateServerControls();
    ConnectSendPath(*m_sendPath, *SocketEvents(), Area().Counters());
    FollowFileSends(*m_sendPath, Area().FileTally());
    Area().TapSends(*m_sendPath);
    Area().SetSendsGone([this] {
        for (const int socket : OpenConnections())
            if (m_sendPath->Queued(socket) > 0 || m_sendPath->IsSendingFile(socket))
                return false;
        return true;
    });
    m_checkSendAll = AddCheckBox(TcpServerIds::kSendAll, QStringLiteral("是否群发"), kServerExtraX, kServerExtraY, 46,
                                 10);
    PortBox()->setText(QStringLiteral("6800"));
    Area().AllowAutoReply(false);
}

bool CTcpServerPage::AcceptsListenFields(const QString &host, int port)
{
    return port != 0 && !host.isEmpty() && !IsListening();
}

void CTcpServerPage::StartServing(int socket)
{
    // A short backlog lets a burst of clients believe they are connected while the server
    // never sees them: take the system's largest queue.
    ::listen(socket, SOMAXCONN);
    m_listenSocket = socket;
}

void CTcpServerPage::OnListening()
{
    // Both run on the worker: queued calls, never a wait for the GUI thread.
    m_pAcceptThread = std::make_unique<AcceptWorker>(
        m_listenSocket,
        [this] { QMetaObject::invokeMethod(this, &CTcpServerPage::OnAcceptedClients, Qt::QueuedConnection); },
        [this](bool paused) {
            QMetaObject::invokeMethod(
                this, [this, paused] { OnAcceptPaused(paused); }, Qt::QueuedConnection);
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
    Area().Tap().TcpOpened(socket);
    SocketEvents()->Register(socket, FD_READ | FD_CLOSE);
    SystemLog::Append(g_strDateTime + QLatin1Char(' ') + QString::fromLatin1(peerText)
                      + QStringLiteral("连接到本机\r\n"));
    Peers()->AddString(ClientListLine(peerText, id));
    // As after a rebuild of the list, nothing is selected: a send must never go to a client
    // the user did not pick.
    Peers()->SetCurSel(-1);
    RefreshClientList();
}

void CTcpServerPage::OnAcceptPaused(bool paused)
{
    if (!IsListening())
        return;  // a word from a worker that Stop has ended
    SystemLog::Append(g_strDateTime
                      + (paused ? QStringLiteral(" TCP连接数接近系统上限，暂停接受新的客户端\r\n")
                                : QStringLiteral(" TCP恢复接受新的客户端\r\n")));
}

void CTcpServerPage::RefreshClientList()
{
    Area().AllowAutoReply(!Sessions::IsEmpty());
}

int CTcpServerPage::RowOfClient(int id) const
{
    // Lines stand in accept order, so their ids rise from top to bottom.
    int low = 0;
    int high = Peers()->GetCount() - 1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        const int found = IdOfClientLine(Peers()->GetText(middle));
        if (found == id)
            return middle;
        if (found < id)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return -1;
}

void CTcpServerPage::CloseSessionSocket(int socket, bool byPeer)
{
    Area().Tap().TcpClosed(socket, byPeer);
    m_sendPath->Forget(socket);
    SocketEvents()->Unregister(socket);
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
        Peers()->DeleteString(row);
        Peers()->SetCurSel(-1);  // the list view would move the selection to a neighbour
    }
    Sessions::Remove(socket);
    RefreshClientList();
}

QList<int> CTcpServerPage::OpenConnections() const
{
    QList<int> sockets;
    for (const ClientSession *session = g_pSessionHead; session; session = session->next)
        sockets.append(session->socket);
    return sockets;
}

std::optional<BinCaptureTarget> CTcpServerPage::CapturedPeer()
{
    const int selected = Peers()->GetCurSel();
    const ClientSession *session = selected < 0 ? nullptr
                                                : Sessions::FindById(IdOfClientLine(Peers()->GetText(selected)));
    if (!session) {
        AppMessageBox(QStringLiteral("请选择需要捕获的客户端!"));
        return std::nullopt;
    }
    return BinCaptureTarget::Tcp(session->socket);
}

bool CTcpServerPage::StartFileSend(const QString &path, FileSendTally &tally)
{
    QList<int> sockets;
    if (m_checkSendAll->isChecked()) {
        sockets = OpenConnections();
        if (sockets.isEmpty()) {
            AppMessageBox(QStringLiteral("当前没有在线客户端!"));
            return false;
        }
    } else {
        const int selected = Peers()->GetCurSel();
        const ClientSession *session = selected < 0 ? nullptr
                                                    : Sessions::FindById(IdOfClientLine(Peers()->GetText(selected)));
        if (!session) {
            AppMessageBox(QStringLiteral("请选择要发送的目的地!"));
            return false;
        }
        sockets.append(session->socket);
    }
    for (const int socket : sockets) {
        auto file = std::make_unique<QFile>(path);
        if (file->open(QIODevice::ReadOnly) && m_sendPath->SendFile(socket, std::move(file)))
            tally.AddTarget(socket);
    }
    return tally.IsRunning();
}

void CTcpServerPage::CancelFileSend()
{
    for (const int socket : OpenConnections())
        m_sendPath->CancelFile(socket);
}

void CTcpServerPage::OnDisconnect()
{
    const int selected = Peers()->GetCurSel();
    if (selected < 0) {
        AppMessageBox(QStringLiteral("请选择需要断开的客户端!"));
        return;
    }
    const ClientSession *session = Sessions::FindById(IdOfClientLine(Peers()->GetText(selected)));
    if (!session)
        return;
    const int socket = session->socket;
    CloseSessionSocket(socket, false);
    RemoveSession(socket);
}

void CTcpServerPage::StopServing()
{
    EndAcceptWorker();
    if (m_listenSocket >= 0) {
        ::close(m_listenSocket);
        m_listenSocket = -1;
    }
    CloseSessions();
    Peers()->ResetContent();
    RefreshClientList();
    Area().EnableHexSend();
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
    CloseSessionSocket(socket, true);
    RemoveSession(socket);
}

void CTcpServerPage::ReceiveBlocks(int socket)
{
    Slice()->Begin();
    for (int blocks = 0; blocks < kMaxReadsPerSlice; ++blocks) {
        // After a box the socket may have been closed meanwhile: the next notification decides.
        if (!ReceiveBlock(socket))
            return;
        if (m_sendPath->IsBackedUp(socket)) {
            // The peer does not take our replies: leave its data in the kernel, so TCP slows
            // it down, until the queue has drained.
            SocketEvents()->SetReadPaused(socket, true);
            return;
        }
        if (Slice()->IsOver() || !DataWaiting(socket))
            return;
    }
}

// Handles one read of at most 256 bytes (64 KiB with 大数据); false when nothing more should be read now
// (nothing was read, or a box was shown).
bool CTcpServerPage::ReceiveBlock(int socket)
{
    const QByteArray peer = PeerTextOf(socket);
    SystemLog::Append(g_strDateTime + QStringLiteral(" 接收来自") + QString::fromLatin1(peer)
                      + QStringLiteral("的数据\r\n"));

    const ssize_t received = ::recv(socket, m_recvBuffer.data(), Area().Limits().streamRead, 0);
    const QByteArrayView block(m_recvBuffer.data(), received > 0 ? received : 0);
    Slice()->Count(block.size());
    if (!block.isEmpty())
        Area().Tap().TcpReceived(socket, block);
    Area().Recorder().ShowReceived(block, peer);

    ReadReplyMode();
    if (Area().IsAutoReplying()) {
        if (m_replyMode == ReplyMode::Data) {
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
    if (!m_sendPath->Send(socket, payload.bytes, payload.uncountedAt))
        return;
    // In hex mode the digits, as typed; then what the send options added.
    Area().Recorder().RecordSent(payload.prepared + payload.TrailerLogText());
}

// False when the reply failed with a box (the handler then ends).
bool CTcpServerPage::ReplyWithData(int socket)
{
    Payload payload;
    if (!Area().MakeDataReply(payload))
        return false;
    SendPayload(socket, payload);
    return true;
}

void CTcpServerPage::ReplyTransparent(int socket, QByteArrayView block)
{
    // The echo counts and is logged only while the connection takes bytes.
    if (!m_sendPath->Send(socket, block))
        return;
    Area().Recorder().RecordSent(PayloadCodec::DataText(block, false));
}

CTcpServerPage::SendResult CTcpServerPage::SendToSession(int id, const QByteArray &prepared, bool sendToAll)
{
    const ClientSession *session = Sessions::FindById(id);
    if (!session) {
        Area().RefuseSend(QStringLiteral("套接字为空,无法发送!"));
        return sendToAll ? SendResult::NextClient : SendResult::EndSend;
    }
    Payload payload;
    const PayloadCodec::HexFailure failure = Area().MakePayloadOf(prepared, payload);
    if (failure != PayloadCodec::HexFailure::None) {
        // A bad token or escape is the same for every client: one box ends the send.
        const bool goOn = sendToAll && failure != PayloadCodec::HexFailure::BadToken
                          && failure != PayloadCodec::HexFailure::BadEscape;
        return goOn ? SendResult::NextClient : SendResult::EndSend;
    }
    SendPayload(session->socket, payload);
    return SendResult::Sent;
}

void CTcpServerPage::SendToAll(const QByteArray &prepared)
{
    if (Peers()->GetCount() == 0) {
        Area().RefuseSend(QStringLiteral("当前没有在线客户端!"));
        return;
    }
    // The ids are taken first: boxes shown on the way let clients come and go meanwhile.
    QList<int> ids;
    for (int row = 0; row < Peers()->GetCount(); ++row)
        ids.append(IdOfClientLine(Peers()->GetText(row)));
    for (const int id : ids) {
        if (SendToSession(id, prepared, true) == SendResult::EndSend)
            return;
    }
}

void CTcpServerPage::OnSend()
{
    if (Area().RefuseEmptySend())
        return;
    QByteArray text = Area().Box().Text();
    PayloadCodec::PrepareSendText(text);
    if (m_checkSendAll->isChecked()) {
        SendToAll(text);
        return;
    }
    const int selected = Peers()->GetCurSel();
    if (selected < 0) {
        Area().RefuseSend(QStringLiteral("请选择要发送的目的地!"));
        return;
    }
    SendToSession(IdOfClientLine(Peers()->GetText(selected)), text, false);
}
