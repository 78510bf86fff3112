#include "cli/tcp_client_run.h"

#include <cerrno>
#include <cstring>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

// How the connection ended when a read said nothing about it (its error already taken by a
// write): the peer's end leaves it waiting for ours, a reset closes it. After our own end
// both close it, so an end is all that can be told then.
bool ClosedByReset(int socket, bool halfClosed)
{
    tcp_info info{};
    socklen_t length = sizeof info;
    if (::getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
        return true;
    return info.tcpi_state != TCP_CLOSE_WAIT && !(halfClosed && info.tcpi_state == TCP_CLOSE);
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
    // Reads alone: the close is told by a read here, which keeps the reason of a reset.
    m_traffic.Events().Register(m_socket, FD_READ);
}

void TcpClientRun::OnClosing()
{
    if (!m_open)
        return;
    m_open = false;
    CloseEvent(QStringLiteral("用户主动与服务器断开"), "local");
    m_traffic.Closed(m_socket, false);
}

void TcpClientRun::OnAllSentWithoutWait()
{
    if (m_open && (m_options.sendSource == SendSource::Stdin || m_options.sendSource == SendSource::File))
        m_halfClosed = ::shutdown(m_socket, SHUT_WR) == 0;
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
    if (socket == m_socket && m_open && event == FD_READ)
        ReceiveBlocks();
}

void TcpClientRun::ReceiveBlocks()
{
    m_traffic.Slice().Begin();
    for (int reads = 0; reads < kMaxReadsPerSlice; ++reads) {
        const ssize_t received = ::recv(m_socket, m_recvBuffer.data(), size_t(m_recvBuffer.size()), MSG_DONTWAIT);
        if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        if (received < 0) {
            OnServerClosed(QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        if (received == 0) {
            OnServerClosed(ClosedByReset(m_socket, m_halfClosed) ? QString::fromLocal8Bit(std::strerror(ECONNRESET))
                                                                 : QString());
            return;
        }
        m_traffic.Received(m_socket, QByteArrayView(m_recvBuffer.constData(), received), m_peer);
        if (!m_open || m_traffic.Slice().IsOver() || !DataWaiting(m_socket))
            return;
    }
}

void TcpClientRun::OnServerClosed(const QString &failure)
{
    m_open = false;
    CloseEvent(QString::fromLatin1(m_peer) + QStringLiteral("服务器主动断开"), failure.isEmpty() ? "peer" : "reset");
    m_traffic.Closed(m_socket, true);
    if (failure.isEmpty())
        EndNormally();
    else
        Fail(QStringLiteral("连接被服务器中断 ") + QString::fromLatin1(m_peer) + QStringLiteral(": ") + failure,
             kExitNetwork);
}
