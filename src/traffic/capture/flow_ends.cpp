#include "traffic/capture/flow_ends.h"

#include <netinet/in.h>

#include <cstring>

IpEndpoint IpEndpoint::FromSockaddr(const sockaddr *address)
{
    IpEndpoint end;
    if (address->sa_family == AF_INET) {
        const auto *v4 = reinterpret_cast<const sockaddr_in *>(address);
        end.address = QByteArray(reinterpret_cast<const char *>(&v4->sin_addr), 4);
        end.port = ntohs(v4->sin_port);
    } else if (address->sa_family == AF_INET6) {
        const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(address);
        end.address = IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)
                          ? QByteArray(reinterpret_cast<const char *>(&v6->sin6_addr) + 12, 4)
                          : QByteArray(reinterpret_cast<const char *>(&v6->sin6_addr), 16);
        end.port = ntohs(v6->sin6_port);
    }
    return end;
}

namespace {

template <typename Call>
IpEndpoint EndOf(int socket, Call call)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (call(socket, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return {};
    return IpEndpoint::FromSockaddr(reinterpret_cast<const sockaddr *>(&address));
}

}  // namespace

bool SocketEnds(int socket, FlowEnds &ends)
{
    ends.local = EndOf(socket, ::getsockname);
    ends.remote = EndOf(socket, ::getpeername);
    return !ends.local.address.isEmpty() && !ends.remote.address.isEmpty();
}

IpEndpoint LocalEnd(int socket)
{
    return EndOf(socket, ::getsockname);
}
