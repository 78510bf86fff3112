#pragma once

#include <QByteArray>

#include <array>
#include <memory>

#include "common/traffic_log.h"
#include "ui/dialog_page.h"

class AcceptWorker;
class CExtentListBox;
class LineListBox;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class ReceiveSlice;
class SocketEventRegistry;
class TcpSendPath;
class TrafficCounters;
class WindowTimers;
struct ClientSession;

// The TCP server page: listens on a local address, lists the accepted clients, shows what
// they send, sends to one or all of them, on a timer too, and can answer every block.
class CTcpServerPage : public CDialogPage
{
    Q_OBJECT

public:
    static constexpr unsigned kTemplateId = 133;
    static constexpr int kRepeatTimerId = 2;

    explicit CTcpServerPage(QWidget *parent = nullptr);
    ~CTcpServerPage() override;

    void OnInitDialog() override;

    void OnListen();
    void OnStop();
    void OnIpInfo();
    void OnDisconnect();
    void OnSocketEvent(int socket, int event);
    void OnSend();
    void OnTimer(int id);
    void OnTimedSend();
    void OnAutoReply();
    void OnClearCounters();
    void OnClearData();

    bool IsListening() const { return m_listenSocket >= 0; }
    qint64 RxCount() const;
    qint64 TxCount() const;
    CExtentListBox *DataList() const { return m_listData; }
    LineListBox *ClientList() const { return m_listClients; }
    bool IsTimedSending() const;

private:
    enum class SendResult { Sent, NextClient, EndSend };

    void CreateControls();
    void OnAcceptedClients();
    void OnAccepted(int socket, const QByteArray &peerText, int id);
    void OnAcceptPaused(bool paused);
    void EndAcceptWorker();
    // The automatic-reply controls follow the session list.
    void RefreshClientList();
    // The client list changes in place, a line per accept and per removal, in accept order.
    int RowOfClient(int id) const;
    void RemoveSession(int socket);
    void CloseSessionSocket(int socket);
    void OnSendDrained(int socket);
    void ReceiveBlocks(int socket);
    bool ReceiveBlock(int socket);
    bool ReplyWithData(int socket);
    void ReplyTransparent(int socket, QByteArrayView block);
    SendResult SendToSession(int id, QByteArray prepared, bool sendToAll);
    void StopTimedSending();
    QByteArray PeerTextOf(int socket) const;
    QByteArray SendBoxText() const;
    void LogSent(const QByteArray &loggedText);
    // Queues the bytes on the connection; TX counts them as they go out, without the zero
    // byte that ends a text send.
    bool SendBytes(int socket, QByteArrayView bytes, int uncountedTail = 0);

    CExtentListBox *m_listData = nullptr;
    LineListBox *m_listClients = nullptr;
    QPushButton *m_btnListen = nullptr;
    QLineEdit *m_editPort = nullptr;
    QComboBox *m_comboHost = nullptr;
    int m_replyMode = -1;
    TrafficLog m_log;
    QCheckBox *m_pAutoReply = nullptr;
    QRadioButton *m_pReplyData = nullptr;
    QRadioButton *m_pReplyEcho = nullptr;
    std::array<char, 512> m_recvBuffer{};
    std::unique_ptr<AcceptWorker> m_pAcceptThread;
    int m_listenSocket = -1;

    QLineEdit *m_editSend = nullptr;
    QCheckBox *m_checkTimedSend = nullptr;
    QLineEdit *m_editInterval = nullptr;
    QCheckBox *m_checkHexSend = nullptr;
    QCheckBox *m_checkSendAll = nullptr;
    QCheckBox *m_checkHexDisplay = nullptr;
    QLineEdit *m_editTx = nullptr;
    QLineEdit *m_editRx = nullptr;

    SocketEventRegistry *m_socketEvents;
    TcpSendPath *m_sendPath;
    ReceiveSlice *m_receiveSlice;
    TrafficCounters *m_counters = nullptr;
    WindowTimers *m_timers;
    // A failing data reply shows its box once while that box is open, not once per block.
    bool m_replyBoxOpen = false;
};
