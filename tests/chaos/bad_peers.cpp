// The misbehaving peers of the two server pages: TCP clients that vanish, reset, send random
// bytes, never read, come in hundreds at once, half close or drip; UDP peers that send from
// thousands of ports, empty datagrams and, in rare bursts, datagrams longer than the page reads.
#include <QByteArray>
#include <QFile>
#include <QList>

#include <array>
#include <cerrno>
#include <deque>
#include <vector>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "chaos_peers.h"
#include "peer_sockets.h"
#include "support/loopback_sockets.h"

namespace Chaos {

namespace {

using namespace std::chrono_literals;

class BadTcpPlayer
{
public:
    BadTcpPlayer(Context &ctx, int index)
        : m_ctx(ctx)
        , m_tally(ctx.tally)
        , m_random(ctx.seed, 100 + static_cast<quint64>(index))
    {
    }
    ~BadTcpPlayer()
    {
        for (const int socket : m_neverReaders)
            End(socket);
    }

    void Run()
    {
        // Weights of the kinds: quick ones often, the heavy ones now and then.
        static constexpr std::array<int, Tally::kTcpKinds> kWeights{30, 20, 25, 4, 3, 10, 8};
        int total = 0;
        for (const int weight : kWeights)
            total += weight;
        for (long round = 0; round < kMaxRounds && !m_ctx.Over(); ++round) {
            int pick = m_random.Below(total);
            int kind = 0;
            while (pick >= kWeights[kind])
                pick -= kWeights[kind++];
            ++m_tally.tcpPlayed[kind];
            switch (kind) {
            case Tally::Vanish:
                Vanish();
                break;
            case Tally::ResetMidBlock:
                ResetMidBlock();
                break;
            case Tally::RandomBytes:
                RandomBytes();
                break;
            case Tally::NeverRead:
                NeverRead();
                break;
            case Tally::Churn:
                Churn();
                break;
            case Tally::HalfClose:
                HalfClose();
                break;
            case Tally::SlowDrip:
                SlowDrip();
                break;
            }
            Nap(std::chrono::microseconds(m_random.Between(0, 3000)));
        }
    }

private:
    int Connect()
    {
        ConnectResult result;
        const int socket = ConnectCounted(m_ctx, result);
        if (socket < 0)
            Nap(std::chrono::milliseconds(m_random.Between(5, 30)));  // a page stopped in its window
        else
            SetTimeouts(socket, 500);
        return socket;
    }

    // Closes or resets, at random.
    void End(int socket)
    {
        if (m_random.Chance(0.5)) {
            ++m_tally.tcpResets;
            CloseWithReset(socket);
        } else {
            ::close(socket);
        }
    }

    QByteArray RandomBlock(int size)
    {
        QByteArray bytes(size, Qt::Uninitialized);
        m_random.Fill(bytes.data(), static_cast<size_t>(size));
        return bytes;
    }

    void Vanish()
    {
        const int socket = Connect();
        if (socket < 0)
            return;
        if (m_random.Chance(0.3)) {
            const QByteArray bytes = RandomBlock(m_random.Between(1, 64));
            SendCounted(socket, bytes.constData(), static_cast<size_t>(bytes.size()), m_tally);
        }
        ::close(socket);
    }

    void ResetMidBlock()
    {
        const int socket = Connect();
        if (socket < 0)
            return;
        // Whole blocks and then a part of one, gone with a reset.
        const QByteArray bytes = RandomBlock(256 * m_random.Between(0, 8) + m_random.Between(1, 255));
        SendCounted(socket, bytes.constData(), static_cast<size_t>(bytes.size()), m_tally);
        if (m_random.Chance(0.5))
            Nap(std::chrono::microseconds(m_random.Between(0, 5000)));
        ++m_tally.tcpResets;
        CloseWithReset(socket);
    }

    void RandomBytes()
    {
        const int socket = Connect();
        if (socket < 0)
            return;
        const int chunks = m_random.Between(1, 16);
        for (int i = 0; i < chunks && !m_ctx.Over(); ++i) {
            const QByteArray bytes = RandomBlock(m_random.Between(0, 3000));
            SendCounted(socket, bytes.constData(), static_cast<size_t>(bytes.size()), m_tally);
            if (Drain(socket, m_tally) < 0)
                break;
            Nap(std::chrono::microseconds(m_random.Between(0, 10000)));
        }
        End(socket);
    }

    // Sends without ever reading while the page echoes, until its sends block; then stays
    // open a while (at most three of them per player), with the page's queue to it full.
    void NeverRead()
    {
        const int socket = Connect();
        if (socket < 0)
            return;
        const QByteArray chunk = RandomBlock(64 * 1024);
        const long target = m_random.Between(256, 8192) * 1024L;
        long sent = 0;
        const auto limit = Clock::now() + 2s;
        while (sent < target && Clock::now() < limit && !m_ctx.Over()) {
            const size_t n = SendCounted(socket, chunk.constData(), static_cast<size_t>(chunk.size()), m_tally);
            sent += static_cast<long>(n);
            if (n < static_cast<size_t>(chunk.size()))
                break;  // blocked for 500 ms: the page stopped reading from it
        }
        m_neverReaders.push_back(socket);
        if (m_neverReaders.size() > 3) {
            End(m_neverReaders.front());
            m_neverReaders.pop_front();
        }
    }

    // Hundreds of connections at once, a byte on some, then all gone.
    void Churn()
    {
        const int count = m_random.Between(100, 400);
        std::vector<int> sockets;
        sockets.reserve(static_cast<size_t>(count));
        for (int i = 0; i < count && !m_ctx.Over(); ++i) {
            const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (socket < 0)
                break;
            const sockaddr_in to = LoopbackAddress(m_ctx.ports.tcpPage);
            if (::connect(socket, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
                ++m_tally.tcpRefused;
                ::close(socket);
                continue;
            }
            ++m_tally.tcpConnections;
            sockets.push_back(socket);
        }
        Nap(std::chrono::milliseconds(m_random.Between(0, 50)));
        for (const int socket : sockets) {
            if (m_random.Chance(0.3) && ::send(socket, "x", 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1)
                ++m_tally.bytesOut;
            End(socket);
        }
    }

    void HalfClose()
    {
        const int socket = Connect();
        if (socket < 0)
            return;
        const QByteArray bytes = RandomBlock(m_random.Between(0, 600));
        SendCounted(socket, bytes.constData(), static_cast<size_t>(bytes.size()), m_tally);
        ::shutdown(socket, SHUT_WR);
        const auto limit = Clock::now() + 200ms;
        while (Clock::now() < limit) {
            pollfd waiting{socket, POLLIN, 0};
            if (::poll(&waiting, 1, 20) > 0 && Drain(socket, m_tally) < 0)
                break;
        }
        ::close(socket);
    }

    void SlowDrip()
    {
        const int socket = Connect();
        if (socket < 0)
            return;
        const int bytes = m_random.Between(5, 40);
        for (int i = 0; i < bytes && !m_ctx.Over(); ++i) {
            char byte = static_cast<char>(m_random.Next());
            if (SendCounted(socket, &byte, 1, m_tally) != 1)
                break;
            Drain(socket, m_tally);
            Nap(10ms);
        }
        End(socket);
    }

    Context &m_ctx;
    Tally &m_tally;
    Random m_random;
    std::deque<int> m_neverReaders;
};

}  // namespace

void RunBadTcpPlayer(Context &ctx, int index)
{
    BadTcpPlayer(ctx, index).Run();
}

// ---- misbehaving UDP peers ----

namespace {

// The bytes waiting in the receive queue of the UDP socket bound to 127.0.0.1:port, from the
// kernel's table; -1 when it is not there.
long UdpQueueBytes(int port)
{
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray local = "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 4 && fields[1] == local)
            return fields[4].split(':').value(1).toLong(nullptr, 16);
    }
    return -1;
}

}  // namespace

void RunBadUdpPlayer(Context &ctx, int index)
{
    Random random(ctx.seed, 200 + static_cast<quint64>(index));
    Tally &tally = ctx.tally;
    std::vector<char> datagram(2000);
    const sockaddr_in page = LoopbackAddress(ctx.ports.udpPage);
    long sinceNap = 0;
    for (long round = 0; round < kMaxRounds && !ctx.Over(); ++round) {
        // A new source port each time: the page's peer list meets thousands of them.
        const int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (socket < 0) {
            Nap(10ms);
            continue;
        }
        ++tally.udpPorts;
        const int count = random.Between(1, 20);
        // Datagrams longer than the page reads (failed reads, a box whenever none is open)
        // come in bursts now and then: a steady stream of them keeps a box open nearly all
        // the time, and the user would never get to the window (see the report).
        const bool oversized = random.Chance(0.002);
        for (int i = 0; i < count; ++i) {
            const int kind = random.Below(100);
            const int size = oversized ? random.Between(129, 2000) : kind < 10 ? 0 : random.Between(1, 128);
            random.Fill(datagram.data(), static_cast<size_t>(size));
            if (::sendto(socket, datagram.data(), static_cast<size_t>(size), MSG_DONTWAIT,
                         reinterpret_cast<const sockaddr *>(&page), sizeof page)
                == size) {
                ++tally.udpDatagrams;
                tally.bytesOut += size;
                tally.udpOversized += size > 128;
                tally.udpEmpty += size == 0;
            }
            // Paced to a few thousand a second per player, and never far ahead of the page:
            // a flood at the page's own pace, so that a good peer's datagram waits behind a
            // short queue (what the kernel drops beyond it would tell nothing of the page).
            if (++sinceNap >= 8) {
                sinceNap = 0;
                Nap(1ms);
                for (int wait = 0; wait < 5000 && !ctx.Over() && UdpQueueBytes(ctx.ports.udpPage) > 256 * 1024; ++wait)
                    Nap(1ms);
            }
        }
        if (random.Chance(0.3))
            Drain(socket, tally);  // echoes, when the page answers
        ::close(socket);
    }
}

}  // namespace Chaos
