#pragma once

#include <QByteArray>
#include <QSet>

#include <memory>

#include "pages/server/server_page.h"
#include "traffic/receive_slice.h"

class MulticastMemberships;
class MulticastWindow;
class SingleBox;
struct DatagramArrival;
class SocketAddress;

// The UDP server page's recording switch: 1 while logudp.txt records.
extern int g_bUdpTrafficLog;

// The UDP server page: binds a datagram socket to a local address, lists every peer heard
// from, shows what they send, sends to the selected peer, on a timer too, and can answer
// every datagram.
class CUdpServerPage : public CServerPage
{
    Q_OBJECT

public:
    static constexpr unsigned kTemplateId = 134;
    static constexpr int kRepeatTimerId = 4;
    static constexpr int kDatagramSize = ::kDatagramSize;

    explicit CUdpServerPage(QWidget *parent = nullptr);
    ~CUdpServerPage() override;

    void OnInitDialog() override;

    std::optional<BinCaptureTarget> CapturedPeer() override;
    bool StartFileSend(const QString &path, FileSendTally &tally) override;
    void CancelFileSend() override;
    void OnSend() override;
    void OnDeletePeer();
    void OnSocketEvent(int socket, int event) override;
    void OnTimedSendClicked() { OnTimedSend(); }
    void OnAutoReplyClicked() { OnAutoReply(); }

    bool IsListening() const override { return m_socket >= 0; }
    LineListBox *PeerList() const { return Peers(); }

    // "组播…": the window of the groups the socket joins.
    void OnMulticast();
    // With the groups, the hop limit and loopback.
    QJsonObject SaveState(bool withHistory) const override;
    void RestoreState(const QJsonObject &state) override;

protected:
    bool AcceptsListenFields(const QString &host, int port) override;
    bool IsStreamServer() const override { return false; }
    void StartServing(int socket) override;
    void StopServing() override { CloseSocket(); }
    void OnPeerButton() override { OnDeletePeer(); }

private:
    void AddPeer(const QByteArray &peerText);
    // One datagram; false when nothing more should be read now.
    bool ReceiveDatagram();
    void ReplyWithData(const SocketAddress &replyAddress, const DatagramArrival &arrival);
    void ReplyEcho(const SocketAddress &replyAddress, const DatagramArrival &arrival, QByteArrayView datagram);
    // A send to the peer, from where its datagram came to when that is known.
    bool SendTo(const SocketAddress &to, QByteArrayView bytes, const DatagramArrival *from = nullptr);
    // The peer of a list line, as this socket reaches it.
    SocketAddress PeerOfLine(int row) const;
    void CloseSocket();
    // The group at the listening port becomes a line of the peer list, selected.
    void OnSendToGroup(const QString &group);

    int m_socket = -1;
    int m_family = 0;
    // Bound to 0.0.0.0 or ::: each datagram says where it came to.
    bool m_allInterfaces = false;
    // The peer check is a lookup beside the list, not a walk of it.
    QSet<QByteArray> m_peers;
    // "接收数据失败！" is shown once while its box is open, however many reads fail meanwhile.
    std::unique_ptr<SingleBox> m_receiveFailureBox;
    MulticastMemberships *m_multicast;
    MulticastWindow *m_multicastWindow = nullptr;
};
