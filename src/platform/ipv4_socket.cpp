#include "platform/ipv4_socket.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int SocketType(SocketKind kind)
{
    return kind == SocketKind::Stream ? SOCK_STREAM : SOCK_DGRAM;
}

}  // namespace

sockaddr_in Ipv4Endpoint(const QString &host, int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<quint16>(port));
    address.sin_addr.s_addr = ::inet_addr(host.toLatin1().constData());
    return address;
}

int OpenIpv4Socket(SocketKind kind)
{
    return ::socket(AF_INET, SocketType(kind) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

int OpenServerSocket(SocketKind kind, const QString &host, int port)
{
    const bool stream = kind == SocketKind::Stream;
    const int socket = ::socket(AF_INET, SocketType(kind) | (stream ? 0 : SOCK_NONBLOCK) | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return -1;
    const int reuse = 1;
    if (stream)
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    const sockaddr_in local = Ipv4Endpoint(host, port);
    if (::bind(socket, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        ::close(socket);  // never used: closed at once
        return -1;
    }
    return socket;
}
