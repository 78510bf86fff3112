#pragma once

#include <QString>

#include <functional>
#include <memory>

#include "traffic/capture/capture_sink.h"
#include "traffic/capture/flow_ends.h"
#include "traffic/capture/traffic_capture.h"

// Whose received bytes a .bin capture keeps: one TCP connection, or one UDP peer.
struct BinCaptureTarget
{
    enum class Kind { TcpConnection, UdpPeer };

    static BinCaptureTarget Tcp(int connection) { return {Kind::TcpConnection, connection, {}}; }
    static BinCaptureTarget Udp(const IpEndpoint &peer) { return {Kind::UdpPeer, -1, peer}; }

    Kind kind = Kind::TcpConnection;
    int connection = -1;
    IpEndpoint peer;
};

// A capture of the bytes one target sent this side, exactly as read, one after the other in
// a file of their own; everything else is left out. It ends when the target connection
// closes.
//
// Null, with a short reason in error, when the file cannot be created.
std::unique_ptr<TrafficCapture> OpenBinCapture(const QString &path, const BinCaptureTarget &target,
                                               std::function<void()> stopped, QString *error);
// The same over a given sink; path is what FilePath() says.
std::unique_ptr<TrafficCapture> OpenBinCapture(std::unique_ptr<CaptureSink> sink, const QString &path,
                                               const BinCaptureTarget &target, std::function<void()> stopped);
