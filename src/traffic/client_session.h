#pragma once

#include <QByteArray>

// One accepted connection of the TCP server, in the list headed by g_pSessionHead
// (accept order, oldest first).
struct ClientSession
{
    int socket = -1;
    int id = 0;
    // The peer as "a.b.c.d:port", recorded at accept: a reset socket can no longer tell it.
    QByteArray peerText;
    ClientSession *next = nullptr;
    ClientSession *prev = nullptr;
};

// The oldest session; null while there is none.
extern ClientSession *g_pSessionHead;

// The session list's operations. Only the GUI thread touches the list. Sessions are also
// indexed by socket and by id, so that a flood of connections costs no walks of the list.
namespace Sessions {

void Append(int socket, int id, const QByteArray &peerText);
ClientSession *FindBySocket(int socket);
// The record with the id (ids are unique within a listening period).
ClientSession *FindById(int id);
// Unlinks and frees the record with the socket; false when none holds it.
bool Remove(int socket);
// Frees every record; the caller has closed their sockets.
void Clear();
bool IsEmpty();
int Count();

}  // namespace Sessions
