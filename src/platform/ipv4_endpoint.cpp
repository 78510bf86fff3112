#include "platform/ipv4_endpoint.h"

#include <arpa/inet.h>
#include <sys/socket.h>

QByteArray PeerText(const sockaddr_in &address)
{
    char dotted[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, dotted, sizeof dotted);
    return QByteArray(dotted) + ':' + QByteArray::number(ntohs(address.sin_port));
}

QByteArray PeerTextOfSocket(int socket, const sockaddr_in &whenUnknown)
{
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(socket, reinterpret_cast<sockaddr *>(&peer), &length) != 0)
        return PeerText(whenUnknown);
    return PeerText(peer);
}

sockaddr_in EndpointOfPeerText(const QByteArray &peerText)
{
    const qsizetype colon = peerText.indexOf(':');
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_addr.s_addr = ::inet_addr(peerText.left(colon < 0 ? peerText.size() : colon).constData());
    endpoint.sin_port = htons(static_cast<quint16>(colon < 0 ? 0 : peerText.mid(colon + 1).toInt()));
    return endpoint;
}
