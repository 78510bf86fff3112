#pragma once

#include <QByteArray>

#include <netinet/in.h>

// An IPv4 endpoint as the pages write it: "a.b.c.d:port", the port in host order.
QByteArray PeerText(const sockaddr_in &address);
// The peer of a connected socket; whenUnknown (0.0.0.0:0 unless given) when the system cannot
// tell it any more (a reset).
QByteArray PeerTextOfSocket(int socket, const sockaddr_in &whenUnknown = {});
// The endpoint of a peer text: the address before the first ':' (inet_addr), the port
// after it as a number taken to 16 bits.
sockaddr_in EndpointOfPeerText(const QByteArray &peerText);
