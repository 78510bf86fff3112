#pragma once

#include <QByteArray>

#include <memory>

#include "cli/client_run.h"

class UdpFileSender;

// velvane-cli udp-client: the client page's UDP mode without its window. As on the page the
// socket is not connected: every datagram that arrives is shown with its sender, and the
// system reports no "port unreachable" for it, so sends to a port nobody serves go on quietly
// (--expect with --wait tells a missing answer). A datagram the system refuses ends the run
// with 2. With no --wait the run ends when standard input or the file is over, else on a
// signal.
class UdpClientRun : public ClientRun
{
    Q_OBJECT

public:
    UdpClientRun(const CliOptions &options, CliOutput &output, QObject *parent = nullptr);
    ~UdpClientRun() override;

    void SendPayload(const Payload &payload) override;
    void SendBytes(QByteArrayView bytes) override;
    bool SendFile(std::unique_ptr<QFile> file) override;
    bool IsBackedUp() const override { return false; }
    bool HasUnsent() const override { return false; }

private:
    void OnOpened() override;
    void OnClosing() override;
    void OnAllSentWithoutWait() override;
    void OnSocketEvent(int socket, int event);
    void ReceiveDatagrams();
    void SendFailed(int error);

    QByteArray m_recvBuffer;
    std::unique_ptr<UdpFileSender> m_fileSender;
    int m_fileError = 0;  // why the system refused a file's datagram
};
