// The windows for Stop/Listen and the automatic reply. The good peers stay meaningful: the
// toggles that leave echoes alone (hex display, hex send, encoding, filter, timed sending,
// Send, clearing, disconnecting a bad client) come at any time; Stop, Listen and the reply
// toggles only in a window, announced to the page's good peers, which finish their block and
// stand still (TCP ones disconnect). After the user's steps the page listens and echoes
// again, the TCP good peers reconnect, and only then do the good peers go on.
#include <QAbstractButton>
#include <QCheckBox>
#include <QRadioButton>
#include <QSet>

#include <algorithm>

#include "pages/server/server_page.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "pages/udp_server/udp_server_page.h"
#include "random_user.h"
#include "widgets/display_list/line_list_box.h"

namespace Chaos {

using namespace std::chrono_literals;

namespace {

// How long the user waits for the good peers in each step of a window.
std::chrono::seconds WaitLimit(const Context &ctx)
{
    return std::chrono::seconds(30 * ctx.slowdown);
}

}  // namespace

void RandomUser::StepWindow(Clock::time_point now)
{
    switch (m_window.step) {
    case Window::Idle:
        if (now >= m_nextWindow && now < m_end) {
            StartWindow(m_nextWindowTcp, now);
            m_nextWindowTcp = !m_nextWindowTcp;
        }
        return;
    case Window::WaitPaused:
        WaitForPause(now);
        return;
    case Window::Acting:
        ActInWindow(now);
        return;
    case Window::Restore:
        RestoreListening(now);
        return;
    case Window::WaitReconnected:
        FinishWindow(now);
        return;
    }
}

void RandomUser::StartWindow(bool tcp, Clock::time_point now)
{
    m_window = Window{};
    m_window.tcp = tcp;
    m_window.step = Window::WaitPaused;
    m_window.since = now;
    ++m_windows;
    (tcp ? m_ctx.tcpPhase : m_ctx.udpPhase) = static_cast<int>(Phase::Pausing);
}

void RandomUser::WaitForPause(Clock::time_point now)
{
    const GoodPeers &peers = m_window.tcp ? m_goodTcp : m_goodUdp;
    const bool paused = std::all_of(peers.begin(), peers.end(), [](const auto &peer) {
        return peer->failed || peer->State() == PeerState::Paused || peer->State() == PeerState::Finished;
    });
    if (!paused && now - m_window.since < WaitLimit(m_ctx))
        return;
    if (!paused)
        m_ctx.Finding(QStringLiteral("the %1 good peers did not pause within %2 s")
                          .arg(m_window.tcp ? "TCP" : "UDP")
                          .arg(30 * m_ctx.slowdown));
    m_window.step = Window::Acting;
    m_window.actionsLeft = m_random.Between(2, 6);
    m_window.nextAction = now;
}

void RandomUser::ActInWindow(Clock::time_point now)
{
    if (now < m_window.nextAction)
        return;
    WindowAction(m_window.tcp);
    m_window.nextAction = now + std::chrono::milliseconds(m_random.Between(20, 300));
    if (--m_window.actionsLeft <= 0) {
        m_window.step = Window::Restore;
        m_window.since = now;
    }
}

// The page listens again (Listen clicked every 200 ms, at most 25 times); then the TCP good
// peers reconnect, while the UDP ones go on at once.
void RandomUser::RestoreListening(Clock::time_point now)
{
    const bool listening = m_window.tcp ? m_tcp->IsListening() : m_udp->IsListening();
    if (!listening) {
        if (now < m_window.nextAction)
            return;
        if (++m_window.listenTries > 25) {
            m_ctx.Finding(QStringLiteral("the %1 page did not listen again after 25 clicks on Listen")
                              .arg(m_window.tcp ? "TCP" : "UDP"));
            m_stopped = true;
            return;
        }
        CServerPage *page = m_window.tcp ? static_cast<CServerPage *>(m_tcp) : m_udp;
        ShowTab(m_window.tcp ? kTcpTab : kUdpTab);
        Click(Item<QAbstractButton>(page, (m_window.tcp ? kTcpIds : kUdpIds).listen));
        Count("listen (restore)");
        m_window.nextAction = now + 200ms;
        return;
    }
    if (!m_window.tcp) {
        FinishWindow(now);
        return;
    }
    m_ctx.tcpPhase = static_cast<int>(Phase::Reconnect);
    m_window.step = Window::WaitReconnected;
    m_window.since = now;
}

// The echo switched on again, once the TCP good peers are back; then the good peers go on.
void RandomUser::FinishWindow(Clock::time_point now)
{
    if (m_window.tcp && !ReconnectedToTcpPage() && now - m_window.since < WaitLimit(m_ctx))
        return;
    if (m_window.tcp && !ReconnectedToTcpPage())
        m_ctx.Finding(
            QStringLiteral("the TCP good peers were not all back on the page within %1 s").arg(30 * m_ctx.slowdown));
    CServerPage *page = m_window.tcp ? static_cast<CServerPage *>(m_tcp) : m_udp;
    const ServerIds &ids = m_window.tcp ? kTcpIds : kUdpIds;
    auto *autoReply = Item<QCheckBox>(page, ids.autoReply);
    auto *echo = Item<QRadioButton>(page, ids.replyEcho);
    ShowTab(m_window.tcp ? kTcpTab : kUdpTab);
    if (!autoReply->isChecked())
        Click(autoReply);
    if (!echo->isChecked())
        Click(echo);
    if ((!autoReply->isChecked() || !echo->isChecked()) && now - m_window.since < WaitLimit(m_ctx))
        return;  // not enabled yet: the next tick tries again
    if (!autoReply->isChecked() || !echo->isChecked())
        m_ctx.Finding(
            QStringLiteral("the %1 page's echo could not be switched on again").arg(m_window.tcp ? "TCP" : "UDP"));
    (m_window.tcp ? m_ctx.tcpPhase : m_ctx.udpPhase) = static_cast<int>(Phase::Running);
    m_window.step = Window::Idle;
    m_nextWindow = now + std::chrono::milliseconds(m_windowEveryMs / 2);
}

void RandomUser::WindowAction(bool tcp)
{
    CServerPage *page = tcp ? static_cast<CServerPage *>(m_tcp) : m_udp;
    const ServerIds &ids = tcp ? kTcpIds : kUdpIds;
    ShowTab(tcp ? kTcpTab : kUdpTab);
    auto item = [&](int id) { return Item<QAbstractButton>(page, id); };
    switch (m_random.Below(7)) {
    case 0:
    case 1:
        Click(item(ids.stop));
        Count(tcp ? "tcp stop" : "udp stop");
        break;
    case 2:
        Click(item(ids.listen));
        Count(tcp ? "tcp listen" : "udp listen");
        break;
    case 3:
    case 4:
        Click(item(ids.autoReply));
        Count(tcp ? "tcp auto reply" : "udp auto reply");
        break;
    case 5:
        Click(item(ids.replyData));
        Count(tcp ? "tcp data reply" : "udp data reply");
        break;
    case 6:
        Click(item(ids.replyEcho));
        Count(tcp ? "tcp echo reply" : "udp echo reply");
        break;
    }
}

bool RandomUser::ReconnectedToTcpPage() const
{
    QSet<int> listed;
    LineListBox *clients = m_tcp->ClientList();
    for (int row = 0; row < clients->GetCount(); ++row) {
        const QByteArray line = clients->GetText(row);
        const qsizetype colon = line.indexOf(':');
        const qsizetype hyphen = line.indexOf('-');
        if (colon >= 0 && hyphen > colon)
            listed.insert(line.mid(colon + 1, hyphen - colon - 1).toInt());
    }
    for (const auto &peer : m_goodTcp) {
        if (peer->failed || peer->State() == PeerState::Finished)
            continue;
        if (peer->State() != PeerState::Connected || !listed.contains(peer->port))
            return false;
    }
    return true;
}

}  // namespace Chaos
