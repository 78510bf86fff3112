// The TCP/UDP client page driven like a user, against servers and peers on 127.0.0.1.
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "pages/client/client_page.h"
#include "pages/control_ids.h"
#include "support/page_fixture.h"
#include "text/gbk.h"
#include "traffic/clock_text.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/ipv4_address_edit.h"

namespace {

using namespace ClientIds;

// A plain socket of the test's own: a TCP listener, a connection it accepted, or a UDP peer.
class Socket
{
public:
    explicit Socket(int type, int backlog = -1)
        : m_fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0))
        , m_port(BindToFreeLoopbackPort(m_fd))
        , m_datagrams(type == SOCK_DGRAM)
    {
        if (backlog >= 0)
            ::listen(m_fd, backlog);
    }
    explicit Socket(int fd, quint16 port)
        : m_fd(fd)
        , m_port(port)
    {
    }
    ~Socket() { Close(); }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;

    quint16 Port() const { return m_port; }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    // The connection waiting on a listener, handling the page's events meanwhile.
    std::unique_ptr<Socket> Accept()
    {
        if (!Readable(kPatienceMs))
            return nullptr;
        return std::make_unique<Socket>(::accept(m_fd, nullptr, nullptr), m_port);
    }
    void Send(QByteArrayView bytes) { ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    void SendTo(const sockaddr_in &to, QByteArrayView bytes)
    {
        ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    }
    // What arrives within the time (a datagram, or up to count bytes of a stream), and from where.
    QByteArray Receive(int count = 4096, int timeoutMs = kPatienceMs, sockaddr_in *from = nullptr)
    {
        QByteArray bytes;
        QDeadlineTimer deadline(timeoutMs);
        while (bytes.size() < count && Readable(static_cast<int>(deadline.remainingTime()))) {
            char chunk[4096];
            socklen_t length = sizeof(sockaddr_in);
            const ssize_t got = ::recvfrom(m_fd, chunk, std::min<qsizetype>(sizeof chunk, count - bytes.size()), 0,
                                           reinterpret_cast<sockaddr *>(from), from ? &length : nullptr);
            if (got <= 0)
                break;
            bytes.append(chunk, got);
            if (m_datagrams)
                break;
        }
        return bytes;
    }

private:
    bool Readable(int timeoutMs)
    {
        return WaitUntil(
            [&] {
                pollfd waiting{m_fd, POLLIN, 0};
                return ::poll(&waiting, 1, 0) > 0;
            },
            std::max(0, timeoutMs));
    }

    int m_fd;
    quint16 m_port;
    bool m_datagrams = false;
};

class PageFixture : public PageFixtureBase<CClientPage>
{
public:
    PageFixture()
        : PageFixtureBase(LoopbackHost())
    {
        g_strDateTime = "2024-5-6 7:8:9";
    }

    void Type(int id, const QString &text) { Item<QLineEdit>(id)->setText(text); }
    // Fills in the server and clicks Connect; answer is for the recording question.
    void Connect(const QString &protocol, quint16 port, QMessageBox::StandardButton answer = QMessageBox::No)
    {
        Item<Ipv4AddressEdit>(kHost)->SetAddressText("127.0.0.1");
        Type(kPort, QString::number(port));
        Item<QComboBox>(kProtocol)->setCurrentText(protocol);
        boxes.Queue(answer);
        Click(kConnect);
    }
    QString LogTop() const { return FromGbk(log.GetText(0)); }
    QByteArray DataLine(int row) const { return page->DataList()->GetText(row); }
};

}  // namespace

class TestClient : public QObject
{
    Q_OBJECT

private slots:
    void connectRefusals();
    void tcpConnectFailsThenSucceeds();
    void tcpReceivingAndServerClose();
    void udpSendingAndReceiving();
    void encodingOfSentAndShownText();
    void sendRefusalsAndTimedSending();
    void disconnectWhileConnecting();
    void trafficLogHeadersAndAnswers();
};

void TestClient::connectRefusals()
{
    PageFixture f;
    QCOMPARE(f.Item<QComboBox>(kProtocol)->currentIndex(), -1);
    QCOMPARE(f.Item<QComboBox>(kProtocol)->count(), 3);
    QCOMPARE(f.Text(kInterval), QString("1000"));
    QCOMPARE(f.page->DefaultButton(), f.Item<QPushButton>(kSend));
    f.Click(kConnect);    // nothing filled in
    f.Connect("", 7000);  // the empty protocol item
    f.boxes.Clear();
    f.Connect("TCP", 0);
    f.Item<Ipv4AddressEdit>(kHost)->SetAddressText("");
    f.Item<QComboBox>(kProtocol)->setCurrentText("UDP");
    f.Type(kPort, "7000");
    f.Click(kConnect);
    QCOMPARE(f.boxes.Texts(), (QStringList{"输入参数不全!", "输入参数不全!"}));
    QCOMPARE(f.boxes.Boxes()[0].caption, QString("Velvane V1.03"));
    QCOMPARE(f.log.GetCount(), 0);
}

void TestClient::tcpConnectFailsThenSucceeds()
{
    PageFixture f;
    const int sockets = OpenSockets();
    f.Connect("TCP", FreePort());  // nothing listens there: refused
    QVERIFY(WaitUntil([&] { return f.boxes.Texts().contains("无法连接服务器!"); }));
    QCOMPARE(f.LogTop(), QString("无法连接服务器!"));  // the list text has no CR LF
    QVERIFY(f.Enabled(kConnect) && f.Enabled(kProtocol));
    QCOMPARE(OpenSockets(), sockets);  // the failed attempt's socket is closed
    f.Type(kSendBox, "x");
    f.Click(kSend);
    QCOMPARE(f.boxes.Texts().last(), QString("套接字为空,无法发送!"));

    Socket listener(SOCK_STREAM, 4);
    f.Connect("TCP", listener.Port());
    QVERIFY(WaitUntil([&] { return f.page->IsConnected(); }));
    QCOMPARE(f.boxes.Boxes().last().text, QString("是否需要系统记录收发数据？"));
    QCOMPARE(f.boxes.Boxes().last().caption, QString("TCP/UDP Client提示"));
    QCOMPARE(f.LogTop(), QString("2024-5-6 7:8:9 成功连接到127.0.0.1的%1端口 连接方式为TCP!\r\n").arg(listener.Port()));
    QVERIFY(!f.Enabled(kConnect) && !f.Enabled(kProtocol) && f.Enabled(kDisconnect));

    f.Click(kDisconnect);
    QCOMPARE(f.LogTop(), QString("2024-5-6 7:8:9 用户主动与服务器断开\r\n"));
    QVERIFY(f.Enabled(kConnect) && f.Enabled(kProtocol));
    f.Click(kDisconnect);  // idle: the line all the same
    QCOMPARE(f.log.GetCount(), 4);
}

void TestClient::tcpReceivingAndServerClose()
{
    PageFixture f;
    Socket listener(SOCK_STREAM, 4);
    f.Connect("TCP", listener.Port());
    std::unique_ptr<Socket> server = listener.Accept();
    QVERIFY(server && WaitUntil([&] { return f.page->IsConnected(); }));
    const QByteArray peer = "127.0.0.1:" + QByteArray::number(listener.Port());

    server->Send("hello");
    QVERIFY(WaitUntil([&] { return f.page->RxCount() == 5; }));
    QCOMPARE(f.DataLine(0), peer + " hello\r\n");
    server->Send(QByteArray("ab\0c", 4));
    QVERIFY(WaitUntil([&] { return f.page->RxCount() == 9; }));
    QCOMPARE(f.DataLine(0), peer + " ab\r\n");
    f.Click(kHexDisplay);
    server->Send(QByteArray(300, '\x7f'));  // one read takes 256 bytes at most
    QVERIFY(WaitUntil([&] { return f.page->RxCount() == 309; }));
    QCOMPARE(f.DataLine(1), peer + ' ' + QByteArray("7F ").repeated(256) + "\r\n");
    QCOMPARE(f.DataLine(0), peer + ' ' + QByteArray("7F ").repeated(44) + "\r\n");
    QTRY_COMPARE(f.Text(kRx), QString("309"));

    f.Type(kSendBox, "ab cd");
    f.Click(kSend);
    QCOMPARE(server->Receive(5), QByteArray("abcd", 5));
    QCOMPARE(f.page->TxCount(), 4);

    // The server closes: its line, timed sending ends, Connect is back, the socket stays.
    f.Type(kInterval, "500");
    f.Click(kTimedSend);
    server->Close();
    QVERIFY(WaitUntil([&] { return f.LogTop().endsWith("服务器主动断开\r\n"); }));
    QCOMPARE(f.LogTop(), "2024-5-6 7:8:9 " + peer + "服务器主动断开\r\n");
    QVERIFY(!f.Ticked(kTimedSend));
    QVERIFY(f.Enabled(kConnect) && f.Enabled(kProtocol));
    QCOMPARE(f.page->DataList()->GetCount(), 4);  // the end of the stream is no line
    f.Click(kSend);
    QCOMPARE(f.boxes.Texts().last(), QString("数据发送失败"));
    QCOMPARE(f.page->TxCount(), 4);
}

void TestClient::udpSendingAndReceiving()
{
    PageFixture f;
    Socket server(SOCK_DGRAM);
    f.Connect("UDP", server.Port());
    QVERIFY(f.page->IsConnected());
    QCOMPARE(f.LogTop(), QString("2024-5-6 7:8:9 成功连接到127.0.0.1的%1端口 连接方式为UDP!\r\n").arg(server.Port()));

    f.Type(kSendBox, "a b");
    f.Click(kSend);
    sockaddr_in page{};
    QCOMPARE(server.Receive(4096, kPatienceMs, &page), QByteArray("ab", 3));
    QCOMPARE(f.page->TxCount(), 2);

    const QByteArray peer = "127.0.0.1:" + QByteArray::number(server.Port());
    server.SendTo(page, QByteArray(128, 'q'));
    QVERIFY(WaitUntil([&] { return f.page->RxCount() == 128; }));
    QCOMPARE(f.DataLine(0), peer + ' ' + QByteArray(128, 'q') + "\r\n");
    server.SendTo(page, QByteArray(129, 'q'));
    QVERIFY(WaitUntil([&] { return f.page->DataList()->GetCount() == 2; }));
    QCOMPARE(FromGbk(f.DataLine(0)), QString("接收数据失败！\r\n"));
    server.SendTo(page, QByteArray());  // a datagram, not a close
    QVERIFY(WaitUntil([&] { return f.page->DataList()->GetCount() == 3; }));
    QCOMPARE(f.DataLine(0), peer + " \r\n");
    QCOMPARE(f.page->RxCount(), 128);
    QVERIFY(f.page->IsConnected());
}

void TestClient::encodingOfSentAndShownText()
{
    PageFixture f;
    auto *encoding = f.Item<QComboBox>(kEncoding);
    QCOMPARE(encoding->currentText(), QString("GBK"));
    QCOMPARE(encoding->count(), 4);
    Socket server(SOCK_DGRAM);
    f.Connect("UDP", server.Port(), QMessageBox::Yes);
    const QByteArray peer = "127.0.0.1:" + QByteArray::number(server.Port());
    auto shown = [&](int row) { return f.page->DataList()->model()->index(row, 0).data().toString(); };

    encoding->setCurrentText("UTF-8");
    f.Type(kSendBox, "中 文");
    f.Click(kSend);
    sockaddr_in page{};
    QCOMPARE(server.Receive(4096, kPatienceMs, &page), QByteArray("\xE4\xB8\xAD\xE6\x96\x87", 7));
    QCOMPARE(f.page->TxCount(), 6);
    f.Click(kHexSend);  // hex digits do not depend on the encoding
    f.Type(kSendBox, "41 42");
    f.Click(kSend);
    QCOMPARE(server.Receive(), QByteArray("AB"));
    f.Click(kHexSend);

    server.SendTo(page, "\xE4\xBD\xA0\xE5\xA5\xBD");
    server.SendTo(page, "a\xFF");
    QVERIFY(WaitUntil([&] { return f.page->RxCount() == 8; }));
    QCOMPARE(shown(1), QString(peer + " 你好\r\n"));
    QCOMPARE(shown(0), QString(peer + " a\uFFFD\r\n"));
    QCOMPARE(f.DataLine(0), peer + " a\xFF\r\n");  // the bytes themselves are kept

    encoding->setCurrentText("Big5");
    server.SendTo(page, "\xA4\xA4");
    QVERIFY(WaitUntil([&] { return f.page->RxCount() == 10; }));
    QCOMPARE(shown(0), QString(peer + " 中\r\n"));
    QCOMPARE(shown(2), QString(peer + " 你好\r\n"));  // a line keeps the encoding it came in
    f.Type(kSendBox, "體");
    f.Click(kSend);
    QCOMPARE(server.Receive(), QByteArray("\xC5\xE9", 3));

    // The filter field matches the text as shown, whatever encoding each line came in.
    f.Type(kFilter, "好");
    QCOMPARE(f.page->DataList()->model()->rowCount(), 1);
    QCOMPARE(shown(0), QString(peer + " 你好\r\n"));
    f.Type(kFilter, "");
    QCOMPARE(f.page->DataList()->model()->rowCount(), 3);

    // The traffic log holds the bytes as they went and came.
    const QByteArray log = ReadFileBytes(f.dir.FilePath("logclient.txt"));
    QVERIFY(log.contains("CLIENT->SERVER  \xE4\xB8\xAD\xE6\x96\x87\r\n"));
    QVERIFY(log.contains(peer + " \xE4\xBD\xA0\xE5\xA5\xBD\r\n"));
    QVERIFY(log.contains("CLIENT->SERVER  \xC5\xE9\r\n"));
}

void TestClient::sendRefusalsAndTimedSending()
{
    PageFixture f;
    f.Click(kSend);
    f.Type(kSendBox, "x");
    f.Click(kSend);
    Socket server(SOCK_DGRAM);
    f.Connect("UDP", server.Port());
    f.Click(kHexSend);
    f.Type(kSendBox, "123");
    f.Click(kSend);
    f.Type(kSendBox, QString("ab").repeated(128));
    f.Click(kSend);
    f.Type(kSendBox, QString("zz"));
    f.Click(kSend);
    QCOMPARE(f.boxes.Texts(), (QStringList{"发送内容不能为空!", "套接字为空,无法发送!", "是否需要系统记录收发数据？",
                                           "输入格式不符合要求!", "您一次要发送的字节太长!", "输入的16进制格式错误!"}));
    f.Type(kSendBox, QString("ab").repeated(127));
    f.Click(kSend);
    QCOMPARE(server.Receive(), QByteArray(127, '\xab'));
    QCOMPARE(f.page->TxCount(), 127);

    // Timed sending runs on; clearing the counters does not stop it; Disconnect does not
    // either, but its next tick finds no socket.
    f.Type(kSendBox, "01");
    f.Type(kInterval, "500");
    f.Click(kTimedSend);
    QCOMPARE(server.Receive(), QByteArray("\x01"));
    f.Click(kClearCounters);
    QCOMPARE(f.Text(kTx), QString("0"));
    QCOMPARE(server.Receive(), QByteArray("\x01"));
    QTRY_COMPARE(f.Text(kTx), QString("1"));
    f.Click(kDisconnect);
    QVERIFY(f.Ticked(kTimedSend));
    QVERIFY(WaitUntil([&] { return f.boxes.Texts().last() == "套接字为空,无法发送!"; }));
    QVERIFY(!f.Ticked(kTimedSend));
}

void TestClient::disconnectWhileConnecting()
{
    PageFixture f;
    // A listener whose accept queue is full drops further handshakes: the attempt hangs.
    Socket listener(SOCK_STREAM, 0);
    std::vector<std::unique_ptr<Socket>> fillers;
    for (int i = 0; i < 3; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in to = LoopbackAddress(listener.Port());
        ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to);
        fillers.push_back(std::make_unique<Socket>(fd, 0));
    }
    QTest::qWait(100);
    f.Connect("TCP", listener.Port());
    QTest::qWait(300);
    if (!f.page->IsConnecting())
        QSKIP("a full listener does not hold the handshake back on this system");
    QVERIFY(!f.Enabled(kConnect) && !f.Enabled(kProtocol));
    f.Type(kSendBox, "x");
    f.Click(kSend);  // nothing goes out before the success line
    QCOMPARE(f.boxes.Texts().last(), QString("数据发送失败"));

    f.Click(kDisconnect);
    QCOMPARE(f.LogTop(), QString("2024-5-6 7:8:9 用户主动与服务器断开\r\n"));
    QVERIFY(f.Enabled(kConnect) && f.Enabled(kProtocol) && !f.page->IsConnecting());
    QTest::qWait(300);
    QVERIFY(!f.boxes.Texts().contains("无法连接服务器!"));
}

void TestClient::trafficLogHeadersAndAnswers()
{
    PageFixture f;
    Socket listener(SOCK_STREAM, 4);
    Socket udp(SOCK_DGRAM);
    f.Connect("TCP", listener.Port(), QMessageBox::Yes);  // a new file: no empty lines first
    std::unique_ptr<Socket> server = listener.Accept();
    QVERIFY(server && WaitUntil([&] { return f.page->IsConnected(); }));
    f.Type(kSendBox, "ab cd");
    f.Click(kSend);
    f.Click(kHexSend);
    f.Type(kSendBox, "01 02 0A");
    f.Click(kSend);  // the digits are recorded, not the bytes
    QCOMPARE(server->Receive(8), QByteArray("abcd\0\x01\x02\x0a", 8));
    server->Send("x");
    QVERIFY(WaitUntil([&] { return f.page->RxCount() == 1; }));
    server->Close();
    QVERIFY(WaitUntil([&] { return f.Enabled(kConnect); }));

    f.Connect("UDP", udp.Port(), QMessageBox::Yes);  // appended without empty lines
    f.Click(kDisconnect);
    f.Connect("TCP", listener.Port(), QMessageBox::Yes);  // appended after five empty lines
    server = listener.Accept();
    QVERIFY(server && WaitUntil([&] { return f.page->IsConnected(); }));
    server->Close();
    QVERIFY(WaitUntil([&] { return f.Enabled(kConnect); }));
    f.Connect("UDP", udp.Port(), QMessageBox::No);  // No: not recorded, though nobody disconnected
    f.Type(kSendBox, "05");
    f.Click(kSend);
    QCOMPARE(udp.Receive(), QByteArray("\x05"));

    const QByteArray peer = "127.0.0.1:" + QByteArray::number(listener.Port());
    const QByteArray tcp = "*-----------------------TCP CLIENT---------------------*\r\n";
    const QByteArray udpBanner = "*----------------------UDP CLIENT----------------------*\r\n";
    QCOMPARE(ReadFileBytes(f.dir.FilePath("logclient.txt")), "2024-5-6 7:8:9\r\n" + tcp + "CLIENT->SERVER  abcd\r\n"
                                                                 + "CLIENT->SERVER  01020A\r\n" + "SERVER->CLIENT  "
                                                                 + peer + " x\r\n" + "2024-5-6 7:8:9\r\n" + udpBanner
                                                                 + "\r\n\r\n\r\n\r\n\r\n" + "2024-5-6 7:8:9\r\n" + tcp);
}

QTEST_MAIN(TestClient)
#include "test_client.moc"
