#include "cli/client_sends.h"

#include "cli/cli_options.h"
#include "cli/cli_traffic.h"
#include "cli/stdin_reader.h"
#include "traffic/udp_file_sender.h"

ClientSends::ClientSends(const CliOptions &options, CliTraffic &traffic, ClientChannel &channel, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_traffic(traffic)
    , m_channel(channel)
{
    connect(&m_interval, &QTimer::timeout, this, &ClientSends::OnIntervalTick);
}

ClientSends::~ClientSends() = default;

QString ClientSends::OpenFile()
{
    if (m_options.sendSource != SendSource::File)
        return {};
    m_file = std::make_unique<QFile>(m_options.sendFile);
    // A pipe or a device has no size to send up to: the page takes files only, and so does this.
    if (!m_file->open(QIODevice::ReadOnly) || m_file->isSequential()) {
        m_file.reset();
        return QStringLiteral("无法读取文件 ") + m_options.sendFile;
    }
    return {};
}

void ClientSends::Start()
{
    switch (m_options.sendSource) {
    case SendSource::None:
        Finish();
        break;
    case SendSource::Text:
        if (m_options.intervalMs > 0) {
            m_interval.start(m_options.intervalMs);
        } else {
            m_channel.SendPayload(m_options.send);
            Finish();
        }
        break;
    case SendSource::Stdin:
        // A datagram per line, a stream as it comes.
        m_stdin = std::make_unique<StdinReader>(m_options.IsTcp() ? 0 : UdpFileSender::kMaxDatagramSize);
        connect(m_stdin.get(), &StdinReader::Chunk, this, &ClientSends::OnStdinChunk);
        connect(m_stdin.get(), &StdinReader::Ended, this, [this] {
            m_stdinEnded = true;
            Finish();
        });
        m_stdin->Start();
        break;
    case SendSource::File: {
        const QString path = m_file->fileName();
        const qint64 size = m_file->size();
        if (!m_channel.SendFile(std::move(m_file))) {
            emit Failed(QStringLiteral("无法发送文件 ") + path, kExitUsage);
            return;
        }
        m_traffic.FileSendStarted(path, size);
        break;
    }
    }
}

void ClientSends::Stop()
{
    m_interval.stop();
    m_stdin.reset();
    m_done = true;
}

void ClientSends::OnIntervalTick()
{
    m_channel.SendPayload(m_options.send);
    if (m_options.count > 0 && ++m_ticks >= m_options.count) {
        m_interval.stop();
        Finish();
    }
}

void ClientSends::OnStdinChunk(const QByteArray &bytes)
{
    m_channel.SendBytes(bytes);
    if (m_channel.IsBackedUp())
        m_stdin->SetPaused(true);  // the peer does not take it: the writer of the pipe waits
}

void ClientSends::OnChannelDrained()
{
    if (m_done)
        return;
    if (m_stdin && !m_stdinEnded) {
        m_stdin->SetPaused(m_channel.IsBackedUp());
        return;
    }
    if (m_lastSendMade && !m_channel.HasUnsent()) {
        m_done = true;
        emit AllSent();
    }
}

void ClientSends::OnFileEnded(FileEnd end)
{
    if (end == FileEnd::Done) {
        Finish();
    } else if (end == FileEnd::ReadFailed) {
        emit Failed(QStringLiteral("读取文件 %1 失败").arg(m_options.sendFile), kExitUsage);
    }
    // ConnectionGone is the channel's to report, Cancelled the run's own doing.
}

void ClientSends::Finish()
{
    m_lastSendMade = true;
    OnChannelDrained();
}
