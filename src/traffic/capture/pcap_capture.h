#pragma once

#include <QString>

#include <functional>
#include <memory>

#include "traffic/capture/capture_sink.h"
#include "traffic/capture/traffic_capture.h"

// A capture of everything a page sends and receives, with every peer, as the IP packets that
// carried it, in a pcap file (raw IP, microsecond times) that Wireshark and tshark read. TCP
// connections get made-up handshakes, sequence numbers and closes, so that following a stream
// shows exactly the bytes that crossed, in order.
//
// Null, with a short reason in error, when the file cannot be created or its header written.
std::unique_ptr<TrafficCapture> OpenPcapCapture(const QString &path, std::function<void()> stopped, QString *error);
// The same over a given sink; path is what FilePath() says.
std::unique_ptr<TrafficCapture> OpenPcapCapture(std::unique_ptr<CaptureSink> sink, const QString &path,
                                                std::function<void()> stopped, QString *error);
