#pragma once

// Plain POSIX sockets on 127.0.0.1 for tests, benchmarks and tools: the peers they run
// against the pages. Nothing here reaches beyond the loopback address.

#include <QtGlobal>

#include <cstddef>

struct sockaddr_in;

// 127.0.0.1 and a port, ready for bind, connect or sendto.
sockaddr_in LoopbackAddress(int port);
// Binds the socket to a free port on 127.0.0.1 and returns the port.
quint16 BindToFreeLoopbackPort(int socket);
// A port on 127.0.0.1 that nothing uses at the moment (TCP or UDP).
quint16 FreePort(bool datagram = false);
// The local port a socket is bound to.
int LocalPort(int socket);

// A TCP client socket whose connect to 127.0.0.1:port has been started (non-blocking) or
// completed (blocking); -1 when the connect failed at once.
int ConnectClient(int port, bool blocking);
// A TCP socket listening on 127.0.0.1:port (0: a port the kernel picks); -1 when that fails.
// A fixed port is taken with SO_REUSEADDR, so that it can be taken again right after a close.
int ListenOn(int port, int backlog = 64);
// The same at a port the kernel picks, put in port.
int OpenListener(int &port, int backlog);
// A datagram socket bound to 127.0.0.1:localPort (0: the kernel picks), connected to
// 127.0.0.1:peerPort when that is not 0; -1 when the local port is taken.
int UdpSocket(int localPort, int peerPort = 0);

// Sends everything, blocking within the socket's send time limit; false when the connection
// failed or the limit passed first. sent, when given, gets the bytes that went.
bool SendAll(int socket, const char *data, size_t size, size_t *sent = nullptr);
// The next close resets the connection (SO_LINGER 0) instead of ending it in order.
void ResetOnClose(int socket);
void CloseWithReset(int socket);
// Send and receive time limits of a blocking socket.
void SetTimeouts(int socket, int milliseconds);
void SetBlocking(int socket, bool blocking);
