#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include "cli/cli_traffic.h"
#include "cli/client_connector.h"
#include "cli/client_sends.h"

// What tcp-client and udp-client share: the connect through ClientConnector, the client
// page's lines for it, the sends, --wait after the last of them, --expect and the end.
// A run ends through Finished: at once when --expect is met; with 3 instead of 0 when it is
// not by a normal end (the wait over, the peer's close, the sends over without --wait).
class ClientRun : public QObject, public ClientChannel
{
    Q_OBJECT

public:
    ~ClientRun() override;

    // Opens --send-file and starts connecting; every end, a failure too, comes through Finished
    // from the event loop.
    void Start();
    // Closes the socket, with the page's line for the user's disconnect, then the files.
    void Stop();

signals:
    void Finished(int exitCode);

protected:
    ClientRun(const CliOptions &options, CliOutput &output, SocketKind kind, QObject *parent);

    // The socket is open toward the server and the connect line shown: its events, its capture.
    virtual void OnOpened() = 0;
    // The run closes the socket next: what still knows it lets go.
    virtual void OnClosing() = 0;
    // The last send is out and there is no --wait.
    virtual void OnAllSentWithoutWait() = 0;

    void End(int exitCode);
    void EndNormally() { End(m_options.hasExpect ? kExitExpectUnmet : kExitDone); }
    // The message on stderr (and as an error event), then the end.
    void Fail(const QString &message, int exitCode);
    // A close line and its event; by: "peer", "reset" or "local".
    void CloseEvent(const QString &line, const char *by);

    const CliOptions &m_options;
    CliOutput &m_output;
    CliTraffic m_traffic;
    ClientSends m_sends;
    int m_socket = -1;
    SocketAddress m_server;
    QByteArray m_peer;  // the server as the lines name it

private:
    void OnConnected(int socket, const SocketAddress &server);
    void OnAllSent();

    SocketKind m_kind;
    ClientConnector m_connector;
    QTimer m_wait;
    bool m_ended = false;
};
