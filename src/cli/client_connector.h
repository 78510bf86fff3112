#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

#include "platform/host_lookup.h"
#include "platform/ip_socket.h"
#include "platform/socket_address.h"

class QSocketNotifier;
struct CliOptions;

// Opens a client's socket toward its server as the client page does: a literal address at
// once, a host name through HostLookup and then each of its addresses in the resolver's order
// until one connects (TCP) or has a socket (UDP), all within kConnectTimeoutMs. The answer
// comes from the event loop, never from within Start.
class ClientConnector : public QObject
{
    Q_OBJECT

public:
    static constexpr int kConnectTimeoutMs = 21000;  // the client page's limit

    explicit ClientConnector(SocketKind kind, QObject *parent = nullptr);
    ~ClientConnector() override;

    void Start(const CliOptions &options);
    // Closes the attempt's socket; no signal follows.
    void Cancel();

signals:
    // The socket (non-blocking) is the receiver's from now on.
    void Connected(int socket, const SocketAddress &server);
    void Failed(const QString &message);

private:
    void OnResolved(const QList<SocketAddress> &addresses);
    void TryNextAddress();
    void OnWritable();
    void DropAttempt();
    void Fail(const QString &reason);

    SocketKind m_kind;
    QString m_host;  // as typed
    QString m_name;  // host:port, what a failure names
    quint16 m_port = 0;
    bool m_isName = false;
    QList<SocketAddress> m_untried;
    int m_socket = -1;
    SocketAddress m_address;
    QString m_lastError;
    bool m_anySocketOpened = false;
    HostLookup m_lookup;
    QTimer m_timeout;
    std::unique_ptr<QSocketNotifier> m_writable;
};
