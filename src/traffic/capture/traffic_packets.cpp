#include "traffic/capture/traffic_packets.h"

#include <QRandomGenerator>

#include "traffic/capture/packet_builder.h"

TrafficPackets::TrafficPackets(PacketOut out, EndsLookup endsOf, InitialSequence initial)
    : m_out(std::move(out))
    , m_endsOf(std::move(endsOf))
    , m_initial(std::move(initial))
{
}

quint16 TrafficPackets::UnknownPeerPort(int connection)
{
    return quint16(connection) != 0 ? quint16(connection) : quint16(65535);
}

quint32 TrafficPackets::RandomSequence()
{
    return QRandomGenerator::global()->generate();
}

void TrafficPackets::TcpOpened(int connection, const FlowEnds &ends, TcpOpener opener)
{
    const auto known = m_connections.find(connection);
    if (known != m_connections.end() && known->second.ends == PacketBuilder::PacketEnds(ends))
        return;
    Open(connection, ends, opener);
}

void TrafficPackets::TcpData(int connection, Side from, QByteArrayView bytes)
{
    auto known = m_connections.find(connection);
    Connection *open = known != m_connections.end() ? &known->second : nullptr;
    if (!open) {
        FlowEnds ends;
        // A connection that failed keeps at least its local end; PacketEnds fills in the rest.
        m_endsOf(connection, ends);
        if (ends == FlowEnds())
            ends.remote.port = UnknownPeerPort(connection);
        open = &Open(connection, ends, TcpOpener::Peer);
    }
    open->conversation.Data(from, bytes,
                            [this, open](const TcpConversation::Segment &segment) { SendSegment(*open, segment); });
}

void TrafficPackets::TcpClosed(int connection, Side closer)
{
    const auto known = m_connections.find(connection);
    if (known == m_connections.end())
        return;
    Connection &open = known->second;
    open.conversation.Close(closer,
                            [this, &open](const TcpConversation::Segment &segment) { SendSegment(open, segment); });
    m_connections.erase(known);
}

void TrafficPackets::Udp(const FlowEnds &ends, Side from, QByteArrayView bytes)
{
    if (!PacketBuilder::FitsPacket(ends)) {
        Udp(PacketBuilder::PacketEnds(ends), from, bytes);
        return;
    }
    const bool fromLocal = from == Side::Local;
    const qsizetype wireSize = PacketBuilder::BuildUdp(m_packet, fromLocal ? ends.local : ends.remote,
                                                       fromLocal ? ends.remote : ends.local, bytes);
    m_out(m_packet, wireSize);
}

TrafficPackets::Connection &TrafficPackets::Open(int connection, const FlowEnds &ends, TcpOpener opener)
{
    const FlowEnds fitting = PacketBuilder::PacketEnds(ends);
    const quint32 localInitial = m_initial();
    const quint32 remoteInitial = m_initial();
    const TcpConversation conversation(localInitial, remoteInitial,
                                       PacketBuilder::MaxTcpPayload(fitting.local.IsIpv6()));
    Connection &open = m_connections.insert_or_assign(connection, Connection{fitting, conversation}).first->second;
    open.conversation.Open(opener == TcpOpener::ThisSide ? Side::Local : Side::Remote,
                           [this, &open](const TcpConversation::Segment &segment) { SendSegment(open, segment); });
    return open;
}

void TrafficPackets::SendSegment(const Connection &connection, const TcpConversation::Segment &segment)
{
    const bool fromLocal = segment.from == Side::Local;
    const FlowEnds &ends = connection.ends;
    PacketBuilder::BuildTcp(m_packet, fromLocal ? ends.local : ends.remote, fromLocal ? ends.remote : ends.local,
                            segment.fields, segment.payload);
    m_out(m_packet, m_packet.size());
}
