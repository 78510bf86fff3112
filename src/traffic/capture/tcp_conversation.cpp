#include "traffic/capture/tcp_conversation.h"

using PacketBuilder::kAck;
using PacketBuilder::kFin;
using PacketBuilder::kPsh;
using PacketBuilder::kSyn;

TcpConversation::TcpConversation(quint32 localInitial, quint32 remoteInitial, qsizetype maxPayload)
    : m_localNext(localInitial)
    , m_remoteNext(remoteInitial)
    , m_maxPayload(maxPayload)
{
}

void TcpConversation::Open(Side opener, const SegmentOut &out)
{
    Send(opener, kSyn, {}, out);
    Send(Other(opener), kSyn | kAck, {}, out);
    Send(opener, kAck, {}, out);
}

void TcpConversation::Data(Side from, QByteArrayView bytes, const SegmentOut &out)
{
    while (!bytes.isEmpty()) {
        const QByteArrayView segment = bytes.first(qMin(bytes.size(), m_maxPayload));
        Send(from, kPsh | kAck, segment, out);
        bytes = bytes.sliced(segment.size());
    }
}

void TcpConversation::Close(Side closer, const SegmentOut &out)
{
    Send(closer, kFin | kAck, {}, out);
    Send(Other(closer), kFin | kAck, {}, out);
    Send(closer, kAck, {}, out);
}

void TcpConversation::Send(Side from, quint8 flags, QByteArrayView payload, const SegmentOut &out)
{
    quint32 &next = Next(from);
    // A SYN's acknowledgement field means nothing; it is left 0.
    const quint32 acknowledgement = (flags & kAck) ? Next(Other(from)) : 0;
    out({from, {next, acknowledgement, flags}, payload});
    // SYN and FIN each take one sequence number.
    next += quint32(payload.size()) + ((flags & (kSyn | kFin)) ? 1 : 0);
}
