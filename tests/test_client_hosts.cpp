// The client page's host name field: IPv6 on ::1, names looked up through a stand-in resolver
// (the system's only for localhost), every address tried in order, a lookup cancelled.
#include <QtTest>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "pages/client/client_page.h"
#include "pages/control_ids.h"
#include "pages/file_dialogs.h"
#include "platform/host_lookup.h"
#include "support/ip_peer.h"
#include "support/page_fixture.h"
#include "text/gbk.h"
#include "traffic/clock_text.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/ipv4_address_edit.h"

namespace {

using namespace ClientIds;

SocketAddress Loopback(int family, quint16 port = 0)
{
    return family == AF_INET6 ? *ParseIpv6Literal(QStringLiteral("::1"), port) : SocketAddress(LoopbackAddress(port));
}

SocketAddress Ipv4(const char *address)
{
    return SocketAddress(Ipv4Endpoint(QString::fromLatin1(address), 0));
}

// A listener (TCP) or a peer (UDP) of the test's own on 127.0.0.1 or ::1.
class Peer : public IpPeer
{
public:
    Peer(int family, int type)
        : IpPeer(type, Loopback(family))
    {
        if (type == SOCK_STREAM)
            Listen();
    }
};

QByteArray Bytes(const std::optional<IpPeer::Received> &received)
{
    return received ? received->bytes : QByteArray();
}

// The stand-in resolver for as long as it lives: each name's answer, and the names asked.
class Resolver
{
public:
    Resolver()
    {
        SetHostLookupHook([this](const QString &name) -> std::optional<HostAnswer> {
            asked.append(name);
            const auto answer = answers.find(name);
            if (answer == answers.end())
                return std::nullopt;
            return answer->second;
        });
    }
    ~Resolver() { SetHostLookupHook(nullptr); }

    std::map<QString, HostAnswer> answers;
    QStringList asked;
};

class PageFixture : public PageFixtureBase<CClientPage>
{
public:
    PageFixture()
        : PageFixtureBase(LoopbackHost())
    {
        g_strDateTime = "2024-5-6 7:8:9";
    }

    QLineEdit *HostName() const { return page->findChild<QLineEdit *>("hostName"); }
    // The server in the name field (the IPv4 field left empty), then Connect.
    void Connect(const QString &name, const QString &protocol, quint16 port,
                 QMessageBox::StandardButton answer = QMessageBox::No)
    {
        HostName()->setText(name);
        Item<QLineEdit>(kPort)->setText(QString::number(port));
        Item<QComboBox>(kProtocol)->setCurrentText(protocol);
        boxes.Queue(answer);
        Click(kConnect);
    }
    QString LogTop() const { return FromGbk(log.GetText(0)); }
    QByteArray DataLine(int row) const { return page->DataList()->GetText(row); }
    QString SuccessLine(const QString &address, quint16 port, const QString &protocol) const
    {
        return QStringLiteral("2024-5-6 7:8:9 成功连接到%1的%2端口 连接方式为%3!\r\n")
            .arg(address)
            .arg(port)
            .arg(protocol);
    }
};

bool HasIpv6Loopback()
{
    return IpPeer::HasIpv6Loopback();
}

}  // namespace

class TestClientHosts : public QObject
{
    Q_OBJECT

private slots:
    void lookupAnswers();
    void tcpOnIpv6Loopback();
    void udpOnIpv6Loopback();
    void everyAddressTriedInOrder();
    void failuresAndRefusals();
    void disconnectDuringSlowLookup();
};

void TestClientHosts::lookupAnswers()
{
    Resolver resolver;
    resolver.answers["two.test"] = {{Ipv4("127.0.0.2"), Loopback(AF_INET6)}, 0};
    resolver.answers["slow.test"] = {{Ipv4("127.0.0.1")}, 200};
    HostLookup lookup;
    QList<QList<SocketAddress>> answers;
    auto keep = [&](const QList<SocketAddress> &addresses) { answers.append(addresses); };

    // A lookup a new Start replaced never answers; the new one answers later, in order.
    lookup.Start("slow.test", [&](const QList<SocketAddress> &) { answers.append({Ipv4("0.0.0.0")}); });
    lookup.Start("two.test", keep);
    QVERIFY(lookup.IsRunning() && answers.isEmpty());
    RunEventsFor(400);
    QCOMPARE(answers, (QList<QList<SocketAddress>>{{Ipv4("127.0.0.2"), Loopback(AF_INET6)}}));
    QVERIFY(!lookup.IsRunning());
    answers.clear();

    // A name the hook leaves alone goes to the system: localhost, from the hosts file.
    lookup.Start("localhost", keep);
    QVERIFY(WaitUntil([&] { return !answers.isEmpty(); }));
    QVERIFY(!answers[0].isEmpty());
    for (const SocketAddress &address : answers[0])
        QVERIFY2(address == Ipv4("127.0.0.1") || address == Loopback(AF_INET6), qPrintable(AddressText(address)));
    QCOMPARE(resolver.asked, (QStringList{"slow.test", "two.test", "localhost"}));
}

void TestClientHosts::tcpOnIpv6Loopback()
{
    if (!HasIpv6Loopback())
        QSKIP("no ::1 on this system");
    PageFixture f;
    Resolver resolver;
    Peer listener(AF_INET6, SOCK_STREAM);
    f.Connect("::1", "TCP", listener.Port(), QMessageBox::Yes);
    std::unique_ptr<IpPeer> server = listener.Accept();
    QVERIFY(server && WaitUntil([&] { return f.page->IsConnected(); }));
    QCOMPARE(f.LogTop(), f.SuccessLine("::1", listener.Port(), "TCP"));
    QVERIFY(resolver.asked.isEmpty());  // a literal is no name
    const QByteArray peer = "[::1]:" + QByteArray::number(listener.Port());

    server->Send("hello");
    QVERIFY(WaitUntil([&] { return f.page->RxCount() == 5; }));
    QCOMPARE(f.DataLine(0), peer + " hello\r\n");
    f.Item<QLineEdit>(kSendBox)->setText("ab cd");
    f.Click(kSend);
    QCOMPARE(Bytes(server->Receive(5)), QByteArray("abcd", 5));
    // Timed sending goes on the IPv6 connection too.
    f.Item<QLineEdit>(kInterval)->setText("500");
    f.Click(kTimedSend);
    QCOMPARE(Bytes(server->Receive(10)), QByteArray("abcd\0abcd", 10));
    f.Click(kTimedSend);

    server->Close();
    QVERIFY(WaitUntil([&] { return f.LogTop().endsWith("服务器主动断开\r\n"); }));
    QCOMPARE(f.LogTop(), "2024-5-6 7:8:9 " + peer + "服务器主动断开\r\n");
    QVERIFY(ReadFileBytes(f.dir.FilePath("logclient.txt")).contains("SERVER->CLIENT  " + peer + " hello\r\n"));
    f.Click(kDisconnect);
}

void TestClientHosts::udpOnIpv6Loopback()
{
    if (!HasIpv6Loopback())
        QSKIP("no ::1 on this system");
    PageFixture f;
    Peer server(AF_INET6, SOCK_DGRAM);
    f.Item<Ipv4AddressEdit>(kHost)->SetAddressText("127.0.0.2");  // the name field wins over it
    f.Connect(" [::1] ", "UDP", server.Port());
    QVERIFY(f.page->IsConnected());
    QCOMPARE(f.LogTop(), f.SuccessLine("::1", server.Port(), "UDP"));
    const QByteArray peer = "[::1]:" + QByteArray::number(server.Port());

    f.Item<QLineEdit>(kSendBox)->setText("a b");
    f.Click(kSend);
    const std::optional<IpPeer::Received> first = server.Receive();
    QCOMPARE(Bytes(first), QByteArray("ab", 3));
    const SocketAddress page = first->from;
    QCOMPARE(page.Family(), AF_INET6);
    server.SendTo(page, "back");
    QVERIFY(WaitUntil([&] { return f.page->RxCount() == 4; }));
    QCOMPARE(f.DataLine(0), peer + " back\r\n");

    // A .bin capture of the server's datagrams, and a file sent to it in datagrams.
    const QString capturePath = f.dir.FilePath("server.bin");
    FileDialogs::g_answerSaveFile = [&](const FileDialogs::SaveRequest &request) {
        return FileDialogs::Answer{capturePath, request.filters.value(1)};
    };
    auto *capture = f.page->findChild<QPushButton *>("capture");
    capture->click();
    FileDialogs::g_answerSaveFile = nullptr;
    QCOMPARE(capture->text(), QString("停止捕获"));
    server.SendTo(page, "cap");
    QVERIFY(WaitUntil([&] { return f.page->RxCount() == 7; }));
    capture->click();
    QCOMPARE(ReadFileBytes(capturePath), QByteArray("cap"));

    QByteArray file(2500, Qt::Uninitialized);
    for (int i = 0; i < file.size(); ++i)
        file[i] = static_cast<char>(i * 13 + i / 256);
    WriteFileBytes(f.dir.FilePath("out.dat"), file);
    FileDialogs::g_answerOpenFile = [&](const FileDialogs::SaveRequest &) {
        return FileDialogs::Answer{f.dir.FilePath("out.dat"), {}};
    };
    f.page->findChild<QPushButton *>("sendFile")->click();
    FileDialogs::g_answerOpenFile = nullptr;
    QByteArray received;
    for (int datagrams = 0; datagrams < 3; ++datagrams)
        received += Bytes(server.Receive());
    QCOMPARE(received, file);
    f.Click(kDisconnect);
}

void TestClientHosts::everyAddressTriedInOrder()
{
    PageFixture f;
    Resolver resolver;
    // Nothing listens on ::1 or 127.0.0.2 at the listener's port: both refuse, in turn.
    Peer listener(AF_INET, SOCK_STREAM);
    resolver.answers["localhost"] = {{Loopback(AF_INET6), Ipv4("127.0.0.2"), Ipv4("127.0.0.1")}, 0};
    const int sockets = OpenSockets();
    f.Connect("localhost", "TCP", listener.Port());
    std::unique_ptr<IpPeer> server = listener.Accept();
    QVERIFY(server && WaitUntil([&] { return f.page->IsConnected(); }));
    QCOMPARE(f.LogTop(), f.SuccessLine("127.0.0.1", listener.Port(), "TCP"));
    QCOMPARE(f.log.GetCount(), 1);  // no failure line for the addresses that refused
    QCOMPARE(f.boxes.Texts(), QStringList{"是否需要系统记录收发数据？"});
    server->Send("x");
    QVERIFY(WaitUntil([&] { return f.page->RxCount() == 1; }));
    QCOMPARE(f.DataLine(0), "127.0.0.1:" + QByteArray::number(listener.Port()) + " x\r\n");
    server.reset();
    f.Click(kDisconnect);
    QCOMPARE(OpenSockets(), sockets);  // the refused attempts' sockets are closed

    // UDP takes the first address: ::1 here.
    if (HasIpv6Loopback()) {
        Peer udp(AF_INET6, SOCK_DGRAM);
        f.Connect("localhost", "UDP", udp.Port());
        QVERIFY(WaitUntil([&] { return f.page->IsConnected(); }));
        QCOMPARE(f.LogTop(), f.SuccessLine("::1", udp.Port(), "UDP"));
        f.Item<QLineEdit>(kSendBox)->setText("u");
        f.Click(kSend);
        QCOMPARE(Bytes(udp.Receive()), QByteArray("u", 2));
        f.Click(kDisconnect);
    }
    QCOMPARE(resolver.asked.size(), HasIpv6Loopback() ? 2 : 1);

    // An IPv4 address in the name field is used as it is.
    f.Connect("127.0.0.1", "TCP", listener.Port());
    QVERIFY(listener.Accept() && WaitUntil([&] { return f.page->IsConnected(); }));
    QCOMPARE(f.LogTop(), f.SuccessLine("127.0.0.1", listener.Port(), "TCP"));
    QCOMPARE(resolver.asked.size(), HasIpv6Loopback() ? 2 : 1);
    f.Click(kDisconnect);
}

void TestClientHosts::failuresAndRefusals()
{
    PageFixture f;
    Resolver resolver;
    resolver.answers["none.test"] = {};
    resolver.answers["refusing.test"] = {{Ipv4("127.0.0.2"), Ipv4("127.0.0.3")}, 0};
    const int sockets = OpenSockets();
    const quint16 port = FreePort();

    // Both host fields empty (blanks are no name): the refusal of an empty IPv4 field.
    f.Connect("  ", "TCP", port);
    QCOMPARE(f.boxes.Texts(), QStringList{"输入参数不全!"});
    QCOMPARE(f.log.GetCount(), 0);

    // A name that does not resolve, an address with a scope no interface has (no lookup),
    // and a name whose every address refuses: the connect failure's line and box, once each.
    for (const QString name : {"none.test", "fe80::1%nosuchif0", "refusing.test"}) {
        f.boxes.Clear();
        f.Connect(name, "TCP", port);
        QVERIFY2(WaitUntil([&] { return f.boxes.Texts().contains("无法连接服务器!"); }), qPrintable(name));
        QCOMPARE(f.LogTop(), QString("无法连接服务器!"));
        RunEventsFor(100);
        QCOMPARE(f.boxes.Texts().count("无法连接服务器!"), 1);
        QVERIFY(f.Enabled(kConnect) && f.Enabled(kProtocol) && !f.page->IsConnecting());
        QCOMPARE(OpenSockets(), sockets);
    }
    QCOMPARE(resolver.asked, (QStringList{"none.test", "refusing.test"}));
    f.Connect("none.test", "UDP", port);
    QVERIFY(WaitUntil([&] { return f.boxes.Texts().last() == "无法连接服务器!"; }));
    f.Item<QLineEdit>(kSendBox)->setText("x");
    f.Click(kSend);
    QCOMPARE(f.boxes.Texts().last(), QString("套接字为空,无法发送!"));

    // The narrow field shows its whole text in the tooltip.
    QLineEdit *field = f.HostName();
    QCOMPARE(field->placeholderText(), QString("IPv6/主机名"));
    field->setText("a-rather-long-host-name.example.test");
    QCOMPARE(field->toolTip(), QString("a-rather-long-host-name.example.test"));
}

void TestClientHosts::disconnectDuringSlowLookup()
{
    PageFixture f;
    Resolver resolver;
    Peer listener(AF_INET, SOCK_STREAM);
    resolver.answers["slow.test"] = {{Ipv4("127.0.0.1")}, 500};
    f.Connect("slow.test", "TCP", listener.Port());
    QVERIFY(f.page->IsConnecting() && !f.Enabled(kConnect) && !f.Enabled(kProtocol));
    RunEventsFor(100);
    f.Click(kDisconnect);
    QCOMPARE(f.LogTop(), QString("2024-5-6 7:8:9 用户主动与服务器断开\r\n"));
    QVERIFY(f.Enabled(kConnect) && !f.page->IsConnecting());
    // The answer's time passes: no late connect, no late box.
    QVERIFY(!listener.Accept(1000));
    QCOMPARE(f.boxes.Count(), 0);
    QCOMPARE(f.log.GetCount(), 1);

    // A new Connect while an old answer would still be due takes its own.
    resolver.answers["slow.test"].delayMs = 300;
    f.Connect("slow.test", "TCP", listener.Port());
    RunEventsFor(100);
    resolver.answers["slow.test"].delayMs = 0;
    f.Click(kDisconnect);
    f.Connect("slow.test", "TCP", listener.Port());
    QVERIFY(listener.Accept() && WaitUntil([&] { return f.page->IsConnected(); }));
    QVERIFY(!listener.Accept(600));  // the cancelled lookup connects nothing
    QCOMPARE(f.boxes.Texts(), QStringList{"是否需要系统记录收发数据？"});
}

QTEST_MAIN(TestClientHosts)
#include "test_client_hosts.moc"
