#include "platform/ip_socket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int SocketType(SocketKind kind)
{
    return kind == SocketKind::Stream ? SOCK_STREAM : SOCK_DGRAM;
}

void AskForArrivalAddress(int socket, int family)
{
    const int on = 1;
    ::setsockopt(socket, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);  // IPv4 datagrams, on either family
    if (family == AF_INET6)
        ::setsockopt(socket, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on);
}

}  // namespace

int OpenIpSocket(SocketKind kind, int family)
{
    return ::socket(family, SocketType(kind) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

int OpenServerSocket(SocketKind kind, const QString &host, int port)
{
    const auto local = EndpointOfHostField(host, port);
    if (!local)
        return -1;
    const bool stream = kind == SocketKind::Stream;
    const int family = local->Family();
    const int socket = ::socket(family, SocketType(kind) | (stream ? 0 : SOCK_NONBLOCK) | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return -1;
    const int on = 1;
    if (stream)
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (family == AF_INET6) {
        // "::" serves IPv4 too; a single IPv6 address only itself.
        const int v6Only = IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6 *>(local->Data())->sin6_addr)
                               ? 0
                               : 1;
        ::setsockopt(socket, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only);
    }
    if (::bind(socket, local->Data(), local->Length()) != 0) {
        ::close(socket);  // never used: closed at once
        return -1;
    }
    if (!stream && IsBoundToAllInterfaces(socket))
        AskForArrivalAddress(socket, family);
    return socket;
}

int SocketFamily(int socket)
{
    int family = AF_UNSPEC;
    socklen_t length = sizeof family;
    ::getsockopt(socket, SOL_SOCKET, SO_DOMAIN, &family, &length);
    return family;
}

bool IsBoundToAllInterfaces(int socket)
{
    SocketAddress local;
    socklen_t length = SocketAddress::Capacity();
    if (::getsockname(socket, local.Data(), &length) != 0)
        return false;
    if (local.Family() == AF_INET)
        return reinterpret_cast<const sockaddr_in *>(local.Data())->sin_addr.s_addr == htonl(INADDR_ANY);
    return local.Family() == AF_INET6
           && IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6 *>(local.Data())->sin6_addr);
}

bool SetBroadcast(int socket, bool allowed)
{
    const int value = allowed ? 1 : 0;
    return ::setsockopt(socket, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) == 0;
}
