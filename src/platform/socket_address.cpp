#include "platform/socket_address.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <cstring>

SocketAddress::SocketAddress(const sockaddr_in &address)
{
    std::memcpy(&m_storage, &address, sizeof address);
}

SocketAddress SocketAddress::FromSockaddr(const sockaddr *address, socklen_t length)
{
    SocketAddress result;
    if (address && length > 0)
        std::memcpy(&result.m_storage, address, std::min<size_t>(length, sizeof result.m_storage));
    return result;
}

socklen_t SocketAddress::Length() const
{
    switch (Family()) {
    case AF_INET:
        return sizeof(sockaddr_in);
    case AF_INET6:
        return sizeof(sockaddr_in6);
    default:
        return 0;
    }
}

quint16 SocketAddress::Port() const
{
    if (Family() == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in *>(&m_storage)->sin_port);
    if (Family() == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 *>(&m_storage)->sin6_port);
    return 0;
}

void SocketAddress::SetPort(quint16 port)
{
    if (Family() == AF_INET)
        reinterpret_cast<sockaddr_in *>(&m_storage)->sin_port = htons(port);
    else if (Family() == AF_INET6)
        reinterpret_cast<sockaddr_in6 *>(&m_storage)->sin6_port = htons(port);
}

SocketAddress SocketAddress::For(int socketFamily) const
{
    if (socketFamily != AF_INET6 || Family() != AF_INET)
        return *this;
    const auto *v4 = reinterpret_cast<const sockaddr_in *>(&m_storage);
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = v4->sin_port;
    v6.sin6_addr.s6_addr[10] = 0xff;
    v6.sin6_addr.s6_addr[11] = 0xff;
    std::memcpy(&v6.sin6_addr.s6_addr[12], &v4->sin_addr, 4);
    return FromSockaddr(reinterpret_cast<const sockaddr *>(&v6), sizeof v6);
}

SocketAddress SocketAddress::Unmapped() const
{
    if (Family() != AF_INET6)
        return *this;
    const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(&m_storage);
    if (!IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr))
        return *this;
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = v6->sin6_port;
    std::memcpy(&v4.sin_addr, &v6->sin6_addr.s6_addr[12], 4);
    return SocketAddress(v4);
}

bool SocketAddress::operator==(const SocketAddress &other) const
{
    const socklen_t length = Length();
    return length == other.Length() && std::memcmp(&m_storage, &other.m_storage, length) == 0;
}

QString AddressText(const SocketAddress &address)
{
    const SocketAddress plain = address.Unmapped();
    char text[INET6_ADDRSTRLEN + IF_NAMESIZE + 2] = {};
    if (plain.Family() == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(plain.Data())->sin_addr, text, sizeof text);
        return QString::fromLatin1(text);
    }
    if (plain.Family() != AF_INET6)
        return QStringLiteral("0.0.0.0");
    const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(plain.Data());
    ::inet_ntop(AF_INET6, &v6->sin6_addr, text, INET6_ADDRSTRLEN);
    QString result = QString::fromLatin1(text);
    if (v6->sin6_scope_id != 0) {
        char name[IF_NAMESIZE] = {};
        result += QLatin1Char('%')
                  + (::if_indextoname(v6->sin6_scope_id, name) ? QString::fromLocal8Bit(name)
                                                               : QString::number(v6->sin6_scope_id));
    }
    return result;
}

QByteArray PeerText(const SocketAddress &address)
{
    const SocketAddress plain = address.Unmapped();
    const QByteArray port = QByteArray::number(plain.Port());
    if (plain.Family() == AF_INET6)
        return '[' + AddressText(plain).toLocal8Bit() + "]:" + port;
    return AddressText(plain).toLatin1() + ':' + port;
}

QByteArray PeerTextOfSocket(int socket, const SocketAddress &whenUnknown)
{
    SocketAddress peer;
    socklen_t length = SocketAddress::Capacity();
    if (::getpeername(socket, peer.Data(), &length) != 0)
        return PeerText(whenUnknown);
    return PeerText(peer);
}

std::optional<SocketAddress> ParseIpv6Literal(const QString &text, quint16 port)
{
    QString literal = text.trimmed();
    // inet_pton and if_nametoindex read only up to a NUL: "::1\0junk" would pass as ::1.
    if (literal.contains(QChar(0)))
        return std::nullopt;
    if (literal.startsWith(QLatin1Char('[')) && literal.endsWith(QLatin1Char(']')))
        literal = literal.mid(1, literal.size() - 2);
    const qsizetype percent = literal.indexOf(QLatin1Char('%'));
    const QString address = percent < 0 ? literal : literal.left(percent);
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    if (!address.contains(QLatin1Char(':')) || address.size() >= INET6_ADDRSTRLEN
        || ::inet_pton(AF_INET6, address.toLatin1().constData(), &v6.sin6_addr) != 1)
        return std::nullopt;
    if (percent >= 0) {
        const QString scope = literal.mid(percent + 1);
        bool numeric = false;
        const uint index = scope.toUInt(&numeric);
        v6.sin6_scope_id = numeric ? index : ::if_nametoindex(scope.toLocal8Bit().constData());
        if (scope.isEmpty() || scope.size() >= IF_NAMESIZE || v6.sin6_scope_id == 0)
            return std::nullopt;
    }
    return SocketAddress::FromSockaddr(reinterpret_cast<const sockaddr *>(&v6), sizeof v6);
}

SocketAddress EndpointOfPeerText(const QByteArray &peerText)
{
    if (peerText.startsWith('[')) {
        const qsizetype close = peerText.lastIndexOf("]:");
        if (close > 0) {
            const auto port = static_cast<quint16>(peerText.mid(close + 2).toInt());
            if (const auto v6 = ParseIpv6Literal(QString::fromLocal8Bit(peerText.mid(1, close - 1)), port))
                return *v6;
        }
        return {};
    }
    const qsizetype colon = peerText.indexOf(':');
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_addr.s_addr = ::inet_addr(peerText.left(colon < 0 ? peerText.size() : colon).constData());
    endpoint.sin_port = htons(static_cast<quint16>(colon < 0 ? 0 : peerText.mid(colon + 1).toInt()));
    return endpoint;
}

sockaddr_in Ipv4Endpoint(const QString &host, int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<quint16>(port));
    address.sin_addr.s_addr = ::inet_addr(host.toLatin1().constData());
    return address;
}

std::optional<SocketAddress> EndpointOfHostField(const QString &host, int port)
{
    if (host.contains(QLatin1Char(':')))
        return ParseIpv6Literal(host, static_cast<quint16>(port));
    return SocketAddress(Ipv4Endpoint(host, port));
}
