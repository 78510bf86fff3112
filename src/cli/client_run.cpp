#include "cli/client_run.h"

#include <QJsonObject>

#include <unistd.h>

#include "cli/cli_output.h"

ClientRun::ClientRun(const CliOptions &options, CliOutput &output, SocketKind kind, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_output(output)
    , m_traffic(options, output)
    , m_sends(options, m_traffic, *this)
    , m_kind(kind)
    , m_connector(kind)
{
    m_wait.setSingleShot(true);
    connect(&m_wait, &QTimer::timeout, this, &ClientRun::EndNormally);
    connect(&m_traffic, &CliTraffic::ExpectMet, this, [this] { End(kExitDone); });
    connect(&m_connector, &ClientConnector::Connected, this, &ClientRun::OnConnected);
    connect(&m_connector, &ClientConnector::Failed, this,
            [this](const QString &message) { Fail(message, kExitNetwork); });
    connect(&m_sends, &ClientSends::AllSent, this, &ClientRun::OnAllSent);
    connect(&m_sends, &ClientSends::Failed, this, &ClientRun::Fail);
}

ClientRun::~ClientRun() = default;

void ClientRun::Start()
{
    if (const QString failure = m_sends.OpenFile(); !failure.isEmpty()) {
        QMetaObject::invokeMethod(
            this, [this, failure] { Fail(failure, kExitUsage); }, Qt::QueuedConnection);
        return;
    }
    m_connector.Start(m_options);
}

void ClientRun::Stop()
{
    m_connector.Cancel();
    m_sends.Stop();
    m_wait.stop();
    if (m_socket >= 0) {
        OnClosing();
        ::close(m_socket);
        m_socket = -1;
    }
    m_traffic.CloseFiles();
}

void ClientRun::OnConnected(int socket, const SocketAddress &server)
{
    m_socket = socket;
    m_server = server;
    m_peer = PeerText(server);
    // As on the page: the log's header when the connection stands, before its first line.
    if (!m_traffic.OpenFiles(m_kind == SocketKind::Stream ? TrafficLog::Header::TcpClient
                                                          : TrafficLog::Header::UdpClient)) {
        ::close(std::exchange(m_socket, -1));
        End(kExitUsage);
        return;
    }
    const bool tcp = m_kind == SocketKind::Stream;
    m_output.Line(QStringLiteral("成功连接到") + AddressText(server) + QStringLiteral("的")
                  + QString::number(server.Port()) + QStringLiteral("端口 ")
                  + (tcp ? QStringLiteral("连接方式为TCP!") : QStringLiteral("连接方式为UDP!")));
    QJsonObject event = CliEvent("connect");
    event.insert(QStringLiteral("peer"), QString::fromLatin1(m_peer));
    event.insert(QStringLiteral("protocol"), tcp ? QStringLiteral("tcp") : QStringLiteral("udp"));
    m_output.Event(event);
    m_output.Flush();  // a script may wait for this line before it answers
    OnOpened();
    m_sends.Start();
}

void ClientRun::OnAllSent()
{
    if (m_options.waitMs >= 0)
        m_wait.start(m_options.waitMs);
    else
        OnAllSentWithoutWait();
}

void ClientRun::End(int exitCode)
{
    if (m_ended)
        return;
    m_ended = true;
    emit Finished(exitCode);
}

void ClientRun::Fail(const QString &message, int exitCode)
{
    m_output.Error(message);
    End(exitCode);
}

void ClientRun::CloseEvent(const QString &line, const char *by)
{
    m_output.Line(line);
    QJsonObject event = CliEvent("close");
    event.insert(QStringLiteral("peer"), QString::fromLatin1(m_peer));
    event.insert(QStringLiteral("by"), QLatin1String(by));
    m_output.Event(event);
}
