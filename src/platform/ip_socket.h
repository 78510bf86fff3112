#pragma once

#include <QString>

#include "platform/socket_address.h"

enum class SocketKind { Stream, Datagram };

// A new socket of the family (AF_INET or AF_INET6), closed on exec and non-blocking; -1
// when the system gives none.
int OpenIpSocket(SocketKind kind, int family = AF_INET);

// A server's socket bound to host:port; -1, with nothing left open, when it cannot be had.
// The host is a dotted IPv4 address or an IPv6 literal; "::" takes IPv4 clients as well
// (IPV6_V6ONLY off). A stream socket is blocking (the accept worker polls it) and, as the
// pages expect, connections an earlier Stop left in TIME_WAIT do not keep it from binding
// (a live listener still does). A datagram socket bound to all interfaces is told where
// each datagram came to, so that a reply can leave from there (see ReadDatagram).
int OpenServerSocket(SocketKind kind, const QString &host, int port);

// The family a socket was opened with.
int SocketFamily(int socket);
// Whether the socket is bound to 0.0.0.0 or ::.
bool IsBoundToAllInterfaces(int socket);
// Lets a datagram socket send to a broadcast address (SO_BROADCAST); false when the system
// refuses.
bool SetBroadcast(int socket, bool allowed);
