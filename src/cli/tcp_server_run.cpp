#include "cli/tcp_server_run.h"

#include <QJsonObject>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <unistd.h>

#include "cli/cli_output.h"
#include "platform/ip_socket.h"
#include "traffic/accept_worker.h"
#include "traffic/client_session.h"

TcpServerRun::TcpServerRun(const CliOptions &options, CliOutput &output, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_output(output)
    , m_traffic(options, output)
    , m_recvBuffer(m_traffic.Limits().streamRead, Qt::Uninitialized)
{
    connect(&m_traffic.Events(), &SocketEventRegistry::SocketEvent, this, &TcpServerRun::OnSocketEvent);
    connect(&m_traffic, &CliTraffic::ExpectMet, this, [this] { emit Finished(kExitDone); });
    connect(&m_interval, &QTimer::timeout, this, &TcpServerRun::OnIntervalTick);
}

TcpServerRun::~TcpServerRun()
{
    Stop();
}

CliExit TcpServerRun::Start()
{
    if (!m_traffic.OpenFiles(TrafficLog::Header::Server))
        return kExitUsage;
    const QString host = m_options.endpoint.IsIpv6() ? AddressText(m_options.endpoint) : m_options.host;
    m_listenSocket = OpenServerSocket(SocketKind::Stream, host, m_options.endpoint.Port());
    if (m_listenSocket < 0 || ::listen(m_listenSocket, SOMAXCONN) != 0) {
        m_output.Error(
            QStringLiteral("无法在 %1 上监听: %2")
                .arg(QString::fromLatin1(PeerText(m_options.endpoint)), QString::fromLocal8Bit(std::strerror(errno))));
        return kExitNetwork;
    }
    m_traffic.Listening(m_listenSocket);
    m_output.Flush();  // a script waits for the port before it connects

    m_acceptWorker = std::make_unique<AcceptWorker>(m_listenSocket, [this] {
        QMetaObject::invokeMethod(this, &TcpServerRun::OnAcceptedClients, Qt::QueuedConnection);
    });
    m_acceptWorker->Start();
    if (m_options.intervalMs > 0)
        m_interval.start(m_options.intervalMs);
    return kExitDone;
}

void TcpServerRun::Stop()
{
    m_interval.stop();
    if (m_acceptWorker) {
        m_acceptWorker->Stop();
        for (const AcceptWorker::AcceptedClient &client : m_acceptWorker->TakeAccepted())
            ::close(client.socket);
        m_acceptWorker.reset();
    }
    while (ClientSession *session = g_pSessionHead)
        CloseClient(session->socket, false);
    if (m_listenSocket >= 0) {
        ::close(m_listenSocket);
        m_listenSocket = -1;
    }
    m_traffic.CloseFiles();
}

void TcpServerRun::EventLine(const char *kind, const QByteArray &peer, int id, const QString &text)
{
    m_output.Line(QString::fromLatin1(peer) + text + QStringLiteral(" (ID %1)").arg(id));
    QJsonObject event = CliEvent(kind);
    event.insert(QStringLiteral("peer"), QString::fromLatin1(peer));
    event.insert(QStringLiteral("id"), id);
    m_output.Event(event);
}

void TcpServerRun::OnAcceptedClients()
{
    if (!m_acceptWorker)
        return;
    for (const AcceptWorker::AcceptedClient &client : m_acceptWorker->TakeAccepted()) {
        Sessions::Append(client.socket, client.id, client.peerText);
        m_traffic.Opened(client.socket, TcpOpener::Peer);
        // Reads only: the read itself tells the end (0) or a reset, without a peek before each.
        m_traffic.Events().Register(client.socket, FD_READ);
        EventLine("connect", client.peerText, client.id, QStringLiteral("连接到本机"));
        if (m_options.sendSource == SendSource::Text && m_options.intervalMs == 0)
            m_traffic.Send(client.socket, m_options.send, client.peerText);
    }
}

void TcpServerRun::OnIntervalTick()
{
    if (m_options.count > 0 && m_ticks >= m_options.count) {
        m_interval.stop();
        return;
    }
    ++m_ticks;
    for (ClientSession *session = g_pSessionHead; session; session = session->next)
        m_traffic.Send(session->socket, m_options.send, session->peerText);
}

void TcpServerRun::OnSocketEvent(int socket, int event)
{
    if (event == FD_READ)
        ReceiveBlocks(socket);
}

void TcpServerRun::ReceiveBlocks(int socket)
{
    m_traffic.Slice().Begin();
    for (int blocks = 0; blocks < kMaxReadsPerSlice; ++blocks) {
        if (!ReceiveBlock(socket))
            return;
        if (m_traffic.SendPath().IsBackedUp(socket)) {
            // The peer does not take our replies: TCP slows it down until the queue drains.
            m_traffic.Events().SetReadPaused(socket, true);
            return;
        }
        if (m_traffic.Slice().IsOver() || !DataWaiting(socket))
            return;
    }
}

bool TcpServerRun::ReceiveBlock(int socket)
{
    const ClientSession *session = Sessions::FindBySocket(socket);
    if (!session)
        return false;
    const ssize_t received = ::recv(socket, m_recvBuffer.data(), m_recvBuffer.size(), MSG_DONTWAIT);
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return false;
    if (received <= 0) {
        CloseClient(socket, true);  // the peer's end or a reset
        return false;
    }
    const QByteArrayView block(m_recvBuffer.constData(), received);
    const QByteArray peer = session->peerText;
    m_traffic.Received(socket, block, peer);
    if (m_options.echo)
        m_traffic.SendBytes(socket, block, peer);
    else if (m_options.hasReply)
        m_traffic.Send(socket, m_options.reply, peer);
    return Sessions::FindBySocket(socket) != nullptr;
}

void TcpServerRun::CloseClient(int socket, bool byPeer)
{
    const ClientSession *session = Sessions::FindBySocket(socket);
    if (!session)
        return;
    EventLine("close", session->peerText, session->id,
              byPeer ? QStringLiteral("断开与服务器的连接") : QStringLiteral("被本机断开"));
    m_traffic.Closed(socket, byPeer);
    ::close(socket);
    Sessions::Remove(socket);
}
