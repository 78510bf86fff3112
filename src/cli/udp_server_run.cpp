#include "cli/udp_server_run.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cerrno>
#include <cstring>
#include <utility>

#include <sys/socket.h>
#include <unistd.h>

#include "cli/cli_output.h"
#include "platform/ip_socket.h"
#include "platform/multicast.h"
#include "platform/socket_events.h"
#include "traffic/multicast_memberships.h"

UdpServerRun::UdpServerRun(const CliOptions &options, CliOutput &output, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_output(output)
    , m_traffic(options, output)
    , m_multicast(new MulticastMemberships(this))
    // The largest datagram whatever the limit: one cut by --parts is a failed read, not a short one.
    , m_datagram(kLargeDatagramSize, Qt::Uninitialized)
{
    connect(&m_traffic.Events(), &SocketEventRegistry::SocketEvent, this, &UdpServerRun::OnSocketEvent);
    connect(&m_traffic, &CliTraffic::ExpectMet, this, [this] { emit Finished(kExitDone); });
    connect(&m_interval, &QTimer::timeout, this, &UdpServerRun::OnIntervalTick);
}

UdpServerRun::~UdpServerRun()
{
    Stop();
}

CliExit UdpServerRun::Start()
{
    if (!m_traffic.OpenFiles(TrafficLog::Header::Server))
        return kExitUsage;
    const QString host = m_options.endpoint.IsIpv6() ? AddressText(m_options.endpoint) : m_options.host;
    m_socket = OpenServerSocket(SocketKind::Datagram, host, m_options.endpoint.Port());
    if (m_socket < 0) {
        m_output.Error(
            QStringLiteral("无法绑定 %1: %2")
                .arg(QString::fromLatin1(PeerText(m_options.endpoint)), QString::fromLocal8Bit(std::strerror(errno))));
        return kExitNetwork;
    }
    // The page raises the buffer only with 大数据; a terminal run is there to take floods, so
    // it always has the room, --parts or not.
    WidenDatagramReceiveBuffer(m_socket);
    RaiseDatagramReceiveBuffer(m_socket);
    m_allInterfaces = IsBoundToAllInterfaces(m_socket);

    m_traffic.Listening(m_socket);
    m_multicast->Attach(m_socket, m_allInterfaces || IsBoundToGroup(m_socket));
    if (!JoinGroups())
        return kExitNetwork;
    m_output.Flush();  // a script waits for the port before it sends

    m_traffic.Events().Register(m_socket, FD_READ);
    if (m_options.intervalMs > 0)
        m_interval.start(m_options.intervalMs);
    return kExitDone;
}

bool UdpServerRun::JoinGroups()
{
    for (const QString &group : m_options.joinGroups) {
        const MulticastMemberships::Refusal refusal = m_multicast->Join(group, QString());
        if (refusal == MulticastMemberships::Refusal::AlreadyListed)
            continue;  // named twice: one membership
        if (refusal != MulticastMemberships::Refusal::None) {
            m_output.Error(QStringLiteral("加入组播组 %1 失败").arg(group));
            return false;
        }
        const QStringList links = m_multicast->JoinedOn(m_multicast->Count() - 1);
        m_output.Line(QStringLiteral("加入组播组 ") + group + QStringLiteral(": ") + links.join(QLatin1Char(' ')));
        QJsonObject event = CliEvent("join");
        event.insert(QStringLiteral("group"), group);
        event.insert(QStringLiteral("interfaces"), QJsonArray::fromStringList(links));
        m_output.Event(event);
    }
    return true;
}

void UdpServerRun::Stop()
{
    m_interval.stop();
    if (m_socket >= 0) {
        m_traffic.Events().Unregister(m_socket);
        m_multicast->Detach();
        ::close(m_socket);
        m_socket = -1;
    }
    m_traffic.CloseFiles();
}

void UdpServerRun::OnSocketEvent(int socket, int event)
{
    if (event != FD_READ || socket != m_socket)
        return;
    m_traffic.Slice().Begin();
    for (int datagrams = 0; datagrams < kMaxReadsPerSlice; ++datagrams)
        if (!ReceiveDatagram() || m_traffic.Slice().IsOver())
            return;
}

bool UdpServerRun::ReceiveDatagram()
{
    int received = 0;
    SocketAddress source;
    DatagramArrival arrival;
    switch (ReadDatagram(m_socket, m_datagram.data(), m_traffic.Limits().datagramBuffer, received, source,
                         m_allInterfaces ? &arrival : nullptr)) {
    case DatagramRead::Nothing:
        return false;
    case DatagramRead::Failed:
        // A datagram larger than --parts allows is gone with it, as on the page.
        m_output.Error(QStringLiteral("接收数据失败！"));
        return false;
    case DatagramRead::Datagram:
        break;
    }
    bool isNew = false;
    const Peer &peer = PeerOf(source, arrival, isNew);
    const QByteArrayView datagram(m_datagram.constData(), received);
    m_traffic.ReceivedDatagram(m_socket, source, datagram, peer.text);
    // The datagram is logged before what answers it: the log keeps the order of the wire.
    if (isNew && m_options.sendSource == SendSource::Text && m_options.intervalMs == 0)
        SendPayload(peer, m_options.send);
    if (m_options.echo) {
        if (!m_traffic.SendDatagramTo(m_socket, peer.address, datagram, datagram.size(),
                                      PayloadCodec::DataText(datagram, false), peer.text, &peer.arrival))
            m_output.Error(QStringLiteral("数据发送失败! ") + QString::fromLatin1(peer.text));
    } else if (m_options.hasReply) {
        SendPayload(peer, m_options.reply);
    }
    return true;
}

UdpServerRun::Peer &UdpServerRun::PeerOf(const SocketAddress &source, const DatagramArrival &arrival, bool &isNew)
{
    const QByteArray text = PeerText(source);
    const auto found = m_peerIndex.find(text);
    isNew = found == m_peerIndex.end();
    if (!isNew) {
        Peer &peer = m_peers[found.value()];
        peer.arrival = arrival;
        return peer;
    }
    m_peerIndex.insert(text, m_peers.size());
    m_peers.append(Peer{text, source, arrival});
    // The line the page adds to its peer list.
    m_output.Line(QString::fromLatin1(text));
    QJsonObject event = CliEvent("peer");
    event.insert(QStringLiteral("peer"), QString::fromLatin1(text));
    m_output.Event(event);
    return m_peers.last();
}

void UdpServerRun::SendPayload(const Peer &peer, const Payload &payload)
{
    if (!m_traffic.SendDatagramTo(m_socket, peer.address, payload.bytes, payload.Counted(), payload.BytesLogText(),
                                  peer.text, &peer.arrival))
        m_output.Error(QStringLiteral("数据发送失败! ") + QString::fromLatin1(peer.text));
}

void UdpServerRun::OnIntervalTick()
{
    if (m_options.count > 0 && m_ticks >= m_options.count) {
        m_interval.stop();
        return;
    }
    ++m_ticks;
    for (const Peer &peer : std::as_const(m_peers))
        SendPayload(peer, m_options.send);
}
