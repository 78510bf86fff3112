#include "peer_sockets.h"

#include <cerrno>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/loopback_sockets.h"

namespace Chaos {

int ConnectTcp(int localPort, int port, int timeoutMs, ConnectResult &result)
{
    result = ConnectResult::Failed;
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket < 0)
        return -1;
    if (localPort != 0) {
        const int reuse = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        const sockaddr_in local = LoopbackAddress(localPort);
        if (::bind(socket, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
            ::close(socket);
            return -1;
        }
    }
    const sockaddr_in to = LoopbackAddress(port);
    if (::connect(socket, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        if (errno != EINPROGRESS) {
            result = errno == ECONNREFUSED ? ConnectResult::Refused : ConnectResult::Failed;
            ::close(socket);
            return -1;
        }
        pollfd waiting{socket, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof error;
        if (::poll(&waiting, 1, timeoutMs) != 1 || ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0
            || error != 0) {
            result = error == ECONNREFUSED ? ConnectResult::Refused : ConnectResult::Failed;
            ::close(socket);
            return -1;
        }
    }
    SetBlocking(socket, true);
    result = ConnectResult::Connected;
    return socket;
}

size_t SendCounted(int socket, const char *data, size_t size, Tally &tally)
{
    size_t sent = 0;
    SendAll(socket, data, size, &sent);
    tally.bytesOut += static_cast<long>(sent);
    return sent;
}

long Drain(int socket, Tally &tally)
{
    char buffer[16384];
    long total = 0;
    for (int round = 0; round < 64; ++round) {
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            total += n;
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            total = total > 0 ? total : -1;
        break;
    }
    if (total > 0)
        tally.bytesIn += total;
    return total;
}

int ConnectCounted(Context &ctx, ConnectResult &result)
{
    const int socket = ConnectTcp(0, ctx.ports.tcpPage, 1000 * ctx.slowdown, result);
    if (socket >= 0)
        ++ctx.tally.tcpConnections;
    else if (result == ConnectResult::Refused)
        ++ctx.tally.tcpRefused;
    return socket;
}

}  // namespace Chaos
