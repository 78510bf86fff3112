#pragma once

#include <QByteArray>

#include <sys/socket.h>

// One end of an IP conversation: the address in network order (4 bytes for IPv4, 16 for
// IPv6; an IPv4-mapped IPv6 address is kept as its IPv4 address) and the port in host order.
struct IpEndpoint
{
    QByteArray address;
    quint16 port = 0;

    bool IsIpv6() const { return address.size() == 16; }
    bool operator==(const IpEndpoint &other) const = default;

    // An AF_INET or AF_INET6 address; an empty endpoint for anything else.
    static IpEndpoint FromSockaddr(const sockaddr *address);
};

// The two ends of a conversation as this side sees it.
struct FlowEnds
{
    IpEndpoint local;
    IpEndpoint remote;

    bool operator==(const FlowEnds &other) const = default;
};

// The local and remote ends of a connected socket; false when the system cannot tell them
// any more (a reset connection).
bool SocketEnds(int socket, FlowEnds &ends);
// The local end of a bound socket.
IpEndpoint LocalEnd(int socket);
