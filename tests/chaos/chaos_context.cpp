#include "chaos_context.h"

#include <QFile>
#include <QList>

#include <algorithm>
#include <cstring>

#include <unistd.h>

#include "support/loopback_sockets.h"

namespace Chaos {

namespace {

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
    quint64 x = static_cast<quint64>(number) * 0x9E3779B97F4A7C15ull
                + static_cast<quint64>(peer) * 0xBF58476D1CE4E5B9ull;
    x ^= x >> 31;
    x *= 0x94D049BB133111EBull;
    return x ^ (x >> 29);
}

}  // namespace

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

}  // namespace Stamp

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

}  // namespace Chaos
