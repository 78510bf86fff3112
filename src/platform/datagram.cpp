#include "platform/datagram.h"

#include <cerrno>
#include <sys/socket.h>

void WidenDatagramReceiveBuffer(int socket)
{
    const int bytes = 4 * 1024 * 1024;  // the system caps it at its own maximum
    ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

DatagramRead ReadDatagram(int socket, char *buffer, int size, int &received, sockaddr_in &source)
{
    iovec part{buffer, static_cast<size_t>(size)};
    msghdr message{};
    message.msg_name = &source;
    message.msg_namelen = sizeof source;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    ssize_t got = -1;
    do
        got = ::recvmsg(socket, &message, MSG_DONTWAIT);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? DatagramRead::Nothing : DatagramRead::Failed;
    if (message.msg_flags & MSG_TRUNC)
        return DatagramRead::Failed;
    received = static_cast<int>(got);
    return DatagramRead::Datagram;
}
