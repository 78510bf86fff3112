// The packets of a capture: TrafficPackets (with TcpConversation and PacketBuilder) driven by
// opens, blocks of up to 200 KiB either way, closes and datagrams on IPv4, IPv6 and ends that
// need mending. Every packet is parsed back: its lengths, its checksums, its sequence and
// acknowledgement numbers, and per direction the payloads give back the blocks.
#include <fuzzer/FuzzedDataProvider.h>

#include <map>

#include "fuzz_check.h"
#include "traffic/capture/packet_builder.h"
#include "traffic/capture/traffic_packets.h"

namespace {

using Side = TrafficPackets::Side;

constexpr qsizetype kMaxBlock = 200 * 1024;
constexpr qsizetype kMaxBytesPerInput = 1 << 20;

quint16 Get16(const uchar *at)
{
    return quint16(at[0] << 8 | at[1]);
}

quint32 Get32(const uchar *at)
{
    return quint32(Get16(at)) << 16 | Get16(at + 2);
}

// The Internet checksum's sum, word by word as the RFC says it; a correct header or segment
// (with its pseudo-header) sums to 0xffff.
quint32 Sum(quint32 sum, const uchar *data, qsizetype size)
{
    for (qsizetype i = 0; i + 1 < size; i += 2)
        sum += Get16(data + i);
    if (size % 2)
        sum += quint32(data[size - 1]) << 8;
    return sum;
}

quint16 Folded(quint32 sum)
{
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return quint16(sum);
}

struct Direction
{
    bool started = false;
    quint32 next = 0;
    QByteArray expected;
    QByteArray seen;
};

struct Conversation
{
    FlowEnds ends;
    Direction sides[2];  // Local, remote.
    int fins = 0;
};

int Index(Side side)
{
    return side == Side::Local ? 0 : 1;
}

class Checker
{
public:
    // Set before each call: the connection it concerns, or the datagram and its direction.
    int connection = -1;
    FlowEnds pendingEnds;
    FlowEnds udpEnds;
    Side udpFrom = Side::Local;
    QByteArrayView datagram;
    int udpPackets = 0;

    std::map<int, Conversation> conversations;

    void OnPacket(QByteArrayView packet, qsizetype wireSize)
    {
        const auto *bytes = reinterpret_cast<const uchar *>(packet.data());
        FUZZ_CHECK(packet.size() >= 20);
        const int version = bytes[0] >> 4;
        qsizetype headerSize = 40;
        quint8 protocol = 0;
        IpEndpoint source;
        IpEndpoint destination;
        if (version == 4) {
            headerSize = 20;
            FUZZ_CHECK(bytes[0] == 0x45);
            FUZZ_CHECK(Get16(bytes + 2) == packet.size() && packet.size() <= 65535);
            FUZZ_CHECK(Folded(Sum(0, bytes, 20)) == 0xffff);
            protocol = bytes[9];
            source.address = QByteArray(packet.data() + 12, 4);
            destination.address = QByteArray(packet.data() + 16, 4);
        } else {
            FUZZ_CHECK(version == 6 && packet.size() >= 40);
            FUZZ_CHECK(Get16(bytes + 4) + 40 == packet.size());
            protocol = bytes[6];
            source.address = QByteArray(packet.data() + 8, 16);
            destination.address = QByteArray(packet.data() + 24, 16);
        }
        const uchar *transport = bytes + headerSize;
        const qsizetype transportSize = packet.size() - headerSize;
        // The pseudo-header: addresses, protocol, transport length.
        quint32 pseudo = Sum(0, bytes + (version == 4 ? 12 : 8), version == 4 ? 8 : 32);
        pseudo += protocol + quint32(transportSize);
        FUZZ_CHECK(Folded(Sum(pseudo, transport, transportSize)) == 0xffff);
        FUZZ_CHECK(transportSize >= 8);
        source.port = Get16(transport);
        destination.port = Get16(transport + 2);
        if (protocol == 17)
            OnDatagram(source, destination, transport, transportSize, packet.size(), wireSize);
        else
            OnSegment(protocol, source, destination, transport, transportSize, packet.size(), wireSize);
    }

    void OnDatagram(const IpEndpoint &source, const IpEndpoint &destination, const uchar *udp, qsizetype size,
                    qsizetype packetSize, qsizetype wireSize)
    {
        ++udpPackets;
        const FlowEnds ends = PacketBuilder::PacketEnds(udpEnds);
        const bool fromLocal = udpFrom == Side::Local;
        FUZZ_CHECK(source == (fromLocal ? ends.local : ends.remote));
        FUZZ_CHECK(destination == (fromLocal ? ends.remote : ends.local));
        FUZZ_CHECK(Get16(udp + 4) == size);
        FUZZ_CHECK(Get16(udp + 6) != 0);
        const qsizetype carried = qMin(datagram.size(), PacketBuilder::MaxUdpPayload(source.IsIpv6()));
        FUZZ_CHECK(size - 8 == carried);
        FUZZ_CHECK(QByteArrayView(udp + 8, carried) == datagram.first(carried));
        FUZZ_CHECK(wireSize == packetSize + datagram.size() - carried);
    }

    void OnSegment(quint8 protocol, const IpEndpoint &source, const IpEndpoint &destination, const uchar *tcp,
                   qsizetype size, qsizetype packetSize, qsizetype wireSize)
    {
        FUZZ_CHECK(protocol == 6 && wireSize == packetSize && size >= 20);
        const quint8 flags = tcp[13];
        const qsizetype headerSize = (tcp[12] >> 4) * 4;
        FUZZ_CHECK(headerSize == ((flags & PacketBuilder::kSyn) ? 24 : 20) && size >= headerSize);
        const QByteArrayView payload(tcp + headerSize, size - headerSize);
        Conversation &conversation = conversations[connection];
        if (flags == PacketBuilder::kSyn) {
            // A new conversation: whatever this number named before was shown whole.
            CheckWhole(conversation);
            conversation = Conversation{PacketBuilder::PacketEnds(pendingEnds), {}, 0};
            FUZZ_CHECK(PacketBuilder::FitsPacket(conversation.ends));
            FUZZ_CHECK(conversation.ends.local != conversation.ends.remote);
            FUZZ_CHECK(conversation.ends.local.port == pendingEnds.local.port);
            FUZZ_CHECK(conversation.ends.remote.port == pendingEnds.remote.port);
        }
        const FlowEnds &ends = conversation.ends;
        const bool fromLocal = source == ends.local;
        FUZZ_CHECK(source == (fromLocal ? ends.local : ends.remote));
        FUZZ_CHECK(destination == (fromLocal ? ends.remote : ends.local));
        Direction &from = conversation.sides[fromLocal ? 0 : 1];
        const Direction &to = conversation.sides[fromLocal ? 1 : 0];

        const bool syn = flags & PacketBuilder::kSyn;
        const bool fin = flags & PacketBuilder::kFin;
        FUZZ_CHECK(flags == PacketBuilder::kSyn || flags == (PacketBuilder::kSyn | PacketBuilder::kAck)
                   || flags == PacketBuilder::kAck || flags == (PacketBuilder::kPsh | PacketBuilder::kAck)
                   || flags == (PacketBuilder::kFin | PacketBuilder::kAck));
        FUZZ_CHECK((flags & PacketBuilder::kPsh) ? !payload.isEmpty() : payload.isEmpty());
        FUZZ_CHECK(syn != from.started);
        if (syn) {
            from.started = true;
            from.next = Get32(tcp + 4);
        }
        FUZZ_CHECK(Get32(tcp + 4) == from.next);
        if (flags & PacketBuilder::kAck)
            FUZZ_CHECK(to.started && Get32(tcp + 8) == to.next);
        from.next += quint32(payload.size()) + (syn || fin ? 1 : 0);
        from.seen += payload;
        conversation.fins += fin ? 1 : 0;
    }

    static void CheckWhole(const Conversation &conversation)
    {
        for (const Direction &side : conversation.sides)
            FUZZ_CHECK(side.seen == side.expected);
    }
};

FlowEnds FuzzedEnds(FuzzedDataProvider &input)
{
    // Every end's address as a family: IPv4, IPv6, or bytes of any other count to be mended.
    const auto address = [&](int family) {
        const int size = family == 0 ? 4 : family == 1 ? 16 : input.ConsumeIntegralInRange(0, 20);
        const std::string bytes = input.ConsumeBytesAsString(size_t(size));
        return QByteArray(bytes.data(), qsizetype(bytes.size()));
    };
    const int localFamily = input.ConsumeIntegralInRange(0, 2);
    const int remoteFamily = input.ConsumeBool() ? localFamily : input.ConsumeIntegralInRange(0, 2);
    FlowEnds ends;
    ends.local.address = address(localFamily);
    ends.remote.address = address(remoteFamily);
    // Odd local and even remote ports keep the two ends apart, so a packet's direction shows.
    ends.local.port = quint16(input.ConsumeIntegral<quint16>() | 1);
    ends.remote.port = quint16(input.ConsumeIntegral<quint16>() & ~1);
    return ends;
}

QByteArray Block(FuzzedDataProvider &input, qsizetype &budget)
{
    qsizetype size = input.ConsumeBool() ? input.ConsumeIntegralInRange<qsizetype>(0, 300)
                                         : input.ConsumeIntegralInRange<qsizetype>(0, kMaxBlock);
    size = qMin(size, budget);
    budget -= size;
    const auto seed = input.ConsumeIntegral<quint8>();
    QByteArray block(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        block[i] = char(seed + i * 7 + (i >> 9));
    return block;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    Checker checker;
    const auto lookup = [&](int connection, FlowEnds &ends) {
        ends = FuzzedEnds(input);
        // A connection the system no longer knows keeps its local end, or has none at all.
        const int known = input.ConsumeIntegralInRange(0, 2);
        if (known == 1)
            ends.remote = {};
        if (known == 2)
            ends = {};
        checker.pendingEnds = ends;
        if (ends == FlowEnds())
            checker.pendingEnds.remote.port = TrafficPackets::UnknownPeerPort(connection);
        return known == 0;
    };
    TrafficPackets packets([&](QByteArrayView packet, qsizetype wireSize) { checker.OnPacket(packet, wireSize); },
                           lookup, [&] { return input.ConsumeIntegral<quint32>(); });

    qsizetype budget = kMaxBytesPerInput;
    for (int step = 0; step < 64 && input.remaining_bytes() > 0; ++step) {
        const int connection = input.ConsumeIntegralInRange(0, 3);
        checker.connection = connection;
        switch (input.ConsumeIntegralInRange(0, 3)) {
        case 0: {
            checker.pendingEnds = FuzzedEnds(input);
            packets.TcpOpened(connection, checker.pendingEnds,
                              input.ConsumeBool() ? TcpOpener::ThisSide : TcpOpener::Peer);
            break;
        }
        case 1: {
            const Side from = input.ConsumeBool() ? Side::Local : Side::Remote;
            const QByteArray block = Block(input, budget);
            packets.TcpData(connection, from, block);
            // The call may have opened the conversation it belongs to.
            checker.conversations[connection].sides[Index(from)].expected += block;
            break;
        }
        case 2: {
            packets.TcpClosed(connection, input.ConsumeBool() ? Side::Remote : Side::Local);
            const auto closed = checker.conversations.find(connection);
            if (closed != checker.conversations.end()) {
                Checker::CheckWhole(closed->second);
                FUZZ_CHECK(closed->second.fins == 2);
                checker.conversations.erase(closed);
            }
            break;
        }
        default: {
            checker.udpEnds = FuzzedEnds(input);
            checker.udpFrom = input.ConsumeBool() ? Side::Local : Side::Remote;
            const QByteArray datagram = Block(input, budget);
            checker.datagram = datagram;
            const int before = checker.udpPackets;
            packets.Udp(checker.udpEnds, checker.udpFrom, datagram);
            FUZZ_CHECK(checker.udpPackets == before + 1);
            break;
        }
        }
    }
    for (const auto &[connection, conversation] : checker.conversations)
        Checker::CheckWhole(conversation);
    return 0;
}
