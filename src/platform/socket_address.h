#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include <netinet/in.h>
#include <sys/socket.h>

// An IPv4 or IPv6 socket address, as the system takes and gives it.
class SocketAddress
{
public:
    SocketAddress() = default;
    SocketAddress(const sockaddr_in &address);  // NOLINT: an IPv4 address is a socket address
    static SocketAddress FromSockaddr(const sockaddr *address, socklen_t length);

    const sockaddr *Data() const { return reinterpret_cast<const sockaddr *>(&m_storage); }
    sockaddr *Data() { return reinterpret_cast<sockaddr *>(&m_storage); }
    socklen_t Length() const;
    static constexpr socklen_t Capacity() { return sizeof(sockaddr_storage); }
    int Family() const { return m_storage.ss_family; }
    bool IsIpv6() const { return Family() == AF_INET6; }
    bool IsValid() const { return Family() == AF_INET || Family() == AF_INET6; }
    quint16 Port() const;
    void SetPort(quint16 port);
    // An IPv6 socket reaches an IPv4 peer through its mapped address (::ffff:a.b.c.d).
    SocketAddress For(int socketFamily) const;
    // ::ffff:a.b.c.d as the plain IPv4 address; any other address as it is.
    SocketAddress Unmapped() const;

    bool operator==(const SocketAddress &other) const;

private:
    sockaddr_storage m_storage{};
};

// An endpoint as the pages write it: "a.b.c.d:port" for IPv4 (and for an IPv4 peer seen
// through an IPv6 socket), "[addr]:port" for IPv6, a link-local one with its scope
// ("[fe80::1%eth0]:port"); the port in host order.
QByteArray PeerText(const SocketAddress &address);
// The address alone: "a.b.c.d", "fe80::1%eth0".
QString AddressText(const SocketAddress &address);
// The peer of a connected socket; whenUnknown (0.0.0.0:0 unless given) when the system cannot
// tell it any more (a reset).
QByteArray PeerTextOfSocket(int socket, const SocketAddress &whenUnknown = sockaddr_in{});
// The endpoint of a peer text. "[addr]:port" is IPv6; anything else keeps the IPv4 rule: the
// address before the first ':' (inet_addr), the port after it as a number taken to 16 bits.
SocketAddress EndpointOfPeerText(const QByteArray &peerText);

// An IPv6 literal, with or without brackets, with an optional scope after '%' (an interface
// name or number); nothing for anything else.
std::optional<SocketAddress> ParseIpv6Literal(const QString &text, quint16 port);
// host:port as the pages read them from their fields: an IPv6 literal as above, else the
// dotted IPv4 address (inet_addr), the port taken to 16 bits, so 70000 is 4464 and -1 is 65535.
// Nothing for text with ':' that is no IPv6 literal.
std::optional<SocketAddress> EndpointOfHostField(const QString &host, int port);
// The IPv4 rule alone.
sockaddr_in Ipv4Endpoint(const QString &host, int port);
