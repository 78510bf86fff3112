#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

#include "cli/cli_traffic.h"

class AcceptWorker;

// velvane-cli tcp-server: the TCP server page's work without its window. Clients are
// accepted by the AcceptWorker, listed by id in the sessions, read in slices, answered with
// --echo or --reply, sent --send on connect and every --interval.
class TcpServerRun : public QObject
{
    Q_OBJECT

public:
    TcpServerRun(const CliOptions &options, CliOutput &output, QObject *parent = nullptr);
    ~TcpServerRun() override;

    // Binds, listens and starts accepting; after the message, kExitUsage when a
    // --log or --pcap file cannot be written, kExitNetwork when the socket or a group fails.
    CliExit Start();
    // Closes every connection and the listening socket, then the files.
    void Stop();

signals:
    void Finished(int exitCode);

private:
    void OnAcceptedClients();
    void OnSocketEvent(int socket, int event);
    void OnIntervalTick();
    void ReceiveBlocks(int socket);
    bool ReceiveBlock(int socket);
    void CloseClient(int socket, bool byPeer);
    void EventLine(const char *kind, const QByteArray &peer, int id, const QString &text);

    const CliOptions &m_options;
    CliOutput &m_output;
    CliTraffic m_traffic;
    int m_listenSocket = -1;
    std::unique_ptr<AcceptWorker> m_acceptWorker;
    QByteArray m_recvBuffer;
    QTimer m_interval;
    qint64 m_ticks = 0;
};
