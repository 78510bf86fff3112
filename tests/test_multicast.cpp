// Multicast on the UDP server page and broadcast on the client page, driven like a user in a
// network namespace of their own (netns/run_in_netns.sh): lo with multicast and the veth pair
// vvane0 (10.99.0.1, fd00:99::1, the page's side) - vvane1 (10.99.0.2, fd00:99::2, the
// peers' side). Nothing here leaves that namespace.
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "pages/client/client_page.h"
#include "pages/control_ids.h"
#include "pages/udp_server/udp_server_page.h"
#include "platform/socket_address.h"
#include "support/ip_peer.h"
#include "support/page_fixture.h"
#include "text/gbk.h"
#include "traffic/clock_text.h"
#include "widgets/display_list/line_list_box.h"
#include "widgets/ipv4_address_edit.h"

namespace {

const QString kEvery = QStringLiteral("全部网卡");

bool InNamespace()
{
    return qgetenv("VELVANE_NETNS") == "1";
}

// Runs the namespace's ip or its script; both only ever touch the namespace's own links.
bool Run(const QString &program, const QStringList &arguments)
{
    return QProcess::execute(program, arguments) == 0;
}

void SetLink(const char *name, bool up)
{
    QVERIFY(Run(QStringLiteral("ip"), {"link", "set", name, up ? "up" : "down"}));
}

void RemakeVethPair()
{
    QVERIFY(Run(QStringLiteral("ip"), {"link", "del", "vvane0"}));
    QVERIFY(Run(QStringLiteral("sh"), {qEnvironmentVariable("VELVANE_NETNS_SCRIPT"), "--veth"}));
}

// A socket on the peers' side: sends to a group out of vvane1 (no copy of its own looped
// back), to the page, and takes what comes back.
class GroupPeer : public IpPeer
{
public:
    explicit GroupPeer(int family)
        : IpPeer(SOCK_DGRAM, At(family == AF_INET ? QStringLiteral("10.99.0.2") : QStringLiteral("fd00:99::2")))
    {
        const int index = static_cast<int>(::if_nametoindex("vvane1"));
        const int off = 0;
        if (family == AF_INET) {
            ip_mreqn out{};
            out.imr_ifindex = index;
            ::setsockopt(Fd(), IPPROTO_IP, IP_MULTICAST_IF, &out, sizeof out);
            ::setsockopt(Fd(), IPPROTO_IP, IP_MULTICAST_LOOP, &off, sizeof off);
        } else {
            ::setsockopt(Fd(), IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index);
            ::setsockopt(Fd(), IPPROTO_IPV6, IPV6_MULTICAST_LOOP, &off, sizeof off);
        }
    }

    void SendTo(const QString &host, quint16 port, QByteArrayView bytes) { IpPeer::SendTo(At(host, port), bytes); }
};

HostEntry *NamespaceHost()
{
    static HostEntry host{
        QStringLiteral("localhost"),
        {QStringLiteral("127.0.0.1"), QStringLiteral("10.99.0.1"), QStringLiteral("0.0.0.0"), QStringLiteral("::")},
        {}};
    return &host;
}

class ServerFixture : public PageFixtureBase<CUdpServerPage>
{
public:
    ServerFixture()
        : PageFixtureBase(NamespaceHost())
    {
        g_strDateTime = "2024-5-6 7:8:9";
    }

    void Listen(const QString &host)
    {
        Item<QComboBox>(UdpServerIds::kHost)->setCurrentText(host);
        port = FreePort(true);
        Item<QLineEdit>(UdpServerIds::kPort)->setText(QString::number(port));
        boxes.Queue(QMessageBox::No);
        Click(UdpServerIds::kListen);
        QVERIFY(page->IsListening());
    }
    QWidget *Window()
    {
        if (!page->findChild<QWidget *>("multicastWindow"))
            QTest::mouseClick(page->findChild<QPushButton *>("multicast"), Qt::LeftButton);
        return page->findChild<QWidget *>("multicastWindow");
    }
    template <typename Control>
    Control *InWindow(const char *name)
    {
        return Window()->findChild<Control *>(name);
    }
    void Press(const char *button) { QTest::mouseClick(InWindow<QPushButton>(button), Qt::LeftButton); }
    void Join(const QString &group, const QString &interfaceChoice = kEvery)
    {
        InWindow<QLineEdit>("group")->setText(group);
        InWindow<QComboBox>("interface")->setCurrentText(interfaceChoice);
        Press("join");
    }
    void SelectGroup(int row) { InWindow<QListWidget>("groups")->setCurrentRow(row); }
    QString GroupRow(int row) { return InWindow<QListWidget>("groups")->item(row)->text(); }
    QString LastBox() const { return boxes.Texts().value(boxes.Count() - 1); }
    bool Logged(const QString &line) const
    {
        const bool found = WaitUntil([&] {
            for (int row = 0; row < log.GetCount(); ++row)
                if (FromGbk(log.GetText(row)) == "2024-5-6 7:8:9 UDP" + line + "\r\n")
                    return true;
            return false;
        });
        for (int row = 0; !found && row < log.GetCount(); ++row)
            qInfo().noquote() << "log:" << FromGbk(log.GetText(row)).trimmed();
        return found;
    }
    // Sends from the peer to the group and waits until the page has counted rx bytes in all.
    bool Deliver(GroupPeer &peer, const QString &group, QByteArrayView bytes, qint64 rx)
    {
        peer.SendTo(group, port, bytes);
        return WaitUntil([&] { return page->RxCount() >= rx; }) && page->RxCount() == rx;
    }

    quint16 port = 0;
};

}  // namespace

class TestMulticast : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void joinReceiveLeaveAndTwoGroups();
    void ipv6GroupOnADualStackSocket();
    void rejoinAfterTheLinkComesBack();
    void hopLimitOfSendsToAGroup();
    void broadcastOnlyWhileTicked();
    void rememberedGroupsJoinAtTheNextListen();
};

void TestMulticast::initTestCase()
{
    if (InNamespace())
        return;
    if (qgetenv("CI") == "true")
        QFAIL("CI=true: run this program through tests/netns/run_in_netns.sh");
    QSKIP("needs the network namespace that tests/netns/run_in_netns.sh makes");
}

void TestMulticast::joinReceiveLeaveAndTwoGroups()
{
    ServerFixture f;
    QVERIFY(f.InWindow<QLabel>("multicastState")->text().startsWith("只有在0.0.0.0、::或组播地址上侦听时"));
    f.Join("239.1.2.3");
    QCOMPARE(f.LastBox(), QString("请先在0.0.0.0、::或组播地址上侦听!"));
    f.Listen("127.0.0.1");  // a unicast socket never gets a group's datagrams
    f.Join("239.1.2.3");
    QCOMPARE(f.boxes.Count(), 3);  // the recording question between
    QCOMPARE(f.LastBox(), QString("请先在0.0.0.0、::或组播地址上侦听!"));
    f.Click(UdpServerIds::kStop);

    f.Listen("0.0.0.0");
    QVERIFY(f.InWindow<QLabel>("multicastState")->text().startsWith("正在所有网卡或组播地址上侦听"));
    f.Join("10.99.0.1");
    QCOMPARE(f.LastBox(), QString("请输入有效的组播地址(224.0.0.0~239.255.255.255或ff00::/8)!"));
    f.Join("ff15::99");
    QCOMPARE(f.LastBox(), QString("IPv4侦听地址不能加入IPv6组播组!"));
    const int boxes = f.boxes.Count();
    f.Join("239.1.2.3");
    QCOMPARE(f.boxes.Count(), boxes);
    QVERIFY(f.GroupRow(0).startsWith("239.1.2.3  全部网卡: "));
    QVERIFY(f.GroupRow(0).contains("vvane0"));
    QVERIFY(f.Logged("加入组播组239.1.2.3(网卡vvane0)"));
    f.Join(" 239.1.2.3 ");
    QCOMPARE(f.LastBox(), QString("该组播组已在列表中!"));

    GroupPeer peer(AF_INET);
    QVERIFY(f.Deliver(peer, "239.1.2.3", "a", 1));
    QCOMPARE(f.page->PeerList()->GetText(0), peer.Name());
    f.Join("239.1.2.4");
    QVERIFY(f.Deliver(peer, "239.1.2.4", "bb", 3));
    QVERIFY(f.Deliver(peer, "239.1.2.3", "c", 4));

    // An echo of a group's datagram leaves from a unicast address of the page's (in this
    // namespace the system picks the one beside the peer's).
    f.Click(UdpServerIds::kAutoReply);
    f.Click(UdpServerIds::kReplyEcho);
    peer.SendTo("239.1.2.3", f.port, "echo");
    const auto reply = peer.Receive();
    QVERIFY(reply);
    QCOMPARE(reply->bytes, QByteArray("echo"));
    QVERIFY(QStringList({"10.99.0.1", "10.99.0.2"}).contains(AddressText(reply->from.Unmapped())));
    f.Click(UdpServerIds::kAutoReply);

    f.SelectGroup(0);
    f.Press("leave");
    QVERIFY(f.Logged("退出组播组239.1.2.3(网卡vvane0)"));
    QCOMPARE(f.InWindow<QListWidget>("groups")->count(), 1);
    const qint64 rx = f.page->RxCount();
    peer.SendTo("239.1.2.3", f.port, "gone");  // would come before the next one
    QVERIFY(f.Deliver(peer, "239.1.2.4", "dd", rx + 2));

    // Stop ends the memberships, the list stays and the next Listen joins it again.
    f.Click(UdpServerIds::kStop);
    QVERIFY(f.GroupRow(0).endsWith(": 未加入"));
    f.Listen("0.0.0.0");
    QVERIFY(f.GroupRow(0).contains("vvane0"));
    GroupPeer again(AF_INET);
    QVERIFY(f.Deliver(again, "239.1.2.4", "e", f.page->RxCount() + 1));
}

void TestMulticast::ipv6GroupOnADualStackSocket()
{
    ServerFixture f;
    f.Listen("::");
    f.Join("ff15::99");
    f.Join("239.1.2.5");  // IPv4 options on the dual-stack socket
    QCOMPARE(f.InWindow<QListWidget>("groups")->count(), 2);
    QVERIFY(f.Logged("加入组播组ff15::99(网卡vvane0)"));

    GroupPeer six(AF_INET6);
    QVERIFY(f.Deliver(six, "ff15::99", "six", 3));
    QCOMPARE(f.page->PeerList()->GetText(0), six.Name());
    QVERIFY(six.Name().startsWith("[fd00:99::2]:"));
    GroupPeer four(AF_INET);
    QVERIFY(f.Deliver(four, "239.1.2.5", "four", 7));
    QCOMPARE(f.page->PeerList()->GetText(1), four.Name());  // plain IPv4

    f.Click(UdpServerIds::kAutoReply);
    f.Click(UdpServerIds::kReplyEcho);
    six.SendTo("ff15::99", f.port, "back");
    const auto reply = six.Receive();
    QVERIFY(reply);
    QCOMPARE(reply->bytes, QByteArray("back"));
    QVERIFY(!IN6_IS_ADDR_MULTICAST(&reinterpret_cast<const sockaddr_in6 *>(reply->from.Data())->sin6_addr));
}

void TestMulticast::rejoinAfterTheLinkComesBack()
{
    ServerFixture f;
    f.Listen("::");
    f.Join("239.1.2.7", "10.99.0.1");  // that address's link only
    f.Join("ff15::98");                // every link
    QCOMPARE(f.GroupRow(0), QString("239.1.2.7  10.99.0.1: vvane0"));

    SetLink("vvane0", false);
    QVERIFY(f.Logged("网卡vvane0断开, 组播组239.1.2.7待其恢复后重新加入"));
    QVERIFY(f.GroupRow(0).endsWith(": 未加入"));
    SetLink("vvane0", true);
    QVERIFY(f.Logged("重新加入组播组239.1.2.7(网卡vvane0)"));
    QVERIFY(f.Logged("重新加入组播组ff15::98(网卡vvane0)"));
    GroupPeer four(AF_INET);
    QVERIFY(f.Deliver(four, "239.1.2.7", "up", 2));

    // A link made anew has a new index: without a join there, its datagrams stop at the link.
    f.log.ResetContent();
    RemakeVethPair();
    QVERIFY(f.Logged("重新加入组播组239.1.2.7(网卡vvane0)"));
    QVERIFY(f.Logged("重新加入组播组ff15::98(网卡vvane0)"));
    GroupPeer fourAgain(AF_INET);
    QVERIFY(f.Deliver(fourAgain, "239.1.2.7", "new", 5));
    GroupPeer six(AF_INET6);
    QVERIFY(f.Deliver(six, "ff15::98", "six", 8));
}

void TestMulticast::hopLimitOfSendsToAGroup()
{
    ServerFixture f;
    f.Listen("0.0.0.0");
    f.Join("239.1.2.9");
    QCOMPARE(f.InWindow<QSpinBox>("hops")->value(), 1);
    QVERIFY(f.InWindow<QCheckBox>("loopback")->isChecked());
    f.InWindow<QSpinBox>("hops")->setValue(3);
    // Every UDP datagram the host takes in, with its IP header: the TTL the page's send left with.
    const int raw = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_UDP);
    QVERIFY(raw >= 0);
    f.SelectGroup(0);
    f.Press("sendToGroup");
    const QByteArray group = "239.1.2.9:" + QByteArray::number(f.port);
    QCOMPARE(f.page->PeerList()->GetText(f.page->PeerList()->GetCurSel()), group);
    f.Item<QLineEdit>(UdpServerIds::kSendBox)->setText("ping");
    f.Click(UdpServerIds::kSend);
    QCOMPARE(f.boxes.Count(), 1);  // the recording question only: a send to a group asks nothing
    QVERIFY(WaitUntil([&] { return f.page->PeerList()->GetCount() == 2; }));  // its own, through lo
    int ttl = -1;
    for (int packets = 0; packets < 100 && ttl < 0; ++packets) {
        pollfd waiting{raw, POLLIN, 0};
        if (::poll(&waiting, 1, kPatienceMs) <= 0)
            break;
        char packet[512];
        const ssize_t got = ::recv(raw, packet, sizeof packet, 0);
        const auto *header = reinterpret_cast<const iphdr *>(packet);
        if (got > 28 && header->daddr == inet_addr("239.1.2.9")
            && QByteArrayView(packet + 28, got - 28).startsWith("ping"))
            ttl = header->ttl;
    }
    ::close(raw);
    QCOMPARE(ttl, 3);
}

void TestMulticast::broadcastOnlyWhileTicked()
{
    PageFixtureBase<CClientPage> f(NamespaceHost());
    // A peer on the other end, bound to the port on every address.
    const int peer = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    QCOMPARE(::bind(peer, reinterpret_cast<sockaddr *>(&any), sizeof any), 0);
    const int port = LocalPort(peer);
    auto *broadcast = f.page->findChild<QCheckBox *>("broadcast");
    QVERIFY(!broadcast->isChecked());

    f.Item<Ipv4AddressEdit>(ClientIds::kHost)->SetAddressText("10.99.0.255");
    f.Item<QLineEdit>(ClientIds::kPort)->setText(QString::number(port));
    f.Item<QComboBox>(ClientIds::kProtocol)->setCurrentText("UDP");
    f.boxes.Queue(QMessageBox::No);
    f.Click(ClientIds::kConnect);
    QVERIFY(f.page->IsConnected());
    f.Item<QLineEdit>(ClientIds::kSendBox)->setText("all");
    f.Click(ClientIds::kSend);
    QCOMPARE(f.boxes.Texts().last(), QString("数据发送失败"));

    const auto received = [&]() -> QByteArray {
        char buffer[64];
        QByteArray got;
        WaitUntil([&] {
            const ssize_t size = ::recv(peer, buffer, sizeof buffer, MSG_DONTWAIT);
            if (size >= 0)
                got = QByteArray(buffer, size);
            return size >= 0;
        });
        return got;
    };
    broadcast->setChecked(true);  // on the open socket
    const int boxes = f.boxes.Count();
    f.Click(ClientIds::kSend);
    QCOMPARE(received(), QByteArray("all", 4));  // the page sends the text's end too
    QCOMPARE(f.boxes.Count(), boxes);

    f.Click(ClientIds::kDisconnect);  // ticked before the socket opens
    f.boxes.Queue(QMessageBox::No);
    f.Click(ClientIds::kConnect);
    f.Item<QLineEdit>(ClientIds::kSendBox)->setText("again");
    f.Click(ClientIds::kSend);
    QByteArray got;
    for (int copies = 0; copies < 5 && !got.startsWith("again"); ++copies)  // copies of the first send may still wait
        got = received();
    QCOMPARE(got, QByteArray("again", 6));
    broadcast->setChecked(false);
    f.Click(ClientIds::kSend);
    QCOMPARE(f.boxes.Texts().last(), QString("数据发送失败"));
    ::close(peer);
}

void TestMulticast::rememberedGroupsJoinAtTheNextListen()
{
    QJsonObject state;
    {
        ServerFixture f;
        f.Listen("::");
        f.Join("ff15::97");
        f.Join("239.1.2.10", "10.99.0.1");
        f.InWindow<QSpinBox>("hops")->setValue(5);
        f.InWindow<QCheckBox>("loopback")->setChecked(false);
        state = f.page->SaveState(false);
    }
    ServerFixture f;
    f.page->RestoreState(state);
    QCOMPARE(f.GroupRow(0), QString("ff15::97  全部网卡: 未加入"));
    QCOMPARE(f.GroupRow(1), QString("239.1.2.10  10.99.0.1: 未加入"));
    QCOMPARE(f.InWindow<QSpinBox>("hops")->value(), 5);
    QVERIFY(!f.InWindow<QCheckBox>("loopback")->isChecked());
    f.Listen("::");
    QCOMPARE(f.GroupRow(1), QString("239.1.2.10  10.99.0.1: vvane0"));
    GroupPeer six(AF_INET6);
    QVERIFY(f.Deliver(six, "ff15::97", "six", 3));
}

QTEST_MAIN(TestMulticast)
#include "test_multicast.moc"
