#pragma once

#include <QList>
#include <QString>

#include <optional>

#include "platform/socket_address.h"

// An interface of the host by its index and name.
struct NetworkLink
{
    int index = 0;
    QString name;
};

// The interfaces a group can be joined on now: up, running and able to multicast.
QList<NetworkLink> MulticastLinks();
// The index of the interface that holds the address (IPv4 or IPv6 text); 0 when none does.
int InterfaceIndexOfAddress(const QString &address);
// The interface's name, or its number as text when it is gone.
QString InterfaceName(int index);

// A group address: IPv4 224.0.0.0/4 or IPv6 ff00::/8 (port 0); nothing for any other text.
std::optional<SocketAddress> ParseGroupAddress(const QString &text);

// Joins or leaves the group on the interface. An IPv4 group takes the IPv4 options, which a
// dual-stack IPv6 socket accepts too. 0, or the system's error number.
int JoinGroup(int socket, const SocketAddress &group, int interfaceIndex);
int LeaveGroup(int socket, const SocketAddress &group, int interfaceIndex);

// TTL (IPv4) and hop limit (IPv6) of the socket's datagrams to a group, and whether the host
// itself gets them too; both families' options on an IPv6 socket, which sends IPv4 as well.
bool SetMulticastHops(int socket, int hops);
bool SetMulticastLoopback(int socket, bool on);

// Whether the socket is bound to a group address.
bool IsBoundToGroup(int socket);

// Whether the socket can take IPv4 datagrams (an IPv4 socket, or an IPv6 one with
// IPV6_V6ONLY off) and IPv6 ones (an IPv6 socket).
bool TakesIpv4(int socket);
bool TakesIpv6(int socket);
