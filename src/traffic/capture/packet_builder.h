#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include "traffic/capture/flow_ends.h"

// IP packets as a raw-IP capture file holds them: an IPv4 header for 4-byte addresses, an
// IPv6 header for 16-byte ones, then a TCP or UDP header with its checksum and the payload.
namespace PacketBuilder {

enum TcpFlag : quint8 { kFin = 0x01, kSyn = 0x02, kPsh = 0x08, kAck = 0x10 };

struct TcpFields
{
    quint32 sequence = 0;
    quint32 acknowledgement = 0;
    quint8 flags = 0;
};

// The IP length fields are 16 bits: IPv4 counts its own header in them, IPv6 only what
// follows its header.
constexpr qsizetype kMaxIpv4Packet = 65535;
constexpr qsizetype kMaxIpv6Payload = 65535;
qsizetype MaxTcpPayload(bool ipv6);
qsizetype MaxUdpPayload(bool ipv6);

// True when both ends are IPv4 or both IPv6, as one IP header needs.
bool FitsPacket(const FlowEnds &ends);
// Ends that fit: an IPv4 address beside an IPv6 one becomes IPv4-mapped; a missing or
// malformed address becomes the unspecified address of the other end's family (IPv4 when
// neither has one). Ports stay as they are.
FlowEnds PacketEnds(const FlowEnds &ends);

// Builds one packet from source to destination into out, reusing its capacity. The ends must
// fit (FitsPacket); the payload must be at most MaxTcpPayload.
void BuildTcp(QByteArray &out, const IpEndpoint &source, const IpEndpoint &destination, const TcpFields &tcp,
              QByteArrayView payload);
// A datagram beyond MaxUdpPayload cannot travel in one IP packet: the packet carries its
// first MaxUdpPayload bytes (its length fields say so) and the returned size is that of the
// whole packet, which a capture record keeps as the size on the wire. Otherwise the returned
// size is out's.
qsizetype BuildUdp(QByteArray &out, const IpEndpoint &source, const IpEndpoint &destination, QByteArrayView payload);

}  // namespace PacketBuilder
