#pragma once

#include <QByteArrayView>

#include "platform/socket_address.h"

// Room for a burst of datagrams while the window is busy for a moment (a repaint, a box):
// the system's default holds a few hundred small datagrams and drops the rest.
void WidenDatagramReceiveBuffer(int socket);
// More room still, for a burst of datagrams of up to 64 KiB: 16 MiB where the process may
// pass the system's cap (SO_RCVBUFFORCE), else as much as the cap allows. Returns the bytes
// the socket now holds.
int RaiseDatagramReceiveBuffer(int socket);

// Where a datagram came to, on a socket bound to all interfaces: the local address a reply
// leaves from and the interface it came in on. Empty (no address) elsewhere.
struct DatagramArrival
{
    SocketAddress local;  // port 0; invalid when the system did not say
    int interfaceIndex = 0;
};

enum class DatagramRead { Datagram, Nothing, Failed };

// Reads one datagram of at most size bytes. A larger one is cut by the system and reported
// with MSG_TRUNC: that is a failed read, never a cut datagram shown as if whole. Nothing
// waiting (a stale readiness report) is no failure. arrival, when given, says where it came to.
DatagramRead ReadDatagram(int socket, char *buffer, int size, int &received, SocketAddress &source,
                          DatagramArrival *arrival = nullptr);

// Sends one datagram to the address (mapped for an IPv6 socket by the caller), from the
// arrival's address when one is given; true when the system took it whole.
bool SendDatagram(int socket, QByteArrayView bytes, const SocketAddress &to, const DatagramArrival *from = nullptr);
