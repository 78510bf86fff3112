#include "cli/cli_traffic.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonObject>

#include <sys/socket.h>

#include "cli/cli_output.h"
#include "platform/datagram.h"
#include "text/gbk.h"
#include "text/payload_codec.h"
#include "traffic/capture/pcap_capture.h"

bool StreamMatch::Feed(QByteArrayView block)
{
    QByteArray window = m_tail;
    window.append(block);
    if (window.contains(m_needle))
        return true;
    const qsizetype keep = std::min<qsizetype>(window.size(), m_needle.size() - 1);
    m_tail = window.right(keep);
    return false;
}

CliTraffic::CliTraffic(const CliOptions &options, CliOutput &output, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_output(output)
    , m_log(options.logFile, m_logFlag)
    , m_recorder([&output](const QByteArray &line, TextEncoding encoding) { output.DisplayLine(line, encoding); },
                 m_log, m_counters, options.IsServer() ? TrafficLog::kReceivedTag : TrafficLog::kSentTag,
                 options.IsServer() ? TrafficLog::kSentTag : TrafficLog::kReceivedTag)
{
    m_recorder.SetHexDisplay(options.hexDisplay);
    m_recorder.SetEncoding(options.encoding);
    m_recorder.SetTimestamps(options.timestamps);
    ConnectSendPath(m_sendPath, m_events, m_counters);
    connect(&m_sendPath, &TcpSendPath::Written, this, &CliTraffic::OnWritten);
}

CliTraffic::~CliTraffic()
{
    CloseFiles();
}

bool CliTraffic::OpenFiles(TrafficLog::Header header)
{
    if (!m_options.logFile.isEmpty() && !m_log.StartLog(header)) {
        m_output.Error(QStringLiteral("无法写入记录文件 %1").arg(m_log.Path()));
        return false;
    }
    if (!m_options.pcapFile.isEmpty()) {
        QString error;
        std::unique_ptr<TrafficCapture> capture = OpenPcapCapture(
            m_options.pcapFile, [] {}, &error);
        if (!capture) {
            m_output.Error(QStringLiteral("无法写入捕获文件 %1: %2").arg(m_options.pcapFile, error));
            return false;
        }
        m_tap.Start(std::move(capture));
    }
    return true;
}

void CliTraffic::CloseFiles()
{
    if (m_tap.IsOn()) {
        const QString path = m_tap.Capture()->FilePath();
        if (!m_tap.Stop())
            m_output.Error(QStringLiteral("捕获文件 %1 写入失败").arg(path));
    }
    m_log.StopLog();
}

void CliTraffic::Listening(int socket)
{
    SocketAddress bound;
    socklen_t length = SocketAddress::Capacity();
    ::getsockname(socket, bound.Data(), &length);
    m_output.Line(QStringLiteral("开始监听 ") + QString::fromLatin1(PeerText(bound)));
    QJsonObject event = CliEvent("listening");
    event.insert(QStringLiteral("address"), AddressText(bound));
    event.insert(QStringLiteral("port"), bound.Port());
    m_output.Event(event);
}

void CliTraffic::Opened(int socket, TcpOpener opener)
{
    if (m_options.hasExpect)
        m_matches.insert_or_assign(socket, StreamMatch(m_options.expect));
    m_tap.TcpOpened(socket, opener);
}

void CliTraffic::Closed(int socket, bool byPeer)
{
    m_matches.erase(socket);
    m_tap.TcpClosed(socket, byPeer);
    m_sendPath.Forget(socket);
    m_events.Unregister(socket);
}

void CliTraffic::Received(int socket, QByteArrayView block, const QByteArray &peer)
{
    m_tap.TcpReceived(socket, block);
    const auto match = m_matches.find(socket);
    Show(block, peer, match != m_matches.end() ? &match->second : nullptr);
}

void CliTraffic::ReceivedDatagram(int socket, const SocketAddress &source, QByteArrayView datagram,
                                  const QByteArray &peer)
{
    m_tap.UdpReceived(socket, source.Data(), datagram);
    StreamMatch *match = nullptr;
    if (m_options.hasExpect)
        match = &m_peerMatches.try_emplace(peer, m_options.expect).first->second;
    Show(datagram, peer, match);
}

void CliTraffic::DatagramSocketClosed(int socket)
{
    m_tap.UdpClosed(socket);
}

void CliTraffic::Show(QByteArrayView block, const QByteArray &peer, StreamMatch *match)
{
    m_slice.Count(block.size());
    m_recorder.ShowReceived(block, peer);
    if (m_output.IsJson()) {
        QJsonObject event = CliEvent("receive");
        event.insert(QStringLiteral("peer"), QString::fromLatin1(peer));
        event.insert(QStringLiteral("bytes"), QString::fromLatin1(block.toByteArray().toHex()));
        event.insert(QStringLiteral("text"), DecodeText(block, m_options.encoding));
        TimedEvent(event);
    }
    if (!m_expectMet && match && match->Feed(block)) {
        m_expectMet = true;
        emit ExpectMet();
    }
}

bool CliTraffic::Send(int socket, const Payload &payload, const QByteArray &peer)
{
    if (!m_sendPath.Send(socket, payload.bytes, payload.uncountedAt))
        return false;
    // As the pages: the text as typed (the digits in hex), then what the options added.
    m_recorder.RecordSent(payload.prepared + payload.TrailerLogText());
    EventSent(payload.bytes, peer);
    return true;
}

bool CliTraffic::SendBytes(int socket, QByteArrayView bytes, const QByteArray &peer)
{
    if (!m_sendPath.Send(socket, bytes))
        return false;
    m_recorder.RecordSent(PayloadCodec::DataText(bytes, false));
    EventSent(bytes, peer);
    return true;
}

bool CliTraffic::SendDatagram(int socket, const SocketAddress &to, QByteArrayView bytes, qint64 counted,
                              const DatagramArrival *from)
{
    if (!::SendDatagram(socket, bytes, to, from))
        return false;
    m_counters.AddTx(counted);
    m_tap.UdpSent(socket, to.Data(), bytes);
    return true;
}

bool CliTraffic::SendDatagramTo(int socket, const SocketAddress &to, QByteArrayView bytes, qint64 counted,
                                QByteArrayView logText, const QByteArray &peer, const DatagramArrival *from)
{
    if (!SendDatagram(socket, to, bytes, counted, from))
        return false;
    m_recorder.RecordSent(logText);
    EventSent(bytes, peer);
    return true;
}

void CliTraffic::FileSendStarted(const QString &path, qint64 size)
{
    const QString line = QStringLiteral("发送文件 %1 (%2 字节)").arg(QFileInfo(path).fileName()).arg(size);
    m_output.Line(line);
    m_recorder.RecordSent(ToGbk(line));
    QJsonObject event = CliEvent("send");
    event.insert(QStringLiteral("file"), path);
    event.insert(QStringLiteral("size"), size);
    TimedEvent(event);
}

void CliTraffic::EventSent(QByteArrayView bytes, const QByteArray &peer)
{
    if (!m_output.IsJson())
        return;
    QJsonObject event = CliEvent("send");
    event.insert(QStringLiteral("peer"), QString::fromLatin1(peer));
    event.insert(QStringLiteral("bytes"), QString::fromLatin1(bytes.toByteArray().toHex()));
    TimedEvent(event);
}

void CliTraffic::TimedEvent(QJsonObject event)
{
    if (m_options.timestamps)
        event.insert(QStringLiteral("time"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
    m_output.Event(event);
}

void CliTraffic::OnWritten(int socket, QByteArrayView bytes)
{
    m_tap.TcpSent(socket, bytes);
}
