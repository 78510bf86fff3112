// The server pages on IPv6 and on all interfaces: the host box with IPv6/全部, ::1 and ::
// served, peers named in both forms, and replies that leave from the address a datagram came to.
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <sys/socket.h>

#include "pages/control_ids.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "pages/udp_server/udp_server_page.h"
#include "platform/socket_address.h"
#include "support/ip_peer.h"
#include "support/page_fixture.h"
#include "support/test_environment.h"
#include "text/gbk.h"
#include "traffic/clock_text.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/display_list/line_list_box.h"

namespace {

HostEntry *DualStackHost()
{
    static HostEntry host{QStringLiteral("localhost"), {QStringLiteral("127.0.0.1")}, {QStringLiteral("::1")}};
    return &host;
}

SocketAddress At(const char *address, quint16 port = 0)
{
    return IpPeer::At(QString::fromLatin1(address), port);
}

template <typename Page>
class Fixture : public PageFixtureBase<Page>
{
public:
    explicit Fixture(HostEntry *host = DualStackHost())
        : PageFixtureBase<Page>(host)
    {
        g_strDateTime = QStringLiteral("2026-12-8 1:2:3");
    }
    QCheckBox *Ipv6AndAll() const { return this->page->template findChild<QCheckBox *>(QStringLiteral("ipv6All")); }
    QComboBox *HostBox() const { return this->template Item<QComboBox>(Ids::kHost); }
    QStringList Hosts() const
    {
        QStringList hosts;
        for (int row = 0; row < HostBox()->count(); ++row)
            hosts.append(HostBox()->itemText(row));
        return hosts;
    }
    // Listens on the host at a free port.
    quint16 Listen(const QString &host)
    {
        Ipv6AndAll()->setChecked(true);
        HostBox()->setCurrentIndex(HostBox()->findText(host));
        port = FreePort(std::is_same_v<Page, CUdpServerPage>);
        this->template Item<QLineEdit>(Ids::kPort)->setText(QString::number(port));
        this->boxes.Queue(QMessageBox::No);
        this->Click(Ids::kListen);
        return port;
    }
    QByteArray LogLine(int row) const { return this->log.GetText(row); }
    QByteArray DataLine(int row) const { return this->page->DataList()->GetText(row); }

    using Ids = std::conditional_t<std::is_same_v<Page, CUdpServerPage>, UdpServerIds::Id, TcpServerIds::Id>;
    quint16 port = 0;
};

}  // namespace

class TestServerAddresses : public QObject
{
    Q_OBJECT

private slots:
    void hostBoxListsIpv6AndAllOnlyWhenTicked();
    void tcpServerOnIpv6AndOnAll();
    void udpServerOnIpv6AndOnAll();
};

void TestServerAddresses::hostBoxListsIpv6AndAllOnlyWhenTicked()
{
    HostEntry host{QStringLiteral("h"),
                   {QStringLiteral("127.0.0.1"), QStringLiteral("10.0.0.2")},
                   {QStringLiteral("::1"), QStringLiteral("fe80::1%lo")}};
    {
        Fixture<CTcpServerPage> f(&host);
        QVERIFY(!f.Ipv6AndAll()->isChecked());
        QCOMPARE(f.Hosts(), QStringList({"10.0.0.2", "127.0.0.1"}));
        QVERIFY(f.HostBox()->toolTip().isEmpty());
        f.HostBox()->setCurrentIndex(1);
        f.Ipv6AndAll()->setChecked(true);
        QCOMPARE(f.Hosts(), QStringList({"10.0.0.2", "127.0.0.1", "::1", "fe80::1%lo", "0.0.0.0", "::"}));
        QCOMPARE(f.HostBox()->currentText(), QStringLiteral("127.0.0.1"));  // the choice stays
        f.HostBox()->setCurrentIndex(3);
        QCOMPARE(f.HostBox()->toolTip(), QStringLiteral("fe80::1%lo"));
        const QJsonObject saved = f.page->SaveState(false);

        f.Ipv6AndAll()->setChecked(false);
        QCOMPARE(f.Hosts(), QStringList({"10.0.0.2", "127.0.0.1"}));
        QCOMPARE(f.HostBox()->currentText(), QStringLiteral("10.0.0.2"));  // gone: the first

        f.page->RestoreState(saved);  // as 记住设置 brings it back at the next start
        QVERIFY(f.Ipv6AndAll()->isChecked());
        QCOMPARE(f.HostBox()->currentText(), QStringLiteral("fe80::1%lo"));
    }
    // Without IPv6 on the host: all IPv4 interfaces, no ::.
    HostEntry ipv4Only{QStringLiteral("h"), {QStringLiteral("127.0.0.1")}, {}};
    Fixture<CUdpServerPage> f(&ipv4Only);
    f.Ipv6AndAll()->setChecked(true);
    QCOMPARE(f.Hosts(), QStringList({"127.0.0.1", "0.0.0.0"}));
    f.Listen(QStringLiteral("0.0.0.0"));
    QVERIFY(f.page->IsListening());
    QVERIFY(!f.Ipv6AndAll()->isEnabled());  // the list cannot change under a listening socket
    QCOMPARE(f.LogLine(0), ToGbk(u"2026-12-8 1:2:3 UDP开始监听0.0.0.0:") + QByteArray::number(f.port)
                               + ToGbk(u" 等待客户端连接\r\n"));
}

void TestServerAddresses::tcpServerOnIpv6AndOnAll()
{
    if (!IpPeer::HasIpv6Loopback())
        QSKIP("this machine has no ::1");
    Fixture<CTcpServerPage> f;
    const QByteArray port = QByteArray::number(f.Listen(QStringLiteral("::1")));
    QCOMPARE(f.LogLine(0), ToGbk(u"2026-12-8 1:2:3 TCP开始监听[::1]:") + port + ToGbk(u" 等待客户端连接\r\n"));
    IpPeer v6(SOCK_STREAM, At("::1"));
    QVERIFY(v6.Connect(At("::1", f.port)));
    QVERIFY(WaitUntil([&] { return f.page->ClientList()->GetCount() == 1; }));
    QCOMPARE(f.page->ClientList()->GetText(0), v6.Name() + "-1000");
    QVERIFY(v6.Name().startsWith("[::1]:"));
    QCOMPARE(f.LogLine(0), "2026-12-8 1:2:3 " + v6.Name() + ToGbk(u"连接到本机\r\n"));
    QVERIFY(v6.Send("hi"));
    QVERIFY(WaitUntil([&] { return f.page->RxCount() == 2; }));
    QCOMPARE(f.DataLine(0), v6.Name() + " hi\r\n");
    f.SelectRow(f.page->ClientList(), 0);
    f.template Item<QLineEdit>(TcpServerIds::kSendBox)->setText(QStringLiteral("ok"));
    f.Click(TcpServerIds::kSend);
    QCOMPARE(v6.Receive(3).value_or(IpPeer::Received()).bytes, QByteArray("ok", 3));
    f.Click(TcpServerIds::kStop);
    QCOMPARE(f.LogLine(0), ToGbk(u"2026-12-8 1:2:3 TCP停止监听[::1]:") + port + ToGbk(u" 关闭线程\r\n"));

    // :: takes both families; an IPv4 client is named as IPv4.
    f.Listen(QStringLiteral("::"));
    IpPeer v4(SOCK_STREAM, At("127.0.0.1"));
    IpPeer other(SOCK_STREAM, At("::1"));
    QVERIFY(v4.Connect(At("127.0.0.1", f.port)));
    QVERIFY(WaitUntil([&] { return f.page->ClientList()->GetCount() == 1; }));
    QVERIFY(other.Connect(At("::1", f.port)));
    QVERIFY(WaitUntil([&] { return f.page->ClientList()->GetCount() == 2; }));
    QCOMPARE(f.page->ClientList()->GetText(0), v4.Name() + "-1000");
    QVERIFY(v4.Name().startsWith("127.0.0.1:"));
    QCOMPARE(f.page->ClientList()->GetText(1), other.Name() + "-1001");
    QVERIFY(v4.Send("v4"));
    QVERIFY(WaitUntil([&] { return f.page->RxCount() == 4; }));
    QCOMPARE(f.DataLine(0), v4.Name() + " v4\r\n");
    f.Click(TcpServerIds::kStop);
}

void TestServerAddresses::udpServerOnIpv6AndOnAll()
{
    if (!IpPeer::HasIpv6Loopback())
        QSKIP("this machine has no ::1");
    Fixture<CUdpServerPage> f;
    f.Listen(QStringLiteral("::1"));
    IpPeer v6(SOCK_DGRAM, At("::1"));
    v6.SendTo(At("::1", f.port), "ping");
    QVERIFY(WaitUntil([&] { return f.page->RxCount() == 4; }));
    QCOMPARE(f.page->PeerList()->GetText(0), v6.Name());
    QCOMPARE(f.DataLine(0), v6.Name() + " ping\r\n");
    QCOMPARE(f.LogLine(0), ToGbk(u"2026-12-8 1:2:3 UDP接收来自") + v6.Name() + ToGbk(u"的数据\r\n"));
    f.SelectRow(f.page->PeerList(), 0);
    f.template Item<QLineEdit>(UdpServerIds::kSendBox)->setText(QStringLiteral("to6"));
    f.Click(UdpServerIds::kSend);
    QCOMPARE(v6.Receive(), std::optional(IpPeer::Received{QByteArray("to6", 4), At("::1", f.port)}));
    f.Click(UdpServerIds::kStop);

    // On all interfaces a reply leaves from the address the datagram came to: 127.0.0.2 is
    // this host too, but not the address the system would pick on its own.
    for (const char *all : {"::", "0.0.0.0"}) {
        f.Listen(QString::fromLatin1(all));
        QVERIFY2(f.page->IsListening(), all);
        IpPeer v4(SOCK_DGRAM, At("127.0.0.1"));
        f.Click(UdpServerIds::kAutoReply);
        f.Click(UdpServerIds::kReplyEcho);
        v4.SendTo(At("127.0.0.2", f.port), "echo");
        QCOMPARE(v4.Receive(), std::optional(IpPeer::Received{"echo", At("127.0.0.2", f.port)}));
        QVERIFY(f.page->PeerList()->GetText(f.page->PeerList()->GetCount() - 1).startsWith("127.0.0.1:"));
        f.SelectRow(f.page->PeerList(), f.page->PeerList()->GetCount() - 1);
        f.Click(UdpServerIds::kAutoReply);
        f.Click(UdpServerIds::kSend);  // a send of its own goes to the selected IPv4 peer
        QCOMPARE(v4.Receive().value_or(IpPeer::Received()).bytes, QByteArray("to6", 4));
        f.Click(UdpServerIds::kStop);
    }
}

QTEST_MAIN(TestServerAddresses)
#include "test_server_addresses.moc"
