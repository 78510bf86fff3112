#include "tcpserver/client_session.h"

#include "app/globals.h"

namespace Sessions {

void Append(int socket, int id, const QByteArray &peerText)
{
    auto *session = new ClientSession{socket, id, peerText, nullptr};
    ClientSession **link = &g_pSessionHead;
    while (*link)
        link = &(*link)->next;
    *link = session;
}

ClientSession *FindBySocket(int socket)
{
    for (ClientSession *session = g_pSessionHead; session; session = session->next)
        if (session->socket == socket)
            return session;
    return nullptr;
}

ClientSession *FindById(int id)
{
    ClientSession *found = nullptr;
    for (ClientSession *session = g_pSessionHead; session; session = session->next)
        if (session->id == id)
            found = session;
    return found;
}

bool Remove(int socket)
{
    for (ClientSession **link = &g_pSessionHead; *link; link = &(*link)->next) {
        if ((*link)->socket == socket) {
            ClientSession *gone = *link;
            *link = gone->next;
            delete gone;
            return true;
        }
    }
    return false;
}

void Clear()
{
    while (g_pSessionHead) {
        ClientSession *gone = g_pSessionHead;
        g_pSessionHead = gone->next;
        delete gone;
    }
}

bool IsEmpty()
{
    return g_pSessionHead == nullptr;
}

int Count()
{
    int count = 0;
    for (const ClientSession *session = g_pSessionHead; session; session = session->next)
        ++count;
    return count;
}

} // namespace Sessions
