#include "platform/datagram.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

void WidenDatagramReceiveBuffer(int socket)
{
    const int bytes = 4 * 1024 * 1024;  // the system caps it at its own maximum
    ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

int RaiseDatagramReceiveBuffer(int socket)
{
    const int bytes = 16 * 1024 * 1024;
    if (::setsockopt(socket, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    int held = 0;
    socklen_t length = sizeof held;
    ::getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &held, &length);
    return held;
}

namespace {

// Room for one IP_PKTINFO and one IPV6_PKTINFO message.
constexpr size_t kControlSize = CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(in6_pktinfo));

void ReadArrival(msghdr &message, DatagramArrival &arrival)
{
    for (cmsghdr *control = CMSG_FIRSTHDR(&message); control; control = CMSG_NXTHDR(&message, control)) {
        if (control->cmsg_level == IPPROTO_IP && control->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(control), sizeof info);
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_addr = info.ipi_spec_dst;  // the unicast address a reply leaves from
            arrival.local = local;
            arrival.interfaceIndex = info.ipi_ifindex;
        } else if (control->cmsg_level == IPPROTO_IPV6 && control->cmsg_type == IPV6_PKTINFO) {
            in6_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(control), sizeof info);
            arrival.interfaceIndex = static_cast<int>(info.ipi6_ifindex);
            if (IN6_IS_ADDR_V4MAPPED(&info.ipi6_addr)) {
                sockaddr_in local{};
                local.sin_family = AF_INET;
                std::memcpy(&local.sin_addr, &info.ipi6_addr.s6_addr[12], 4);
                arrival.local = local;
            } else if (!IN6_IS_ADDR_MULTICAST(&info.ipi6_addr)) {  // a group is never a source
                sockaddr_in6 local{};
                local.sin6_family = AF_INET6;
                local.sin6_addr = info.ipi6_addr;
                arrival.local = SocketAddress::FromSockaddr(reinterpret_cast<const sockaddr *>(&local), sizeof local);
            }
        }
    }
}

// The control message that makes a datagram leave from the arrival's address.
size_t WriteSource(const SocketAddress &to, const DatagramArrival &from, char *buffer, msghdr &message)
{
    message.msg_control = buffer;
    message.msg_controllen = kControlSize;
    cmsghdr *control = CMSG_FIRSTHDR(&message);
    const SocketAddress peer = to.Unmapped();
    if (peer.Family() == AF_INET) {
        in_pktinfo info{};
        if (from.local.Family() == AF_INET)
            info.ipi_spec_dst = reinterpret_cast<const sockaddr_in *>(from.local.Data())->sin_addr;
        control->cmsg_level = IPPROTO_IP;
        control->cmsg_type = IP_PKTINFO;
        control->cmsg_len = CMSG_LEN(sizeof info);
        std::memcpy(CMSG_DATA(control), &info, sizeof info);
        return CMSG_SPACE(sizeof info);
    }
    in6_pktinfo info{};
    if (from.local.Family() == AF_INET6)
        info.ipi6_addr = reinterpret_cast<const sockaddr_in6 *>(from.local.Data())->sin6_addr;
    info.ipi6_ifindex = static_cast<unsigned>(from.interfaceIndex);
    control->cmsg_level = IPPROTO_IPV6;
    control->cmsg_type = IPV6_PKTINFO;
    control->cmsg_len = CMSG_LEN(sizeof info);
    std::memcpy(CMSG_DATA(control), &info, sizeof info);
    return CMSG_SPACE(sizeof info);
}

}  // namespace

DatagramRead ReadDatagram(int socket, char *buffer, int size, int &received, SocketAddress &source,
                          DatagramArrival *arrival)
{
    iovec part{buffer, static_cast<size_t>(size)};
    alignas(cmsghdr) char control[kControlSize];
    msghdr message{};
    message.msg_name = source.Data();
    message.msg_namelen = SocketAddress::Capacity();
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (arrival) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
    }
    ssize_t got = -1;
    do
        got = ::recvmsg(socket, &message, MSG_DONTWAIT);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? DatagramRead::Nothing : DatagramRead::Failed;
    if (message.msg_flags & MSG_TRUNC)
        return DatagramRead::Failed;
    received = static_cast<int>(got);
    if (arrival) {
        *arrival = {};
        ReadArrival(message, *arrival);
    }
    return DatagramRead::Datagram;
}

bool SendDatagram(int socket, QByteArrayView bytes, const SocketAddress &to, const DatagramArrival *from)
{
    iovec part{const_cast<char *>(bytes.data()), static_cast<size_t>(bytes.size())};
    alignas(cmsghdr) char control[kControlSize] = {};
    msghdr message{};
    message.msg_name = const_cast<sockaddr *>(to.Data());
    message.msg_namelen = to.Length();
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (from && from->local.IsValid())
        message.msg_controllen = WriteSource(to, *from, control, message);
    ssize_t sent = -1;
    do
        sent = ::sendmsg(socket, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent == bytes.size();
}
