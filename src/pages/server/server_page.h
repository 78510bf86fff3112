#pragma once

#include <QString>

#include "pages/server/server_page_layout.h"
#include "pages/traffic_area/traffic_page.h"
#include "traffic/payload.h"

class LineListBox;
class QCheckBox;
class ReceiveSlice;
class SocketEventRegistry;

// What the TCP and the UDP server page have in common: their controls (each page with its
// own ids and words), the traffic area, the steps of Listen and Stop, and the handlers that
// work the same on both. The pages add their sockets, their peer list's meaning and their
// own steps.
class CServerPage : public CTrafficPage
{
    Q_OBJECT

public:
    ~CServerPage() override;

    void OnListen();
    void OnStop();
    virtual void OnSocketEvent(int socket, int event) = 0;
    void OnIpInfo();
    // IPv6/全部: the host box lists the IPv6 addresses and all interfaces too, or not.
    void OnIpv6AndAllToggled(bool on);
    void OnAutoReply();
    void OnClearData();

    virtual bool IsListening() const = 0;

    // With the host, the port and IPv6/全部.
    QJsonObject SaveState(bool withHistory) const override;
    void RestoreState(const QJsonObject &state) override;

signals:
    // The page's "IP信息" button: the window shows the IP information dialog.
    void IpInfoRequested();

protected:
    struct Setup
    {
        ServerPageIds ids;
        QString caption;  // of the page's own boxes
        QString logFileName;
        int *logFlag;
        int repeatTimerId;
    };

    CServerPage(unsigned templateId, const Setup &setup, QWidget *parent);

    // Builds the controls, the traffic area over them and their handlers; the button beside
    // the peer list runs OnPeerButton. Run by the page's OnInitDialog.
    void CreateServerControls();

    // Listen's own steps of a page: whether the fields let it go on (the page refuses in its
    // own way), what the bound socket needs to serve, and what starts once the start line
    // is written. Stop's: everything the page serves ends, its sockets closed.
    virtual bool AcceptsListenFields(const QString &host, int port) = 0;
    virtual bool IsStreamServer() const = 0;
    virtual void StartServing(int socket) = 0;
    virtual void OnListening() {}
    virtual void StopServing() = 0;
    virtual void OnPeerButton() = 0;

    LineListBox *Peers() const { return m_peers; }
    QLineEdit *PortBox() const { return m_controls.port; }
    SocketEventRegistry *SocketEvents() const { return m_socketEvents; }
    ReceiveSlice *Slice() const { return m_receiveSlice; }
    // The radio buttons read into m_replyMode, as at every received block.
    ReplyMode ReadReplyMode();

    ReplyMode m_replyMode = ReplyMode::None;

private:
    QString ListenText(const char *what, const QString &host, int port) const;
    // The host box's list for the check box, keeping the chosen address where it is still there.
    void RefillHostBox();
    void ShowWholeHost();
    void SetListenControlsEnabled(bool enabled);

    Setup m_setup;
    ServerPageControls m_controls{};
    QCheckBox *m_ipv6AndAll = nullptr;
    LineListBox *m_peers = nullptr;
    SocketEventRegistry *m_socketEvents;
    ReceiveSlice *m_receiveSlice;
};
