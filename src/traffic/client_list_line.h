#pragma once

#include <QByteArray>
#include <QByteArrayView>

// A line of the TCP server's client list: "a.b.c.d:port-id", "[addr]:port-id" for IPv6.
QByteArray ClientListLine(QByteArrayView peerText, int id);

// The id of a client list line: the whole number after the last hyphen (an IPv6 scope name
// may hold hyphens), so that 10000 is never read as 1000; -1 when there is none.
int IdOfClientLine(const QByteArray &line);
