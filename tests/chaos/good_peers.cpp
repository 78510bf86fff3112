// The well-behaved peers of the two server pages: each sends its stamped blocks one at a
// time and waits for the echo, standing still while a window is open on its page.
#include <QByteArray>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "chaos_peers.h"
#include "peer_sockets.h"
#include "support/loopback_sockets.h"

namespace Chaos {

namespace {

using namespace std::chrono_literals;

// What both kinds share: a socket from the next port of the peer's own, and its state.
class GoodPeerBase
{
protected:
    GoodPeerBase(Context &ctx, GoodPeer &peer)
        : m_ctx(ctx)
        , m_peer(peer)
        , m_firstPort(ctx.ports.GoodFirst(peer.udp, peer.index))
    {
    }

    int NextPort()
    {
        const int port = m_firstPort + m_nextPort;
        m_nextPort = (m_nextPort + 1) % PortPlan::kPortsPerGoodPeer;
        return port;
    }
    void SetState(PeerState state) { m_peer.state = static_cast<int>(state); }
    void CloseSocket()
    {
        if (m_socket >= 0)
            ::close(m_socket);
        m_socket = -1;
        m_peer.port = 0;
    }
    // Closes its socket and stands still while the page's window is open.
    void Pause()
    {
        CloseSocket();
        SetState(PeerState::Paused);
        Nap(2ms);
    }
    bool Going() const { return !m_ctx.GoodOver() && !m_peer.failed; }

    Context &m_ctx;
    GoodPeer &m_peer;
    int m_socket = -1;

private:
    int m_firstPort;
    int m_nextPort = 0;
};

class GoodTcpPeer : GoodPeerBase
{
public:
    GoodTcpPeer(Context &ctx, GoodPeer &peer)
        : GoodPeerBase(ctx, peer)
    {
    }

    void Run()
    {
        for (long round = 0; round < kMaxRounds && Going(); ++round) {
            const Phase phase = m_ctx.TcpPhase();
            if (phase == Phase::Pausing) {
                Pause();
            } else if (m_socket < 0) {
                Connect();
            } else if (phase == Phase::Reconnect) {
                SetState(PeerState::Connected);  // waits for the page to echo again
                Nap(2ms);
            } else if (!SendBlock()) {
                m_peer.failed = true;
            }
        }
        CloseSocket();
        SetState(PeerState::Finished);
    }

private:
    // Reconnect, or the first connection: from the next port of its own.
    void Connect()
    {
        ConnectResult result;
        const int port = NextPort();
        m_socket = ConnectTcp(port, m_ctx.ports.tcpPage, 2000 * m_ctx.slowdown, result);
        if (m_socket < 0) {
            if (++m_connectFailures > 200) {
                m_ctx.Finding(QStringLiteral("TCP good peer %1: 200 connects in a row failed").arg(m_peer.index));
                m_peer.failed = true;
            }
            Nap(20ms);
            return;
        }
        m_connectFailures = 0;
        SetTimeouts(m_socket, 10000 * m_ctx.slowdown);
        m_peer.port = port;
        ++m_peer.connections;
        ++m_ctx.tally.tcpConnections;
        SetState(PeerState::Connected);
    }

    // The next block and its echo; false (with a finding) when either fails.
    bool SendBlock()
    {
        SetState(PeerState::Running);
        const long number = m_peer.sent;
        const QByteArray block = Stamp::TcpBlock(m_peer.index, number);
        // The number counts as sent before the bytes go: the page may show them at once.
        m_peer.sent = number + 1;
        if (SendCounted(m_socket, block.constData(), static_cast<size_t>(block.size()), m_ctx.tally)
            != static_cast<size_t>(block.size())) {
            m_ctx.Finding(QStringLiteral("TCP good peer %1: block %2 could not be sent (%3)")
                              .arg(m_peer.index)
                              .arg(number)
                              .arg(QString::fromLocal8Bit(std::strerror(errno))));
            return false;
        }
        if (!ReadEcho(block, number))
            return false;
        ++m_peer.echoed;
        return true;
    }

    // Waits for the echo of block: every good byte that comes must be the block's next byte;
    // any other byte is the page's own send and is only counted. False (with a finding) when
    // the echo differs, the connection ends or the time is up.
    bool ReadEcho(const QByteArray &block, long number)
    {
        const auto limit = Clock::now() + std::chrono::seconds(20 * m_ctx.slowdown);
        qsizetype matched = 0;
        char buffer[4096];
        while (matched < block.size()) {
            if (Clock::now() >= limit) {
                m_ctx.Finding(QStringLiteral("TCP good peer %1: block %2 (%3 bytes) echoed only %4 bytes within %5 s")
                                  .arg(m_peer.index)
                                  .arg(number)
                                  .arg(block.size())
                                  .arg(matched)
                                  .arg(20 * m_ctx.slowdown));
                return false;
            }
            pollfd waiting{m_socket, POLLIN, 0};
            if (::poll(&waiting, 1, 100) <= 0)
                continue;
            const ssize_t got = ::recv(m_socket, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (got <= 0) {
                m_ctx.Finding(
                    QStringLiteral(
                        "TCP good peer %1: connection ended (%2) during the echo of block %3 after %4 of %5 bytes")
                        .arg(m_peer.index)
                        .arg(got == 0 ? QStringLiteral("closed") : QString::fromLocal8Bit(std::strerror(errno)))
                        .arg(number)
                        .arg(matched)
                        .arg(block.size()));
                return false;
            }
            m_ctx.tally.bytesIn += got;
            if (!MatchEcho(QByteArrayView(buffer, got), block, number, matched))
                return false;
        }
        return true;
    }

    bool MatchEcho(QByteArrayView bytes, const QByteArray &block, long number, qsizetype &matched)
    {
        for (const char byte : bytes) {
            if (!Stamp::IsGoodByte(byte)) {
                ++m_peer.injectedBytes;
                continue;
            }
            if (matched >= block.size() || byte != block[matched]) {
                m_ctx.Finding(
                    QStringLiteral("TCP good peer %1: echo of block %2 differs at byte %3: got '%4', expected '%5'")
                        .arg(m_peer.index)
                        .arg(number)
                        .arg(matched)
                        .arg(QChar::fromLatin1(byte))
                        .arg(matched < block.size() ? QChar::fromLatin1(block[matched]) : QChar(u'-')));
                return false;
            }
            ++matched;
        }
        return true;
    }

    int m_connectFailures = 0;
};

class GoodUdpPeer : GoodPeerBase
{
public:
    GoodUdpPeer(Context &ctx, GoodPeer &peer)
        : GoodPeerBase(ctx, peer)
    {
    }

    void Run()
    {
        for (long round = 0; round < kMaxRounds && Going(); ++round) {
            if (m_ctx.UdpPhase() != Phase::Running) {
                Pause();  // a new source port after every window
                continue;
            }
            if (m_socket < 0 && !Open())
                continue;
            SetState(PeerState::Running);
            SendDatagram();
        }
        CloseSocket();
        SetState(PeerState::Finished);
    }

private:
    bool Open()
    {
        const int port = NextPort();
        m_socket = UdpSocket(port, m_ctx.ports.udpPage);
        if (m_socket < 0) {
            CloseSocket();
            Nap(5ms);
            return false;
        }
        m_peer.port = port;
        ++m_peer.connections;
        return true;
    }

    // The next datagram, sent again every 250 ms (times the slowdown) until its echo comes.
    void SendDatagram()
    {
        const long number = m_peer.sent;
        const QByteArray datagram = Stamp::UdpDatagram(m_peer.index, number);
        m_peer.sent = number + 1;
        bool echoed = false;
        for (int attempt = 0; attempt < 40 * m_ctx.slowdown && !echoed && !m_peer.failed; ++attempt) {
            if (attempt > 0)
                ++m_peer.retransmits;
            if (::send(m_socket, datagram.constData(), static_cast<size_t>(datagram.size()), 0) == datagram.size())
                m_ctx.tally.bytesOut += datagram.size();
            echoed = AwaitEcho(datagram, number, Clock::now() + 250ms * m_ctx.slowdown);
        }
        if (!echoed && !m_peer.failed) {
            m_ctx.Finding(QStringLiteral("UDP good peer %1: no echo of datagram %2 after %3 tries")
                              .arg(m_peer.index)
                              .arg(number)
                              .arg(40 * m_ctx.slowdown));
            m_peer.failed = true;
        }
        if (echoed)
            ++m_peer.echoed;
    }

    // True when the datagram's echo came before the limit. The page's own sends are counted,
    // a late echo of an earlier datagram is skipped; anything else fails the peer.
    bool AwaitEcho(const QByteArray &datagram, long number, Clock::time_point limit)
    {
        char buffer[4096];
        while (!m_peer.failed && Clock::now() < limit) {
            pollfd waiting{m_socket, POLLIN, 0};
            if (::poll(&waiting, 1, 50) <= 0)
                continue;
            const ssize_t got = ::recv(m_socket, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got < 0)
                continue;  // a refusal from a stopped page, or nothing
            m_ctx.tally.bytesIn += got;
            const QByteArrayView data(buffer, got);
            if (data == datagram)
                return true;
            if (std::none_of(data.begin(), data.end(), Stamp::IsGoodByte)) {
                m_peer.injectedBytes += got;
            } else if (const long earlier = Stamp::UdpNumberOf(m_peer.index, data); earlier >= 0 && earlier < number) {
                ++m_peer.lateDuplicates;
            } else {
                m_ctx.Finding(QStringLiteral("UDP good peer %1: datagram %2 got a reply of %3 bytes that is neither"
                                             " its echo nor an earlier one: \"%4\"")
                                  .arg(m_peer.index)
                                  .arg(number)
                                  .arg(got)
                                  .arg(QString::fromLatin1(data.first(std::min<qsizetype>(40, data.size())))));
                m_peer.failed = true;
            }
        }
        return false;
    }
};

}  // namespace

void RunGoodTcpPeer(Context &ctx, GoodPeer &peer)
{
    GoodTcpPeer(ctx, peer).Run();
}

void RunGoodUdpPeer(Context &ctx, GoodPeer &peer)
{
    GoodUdpPeer(ctx, peer).Run();
}

}  // namespace Chaos
