#include "traffic/capture/capture_tap.h"

CaptureTap::CaptureTap() = default;

CaptureTap::~CaptureTap()
{
    Stop();
}

void CaptureTap::Start(std::unique_ptr<TrafficCapture> capture)
{
    Stop();
    m_capture = std::move(capture);
}

bool CaptureTap::Stop()
{
    bool whole = true;
    if (m_capture) {
        m_capture->Close();
        whole = !m_capture->HasFailed();
    }
    m_capture.reset();
    m_localEnds.clear();  // a socket number may name another socket by the next capture
    return whole;
}

void CaptureTap::TcpOpened(int socket, TcpOpener opener)
{
    if (!m_capture)
        return;
    FlowEnds ends;
    SocketEnds(socket, ends);
    m_capture->TcpOpened(socket, ends, opener);
}

FlowEnds CaptureTap::EndsOf(int socket, const sockaddr *peer)
{
    auto found = m_localEnds.find(socket);
    if (found == m_localEnds.end())
        found = m_localEnds.emplace(socket, LocalEnd(socket)).first;
    FlowEnds ends{found->second, IpEndpoint::FromSockaddr(peer)};
    // A socket on :: also serves IPv4 peers: its local end is then 0.0.0.0, not ::.
    if (ends.local.IsIpv6() != ends.remote.IsIpv6())
        ends.local.address = QByteArray(ends.remote.address.size(), '\0');
    return ends;
}

void CaptureTap::UdpReceived(int socket, const sockaddr *peer, QByteArrayView bytes)
{
    if (m_capture)
        m_capture->UdpReceived(EndsOf(socket, peer), bytes);
}

void CaptureTap::UdpSent(int socket, const sockaddr *peer, QByteArrayView bytes)
{
    if (m_capture)
        m_capture->UdpSent(EndsOf(socket, peer), bytes);
}
