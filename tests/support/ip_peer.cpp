#include "support/ip_peer.h"

#include <QDeadlineTimer>

#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

IpPeer::IpPeer(int type, const SocketAddress &local)
    : m_fd(::socket(local.Family(), type | SOCK_CLOEXEC, 0))
    , m_datagrams(type == SOCK_DGRAM)
{
    socklen_t length = SocketAddress::Capacity();
    if (m_fd >= 0 && ::bind(m_fd, local.Data(), local.Length()) == 0
        && ::getsockname(m_fd, m_local.Data(), &length) == 0)
        m_port = m_local.Port();
}

IpPeer::IpPeer(int acceptedFd)
    : m_fd(acceptedFd)
{
    socklen_t length = SocketAddress::Capacity();
    if (m_fd >= 0 && ::getsockname(m_fd, m_local.Data(), &length) == 0)
        m_port = m_local.Port();
}

IpPeer::~IpPeer()
{
    Close();
}

SocketAddress IpPeer::At(const QString &host, quint16 port)
{
    return EndpointOfHostField(host, port).value_or(SocketAddress());
}

bool IpPeer::HasIpv6Loopback()
{
    return IpPeer(SOCK_DGRAM, At(QStringLiteral("::1"))).IsOpen();
}

bool IpPeer::Listen()
{
    return ::listen(m_fd, 16) == 0;
}

std::unique_ptr<IpPeer> IpPeer::Accept(int timeoutMs)
{
    if (!Readable(timeoutMs))
        return nullptr;
    return std::make_unique<IpPeer>(::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC));
}

bool IpPeer::Connect(const SocketAddress &to)
{
    return ::connect(m_fd, to.Data(), to.Length()) == 0;
}

bool IpPeer::Send(QByteArrayView bytes)
{
    return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == bytes.size();
}

bool IpPeer::SendTo(const SocketAddress &to, QByteArrayView bytes)
{
    return ::sendto(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL, to.Data(), to.Length()) == bytes.size();
}

void IpPeer::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool IpPeer::Readable(int timeoutMs) const
{
    return WaitUntil(
        [this] {
            pollfd waiting{m_fd, POLLIN, 0};
            return ::poll(&waiting, 1, 0) > 0;
        },
        timeoutMs);
}

std::optional<IpPeer::Received> IpPeer::Receive(int count, int timeoutMs)
{
    std::optional<Received> received;
    QDeadlineTimer deadline(timeoutMs);
    while ((!received || received->bytes.size() < count) && Readable(static_cast<int>(deadline.remainingTime()))) {
        // Room for count bytes: a datagram comes whole (a smaller buffer would cut it).
        std::vector<char> chunk(
            static_cast<size_t>(std::max<qsizetype>(1, count - (received ? received->bytes.size() : 0))));
        SocketAddress from;
        socklen_t length = SocketAddress::Capacity();
        const ssize_t got = ::recvfrom(m_fd, chunk.data(), chunk.size(), 0, from.Data(), &length);
        if (got < 0 || (got == 0 && !m_datagrams))
            break;
        if (!received)
            received = Received{{}, length ? from : SocketAddress()};
        received->bytes.append(chunk.data(), got);
        if (m_datagrams)
            break;
    }
    return received;
}
