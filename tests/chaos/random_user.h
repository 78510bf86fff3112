#pragma once

// The user of a chaos run, on the GUI thread: clicks and types at random on the three traffic
// pages, the log page's filter and the tabs, as a user does (mouse and keys), and now and then
// opens a window on one server page for Stop/Listen and the automatic reply.

#include <QString>
#include <QTimer>

#include <map>

#include "chaos_context.h"
#include "display_watch.h"
#include "pages/control_ids.h"
#include "pages/dialog_page.h"

class CClientPage;
class CMainDlg;
class CTcpServerPage;
class CUdpServerPage;
class LineListBox;
class QAbstractButton;
class QComboBox;
class QLineEdit;

namespace Chaos {

// The controls both server pages have, by one page's ids (control_ids.h).
struct ServerIds
{
    int listen, stop, port, peers, peerButton, sendBox, send, timedSend, interval, hexSend, autoReply, replyData,
        replyEcho, clearCounters, hexDisplay, clearData, encoding, filter;

    template <typename Ids>
    static constexpr ServerIds Of()
    {
        return {Ids::kListen,    Ids::kStop,      Ids::kPort,      Ids::kPeers,         Ids::kPeerButton,
                Ids::kSendBox,   Ids::kSend,      Ids::kTimedSend, Ids::kInterval,      Ids::kHexSend,
                Ids::kAutoReply, Ids::kReplyData, Ids::kReplyEcho, Ids::kClearCounters, Ids::kHexDisplay,
                Ids::kClearData, Ids::kEncoding,  Ids::kFilter};
    }
};

inline constexpr ServerIds kTcpIds = ServerIds::Of<TcpServerIds::Id>();
inline constexpr ServerIds kUdpIds = ServerIds::Of<UdpServerIds::Id>();

class RandomUser
{
public:
    RandomUser(Context &ctx, Random &random, CMainDlg &dlg, const GoodPeers &goodTcp, const GoodPeers &goodUdp,
               int windowEveryMs);

    // Both servers listen at the run's ports, the UDP one echoing at once; the TCP one echoes
    // once the good peers are there (its automatic reply needs a client). False when they
    // do not.
    bool ListenOnBothPages();
    // Acts from start on, every 10 to 80 ms, with a window every windowEveryMs / 2 after the
    // last until end. The start is the end of a TCP window: the good peers connect, then the
    // page echoes.
    void Start(Clock::time_point start, Clock::time_point end);
    void StopActing() { m_stopped = true; }
    // Before the window goes: the user does nothing more.
    void StopTicking() { m_tick.stop(); }
    // Timed sending off, both servers stopped, the client disconnected; each after the boxes
    // of the one before are answered.
    void FinalSteps();

    const char *LastAction() const { return m_lastAction; }
    const std::map<QString, long> &Actions() const { return m_actions; }
    long Windows() const { return m_windows; }
    long ClientConnects() const { return m_clientConnects; }

private:
    enum Tab { kTcpTab, kUdpTab, kClientTab, kWebTab, kLogTab };

    struct Window
    {
        enum Step { Idle, WaitPaused, Acting, Restore, WaitReconnected } step = Idle;
        bool tcp = true;
        Clock::time_point since;
        Clock::time_point nextAction;
        int actionsLeft = 0;
        int listenTries = 0;
    };

    void Tick();
    void UserAction();
    void TcpAction();
    void UdpAction();
    void ClientAction();
    void ConnectClient();
    // What both server pages offer at any time; pick chooses.
    void ServerCommonAction(CDialogPage *page, const ServerIds &ids, int pick);

    // The windows (server_windows.cpp).
    void StepWindow(Clock::time_point now);
    void StartWindow(bool tcp, Clock::time_point now);
    void WaitForPause(Clock::time_point now);
    void ActInWindow(Clock::time_point now);
    void RestoreListening(Clock::time_point now);
    void FinishWindow(Clock::time_point now);
    void WindowAction(bool tcp);
    bool ReconnectedToTcpPage() const;

    // Controls, used as a user does.
    void ShowTab(int tab);
    void Click(QAbstractButton *button);
    void Type(QLineEdit *edit, const QString &text);
    void ClickRow(LineListBox *list, int row);
    void ChooseItem(QComboBox *combo);
    template <typename Control>
    static Control *Item(CDialogPage *page, int id)
    {
        return qobject_cast<Control *>(page->GetDlgItem(id));
    }
    void Count(const char *action)
    {
        ++m_actions[action];
        m_lastAction = action;
    }

    Context &m_ctx;
    Random &m_random;
    CMainDlg &m_dlg;
    CTcpServerPage *m_tcp;
    CUdpServerPage *m_udp;
    CClientPage *m_client;
    const GoodPeers &m_goodTcp;
    const GoodPeers &m_goodUdp;
    int m_windowEveryMs;

    QTimer m_tick;
    bool m_inTick = false;
    bool m_stopped = false;
    Clock::time_point m_end;
    Clock::time_point m_nextUserAction;
    Clock::time_point m_nextWindow;
    Window m_window;
    bool m_nextWindowTcp = false;

    std::map<QString, long> m_actions;
    const char *m_lastAction = "none";
    long m_windows = 0;
    long m_clientConnects = 0;
};

}  // namespace Chaos
