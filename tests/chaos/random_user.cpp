#include "random_user.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>

#include <array>

#include "pages/client/client_page.h"
#include "pages/control_ids.h"
#include "pages/log/log_page.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "pages/udp_server/udp_server_page.h"
#include "shell/main_dlg.h"
#include "shell/page_tab_ctrl.h"
#include "support/event_wait.h"
#include "widgets/display_list/line_list_box.h"
#include "widgets/ipv4_address_edit.h"

namespace Chaos {

namespace {

// What the user types into the send boxes. In text mode and in hex mode alike none of them
// gives a byte the good peers use (a-z, 0-9, '-', ':'): uppercase letters, a zero byte,
// bytes from 0x80 up, '?' for what an encoding cannot hold. Some are refused (empty, odd,
// not hex, too long) with their boxes.
const QStringList kSendTexts{
    QString(),
    QStringLiteral("ABCD"),
    QStringLiteral("FACE"),
    QStringLiteral("BEEF CAFE"),
    QStringLiteral("DEAD BEEF"),
    QStringLiteral("FEED"),
    QStringLiteral("ABC"),
    QStringLiteral("QQ"),
    QStringLiteral("HELLO"),
    QStringLiteral("测试"),
    QStringLiteral("AB").repeated(130),
    QStringLiteral("  FA  CE  "),
};
const QStringList kIntervals{QStringLiteral("300"), QStringLiteral("500"), QStringLiteral("800"),
                             QStringLiteral("1000"), QStringLiteral("2000")};
const QStringList kFilters{QString(),
                           QStringLiteral("127"),
                           QStringLiteral("g1"),
                           QStringLiteral("FF"),
                           QStringLiteral("接收"),
                           QStringLiteral("zz"),
                           QString()};

}  // namespace

RandomUser::RandomUser(Context &ctx, Random &random, CMainDlg &dlg, const GoodPeers &goodTcp, const GoodPeers &goodUdp,
                       int windowEveryMs)
    : m_ctx(ctx)
    , m_random(random)
    , m_dlg(dlg)
    , m_tcp(dlg.TcpServerPage())
    , m_udp(dlg.UdpServerPage())
    , m_client(dlg.ClientPage())
    , m_goodTcp(goodTcp)
    , m_goodUdp(goodUdp)
    , m_windowEveryMs(windowEveryMs)
{
    m_tick.setObjectName(QStringLiteral("chaos user"));
    m_tick.setInterval(2);
    QObject::connect(&m_tick, &QTimer::timeout, &m_tick, [this] { Tick(); });
}

bool RandomUser::ListenOnBothPages()
{
    ShowTab(kTcpTab);
    Type(Item<QLineEdit>(m_tcp, kTcpIds.port), QString::number(m_ctx.ports.tcpPage));
    Click(Item<QPushButton>(m_tcp, kTcpIds.listen));
    ShowTab(kUdpTab);
    Type(Item<QLineEdit>(m_udp, kUdpIds.port), QString::number(m_ctx.ports.udpPage));
    Click(Item<QPushButton>(m_udp, kUdpIds.listen));
    Click(Item<QCheckBox>(m_udp, kUdpIds.autoReply));
    Click(Item<QRadioButton>(m_udp, kUdpIds.replyEcho));
    return m_tcp->IsListening() && m_udp->IsListening() && Item<QCheckBox>(m_udp, kUdpIds.autoReply)->isChecked();
}

void RandomUser::Start(Clock::time_point start, Clock::time_point end)
{
    m_end = end;
    m_nextUserAction = start;
    m_nextWindow = start + std::chrono::milliseconds(m_windowEveryMs / 2);
    m_window.step = Window::WaitReconnected;
    m_window.tcp = true;
    m_window.since = start;
    m_tick.start();
}

void RandomUser::Tick()
{
    if (m_inTick || m_stopped)
        return;
    // While a box is open the user answers it first: the window's controls do not take clicks.
    if (QApplication::activeModalWidget())
        return;
    m_inTick = true;
    const auto now = Clock::now();
    StepWindow(now);
    if (now >= m_nextUserAction && !QApplication::activeModalWidget()) {
        m_nextUserAction = now + std::chrono::milliseconds(m_random.Between(10, 80));
        UserAction();
    }
    m_inTick = false;
}

void RandomUser::UserAction()
{
    const int pick = m_random.Below(100);
    if (pick < 32)
        TcpAction();
    else if (pick < 60)
        UdpAction();
    else if (pick < 92)
        ClientAction();
    else if (pick < 97) {
        ShowTab(kLogTab);
        Type(qobject_cast<QLineEdit *>(m_dlg.LogPage()->GetDlgItem(LogPageIds::kFilter)),
             kFilters[m_random.Below(kFilters.size())]);
        Count("log filter");
    } else {
        ShowTab(kWebTab);
    }
}

// What both server pages offer at any time; pick chooses.
void RandomUser::ServerCommonAction(CDialogPage *page, const ServerIds &ids, int pick)
{
    auto button = [&](int id) { return qobject_cast<QAbstractButton *>(page->GetDlgItem(id)); };
    auto edit = [&](int id) { return qobject_cast<QLineEdit *>(page->GetDlgItem(id)); };
    const bool tcp = page == m_tcp;
    switch (pick) {
    case 0:
        Click(button(ids.hexDisplay));
        Count(tcp ? "tcp hex display" : "udp hex display");
        break;
    case 1:
        Click(button(ids.hexSend));
        Count(tcp ? "tcp hex send" : "udp hex send");
        break;
    case 2:
        Type(edit(ids.sendBox), kSendTexts[m_random.Below(kSendTexts.size())]);
        Count(tcp ? "tcp type send box" : "udp type send box");
        break;
    case 3:
        Click(button(ids.send));
        Count(tcp ? "tcp send" : "udp send");
        break;
    case 4:
        if (!button(ids.timedSend)->isChecked())
            Type(edit(ids.interval), kIntervals[m_random.Below(kIntervals.size())]);
        Click(button(ids.timedSend));
        Count(tcp ? "tcp timed sending" : "udp timed sending");
        break;
    case 5:
        Click(button(ids.clearData));
        Count(tcp ? "tcp clear data" : "udp clear data");
        break;
    case 6:
        Click(button(ids.clearCounters));
        Count(tcp ? "tcp clear counters" : "udp clear counters");
        break;
    case 7:
        ChooseItem(qobject_cast<QComboBox *>(page->GetDlgItem(ids.encoding)));
        Count(tcp ? "tcp encoding" : "udp encoding");
        break;
    case 8:
        Type(edit(ids.filter), kFilters[m_random.Below(kFilters.size())]);
        Count(tcp ? "tcp filter" : "udp filter");
        break;
    case 9:
        if (QLineEdit *box = edit(ids.sendBox)) {
            box->setFocus();
            QTest::keyClick(box, Qt::Key_Return);  // Enter presses Send
            Count(tcp ? "tcp enter in send box" : "udp enter in send box");
        }
        break;
    }
}

void RandomUser::TcpAction()
{
    ShowTab(kTcpTab);
    // Weights: the common controls, then selecting a client, disconnecting it, send to all.
    static constexpr std::array<int, 13> kWeights{12, 6, 10, 6, 5, 2, 3, 3, 3, 2, 12, 6, 4};
    int pick = m_random.Below(74);
    int action = 0;
    while (pick >= kWeights[action])
        pick -= kWeights[action++];
    LineListBox *clients = m_tcp->ClientList();
    if (action < 10) {
        ServerCommonAction(m_tcp, kTcpIds, action);
    } else if (action == 10) {
        if (clients->GetCount() > 0) {
            ClickRow(clients, m_random.Below(clients->GetCount()));
            Count("tcp select client");
        }
    } else if (action == 11) {
        // The user never disconnects a good peer: its echoes are checked.
        const int selected = clients->GetCurSel();
        const QByteArray line = clients->GetText(selected);
        const int port = line.mid(line.indexOf(':') + 1).split('-').value(0).toInt();
        if (selected < 0 || m_ctx.ports.GoodPeerOfPort(false, port) < 0) {
            Click(Item<QPushButton>(m_tcp, kTcpIds.peerButton));
            Count("tcp disconnect client");
        }
    } else if (clients->GetCount() <= 64) {
        // One send to every client, "是否群发" ticked for it alone: a refused payload or the
        // clients gone meanwhile bring a box per client (as designed), so the user sends to
        // all of a few dozen, not of the hundreds a churn burst lists, and a tick left on
        // would make every later Send such a series.
        auto *sendAll = Item<QCheckBox>(m_tcp, TcpServerIds::kSendAll);
        if (!sendAll->isChecked())
            Click(sendAll);
        Click(Item<QPushButton>(m_tcp, kTcpIds.send));
        if (sendAll->isChecked())
            Click(sendAll);
        Count("tcp send to all");
    }
}

void RandomUser::UdpAction()
{
    ShowTab(kUdpTab);
    static constexpr std::array<int, 12> kWeights{12, 6, 10, 6, 5, 2, 3, 3, 3, 2, 10, 4};
    int pick = m_random.Below(66);
    int action = 0;
    while (pick >= kWeights[action])
        pick -= kWeights[action++];
    LineListBox *peers = m_udp->PeerList();
    if (action < 10) {
        ServerCommonAction(m_udp, kUdpIds, action);
    } else if (action == 10) {
        if (peers->GetCount() > 0) {
            ClickRow(peers, m_random.Below(peers->GetCount()));
            Count("udp select peer");
        }
    } else {
        Click(Item<QPushButton>(m_udp, kUdpIds.peerButton));
        Count("udp delete peer");
    }
}

void RandomUser::ClientAction()
{
    ShowTab(kClientTab);
    const bool open = m_client->IsConnected();
    const bool connecting = m_client->IsConnecting();
    auto button = [&](int id) { return Item<QAbstractButton>(m_client, id); };
    const int pick = m_random.Below(100);
    if (!open && !connecting && pick < 45) {
        ConnectClient();
        return;
    }
    if ((open && pick < 12) || (connecting && pick < 30)) {
        Click(button(ClientIds::kDisconnect));
        Count("client disconnect");
        return;
    }
    switch (m_random.Below(9)) {
    case 0:
        Click(button(ClientIds::kHexDisplay));
        Count("client hex display");
        break;
    case 1:
        Click(button(ClientIds::kHexSend));
        Count("client hex send");
        break;
    case 2:
        Type(Item<QLineEdit>(m_client, ClientIds::kSendBox), kSendTexts[m_random.Below(kSendTexts.size())]);
        Count("client type send box");
        break;
    case 3:
    case 4:
        Click(button(ClientIds::kSend));
        Count("client send");
        break;
    case 5:
        if (!button(ClientIds::kTimedSend)->isChecked())
            Type(Item<QLineEdit>(m_client, ClientIds::kInterval), kIntervals[m_random.Below(kIntervals.size())]);
        Click(button(ClientIds::kTimedSend));
        Count("client timed sending");
        break;
    case 6:
        Click(button(ClientIds::kClearCounters));
        Count("client clear counters");
        break;
    case 7:
        ChooseItem(Item<QComboBox>(m_client, ClientIds::kEncoding));
        Count("client encoding");
        break;
    case 8:
        Type(Item<QLineEdit>(m_client, ClientIds::kFilter), kFilters[m_random.Below(kFilters.size())]);
        Count("client filter");
        break;
    }
}

// Connects to one of the pages, to a driver's server, or where nobody listens.
void RandomUser::ConnectClient()
{
    struct Target
    {
        int port;
        const char *protocol;
    };
    const PortPlan &ports = m_ctx.ports;
    const Target targets[] = {
        {ports.tcpPage, "TCP"},   {ports.tcpPage, "TCP"},   {ports.udpPage, "UDP"}, {ports.driverTcp, "TCP"},
        {ports.driverTcp, "TCP"}, {ports.driverUdp, "UDP"}, {ports.deadTcp, "TCP"}, {ports.udpPage, "TCP"},
    };
    const Target &target = targets[m_random.Below(static_cast<int>(std::size(targets)))];
    Item<Ipv4AddressEdit>(m_client, ClientIds::kHost)->SetAddressText(QStringLiteral("127.0.0.1"));
    Type(Item<QLineEdit>(m_client, ClientIds::kPort), QString::number(target.port));
    Item<QComboBox>(m_client, ClientIds::kProtocol)->setCurrentText(QString::fromLatin1(target.protocol));
    Click(Item<QAbstractButton>(m_client, ClientIds::kConnect));
    ++m_clientConnects;
    Count("client connect");
}

void RandomUser::FinalSteps()
{
    auto noBox = [] { return WaitUntil([] { return !QApplication::activeModalWidget(); }, 10000); };
    auto untick = [&](QAbstractButton *box) {
        noBox();
        if (box && box->isChecked())
            Click(box);
    };
    ShowTab(kTcpTab);
    untick(Item<QCheckBox>(m_tcp, kTcpIds.timedSend));
    noBox();
    Click(Item<QPushButton>(m_tcp, kTcpIds.stop));
    ShowTab(kUdpTab);
    untick(Item<QCheckBox>(m_udp, kUdpIds.timedSend));
    noBox();
    Click(Item<QPushButton>(m_udp, kUdpIds.stop));
    ShowTab(kClientTab);
    untick(Item<QCheckBox>(m_client, ClientIds::kTimedSend));
    noBox();
    Click(Item<QPushButton>(m_client, ClientIds::kDisconnect));
    noBox();
    RunEventsFor(300);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

void RandomUser::ShowTab(int tab)
{
    CPageTabCtrl *tabs = m_dlg.TabPages();
    if (tabs->CurrentPage() == tab)
        return;
    QTabBar *bar = tabs->TabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(tab).center());
    Count("switch tab");
}

void RandomUser::Click(QAbstractButton *button)
{
    if (button)
        QTest::mouseClick(button, Qt::LeftButton);
}

void RandomUser::Type(QLineEdit *edit, const QString &text)
{
    if (!edit || !edit->isEnabled())
        return;
    edit->setFocus();
    edit->selectAll();
    if (text.isEmpty()) {
        QTest::keyClick(edit, Qt::Key_Backspace);
        return;
    }
    // Keys for ASCII; what is not on the keyboard comes as an input method's commit.
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80) {
            QTest::keyClick(edit, ch.toLatin1());
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(QString(ch));
            QApplication::sendEvent(edit, &commit);
        }
    }
}

void RandomUser::ClickRow(LineListBox *list, int row)
{
    const QModelIndex index = list->model()->index(row, 0);
    if (!index.isValid())
        return;
    list->scrollTo(index);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
}

void RandomUser::ChooseItem(QComboBox *combo)
{
    if (combo && combo->isEnabled() && combo->count() > 0)
        combo->setCurrentIndex(m_random.Below(combo->count()));
}

}  // namespace Chaos
