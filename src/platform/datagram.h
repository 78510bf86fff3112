#pragma once

#include <netinet/in.h>

// Room for a burst of datagrams while the window is busy for a moment (a repaint, a box):
// the system's default holds a few hundred small datagrams and drops the rest.
void WidenDatagramReceiveBuffer(int socket);

enum class DatagramRead { Datagram, Nothing, Failed };

// Reads one datagram of at most size bytes. A larger one is cut by the system and reported
// with MSG_TRUNC: that is a failed read, never a cut datagram shown as if whole. Nothing
// waiting (a stale readiness report) is no failure.
DatagramRead ReadDatagram(int socket, char *buffer, int size, int &received, sockaddr_in &source);
