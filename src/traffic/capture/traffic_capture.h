#pragma once

#include <QByteArrayView>
#include <QString>

#include "traffic/capture/flow_ends.h"

// Which end of a TCP connection opened it (sent the SYN).
enum class TcpOpener { Peer, ThisSide };

// What a capture is told of one page's traffic, as it happens. A TCP connection is named by
// its socket from TcpOpened to TcpClosed (a socket number may be reused afterwards); UDP
// datagrams carry their ends. Every block is told once, in the order the page handled it:
// received blocks as read, sent ones as handed to the system.
//
// A capture is made with a "stopped" callback, which it calls once when it fails or ends, from
// inside one of these calls or from its own deferred flush; the owner ends it later (never
// inside the callback) and says why.
class TrafficCapture
{
public:
    virtual ~TrafficCapture() = default;

    // A connection that is open: at accept or connect, or already open when the capture starts
    // (then, as for an accepted one, the peer counts as the opener).
    virtual void TcpOpened(int connection, const FlowEnds &ends, TcpOpener opener = TcpOpener::Peer) = 0;
    virtual void TcpReceived(int connection, QByteArrayView bytes) = 0;
    virtual void TcpSent(int connection, QByteArrayView bytes) = 0;
    // The page saw the connection end: the peer closed or reset it (byPeer), or this side
    // closed it.
    virtual void TcpClosed(int connection, bool byPeer) = 0;
    virtual void UdpReceived(const FlowEnds &ends, QByteArrayView bytes) = 0;
    virtual void UdpSent(const FlowEnds &ends, QByteArrayView bytes) = 0;

    // Writes out what waits and closes the file; what was written stays readable. A failure
    // while closing is not told through "stopped" (the owner is ending the capture):
    // HasFailed() says it afterwards.
    virtual void Close() = 0;
    // True once the file could not be written; the capture then takes nothing more.
    virtual bool HasFailed() const = 0;
    // True when a .bin capture's peer went away: the capture has nothing more to take.
    virtual bool HasEnded() const { return false; }
    virtual QString FilePath() const = 0;
};
