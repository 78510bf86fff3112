#include "chaos_peers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/loopback_sockets.h"

namespace Chaos {

namespace {

using namespace std::chrono_literals;
// Upper bounds of every loop, far above what a run reaches in its time.
constexpr long kMaxRounds = 100000000;

void Nap(std::chrono::microseconds length)
{
    std::this_thread::sleep_for(length);
}

enum class ConnectResult { Connected, Refused, Failed };

// A blocking TCP socket connected to 127.0.0.1:port from localPort (0: any), the connect
// bounded by timeoutMs; -1 with the reason in result otherwise.
int ConnectTcp(int localPort, int port, int timeoutMs, ConnectResult &result)
{
    result = ConnectResult::Failed;
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket < 0)
        return -1;
    if (localPort != 0) {
        const int reuse = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        const sockaddr_in local = LoopbackAddress(localPort);
        if (::bind(socket, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
            ::close(socket);
            return -1;
        }
    }
    const sockaddr_in to = LoopbackAddress(port);
    if (::connect(socket, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        if (errno != EINPROGRESS) {
            result = errno == ECONNREFUSED ? ConnectResult::Refused : ConnectResult::Failed;
            ::close(socket);
            return -1;
        }
        pollfd waiting{socket, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof error;
        if (::poll(&waiting, 1, timeoutMs) != 1 || ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0
            || error != 0) {
            result = error == ECONNREFUSED ? ConnectResult::Refused : ConnectResult::Failed;
            ::close(socket);
            return -1;
        }
    }
    SetBlocking(socket, true);
    result = ConnectResult::Connected;
    return socket;
}

// Sends everything (blocking, within the socket's send timeout); the bytes sent.
size_t SendCounted(int socket, const char *data, size_t size, Tally &tally)
{
    size_t sent = 0;
    SendAll(socket, data, size, &sent);
    tally.bytesOut += static_cast<long>(sent);
    return sent;
}

// Reads whatever waits without blocking; the bytes read, -1 once the peer ended.
long Drain(int socket, Tally &tally)
{
    char buffer[16384];
    long total = 0;
    for (int round = 0; round < 64; ++round) {
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            total += n;
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            total = total > 0 ? total : -1;
        break;
    }
    if (total > 0)
        tally.bytesIn += total;
    return total;
}

int ConnectCounted(Context &ctx, ConnectResult &result)
{
    const int socket = ConnectTcp(0, ctx.ports.tcpPage, 1000 * ctx.slowdown, result);
    if (socket >= 0)
        ++ctx.tally.tcpConnections;
    else if (result == ConnectResult::Refused)
        ++ctx.tally.tcpRefused;
    return socket;
}

QByteArray Filler(char lead, int peer, long number, int length)
{
    QByteArray block = lead + QByteArray::number(peer) + '-' + QByteArray::number(number) + ':';
    const qsizetype stamp = block.size();
    block.resize(std::max<qsizetype>(length, stamp));
    for (qsizetype i = stamp; i < block.size(); ++i)
        block[i] = static_cast<char>('a' + (number * 7 + i + peer) % 26);
    return block;
}

// A mix of the peer and the number that decides a block's length.
quint64 Mix(int peer, long number)
{
    quint64 x = static_cast<quint64>(number) * 0x9E3779B97F4A7C15ull + static_cast<quint64>(peer) * 0xBF58476D1CE4E5B9ull;
    x ^= x >> 31;
    x *= 0x94D049BB133111EBull;
    return x ^ (x >> 29);
}

} // namespace

Random::Random(quint64 seed, quint64 stream)
    : m_engine(seed ^ (stream * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull))
{
}

void Random::Fill(char *data, size_t size)
{
    for (size_t i = 0; i < size; i += 8) {
        const quint64 bits = Next();
        std::memcpy(data + i, &bits, std::min<size_t>(8, size - i));
    }
}

namespace Stamp {

QByteArray TcpBlock(int peer, long number)
{
    return Filler('g', peer, number, 16 + static_cast<int>(Mix(peer, number) % 585));
}

QByteArray UdpDatagram(int peer, long number)
{
    return Filler('u', peer, number, 24 + static_cast<int>(Mix(peer + 100, number) % 105));
}

long UdpNumberOf(int peer, QByteArrayView data)
{
    const QByteArray lead = 'u' + QByteArray::number(peer) + '-';
    if (!data.startsWith(lead))
        return -1;
    const qsizetype colon = data.indexOf(':');
    if (colon < 0)
        return -1;
    bool ok = false;
    const long number = data.sliced(lead.size(), colon - lead.size()).toByteArray().toLong(&ok);
    if (!ok || number < 0)
        return -1;
    return data == UdpDatagram(peer, number) ? number : -1;
}

} // namespace Stamp

int PortPlan::GoodPeerOfPort(bool udp, int port) const
{
    const int offset = port - GoodFirst(udp, 0);
    if (offset < 0 || offset >= kMaxGoodPeers * kPortsPerGoodPeer)
        return -1;
    return offset / kPortsPerGoodPeer;
}

bool PortPlan::Choose()
{
    // Below the ephemeral range when there is room, else above it.
    int low = 32768;
    int high = 60999;
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    if (range.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> fields = range.readAll().simplified().split(' ');
        if (fields.size() == 2) {
            low = fields[0].toInt();
            high = fields[1].toInt();
        }
    }
    const int needed = 2 * kMaxGoodPeers * kPortsPerGoodPeer + 64;
    if (low - needed > 1024)
        goodBase = low - needed;
    else if (high + needed < 65535)
        goodBase = high + 1;
    else
        return false;
    // The pages and the driver's servers take the first free ports after the good peers'.
    int candidate = goodBase + 2 * kMaxGoodPeers * kPortsPerGoodPeer;
    auto nextFree = [&]() {
        for (; candidate < goodBase + needed; ++candidate) {
            const int tcp = ListenOn(candidate);
            const int udp = UdpSocket(candidate);
            if (tcp >= 0)
                ::close(tcp);
            if (udp >= 0)
                ::close(udp);
            if (tcp >= 0 && udp >= 0)
                return candidate++;
        }
        return 0;
    };
    tcpPage = nextFree();
    udpPage = nextFree();
    driverTcp = nextFree();
    driverUdp = nextFree();
    deadTcp = nextFree();
    return tcpPage && udpPage && driverTcp && driverUdp && deadTcp;
}

void RunLogJanitor(Context &ctx, const QString &directory, qint64 cap)
{
    const QDir dir(directory);
    for (long round = 0; round < kMaxRounds && !ctx.Over(); ++round) {
        Nap(500ms);
        qint64 total = 0;
        const QFileInfoList files = dir.entryInfoList({QStringLiteral("*.txt")}, QDir::Files);
        for (const QFileInfo &file : files)
            total += file.size();
        if (total <= cap)
            continue;
        for (const QFileInfo &file : files)
            ctx.tally.logFilesDeleted += QFile::remove(file.absoluteFilePath());
    }
}

void Context::Finding(const QString &text)
{
    std::lock_guard lock(m_findingsMutex);
    if (m_findings.size() < 200)
        m_findings.append(text);
}

QStringList Context::Findings() const
{
    std::lock_guard lock(m_findingsMutex);
    return m_findings;
}

// ---- good peers ----

namespace {

// Waits for the echo of block on the good peer's connection: every good byte that comes must
// be the block's next byte; any other byte is the page's own send and is only counted.
// False (with a finding) when the echo differs, the connection ends or the time is up.
bool ReadTcpEcho(Context &ctx, GoodPeer &peer, int socket, const QByteArray &block, long number)
{
    const auto limit = Clock::now() + std::chrono::seconds(20 * ctx.slowdown);
    qsizetype matched = 0;
    char buffer[4096];
    while (matched < block.size()) {
        if (Clock::now() >= limit) {
            ctx.Finding(QStringLiteral("TCP good peer %1: block %2 (%3 bytes) echoed only %4 bytes within %5 s")
                            .arg(peer.index).arg(number).arg(block.size()).arg(matched).arg(20 * ctx.slowdown));
            return false;
        }
        pollfd waiting{socket, POLLIN, 0};
        if (::poll(&waiting, 1, 100) <= 0)
            continue;
        const ssize_t got = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got <= 0) {
            ctx.Finding(QStringLiteral("TCP good peer %1: connection ended (%2) during the echo of block %3 after %4 of %5 bytes")
                            .arg(peer.index).arg(got == 0 ? QStringLiteral("closed") : QString::fromLocal8Bit(std::strerror(errno)))
                            .arg(number).arg(matched).arg(block.size()));
            return false;
        }
        ctx.tally.bytesIn += got;
        for (ssize_t i = 0; i < got; ++i) {
            if (!Stamp::IsGoodByte(buffer[i])) {
                ++peer.injectedBytes;
                continue;
            }
            if (matched >= block.size() || buffer[i] != block[matched]) {
                ctx.Finding(QStringLiteral("TCP good peer %1: echo of block %2 differs at byte %3: got '%4', expected '%5'")
                                .arg(peer.index).arg(number).arg(matched).arg(QChar::fromLatin1(buffer[i]))
                                .arg(matched < block.size() ? QChar::fromLatin1(block[matched]) : QChar(u'-')));
                return false;
            }
            ++matched;
        }
    }
    return true;
}

} // namespace

void RunGoodTcpPeer(Context &ctx, GoodPeer &peer)
{
    const int firstPort = ctx.ports.GoodFirst(false, peer.index);
    int nextPort = 0;
    int socket = -1;
    auto setState = [&](PeerState state) { peer.state = static_cast<int>(state); };
    auto closeSocket = [&] {
        if (socket >= 0)
            ::close(socket);
        socket = -1;
        peer.port = 0;
    };
    int connectFailures = 0;
    for (long round = 0; round < kMaxRounds && !ctx.GoodOver() && !peer.failed; ++round) {
        const Phase phase = ctx.TcpPhase();
        if (phase == Phase::Pausing) {
            closeSocket();
            setState(PeerState::Paused);
            Nap(2ms);
            continue;
        }
        if (socket < 0) {
            // Reconnect, or the first connection: from the next port of its own.
            ConnectResult result;
            const int port = firstPort + nextPort;
            nextPort = (nextPort + 1) % PortPlan::kPortsPerGoodPeer;
            socket = ConnectTcp(port, ctx.ports.tcpPage, 2000 * ctx.slowdown, result);
            if (socket < 0) {
                if (++connectFailures > 200) {
                    ctx.Finding(QStringLiteral("TCP good peer %1: 200 connects in a row failed").arg(peer.index));
                    peer.failed = true;
                }
                Nap(20ms);
                continue;
            }
            connectFailures = 0;
            SetTimeouts(socket, 10000 * ctx.slowdown);
            peer.port = port;
            ++peer.connections;
            ++ctx.tally.tcpConnections;
            setState(PeerState::Connected);
            continue;
        }
        if (phase == Phase::Reconnect) {
            setState(PeerState::Connected);  // waits for the page to echo again
            Nap(2ms);
            continue;
        }
        setState(PeerState::Running);
        const long number = peer.sent;
        const QByteArray block = Stamp::TcpBlock(peer.index, number);
        // The number counts as sent before the bytes go: the page may show them at once.
        peer.sent = number + 1;
        if (SendCounted(socket, block.constData(), static_cast<size_t>(block.size()), ctx.tally)
            != static_cast<size_t>(block.size())) {
            ctx.Finding(QStringLiteral("TCP good peer %1: block %2 could not be sent (%3)")
                            .arg(peer.index).arg(number).arg(QString::fromLocal8Bit(std::strerror(errno))));
            peer.failed = true;
            break;
        }
        if (!ReadTcpEcho(ctx, peer, socket, block, number)) {
            peer.failed = true;
            break;
        }
        ++peer.echoed;
    }
    closeSocket();
    setState(PeerState::Finished);
}

void RunGoodUdpPeer(Context &ctx, GoodPeer &peer)
{
    const int firstPort = ctx.ports.GoodFirst(true, peer.index);
    int nextPort = 0;
    int socket = -1;
    auto setState = [&](PeerState state) { peer.state = static_cast<int>(state); };
    auto closeSocket = [&] {
        if (socket >= 0)
            ::close(socket);
        socket = -1;
        peer.port = 0;
    };
    char buffer[4096];
    for (long round = 0; round < kMaxRounds && !ctx.GoodOver() && !peer.failed; ++round) {
        if (ctx.UdpPhase() != Phase::Running) {
            // A new source port after every window.
            closeSocket();
            setState(PeerState::Paused);
            Nap(2ms);
            continue;
        }
        if (socket < 0) {
            const int port = firstPort + nextPort;
            nextPort = (nextPort + 1) % PortPlan::kPortsPerGoodPeer;
            socket = UdpSocket(port);
            const sockaddr_in page = LoopbackAddress(ctx.ports.udpPage);
            if (socket < 0 || ::connect(socket, reinterpret_cast<const sockaddr *>(&page), sizeof page) != 0) {
                closeSocket();
                Nap(5ms);
                continue;
            }
            peer.port = port;
            ++peer.connections;
        }
        setState(PeerState::Running);
        const long number = peer.sent;
        const QByteArray datagram = Stamp::UdpDatagram(peer.index, number);
        peer.sent = number + 1;
        bool echoed = false;
        for (int attempt = 0; attempt < 40 * ctx.slowdown && !echoed && !peer.failed; ++attempt) {
            if (attempt > 0)
                ++peer.retransmits;
            if (::send(socket, datagram.constData(), static_cast<size_t>(datagram.size()), 0) == datagram.size())
                ctx.tally.bytesOut += datagram.size();
            const auto limit = Clock::now() + 250ms * ctx.slowdown;
            while (!echoed && !peer.failed && Clock::now() < limit) {
                pollfd waiting{socket, POLLIN, 0};
                if (::poll(&waiting, 1, 50) <= 0)
                    continue;
                const ssize_t got = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
                if (got < 0)
                    continue;  // a refusal from a stopped page, or nothing
                ctx.tally.bytesIn += got;
                const QByteArrayView data(buffer, got);
                if (data == datagram) {
                    echoed = true;
                } else if (std::none_of(data.begin(), data.end(), Stamp::IsGoodByte)) {
                    peer.injectedBytes += got;
                } else if (const long earlier = Stamp::UdpNumberOf(peer.index, data); earlier >= 0 && earlier < number) {
                    ++peer.lateDuplicates;
                } else {
                    ctx.Finding(QStringLiteral("UDP good peer %1: datagram %2 got a reply of %3 bytes that is neither"
                                               " its echo nor an earlier one: \"%4\"")
                                    .arg(peer.index).arg(number).arg(got).arg(QString::fromLatin1(data.first(std::min<qsizetype>(40, data.size())))));
                    peer.failed = true;
                    break;
                }
            }
        }
        if (!echoed && !peer.failed) {
            ctx.Finding(QStringLiteral("UDP good peer %1: no echo of datagram %2 after %3 tries")
                            .arg(peer.index).arg(number).arg(40 * ctx.slowdown));
            peer.failed = true;
        }
        if (echoed)
            ++peer.echoed;
    }
    closeSocket();
    setState(PeerState::Finished);
}

// ---- misbehaving TCP clients ----

namespace {

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
            case Tally::Vanish: Vanish(); break;
            case Tally::ResetMidBlock: ResetMidBlock(); break;
            case Tally::RandomBytes: RandomBytes(); break;
            case Tally::NeverRead: NeverRead(); break;
            case Tally::Churn: Churn(); break;
            case Tally::HalfClose: HalfClose(); break;
            case Tally::SlowDrip: SlowDrip(); break;
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

} // namespace

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

} // namespace

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
                         reinterpret_cast<const sockaddr *>(&page), sizeof page) == size) {
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

// ---- the driver's servers for the client page ----

void RunDriverTcpServer(Context &ctx, int listener)
{
    Random random(ctx.seed, 300);
    Tally &tally = ctx.tally;
    struct Connection
    {
        int socket;
        Tally::ServerKind kind;
        long budget;  // bytes still to flood
        Clock::time_point next;
    };
    std::vector<Connection> connections;
    SetBlocking(listener, false);
    std::vector<char> buffer(16384);
    auto end = [&](size_t i, bool reset) {
        if (reset)
            CloseWithReset(connections[i].socket);
        else
            ::close(connections[i].socket);
        connections.erase(connections.begin() + static_cast<std::ptrdiff_t>(i));
    };
    for (long round = 0; round < kMaxRounds && !ctx.Over(); ++round) {
        std::vector<pollfd> waiting{{listener, POLLIN, 0}};
        for (const Connection &connection : connections)
            waiting.push_back({connection.socket, POLLIN, 0});
        ::poll(waiting.data(), waiting.size(), 10);
        if (waiting[0].revents & POLLIN) {
            const int socket = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (socket >= 0) {
                const auto kind = static_cast<Tally::ServerKind>(random.Below(Tally::kServerKinds));
                ++tally.serverPlayed[kind];
                if (kind == Tally::CloseAtOnce) {
                    ::close(socket);
                } else if (kind == Tally::ResetAtOnce) {
                    CloseWithReset(socket);
                } else {
                    connections.push_back({socket, kind, random.Between(16, 2048) * 1024L, Clock::now()});
                    if (connections.size() > 8)
                        end(0, false);
                }
            }
        }
        const auto now = Clock::now();
        for (size_t i = connections.size(); i-- > 0;) {
            Connection &c = connections[i];
            if (c.kind != Tally::Silent) {
                const ssize_t got = ::recv(c.socket, buffer.data(), buffer.size(), MSG_DONTWAIT);
                if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                    end(i, false);
                    continue;
                }
                if (got > 0) {
                    tally.bytesIn += got;
                    if (c.kind == Tally::Echo) {
                        const ssize_t sent = ::send(c.socket, buffer.data(), static_cast<size_t>(got), MSG_NOSIGNAL | MSG_DONTWAIT);
                        tally.bytesOut += std::max<ssize_t>(sent, 0);
                    }
                }
            }
            if (c.kind == Tally::Flood && now >= c.next) {
                // Printable and random bytes by turns, 16 KiB a step, then the end.
                const size_t size = std::min<size_t>(buffer.size(), static_cast<size_t>(c.budget));
                if (random.Chance(0.5))
                    random.Fill(buffer.data(), size);
                else
                    std::fill_n(buffer.data(), size, 'A' + random.Below(26));
                const ssize_t sent = ::send(c.socket, buffer.data(), size, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (sent > 0) {
                    tally.bytesOut += sent;
                    c.budget -= sent;
                }
                if (c.budget <= 0) {
                    end(i, random.Chance(0.3));
                    continue;
                }
            } else if (c.kind == Tally::Garbage && now >= c.next) {
                const size_t size = static_cast<size_t>(random.Between(0, 512));
                random.Fill(buffer.data(), size);
                const ssize_t sent = ::send(c.socket, buffer.data(), size, MSG_NOSIGNAL | MSG_DONTWAIT);
                tally.bytesOut += std::max<ssize_t>(sent, 0);
                c.next = now + std::chrono::milliseconds(random.Between(10, 100));
            } else if (c.kind == Tally::HalfCloseServer && now >= c.next + 100ms) {
                ::shutdown(c.socket, SHUT_WR);
                c.next = Clock::time_point::max() - 1h;
            }
        }
    }
    for (const Connection &connection : connections)
        ::close(connection.socket);
}

void RunDriverUdpServer(Context &ctx, int socket)
{
    Random random(ctx.seed, 400);
    Tally &tally = ctx.tally;
    std::vector<char> buffer(65536);
    for (long round = 0; round < kMaxRounds && !ctx.Over(); ++round) {
        pollfd waiting{socket, POLLIN, 0};
        if (::poll(&waiting, 1, 10) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t got = ::recvfrom(socket, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr *>(&from), &length);
        if (got < 0)
            continue;
        ++tally.serverDatagramsIn;
        tally.bytesIn += got;
        auto reply = [&](const char *data, size_t size) {
            if (::sendto(socket, data, size, MSG_DONTWAIT, reinterpret_cast<const sockaddr *>(&from), sizeof from)
                == static_cast<ssize_t>(size)) {
                ++tally.serverDatagramsOut;
                tally.bytesOut += static_cast<long>(size);
            }
        };
        const int kind = random.Below(10);
        if (kind < 6) {
            reply(buffer.data(), static_cast<size_t>(got));
        } else if (kind < 8) {
            // A burst: empty, short, and longer than the client page reads.
            const int count = random.Between(1, 100);
            for (int i = 0; i < count; ++i) {
                const size_t size = static_cast<size_t>(random.Between(0, 400));
                random.Fill(buffer.data(), size);
                reply(buffer.data(), size);
            }
        }
    }
}

} // namespace Chaos
