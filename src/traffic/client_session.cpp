#include "traffic/client_session.h"

#include <unordered_map>

ClientSession *g_pSessionHead = nullptr;

namespace Sessions {

namespace {

ClientSession *s_tail = nullptr;
std::unordered_map<int, ClientSession *> s_bySocket;
std::unordered_map<int, ClientSession *> s_byId;

}  // namespace

void Append(int socket, int id, const QByteArray &peerText)
{
    auto *session = new ClientSession{socket, id, peerText, nullptr, s_tail};
    if (s_tail)
        s_tail->next = session;
    else
        g_pSessionHead = session;
    s_tail = session;
    s_bySocket[socket] = session;
    s_byId[id] = session;
}

ClientSession *FindBySocket(int socket)
{
    const auto found = s_bySocket.find(socket);
    return found == s_bySocket.end() ? nullptr : found->second;
}

ClientSession *FindById(int id)
{
    const auto found = s_byId.find(id);
    return found == s_byId.end() ? nullptr : found->second;
}

bool Remove(int socket)
{
    ClientSession *gone = FindBySocket(socket);
    if (!gone)
        return false;
    (gone->prev ? gone->prev->next : g_pSessionHead) = gone->next;
    (gone->next ? gone->next->prev : s_tail) = gone->prev;
    s_bySocket.erase(socket);
    s_byId.erase(gone->id);
    delete gone;
    return true;
}

void Clear()
{
    while (g_pSessionHead) {
        ClientSession *gone = g_pSessionHead;
        g_pSessionHead = gone->next;
        delete gone;
    }
    s_tail = nullptr;
    s_bySocket.clear();
    s_byId.clear();
}

bool IsEmpty()
{
    return g_pSessionHead == nullptr;
}

int Count()
{
    return static_cast<int>(s_bySocket.size());
}

}  // namespace Sessions
