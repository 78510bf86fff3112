#pragma once

#include <QByteArrayView>

#include <memory>
#include <unordered_map>

#include <sys/socket.h>

#include "traffic/capture/traffic_capture.h"

// Where a page tells its traffic to the running capture, if any. Without one every call is a
// test of a pointer: the receive path pays nothing for captures it does not make.
class CaptureTap
{
public:
    CaptureTap();
    ~CaptureTap();

    bool IsOn() const { return m_capture != nullptr; }
    const TrafficCapture *Capture() const { return m_capture.get(); }
    void Start(std::unique_ptr<TrafficCapture> capture);
    // Closes the capture (what waits is written out) and forgets it; false when its file could
    // not be written in full.
    bool Stop();

    // A TCP connection of the page: opened by the peer (accepted) or by this side.
    void TcpOpened(int socket, TcpOpener opener = TcpOpener::Peer);
    void TcpReceived(int socket, QByteArrayView bytes)
    {
        if (m_capture)
            m_capture->TcpReceived(socket, bytes);
    }
    void TcpSent(int socket, QByteArrayView bytes)
    {
        if (m_capture)
            m_capture->TcpSent(socket, bytes);
    }
    void TcpClosed(int socket, bool byPeer)
    {
        if (m_capture)
            m_capture->TcpClosed(socket, byPeer);
    }
    // A datagram on the page's UDP socket, from or to peer.
    void UdpReceived(int socket, const sockaddr *peer, QByteArrayView bytes);
    void UdpSent(int socket, const sockaddr *peer, QByteArrayView bytes);
    // The page closed a UDP socket: its number may come back bound elsewhere.
    void UdpClosed(int socket) { m_localEnds.erase(socket); }

private:
    FlowEnds EndsOf(int socket, const sockaddr *peer);

    std::unique_ptr<TrafficCapture> m_capture;
    // The local end of each UDP socket met, asked once.
    std::unordered_map<int, IpEndpoint> m_localEnds;
};
