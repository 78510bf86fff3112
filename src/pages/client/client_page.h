#pragma once

#include <QByteArray>

#include <memory>
#include <vector>

#include "pages/traffic_area/traffic_page.h"
#include "platform/socket_address.h"
#include "traffic/receive_slice.h"

class CExtentListBox;
class HostLookup;
class Ipv4AddressEdit;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSocketNotifier;
class QTimer;
class ReceiveSlice;
class SocketEventRegistry;
class TcpSendPath;
struct Payload;

// The client page's recording switch: 1 while logclient.txt records.
extern int g_bClientTrafficLog;

// The TCP/UDP client page: one outgoing TCP connection or UDP socket toward a server,
// what comes back shown at the top of its list, the send box sent once or on a timer.
class CClientPage : public CTrafficPage
{
    Q_OBJECT

public:
    static constexpr unsigned kTemplateId = 149;
    static constexpr int kRepeatTimerId = 6;
    static constexpr int kConnectTimeoutMs = 21000;

    explicit CClientPage(QWidget *parent = nullptr);
    ~CClientPage() override;

    void OnInitDialog() override;

    void OnConnect();
    void OnDisconnect();
    void OnSend() override;
    void OnTcpSocketEvent(int socket, int event);
    void OnUdpSocketEvent(int socket, int event);
    // "广播": the UDP socket may send to a broadcast address while it is ticked.
    void OnBroadcastToggled();

    bool IsConnecting() const { return m_state == State::Connecting; }
    bool IsConnected() const { return m_state == State::Open; }

    QList<int> OpenConnections() const override;
    bool OpensConnections() const override { return true; }
    // With the server's address, port and protocol.
    QJsonObject SaveState(bool withHistory) const override;
    void RestoreState(const QJsonObject &state) override;
    std::optional<BinCaptureTarget> CapturedPeer() override;
    bool StartFileSend(const QString &path, FileSendTally &tally) override;
    void CancelFileSend() override;

private:
    enum class State { Idle, Connecting, Open, ClosedByServer };

    void CreateControls();
    void OnHostNameEdited(const QString &text);
    void OnSocketEvent(int socket, int event);
    void OnHostResolved(const QList<SocketAddress> &addresses);
    // Opens a socket for the next of the server's addresses and connects it; the failure
    // when none is left.
    void TryNextAddress();
    // Ends the attempt on one address: its socket closes, the connect goes on.
    void DropAttempt();
    void OnConnectWritable();
    void OnConnectFailed();
    // The question, the registration and the success line of a socket that is ready.
    void FinishConnect();
    void CloseSocket();
    void OnServerClosed(int socket);
    void ReceiveTcp(int socket);
    void ReceiveUdp(int socket);
    void ReceivedDatagram(int socket, QByteArrayView datagram, const SocketAddress &source);
    // The peer of the connection; the server's address once the socket cannot tell it.
    QByteArray PeerTextOf(int socket) const;
    // Sends the payload on the open socket; false when the system did not take it.
    bool SendPayload(const Payload &payload);

    // One read's room: a TCP block or a datagram, 64 KiB with 大数据.
    std::vector<char> m_recvBuffer = std::vector<char>(kLargeStreamReadSize);
    QComboBox *m_comboProtocol = nullptr;
    QCheckBox *m_broadcast = nullptr;
    QPushButton *m_btnConnect = nullptr;
    QPushButton *m_btnDisconnect = nullptr;
    int m_socket = -1;
    bool m_socketIsTcp = false;
    State m_state = State::Idle;
    SocketAddress m_serverAddr;
    QString m_hostText;
    int m_portNumber = 0;
    // The server's addresses still to try, a name's in the resolver's order.
    QList<SocketAddress> m_untried;
    bool m_hostTextFromAddress = false;  // the success line names the address used
    bool m_anySocketOpened = false;

    Ipv4AddressEdit *m_editHost = nullptr;
    QLineEdit *m_editHostName = nullptr;
    QLineEdit *m_editPort = nullptr;
    SocketEventRegistry *m_socketEvents;
    TcpSendPath *m_sendPath;
    ReceiveSlice *m_receiveSlice;
    HostLookup *m_hostLookup;
    QTimer *m_connectTimer;
    std::unique_ptr<QSocketNotifier> m_connectNotifier;
};
