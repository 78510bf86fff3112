#include "platform/multicast.h"

#include <QNetworkInterface>

#include <cerrno>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/ip_socket.h"

namespace {

bool IsGroup(const SocketAddress &address)
{
    if (address.Family() == AF_INET)
        return IN_MULTICAST(ntohl(reinterpret_cast<const sockaddr_in *>(address.Data())->sin_addr.s_addr));
    return address.Family() == AF_INET6
           && IN6_IS_ADDR_MULTICAST(&reinterpret_cast<const sockaddr_in6 *>(address.Data())->sin6_addr);
}

int ChangeMembership(int socket, const SocketAddress &group, int interfaceIndex, bool join)
{
    int result = -1;
    if (group.Family() == AF_INET) {
        ip_mreqn request{};
        request.imr_multiaddr = reinterpret_cast<const sockaddr_in *>(group.Data())->sin_addr;
        request.imr_ifindex = interfaceIndex;
        result = ::setsockopt(socket, IPPROTO_IP, join ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP, &request,
                              sizeof request);
    } else if (group.Family() == AF_INET6) {
        ipv6_mreq request{};
        request.ipv6mr_multiaddr = reinterpret_cast<const sockaddr_in6 *>(group.Data())->sin6_addr;
        request.ipv6mr_interface = static_cast<unsigned>(interfaceIndex);
        result = ::setsockopt(socket, IPPROTO_IPV6, join ? IPV6_JOIN_GROUP : IPV6_LEAVE_GROUP, &request,
                              sizeof request);
    } else {
        return EAFNOSUPPORT;
    }
    return result == 0 ? 0 : errno;
}

}  // namespace

QList<NetworkLink> MulticastLinks()
{
    QList<NetworkLink> links;
    for (const QNetworkInterface &link : QNetworkInterface::allInterfaces()) {
        const auto flags = link.flags();
        if (flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::IsRunning)
            && flags.testFlag(QNetworkInterface::CanMulticast))
            links.append({link.index(), link.name()});
    }
    return links;
}

int InterfaceIndexOfAddress(const QString &address)
{
    const QHostAddress wanted(address);
    if (wanted.isNull())
        return 0;
    for (const QNetworkInterface &link : QNetworkInterface::allInterfaces())
        for (const QNetworkAddressEntry &entry : link.addressEntries())
            if (entry.ip().isEqual(wanted, QHostAddress::StrictConversion))
                return link.index();
    return 0;
}

QString InterfaceName(int index)
{
    char name[IF_NAMESIZE] = {};
    if (index > 0 && ::if_indextoname(static_cast<unsigned>(index), name))
        return QString::fromLocal8Bit(name);
    return QString::number(index);
}

std::optional<SocketAddress> ParseGroupAddress(const QString &text)
{
    const QString trimmed = text.trimmed();
    std::optional<SocketAddress> group;
    if (trimmed.contains(QLatin1Char(':'))) {
        group = ParseIpv6Literal(trimmed, 0);
    } else {
        // Four dotted decimal parts only: inet_addr's short and octal forms are no group a user means.
        const QHostAddress address(trimmed);
        if (!address.isNull() && address.protocol() == QHostAddress::IPv4Protocol && trimmed.count('.') == 3) {
            sockaddr_in ipv4{};
            ipv4.sin_family = AF_INET;
            ipv4.sin_addr.s_addr = htonl(address.toIPv4Address());
            group = SocketAddress(ipv4);
        }
    }
    if (!group || !IsGroup(*group))
        return std::nullopt;
    return group;
}

int JoinGroup(int socket, const SocketAddress &group, int interfaceIndex)
{
    return ChangeMembership(socket, group, interfaceIndex, true);
}

int LeaveGroup(int socket, const SocketAddress &group, int interfaceIndex)
{
    return ChangeMembership(socket, group, interfaceIndex, false);
}

bool SetMulticastHops(int socket, int hops)
{
    const int family = SocketFamily(socket);
    const bool ipv4 = ::setsockopt(socket, IPPROTO_IP, IP_MULTICAST_TTL, &hops, sizeof hops) == 0;
    if (family != AF_INET6)
        return ipv4;
    // An IPv6-only socket may refuse the IPv4 option: it never sends IPv4.
    return ::setsockopt(socket, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &hops, sizeof hops) == 0;
}

bool SetMulticastLoopback(int socket, bool on)
{
    const int family = SocketFamily(socket);
    const int loop = on ? 1 : 0;
    const bool ipv4 = ::setsockopt(socket, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) == 0;
    if (family != AF_INET6)
        return ipv4;
    return ::setsockopt(socket, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, &loop, sizeof loop) == 0;
}

bool IsBoundToGroup(int socket)
{
    SocketAddress local;
    socklen_t length = SocketAddress::Capacity();
    return ::getsockname(socket, local.Data(), &length) == 0 && IsGroup(local);
}

bool TakesIpv4(int socket)
{
    const int family = SocketFamily(socket);
    if (family != AF_INET6)
        return family == AF_INET;
    int v6Only = 1;
    socklen_t length = sizeof v6Only;
    return ::getsockopt(socket, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, &length) == 0 && v6Only == 0;
}

bool TakesIpv6(int socket)
{
    return SocketFamily(socket) == AF_INET6;
}
