#pragma once

#include <QByteArray>

#include <memory>
#include <vector>

#include "pages/server/server_page.h"
#include "traffic/receive_slice.h"

class AcceptWorker;
class QCheckBox;
class TcpSendPath;

// The TCP server page's recording switch: 1 while logtcp.txt records.
extern int g_bTcpTrafficLog;

// The TCP server page: listens on a local address, lists the accepted clients, shows what
// they send, sends to one or all of them, on a timer too, and can answer every block.
class CTcpServerPage : public CServerPage
{
    Q_OBJECT

public:
    static constexpr unsigned kTemplateId = 133;
    static constexpr int kRepeatTimerId = 2;

    explicit CTcpServerPage(QWidget *parent = nullptr);
    ~CTcpServerPage() override;

    void OnInitDialog() override;

    void OnDisconnect();
    void OnSocketEvent(int socket, int event) override;
    void OnSend() override;

    bool IsListening() const override { return m_listenSocket >= 0; }
    LineListBox *ClientList() const { return Peers(); }

protected:
    bool AcceptsListenFields(const QString &host, int port) override;
    bool IsStreamServer() const override { return true; }
    void StartServing(int socket) override;
    void OnListening() override;
    void StopServing() override;
    void OnPeerButton() override { OnDisconnect(); }
    QList<int> OpenConnections() const override;
    std::optional<BinCaptureTarget> CapturedPeer() override;
    bool StartFileSend(const QString &path, FileSendTally &tally) override;
    void CancelFileSend() override;

private:
    enum class SendResult { Sent, NextClient, EndSend };

    void OnAcceptedClients();
    void OnAccepted(int socket, const QByteArray &peerText, int id);
    void OnAcceptPaused(bool paused);
    void EndAcceptWorker();
    // Closes every session's socket and forgets the sessions.
    void CloseSessions();
    // The automatic-reply controls follow the session list.
    void RefreshClientList();
    // The client list changes in place, a line per accept and per removal, in accept order.
    int RowOfClient(int id) const;
    void RemoveSession(int socket);
    void CloseSessionSocket(int socket, bool byPeer);
    void ReceiveBlocks(int socket);
    bool ReceiveBlock(int socket);
    bool ReplyWithData(int socket);
    void ReplyTransparent(int socket, QByteArrayView block);
    SendResult SendToSession(int id, const QByteArray &prepared, bool sendToAll);
    void SendToAll(const QByteArray &prepared);
    QByteArray PeerTextOf(int socket) const;
    // Queues the payload on the connection (TX counts it as it goes out) and records it.
    void SendPayload(int socket, const Payload &payload);

    // One read's room: 256 bytes, or 64 KiB with 大数据.
    std::vector<char> m_recvBuffer = std::vector<char>(kLargeStreamReadSize);
    std::unique_ptr<AcceptWorker> m_pAcceptThread;
    int m_listenSocket = -1;
    QCheckBox *m_checkSendAll = nullptr;
    TcpSendPath *m_sendPath;
};
