#include "cli/client_connector.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <utility>

#include <sys/socket.h>
#include <unistd.h>

#include "cli/cli_options.h"

ClientConnector::ClientConnector(SocketKind kind, QObject *parent)
    : QObject(parent)
    , m_kind(kind)
{
    m_timeout.setSingleShot(true);
    m_timeout.setTimerType(Qt::PreciseTimer);
    connect(&m_timeout, &QTimer::timeout, this, [this] { Fail(QStringLiteral("超时")); });
}

ClientConnector::~ClientConnector()
{
    Cancel();
}

void ClientConnector::Start(const CliOptions &options)
{
    m_isName = options.hostIsName;
    m_host = options.host;
    m_port = options.endpoint.Port();
    m_name = options.endpoint.IsIpv6() ? QString::fromLatin1(PeerText(options.endpoint))
                                       : options.host + QLatin1Char(':') + QString::number(m_port);
    m_untried.clear();
    if (!m_isName)
        m_untried.append(options.endpoint);
    m_anySocketOpened = false;
    m_lastError.clear();
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_timeout.start(kConnectTimeoutMs);
            if (m_isName)
                m_lookup.Start(m_host, [this](const QList<SocketAddress> &addresses) { OnResolved(addresses); });
            else
                TryNextAddress();
        },
        Qt::QueuedConnection);
}

void ClientConnector::Cancel()
{
    m_timeout.stop();
    m_lookup.Cancel();
    m_untried.clear();
    if (m_socket >= 0)
        DropAttempt();
}

void ClientConnector::OnResolved(const QList<SocketAddress> &addresses)
{
    if (addresses.isEmpty()) {
        m_timeout.stop();
        emit Failed(QStringLiteral("无法解析主机名 ") + m_host);
        return;
    }
    m_untried = addresses;
    for (SocketAddress &address : m_untried)
        address.SetPort(m_port);
    TryNextAddress();
}

void ClientConnector::TryNextAddress()
{
    while (!m_untried.isEmpty()) {
        m_address = m_untried.takeFirst();
        m_socket = OpenIpSocket(m_kind, m_address.Family());
        if (m_socket < 0)
            continue;  // a family this system has no sockets for
        m_anySocketOpened = true;
        if (m_kind == SocketKind::Datagram || ::connect(m_socket, m_address.Data(), m_address.Length()) == 0) {
            m_timeout.stop();
            emit Connected(std::exchange(m_socket, -1), m_address);
            return;
        }
        if (errno == EINPROGRESS) {
            m_writable = std::make_unique<QSocketNotifier>(m_socket, QSocketNotifier::Write);
            connect(m_writable.get(), &QSocketNotifier::activated, this, &ClientConnector::OnWritable);
            return;
        }
        m_lastError = QString::fromLocal8Bit(std::strerror(errno));
        DropAttempt();
    }
    Fail(m_anySocketOpened ? m_lastError : QStringLiteral("无法创建socket"));
}

void ClientConnector::OnWritable()
{
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &error, &length);
    m_writable->setEnabled(false);
    m_writable.release()->deleteLater();  // it may be the one being delivered
    if (error != 0) {
        m_lastError = QString::fromLocal8Bit(std::strerror(error));
        DropAttempt();
        TryNextAddress();
        return;
    }
    m_timeout.stop();
    emit Connected(std::exchange(m_socket, -1), m_address);
}

void ClientConnector::DropAttempt()
{
    if (m_writable) {
        m_writable->setEnabled(false);
        m_writable.release()->deleteLater();
    }
    ::close(m_socket);
    m_socket = -1;
}

void ClientConnector::Fail(const QString &reason)
{
    Cancel();
    emit Failed(QStringLiteral("无法连接服务器 ") + m_name + QStringLiteral(": ") + reason);
}
