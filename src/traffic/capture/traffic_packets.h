#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>
#include <unordered_map>

#include "traffic/capture/flow_ends.h"
#include "traffic/capture/tcp_conversation.h"
#include "traffic/capture/traffic_capture.h"

// A page's traffic as the IP packets that carried it: keeps each TCP connection's conversation
// and hands every packet, built in one reused buffer, to a callback.
class TrafficPackets
{
public:
    using Side = TcpConversation::Side;
    // One packet as built, and its size on the wire (larger only for a datagram too large for
    // one packet, see PacketBuilder::BuildUdp). The view lasts until the callback returns.
    using PacketOut = std::function<void(QByteArrayView packet, qsizetype wireSize)>;
    // Tells the ends of a connection first seen by its data (SocketEnds).
    using EndsLookup = std::function<bool(int connection, FlowEnds &ends)>;
    // Gives each side of a new connection its initial sequence number.
    using InitialSequence = std::function<quint32()>;

    explicit TrafficPackets(PacketOut out, EndsLookup endsOf = SocketEnds, InitialSequence initial = RandomSequence);

    // A connection opened again without a close in between starts a new conversation, unless
    // its ends are the same (then it is the one already shown).
    void TcpOpened(int connection, const FlowEnds &ends, TcpOpener opener);
    // Data of a connection never opened (or opened before the capture began and not told) is
    // kept all the same: its ends are looked up and a handshake shown first, with the
    // unspecified address and port 0 for what the lookup cannot tell. When it tells nothing,
    // the peer's port is UnknownPeerPort, so that the two directions (and other such
    // connections) stay apart.
    void TcpData(int connection, Side from, QByteArrayView bytes);
    // Forgets the connection: its number names a new conversation afterwards.
    void TcpClosed(int connection, Side closer);
    void Udp(const FlowEnds &ends, Side from, QByteArrayView bytes);

    static quint32 RandomSequence();
    static quint16 UnknownPeerPort(int connection);

private:
    struct Connection
    {
        FlowEnds ends;
        TcpConversation conversation;
    };

    Connection &Open(int connection, const FlowEnds &ends, TcpOpener opener);
    void SendSegment(const Connection &connection, const TcpConversation::Segment &segment);

    PacketOut m_out;
    EndsLookup m_endsOf;
    InitialSequence m_initial;
    std::unordered_map<int, Connection> m_connections;
    QByteArray m_packet;
};
