#pragma once

#include <QString>

#include <netinet/in.h>

enum class SocketKind { Stream, Datagram };

// host:port as the pages read them from their fields: the dotted address (inet_addr) and
// the port taken to 16 bits, so 70000 is 4464 and -1 is 65535.
sockaddr_in Ipv4Endpoint(const QString &host, int port);

// A new IPv4 socket, closed on exec and non-blocking; -1 when the system gives none.
int OpenIpv4Socket(SocketKind kind);

// A server's socket bound to host:port; -1, with nothing left open, when it cannot be had.
// A stream socket is blocking (the accept worker polls it) and, as the pages expect,
// connections an earlier Stop left in TIME_WAIT do not keep it from binding (a live
// listener still does).
int OpenServerSocket(SocketKind kind, const QString &host, int port);
