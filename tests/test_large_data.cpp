// 大数据 on the three traffic pages: whole datagrams of any size the socket carries, TCP reads
// of up to 64 KiB as one line, hex sends up to 65,507 bytes; and without it the old limits.
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <sys/socket.h>

#include "pages/client/client_page.h"
#include "pages/control_ids.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "pages/udp_server/udp_server_page.h"
#include "support/ip_peer.h"
#include "support/page_fixture.h"
#include "text/gbk.h"
#include "traffic/clock_text.h"
#include "traffic/read_limits.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/display_list/line_list_box.h"
#include "widgets/ipv4_address_edit.h"

namespace {

const QString kLoopback = QStringLiteral("127.0.0.1");

// Printable bytes without a zero byte, so a text display line shows them all.
QByteArray Letters(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
    return bytes;
}

// Hex digits of bytes, spaced as a user types them.
QString HexText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

template <typename Page>
class Fixture : public PageFixtureBase<Page>
{
public:
    Fixture()
        : PageFixtureBase<Page>(LoopbackHost())
    {
    }
    QCheckBox *LargeData() const { return this->page->template findChild<QCheckBox *>(QStringLiteral("largeData")); }
    void SetText(int id, const QString &text) { this->template Item<QLineEdit>(id)->setText(text); }
    QByteArray DataLine(int row) const { return this->page->DataList()->GetText(row); }
    int Lines() const { return this->page->DataList()->GetCount(); }
    QByteArray LogFile(const char *name) const { return ReadFileBytes(this->dir.FilePath(name)); }
    // Listens on 127.0.0.1 at a free port, recording into the page's log file.
    quint16 Listen(int portId, int listenId, bool datagram)
    {
        port = FreePort(datagram);
        SetText(portId, QString::number(port));
        this->boxes.Queue(QMessageBox::Yes);
        this->Click(listenId);
        return port;
    }
    SocketAddress PageAddress() const { return IpPeer::At(kLoopback, port); }
    quint16 port = 0;
};

// The client page connected to 127.0.0.1:port over the protocol, recording into logclient.txt.
void ConnectClient(Fixture<CClientPage> &f, quint16 port, const char *protocol)
{
    f.template Item<Ipv4AddressEdit>(ClientIds::kHost)->SetAddressText(kLoopback);
    f.SetText(ClientIds::kPort, QString::number(port));
    f.template Item<QComboBox>(ClientIds::kProtocol)->setCurrentText(QString::fromLatin1(protocol));
    f.boxes.Queue(QMessageBox::Yes);
    f.Click(ClientIds::kConnect);
}

}  // namespace

class TestLargeData : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { ReadLimits::SetLargeDatagramBufferForTests(0); }
    void withoutTheOptionTheLimitsStay();
    void udpServerTakesWholeDatagrams();
    void clientTakesWholeDatagramsAndSendsLongHex();
    void tcpReadsUpTo64KiBAsOneLine();
};

void TestLargeData::withoutTheOptionTheLimitsStay()
{
    {
        Fixture<CUdpServerPage> f;
        QVERIFY(!f.LargeData()->isChecked());
        f.Listen(UdpServerIds::kPort, UdpServerIds::kListen, true);
        IpPeer peer(SOCK_DGRAM, IpPeer::At(kLoopback));
        f.boxes.Queue(QMessageBox::Ok);
        peer.SendTo(f.PageAddress(), Letters(129));
        QVERIFY(WaitUntil([&] { return f.boxes.Count() == 2; }));
        QCOMPARE(f.boxes.Texts().last(), QStringLiteral("接收数据失败！"));
        QCOMPARE(f.page->RxCount(), 0);
    }
    {
        Fixture<CTcpServerPage> f;
        f.Listen(TcpServerIds::kPort, TcpServerIds::kListen, false);
        IpPeer client(SOCK_STREAM, IpPeer::At(kLoopback));
        QVERIFY(client.Connect(f.PageAddress()));
        const QByteArray message = Letters(300);
        QVERIFY(client.Send(message));
        QVERIFY(WaitUntil([&] { return f.page->RxCount() == 300; }));
        QCOMPARE(f.Lines(), 2);  // 256 bytes, then the rest
        QCOMPARE(f.DataLine(1), client.Name() + ' ' + message.first(256) + "\r\n");
        QCOMPARE(f.DataLine(0), client.Name() + ' ' + message.sliced(256) + "\r\n");

        f.SelectRow(f.page->ClientList(), 0);
        f.template Item<QCheckBox>(TcpServerIds::kHexSend)->setChecked(true);
        f.SetText(TcpServerIds::kSendBox, HexText(Letters(128)));
        f.boxes.Queue(QMessageBox::Ok);
        f.Click(TcpServerIds::kSend);
        QCOMPARE(f.boxes.Texts().last(), QStringLiteral("您一次要发送的字节太长!"));
        QCOMPARE(f.page->TxCount(), 0);
    }
}

void TestLargeData::udpServerTakesWholeDatagrams()
{
    Fixture<CUdpServerPage> f;
    f.LargeData()->setChecked(true);
    f.Listen(UdpServerIds::kPort, UdpServerIds::kListen, true);
    f.Click(UdpServerIds::kAutoReply);
    f.Click(UdpServerIds::kReplyEcho);
    IpPeer peer(SOCK_DGRAM, IpPeer::At(kLoopback));
    qint64 rx = 0;
    for (const int size : {129, 1024, 65507}) {
        const QByteArray datagram = Letters(size);
        QVERIFY(peer.SendTo(f.PageAddress(), datagram));
        rx += size;
        QVERIFY2(WaitUntil([&] { return f.page->RxCount() == rx; }), qPrintable(QString::number(size)));
        QCOMPARE(f.DataLine(0), peer.Name() + ' ' + datagram + "\r\n");
        const auto echo = peer.Receive(65536);
        QVERIFY(echo);
        QCOMPARE(echo->bytes, datagram);  // whole, byte for byte
        QVERIFY(f.LogFile("logudp.txt").contains(peer.Name() + ' ' + datagram + "\r\n"));
    }
    QCOMPARE(f.page->TxCount(), rx);

    // A datagram larger than the read buffer (made small here) is a failed read, never cut.
    ReadLimits::SetLargeDatagramBufferForTests(1000);
    f.boxes.Queue(QMessageBox::Ok);
    const int boxes = f.boxes.Count();
    QVERIFY(peer.SendTo(f.PageAddress(), Letters(1001)));
    QVERIFY(WaitUntil([&] { return f.boxes.Count() == boxes + 1; }));
    QCOMPARE(f.boxes.Texts().last(), QStringLiteral("接收数据失败！"));
    QCOMPARE(f.page->RxCount(), rx);
}

void TestLargeData::clientTakesWholeDatagramsAndSendsLongHex()
{
    Fixture<CClientPage> f;
    f.LargeData()->setChecked(true);
    IpPeer server(SOCK_DGRAM, IpPeer::At(kLoopback));
    ConnectClient(f, server.Port(), "UDP");
    QVERIFY(f.page->IsConnected());

    // Hex sends of 200 and 65,507 bytes; 65,508 is too many.
    f.template Item<QCheckBox>(ClientIds::kHexSend)->setChecked(true);
    SocketAddress page;
    for (const int size : {200, 65507}) {
        const QByteArray bytes = Letters(size);
        f.SetText(ClientIds::kSendBox, HexText(bytes));
        QCOMPARE(f.template Item<QLineEdit>(ClientIds::kSendBox)->text().size(), 3 * size - 1);  // all of it taken
        f.Click(ClientIds::kSend);
        const auto got = server.Receive(65536);
        QVERIFY(got);
        QCOMPARE(got->bytes, bytes);
        page = got->from;
    }
    QCOMPARE(f.page->TxCount(), 200 + 65507);
    f.SetText(ClientIds::kSendBox, HexText(Letters(65508)));
    f.boxes.Queue(QMessageBox::Ok);
    f.Click(ClientIds::kSend);
    QCOMPARE(f.boxes.Texts().last(), QStringLiteral("您一次要发送的字节太长!"));

    qint64 rx = 0;
    for (const int size : {129, 1024, 65507}) {
        const QByteArray datagram = Letters(size);
        QVERIFY(server.SendTo(page, datagram));
        rx += size;
        QVERIFY(WaitUntil([&] { return f.page->RxCount() == rx; }));
        QCOMPARE(f.DataLine(0), server.Name() + ' ' + datagram + "\r\n");
        QVERIFY(f.LogFile("logclient.txt").contains(server.Name() + ' ' + datagram + "\r\n"));
    }
    ReadLimits::SetLargeDatagramBufferForTests(1000);
    QVERIFY(server.SendTo(page, Letters(1001)));
    QVERIFY(WaitUntil([&] { return f.DataLine(0).startsWith(ToGbk(u"接收数据失败！")); }));
    QCOMPARE(f.page->RxCount(), rx);
}

void TestLargeData::tcpReadsUpTo64KiBAsOneLine()
{
    {
        Fixture<CTcpServerPage> f;
        f.LargeData()->setChecked(true);
        f.Listen(TcpServerIds::kPort, TcpServerIds::kListen, false);
        IpPeer client(SOCK_STREAM, IpPeer::At(kLoopback));
        QVERIFY(client.Connect(f.PageAddress()));
        QVERIFY(WaitUntil([&] { return f.page->ClientList()->GetCount() == 1; }));
        qint64 rx = 0;
        for (const int size : {1400, 65536}) {
            // Sent whole before the page reads: it arrives in one read.
            const QByteArray message = Letters(size);
            QVERIFY(client.Send(message));
            rx += size;
            QVERIFY(WaitUntil([&] { return f.page->RxCount() == rx; }));
            QCOMPARE(f.DataLine(0), client.Name() + ' ' + message + "\r\n");
        }
        QCOMPARE(f.Lines(), 2);

        // Hex display of a whole 64 KiB block: one line of "%02X " per byte.
        f.template Item<QCheckBox>(TcpServerIds::kHexDisplay)->setChecked(true);
        const QByteArray block = Letters(65536);
        QVERIFY(client.Send(block));
        QVERIFY(WaitUntil([&] { return f.page->RxCount() == rx + 65536; }));
        QCOMPARE(f.DataLine(0), client.Name() + ' ' + block.toHex(' ').toUpper() + " \r\n");
    }
    Fixture<CClientPage> f;
    f.LargeData()->setChecked(true);
    IpPeer listener(SOCK_STREAM, IpPeer::At(kLoopback));
    QVERIFY(listener.Listen());
    ConnectClient(f, listener.Port(), "TCP");
    const std::unique_ptr<IpPeer> server = listener.Accept();
    QVERIFY(server && WaitUntil([&] { return f.page->IsConnected(); }));
    const QByteArray message = Letters(65536);
    QVERIFY(server->Send(message));
    QVERIFY(WaitUntil([&] { return f.page->RxCount() == 65536; }));
    QCOMPARE(f.Lines(), 1);
    QCOMPARE(f.DataLine(0), server->Name() + ' ' + message + "\r\n");
}

QTEST_MAIN(TestLargeData)
#include "test_large_data.moc"
