#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>

#include "cli/cli_traffic.h"
#include "platform/datagram.h"
#include "platform/socket_address.h"

class MulticastMemberships;

// velvane-cli udp-server: the UDP server page's work without its window. Every peer is listed
// once, when its first datagram arrives, and sent --send then; datagrams are read whole (128
// bytes with --parts) in the page's slices and answered with --echo or --reply from the address
// they came to; --interval sends to every peer heard from; --join makes the socket a member of
// groups as the page's multicast window does.
class UdpServerRun : public QObject
{
    Q_OBJECT

public:
    UdpServerRun(const CliOptions &options, CliOutput &output, QObject *parent = nullptr);
    ~UdpServerRun() override;

    // Binds and joins the groups; after the message, kExitUsage when a
    // --log or --pcap file cannot be written, kExitNetwork when the socket or a group fails.
    CliExit Start();
    // Leaves the groups, closes the socket, then the files.
    void Stop();

signals:
    void Finished(int exitCode);

private:
    struct Peer
    {
        QByteArray text;
        SocketAddress address;    // as the socket reached it: an IPv4 peer of :: mapped
        DatagramArrival arrival;  // where its last datagram came to
    };

    void OnSocketEvent(int socket, int event);
    void OnIntervalTick();
    // One datagram; false when nothing more should be read now.
    bool ReceiveDatagram();
    // The peer of the datagram, listed (and greeted) when it is new.
    Peer &PeerOf(const SocketAddress &source, const DatagramArrival &arrival, bool &isNew);
    void SendPayload(const Peer &peer, const Payload &payload);
    bool JoinGroups();

    const CliOptions &m_options;
    CliOutput &m_output;
    CliTraffic m_traffic;
    MulticastMemberships *m_multicast;
    int m_socket = -1;
    bool m_allInterfaces = false;
    QByteArray m_datagram;
    // In order of first arrival, for --interval; found by their text.
    QList<Peer> m_peers;
    QHash<QByteArray, qsizetype> m_peerIndex;
    QTimer m_interval;
    qint64 m_ticks = 0;
};
