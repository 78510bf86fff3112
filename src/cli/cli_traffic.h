#pragma once

#include <QJsonObject>
#include <QObject>

#include <map>
#include <unordered_map>

#include "cli/cli_options.h"
#include "platform/socket_events.h"
#include "traffic/capture/capture_tap.h"
#include "traffic/read_limits.h"
#include "traffic/receive_slice.h"
#include "traffic/tcp_send_path.h"
#include "traffic/traffic_counters.h"
#include "traffic/traffic_log.h"
#include "traffic/traffic_recorder.h"

class CliOutput;
struct DatagramArrival;
class SocketAddress;

// Exit codes of velvane-cli.
enum CliExit { kExitDone = 0, kExitUsage = 1, kExitNetwork = 2, kExitExpectUnmet = 3 };

// Finds bytes in a stream that arrives in blocks: a match may straddle blocks.
class StreamMatch
{
public:
    explicit StreamMatch(QByteArray needle)
        : m_needle(std::move(needle))
    {
    }
    // True once the stream so far contains the needle.
    bool Feed(QByteArrayView block);

private:
    QByteArray m_needle;
    QByteArray m_tail;  // the stream's last needle-1 bytes
};

// What every run shares: the send path, the display lines, the traffic log, the capture, the
// counters and the --expect matches, each TCP connection named by its socket, each datagram
// peer by its text.
class CliTraffic : public QObject
{
    Q_OBJECT

public:
    CliTraffic(const CliOptions &options, CliOutput &output, QObject *parent = nullptr);
    ~CliTraffic() override;

    // Opens --log and --pcap; false with the reason on stderr.
    bool OpenFiles(TrafficLog::Header header);
    void CloseFiles();

    ReadLimits Limits() const { return ReadLimits::Of(!m_options.parts); }
    TcpSendPath &SendPath() { return m_sendPath; }
    const TcpSendPath &SendPath() const { return m_sendPath; }
    ReceiveSlice &Slice() { return m_slice; }
    SocketEventRegistry &Events() { return m_events; }

    // A server's first line: the address and port it got (port 0 asks for any free one).
    void Listening(int socket);

    void Opened(int socket, TcpOpener opener);
    // The connection is gone: its capture end, its queue, its events, its --expect.
    void Closed(int socket, bool byPeer);
    // A block read from the socket: the display line, the log, the capture, --expect.
    void Received(int socket, QByteArrayView block, const QByteArray &peer);
    // Hands payload to the send path and records it; false when the connection has failed.
    bool Send(int socket, const Payload &payload, const QByteArray &peer);
    // Bytes as they are (an echo, stdin): the log line shows them as received blocks are shown.
    bool SendBytes(int socket, QByteArrayView bytes, const QByteArray &peer);

    // The line a page shows and logs when a file starts, and its send event.
    void FileSendStarted(const QString &path, qint64 size);

    // A datagram read from source: as a block, with --expect per peer.
    void ReceivedDatagram(int socket, const SocketAddress &source, QByteArrayView datagram, const QByteArray &peer);
    // The socket's end in the capture.
    void DatagramSocketClosed(int socket);
    // One datagram to `to`, from where its datagram came to when from is given; counted (counted
    // bytes of it) and captured once the system took it whole, without a log line: a file's
    // datagrams.
    bool SendDatagram(int socket, const SocketAddress &to, QByteArrayView bytes, qint64 counted,
                      const DatagramArrival *from = nullptr);
    // The same, logged as logText and told as a send event.
    bool SendDatagramTo(int socket, const SocketAddress &to, QByteArrayView bytes, qint64 counted,
                        QByteArrayView logText, const QByteArray &peer, const DatagramArrival *from = nullptr);

signals:
    void ExpectMet();

private:
    void OnWritten(int socket, QByteArrayView bytes);
    // A received block's line, log, JSON event and --expect.
    void Show(QByteArrayView block, const QByteArray &peer, StreamMatch *match);
    void EventSent(QByteArrayView bytes, const QByteArray &peer);
    // event on stdout, with the time it happened when --timestamps asks for it.
    void TimedEvent(QJsonObject event);

    const CliOptions &m_options;
    CliOutput &m_output;
    int m_logFlag = 0;
    TrafficLog m_log;
    TrafficCounters m_counters;
    TrafficRecorder m_recorder;
    SocketEventRegistry m_events;
    TcpSendPath m_sendPath;
    ReceiveSlice m_slice;
    CaptureTap m_tap;
    std::unordered_map<int, StreamMatch> m_matches;
    std::map<QByteArray, StreamMatch> m_peerMatches;
    bool m_expectMet = false;
};
