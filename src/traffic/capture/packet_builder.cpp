#include "traffic/capture/packet_builder.h"

#include <QtEndian>

#include <cstring>

namespace PacketBuilder {

namespace {

constexpr qsizetype kIpv4HeaderSize = 20;
constexpr qsizetype kIpv6HeaderSize = 40;
constexpr qsizetype kTcpHeaderSize = 20;
// SYNs carry NOP and a window scale of 14, so that a reader's analysis takes the window for
// 1 GiB and does not flag the large segments the capture makes.
constexpr qsizetype kSynOptionsSize = 4;
constexpr uchar kSynOptions[kSynOptionsSize] = {1, 3, 3, 14};
constexpr qsizetype kUdpHeaderSize = 8;
constexpr quint8 kProtocolTcp = 6;
constexpr quint8 kProtocolUdp = 17;
constexpr quint8 kHopLimit = 64;

const QByteArray kIpv4MappedPrefix("\0\0\0\0\0\0\0\0\0\0\xff\xff", 12);

qsizetype IpHeaderSize(bool ipv6)
{
    return ipv6 ? kIpv6HeaderSize : kIpv4HeaderSize;
}

void Put16(uchar *at, quint16 value)
{
    qToBigEndian(value, at);
}

void Put32(uchar *at, quint32 value)
{
    qToBigEndian(value, at);
}

// The Internet checksum (RFC 1071) adds 16-bit words; added in memory order and stored the
// same way, the result is right on either byte order. Every part added starts at an even
// offset of the checksummed bytes.
quint64 AddWords(quint64 sum, const uchar *data, qsizetype size)
{
    // Eight bytes at a time as two 32-bit halves; the 64-bit sum cannot overflow on a packet.
    for (; size >= 8; data += 8, size -= 8) {
        quint64 words;
        std::memcpy(&words, data, 8);
        sum += (words & 0xffffffff) + (words >> 32);
    }
    if (size >= 4) {
        quint32 word;
        std::memcpy(&word, data, 4);
        sum += word;
        data += 4;
        size -= 4;
    }
    if (size >= 2) {
        quint16 word;
        std::memcpy(&word, data, 2);
        sum += word;
        data += 2;
        size -= 2;
    }
    if (size == 1) {
        const uchar padded[2] = {*data, 0};
        quint16 word;
        std::memcpy(&word, padded, 2);
        sum += word;
    }
    return sum;
}

quint16 Checksum(quint64 sum)
{
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return quint16(~sum);
}

void PutChecksum(uchar *at, quint16 checksum)
{
    std::memcpy(at, &checksum, 2);
}

const uchar *Bytes(const QByteArray &bytes)
{
    return reinterpret_cast<const uchar *>(bytes.constData());
}

// The pseudo-header's sum; IPv4's and IPv6's differ only in zero words while the transport
// length fits 16 bits.
quint64 PseudoHeaderSum(const IpEndpoint &source, const IpEndpoint &destination, quint8 protocol,
                        qsizetype transportSize)
{
    uchar words[4];
    Put16(words, protocol);
    Put16(words + 2, quint16(transportSize));
    quint64 sum = AddWords(0, Bytes(source.address), source.address.size());
    sum = AddWords(sum, Bytes(destination.address), destination.address.size());
    return AddWords(sum, words, 4);
}

// Writes the IP header for a transport part of the given size; returns where that part goes.
uchar *PutIpHeader(uchar *at, const IpEndpoint &source, const IpEndpoint &destination, quint8 protocol,
                   qsizetype transportSize)
{
    if (source.IsIpv6()) {
        std::memset(at, 0, kIpv6HeaderSize);
        at[0] = 0x60;
        Put16(at + 4, quint16(transportSize));
        at[6] = protocol;
        at[7] = kHopLimit;
        std::memcpy(at + 8, source.address.constData(), 16);
        std::memcpy(at + 24, destination.address.constData(), 16);
        return at + kIpv6HeaderSize;
    }
    std::memset(at, 0, kIpv4HeaderSize);
    at[0] = 0x45;
    Put16(at + 2, quint16(kIpv4HeaderSize + transportSize));
    Put16(at + 6, 0x4000);  // Don't fragment.
    at[8] = kHopLimit;
    at[9] = protocol;
    std::memcpy(at + 12, source.address.constData(), 4);
    std::memcpy(at + 16, destination.address.constData(), 4);
    PutChecksum(at + 10, Checksum(AddWords(0, at, kIpv4HeaderSize)));
    return at + kIpv4HeaderSize;
}

IpEndpoint EndOfFamily(const IpEndpoint &end, bool ipv6)
{
    IpEndpoint fitting = end;
    if (ipv6 && end.address.size() == 4)
        fitting.address = kIpv4MappedPrefix + end.address;
    else if (end.address.size() != (ipv6 ? 16 : 4))
        fitting.address = QByteArray(ipv6 ? 16 : 4, '\0');
    return fitting;
}

}  // namespace

qsizetype MaxTcpPayload(bool ipv6)
{
    return ipv6 ? kMaxIpv6Payload - kTcpHeaderSize : kMaxIpv4Packet - kIpv4HeaderSize - kTcpHeaderSize;
}

qsizetype MaxUdpPayload(bool ipv6)
{
    return ipv6 ? kMaxIpv6Payload - kUdpHeaderSize : kMaxIpv4Packet - kIpv4HeaderSize - kUdpHeaderSize;
}

bool FitsPacket(const FlowEnds &ends)
{
    const qsizetype size = ends.local.address.size();
    return (size == 4 || size == 16) && ends.remote.address.size() == size;
}

FlowEnds PacketEnds(const FlowEnds &ends)
{
    const bool ipv6 = ends.local.IsIpv6() || ends.remote.IsIpv6();
    return {EndOfFamily(ends.local, ipv6), EndOfFamily(ends.remote, ipv6)};
}

void BuildTcp(QByteArray &out, const IpEndpoint &source, const IpEndpoint &destination, const TcpFields &tcp,
              QByteArrayView payload)
{
    const bool syn = tcp.flags & kSyn;
    const qsizetype headerSize = kTcpHeaderSize + (syn ? kSynOptionsSize : 0);
    const qsizetype transportSize = headerSize + payload.size();
    out.resize(IpHeaderSize(source.IsIpv6()) + transportSize);
    uchar *header = PutIpHeader(reinterpret_cast<uchar *>(out.data()), source, destination, kProtocolTcp,
                                transportSize);
    Put16(header, source.port);
    Put16(header + 2, destination.port);
    Put32(header + 4, tcp.sequence);
    Put32(header + 8, tcp.acknowledgement);
    header[12] = uchar((headerSize / 4) << 4);
    header[13] = tcp.flags;
    Put16(header + 14, 0xffff);  // Window.
    Put32(header + 16, 0);       // Checksum and urgent pointer.
    if (syn)
        std::memcpy(header + kTcpHeaderSize, kSynOptions, kSynOptionsSize);
    if (!payload.isEmpty())
        std::memcpy(header + headerSize, payload.data(), payload.size());
    const quint64 sum = PseudoHeaderSum(source, destination, kProtocolTcp, transportSize);
    PutChecksum(header + 16, Checksum(AddWords(sum, header, transportSize)));
}

qsizetype BuildUdp(QByteArray &out, const IpEndpoint &source, const IpEndpoint &destination, QByteArrayView payload)
{
    const bool ipv6 = source.IsIpv6();
    const QByteArrayView carried = payload.first(qMin(payload.size(), MaxUdpPayload(ipv6)));
    const qsizetype transportSize = kUdpHeaderSize + carried.size();
    out.resize(IpHeaderSize(ipv6) + transportSize);
    uchar *header = PutIpHeader(reinterpret_cast<uchar *>(out.data()), source, destination, kProtocolUdp,
                                transportSize);
    Put16(header, source.port);
    Put16(header + 2, destination.port);
    Put16(header + 4, quint16(transportSize));
    Put16(header + 6, 0);
    if (!carried.isEmpty())
        std::memcpy(header + kUdpHeaderSize, carried.data(), carried.size());
    const quint64 sum = PseudoHeaderSum(source, destination, kProtocolUdp, transportSize);
    const quint16 checksum = Checksum(AddWords(sum, header, transportSize));
    // A computed 0 is sent as all ones: 0 in the field means "no checksum".
    PutChecksum(header + 6, checksum == 0 ? quint16(0xffff) : checksum);
    return out.size() + (payload.size() - carried.size());
}

}  // namespace PacketBuilder
