#include "support/loopback_sockets.h"

#include <cerrno>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

sockaddr_in LoopbackAddress(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<quint16>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int LocalPort(int socket)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(socket, reinterpret_cast<sockaddr *>(&address), &length);
    return ntohs(address.sin_port);
}

quint16 BindToFreeLoopbackPort(int socket)
{
    const sockaddr_in address = LoopbackAddress(0);
    ::bind(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    return static_cast<quint16>(LocalPort(socket));
}

quint16 FreePort(bool datagram)
{
    const int probe = ::socket(AF_INET, (datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
    const quint16 port = BindToFreeLoopbackPort(probe);
    ::close(probe);
    return port;
}

int ConnectClient(int port, bool blocking)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
    if (socket < 0)
        return -1;
    const sockaddr_in address = LoopbackAddress(port);
    if (::connect(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
        ::close(socket);
        return -1;
    }
    return socket;
}

int ListenOn(int port, int backlog)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return -1;
    if (port != 0) {
        const int reuse = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    }
    const sockaddr_in address = LoopbackAddress(port);
    if (::bind(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || ::listen(socket, backlog) != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

int OpenListener(int &port, int backlog)
{
    const int listener = ListenOn(0, backlog);
    if (listener >= 0)
        port = LocalPort(listener);
    return listener;
}

int UdpSocket(int localPort, int peerPort)
{
    const int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return -1;
    const sockaddr_in local = LoopbackAddress(localPort);
    const sockaddr_in peer = LoopbackAddress(peerPort);
    if (::bind(socket, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0
        || (peerPort != 0 && ::connect(socket, reinterpret_cast<const sockaddr *>(&peer), sizeof peer) != 0)) {
        ::close(socket);
        return -1;
    }
    return socket;
}

bool SendAll(int socket, const char *data, size_t size, size_t *sent)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::send(socket, data + done, size - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    if (sent)
        *sent = done;
    return done == size;
}

void ResetOnClose(int socket)
{
    const linger abort{1, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

void CloseWithReset(int socket)
{
    ResetOnClose(socket);
    ::close(socket);
}

void SetTimeouts(int socket, int milliseconds)
{
    const timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

void SetBlocking(int socket, bool blocking)
{
    const int flags = ::fcntl(socket, F_GETFL);
    ::fcntl(socket, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
}
