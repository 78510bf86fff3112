#pragma once

#include <QByteArray>

#include "cli/client_run.h"

// velvane-cli tcp-client: the client page's TCP connection without its window. What the
// server sends is shown block by block; its close ends the run (a reset with 2). When standard
// input or the file is over and no --wait is given, the connection is half closed: the
// server sees the end of the stream and its answers are shown until it closes.
class TcpClientRun : public ClientRun
{
    Q_OBJECT

public:
    TcpClientRun(const CliOptions &options, CliOutput &output, QObject *parent = nullptr);

    void SendPayload(const Payload &payload) override;
    void SendBytes(QByteArrayView bytes) override;
    bool SendFile(std::unique_ptr<QFile> file) override;
    bool IsBackedUp() const override;
    bool HasUnsent() const override;

private:
    void OnOpened() override;
    void OnClosing() override;
    void OnAllSentWithoutWait() override;
    void OnSocketEvent(int socket, int event);
    void ReceiveBlocks();
    // failure: why the connection broke (a reset); empty for the server's end of the stream.
    void OnServerClosed(const QString &failure);

    QByteArray m_recvBuffer;
    bool m_open = false;  // until the server's close or reset
    bool m_halfClosed = false;
};
