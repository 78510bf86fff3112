#pragma once

#include <memory>

#include "common/server_page_layout.h"
#include "common/traffic_log.h"
#include "ui/dialog_page.h"

class ReceiveSlice;
class SendBox;
class SingleBox;
class SocketEventRegistry;
class TimedSending;
class TrafficCounters;
class TrafficRecorder;

// What the TCP and the UDP server page have in common: their controls (each page with its
// own ids and words), the send box, timed sending, the counters, the display list with its
// traffic log, and the handlers that work the same on both. The pages add their sockets,
// their peer list's meaning and their own steps.
class CServerPage : public CDialogPage
{
    Q_OBJECT

public:
    ~CServerPage() override;

    virtual void OnListen() = 0;
    virtual void OnStop() = 0;
    virtual void OnSend() = 0;
    virtual void OnSocketEvent(int socket, int event) = 0;
    void OnIpInfo();
    void OnTimedSend();
    void OnAutoReply();
    void OnClearCounters();
    void OnClearData();

    qint64 RxCount() const;
    qint64 TxCount() const;
    CExtentListBox *DataList() const { return m_listData; }
    bool IsTimedSending() const;

protected:
    CServerPage(unsigned templateId, const ServerPageIds &ids, const QString &caption, int &trafficLogFlag,
                int repeatTimerId, QWidget *parent);

    // Builds the controls, the shared pieces over them and their handlers; the button beside
    // the peer list runs OnPeerButton. Returns the controls for the page's own use.
    ServerPageControls CreateServerControls();
    virtual void OnPeerButton() = 0;
    // The radio buttons read into m_replyMode, as at every received block.
    int ReadReplyMode();

    CExtentListBox *m_listData = nullptr;
    QComboBox *m_comboHost = nullptr;
    QPushButton *m_btnListen = nullptr;
    QLineEdit *m_editPort = nullptr;
    int m_replyMode = -1;
    TrafficLog m_log;
    QCheckBox *m_pAutoReply = nullptr;
    QRadioButton *m_pReplyData = nullptr;
    QRadioButton *m_pReplyEcho = nullptr;
    QCheckBox *m_checkHexSend = nullptr;

    SocketEventRegistry *m_socketEvents;
    ReceiveSlice *m_receiveSlice;
    std::unique_ptr<SendBox> m_sendBox;
    TimedSending *m_timedSending = nullptr;
    TrafficCounters *m_counters = nullptr;
    std::unique_ptr<TrafficRecorder> m_recorder;
    // A failing data reply shows its box once while that box is open, not once per block.
    std::unique_ptr<SingleBox> m_replyFailureBox;

private:
    ServerPageIds m_ids;
    int m_repeatTimerId;
};
