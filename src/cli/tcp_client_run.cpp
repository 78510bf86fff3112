#include "cli/tcp_client_run.h"

#include <cerrno>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

// The peer reset the connection, rather than ending its stream: after a reset the system
// has closed the connection, after the peer's end it waits for ours.
bool WasReset(int socket)
{
    tcp_info info{};
    socklen_t length = sizeof info;
    return ::getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 && info.tcpi_state == TCP_CLOSE;
}

}  // namespace

TcpClientRun::TcpClientRun(const CliOptions &options, CliOutput &output, QObject *parent)
    : ClientRun(options, output, SocketKind::Stream, parent)
    , m_recvBuffer(m_traffic.Limits().streamRead, Qt::Uninitialized)
{
    TcpSendPath &path = m_traffic.SendPath();
    connect(&path, &TcpSendPath::BytesSent, this, [this] { m_sends.OnChannelDrained(); });
    connect(&path, &TcpSendPath::Drained, this, [this] { m_sends.OnChannelDrained(); });
    connect(&path, &TcpSendPath::FileEnded, this, [this](int, FileEnd end) { m_sends.OnFileEnded(end); });
    connect(&m_traffic.Events(), &SocketEventRegistry::SocketEvent, this, &TcpClientRun::OnSocketEvent);
}

void TcpClientRun::OnOpened()
{
    m_open = true;
    m_traffic.Opened(m_socket, TcpOpener::ThisSide);
    m_traffic.Events().Register(m_socket, FD_READ | FD_CLOSE);
}

void TcpClientRun::OnClosing()
{
    if (!m_open)
        return;
    m_open = false;
    CloseEvent(QStringLiteral("用户主动与服务器断开"), "local");
    m_traffic.Closed(m_socket, false);
    m_traffic.SendPath().Forget(m_socket);
    m_traffic.Events().Unregister(m_socket);
}

void TcpClientRun::OnAllSentWithoutWait()
{
    if (m_open && (m_options.sendSource == SendSource::Stdin || m_options.sendSource == SendSource::File))
        ::shutdown(m_socket, SHUT_WR);
}

void TcpClientRun::SendPayload(const Payload &payload)
{
    if (m_open)
        m_traffic.Send(m_socket, payload, m_peer);  // a failure is seen as the close that follows
}

void TcpClientRun::SendBytes(QByteArrayView bytes)
{
    if (m_open)
        m_traffic.SendBytes(m_socket, bytes, m_peer);
}

bool TcpClientRun::SendFile(std::unique_ptr<QFile> file)
{
    return m_open && m_traffic.SendPath().SendFile(m_socket, std::move(file));
}

bool TcpClientRun::IsBackedUp() const
{
    return m_open && m_traffic.SendPath().IsBackedUp(m_socket);
}

bool TcpClientRun::HasUnsent() const
{
    const TcpSendPath &path = m_traffic.SendPath();
    return m_open && (path.Queued(m_socket) > 0 || path.IsSendingFile(m_socket));
}

void TcpClientRun::OnSocketEvent(int socket, int event)
{
    if (socket != m_socket || !m_open)
        return;
    if (event == FD_READ)
        ReceiveBlocks();
    else if (event == FD_CLOSE)
        OnServerClosed();
}

void TcpClientRun::ReceiveBlocks()
{
    m_traffic.Slice().Begin();
    for (int reads = 0; reads < kMaxReadsPerSlice; ++reads) {
        const ssize_t received = ::recv(m_socket, m_recvBuffer.data(), size_t(m_recvBuffer.size()), MSG_DONTWAIT);
        // Nothing there, a failure or the end of the stream (said by the close event): no line.
        if (received <= 0)
            return;
        m_traffic.Received(m_socket, QByteArrayView(m_recvBuffer.constData(), received), m_peer);
        if (!m_open || m_traffic.Slice().IsOver() || !DataWaiting(m_socket))
            return;
    }
}

void TcpClientRun::OnServerClosed()
{
    const bool reset = WasReset(m_socket);
    m_open = false;
    CloseEvent(QString::fromLatin1(m_peer) + QStringLiteral("服务器主动断开"), reset ? "reset" : "peer");
    m_traffic.Closed(m_socket, true);
    m_traffic.SendPath().Forget(m_socket);
    m_traffic.Events().Unregister(m_socket);
    if (reset)
        Fail(QStringLiteral("连接被服务器重置 ") + QString::fromLatin1(m_peer), kExitNetwork);
    else
        EndNormally();
}
