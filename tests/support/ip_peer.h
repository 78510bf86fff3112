#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

#include "platform/socket_address.h"
#include "support/event_wait.h"

// A plain socket of either family that tests run against the pages: bound where the test
// says (port 0: one the kernel picks), a TCP listener, connection or a UDP peer. It waits
// with the pages' events handled on this thread. It talks only to where the test sends it.
class IpPeer
{
public:
    IpPeer(int type, const SocketAddress &local);
    explicit IpPeer(int acceptedFd);
    ~IpPeer();
    IpPeer(const IpPeer &) = delete;
    IpPeer &operator=(const IpPeer &) = delete;

    // host:port as the pages read a host field: "127.0.0.1", "::1", "fe80::1%lo".
    static SocketAddress At(const QString &host, quint16 port = 0);
    // Whether this machine has ::1.
    static bool HasIpv6Loopback();

    bool IsOpen() const { return m_port != 0; }
    int Fd() const { return m_fd; }
    quint16 Port() const { return m_port; }
    SocketAddress Local() const { return m_local; }
    // How a page names this peer: "127.0.0.1:port", "[::1]:port".
    QByteArray Name() const { return PeerText(m_local); }

    bool Listen();
    std::unique_ptr<IpPeer> Accept(int timeoutMs = kPatienceMs);
    bool Connect(const SocketAddress &to);
    bool Send(QByteArrayView bytes);
    bool SendTo(const SocketAddress &to, QByteArrayView bytes);
    void Close();

    struct Received
    {
        QByteArray bytes;
        SocketAddress from;
        bool operator==(const Received &other) const = default;
    };
    // The next datagram (of at most count bytes), or up to count bytes of a stream; nothing when
    // none came in time.
    std::optional<Received> Receive(int count = 4096, int timeoutMs = kPatienceMs);

private:
    bool Readable(int timeoutMs) const;

    int m_fd;
    bool m_datagrams = false;
    quint16 m_port = 0;
    SocketAddress m_local;
};
