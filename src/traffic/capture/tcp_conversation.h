#pragma once

#include <QByteArrayView>

#include <functional>

#include "traffic/capture/packet_builder.h"

// The segments a capture shows for one TCP connection: its handshake, its data and its close,
// with sequence and acknowledgement numbers made up to agree, each side counting from its own
// initial number. Every data segment acknowledges all the other side has sent; no bare ACKs
// are made for data.
class TcpConversation
{
public:
    enum class Side { Local, Remote };
    struct Segment
    {
        Side from;
        PacketBuilder::TcpFields fields;
        QByteArrayView payload;
    };
    using SegmentOut = std::function<void(const Segment &)>;

    // maxPayload: the most one segment carries (PacketBuilder::MaxTcpPayload).
    TcpConversation(quint32 localInitial, quint32 remoteInitial, qsizetype maxPayload);

    // SYN from the opener, SYN-ACK back, ACK.
    void Open(Side opener, const SegmentOut &out);
    // PSH-ACK segments of at most maxPayload bytes; nothing for no bytes.
    void Data(Side from, QByteArrayView bytes, const SegmentOut &out);
    // FIN-ACK from the closer, FIN-ACK back, ACK.
    void Close(Side closer, const SegmentOut &out);

private:
    static Side Other(Side side) { return side == Side::Local ? Side::Remote : Side::Local; }
    quint32 &Next(Side side) { return side == Side::Local ? m_localNext : m_remoteNext; }
    void Send(Side from, quint8 flags, QByteArrayView payload, const SegmentOut &out);

    quint32 m_localNext;
    quint32 m_remoteNext;
    qsizetype m_maxPayload;
};
