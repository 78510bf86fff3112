// The UDP server page driven like a user, with real datagram sockets on 127.0.0.1.
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "pages/control_ids.h"
#include "pages/udp_server/udp_server_page.h"
#include "support/box_answerer.h"
#include "support/page_fixture.h"
#include "support/test_environment.h"
#include "text/gbk.h"
#include "traffic/clock_text.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/display_list/line_list_box.h"

namespace {

using namespace UdpServerIds;

const QByteArray kOwnReply = ToGbk(u"服务器自己进行数据回复");

// A peer with its own port on 127.0.0.1.
class UdpPeer
{
public:
    UdpPeer()
        : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
        , m_port(BindToFreeLoopbackPort(m_fd))
    {
    }
    ~UdpPeer() { ::close(m_fd); }
    UdpPeer(const UdpPeer &) = delete;
    UdpPeer &operator=(const UdpPeer &) = delete;

    QByteArray Peer() const { return "127.0.0.1:" + QByteArray::number(m_port); }

    void SendTo(quint16 port, QByteArrayView bytes) const
    {
        sockaddr_in to = LoopbackAddress(port);
        ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    }

    // The next datagram, handling the page's events while waiting; none when the time is up.
    std::optional<QByteArray> Receive(int timeoutMs = kPatienceMs) const
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents();
            pollfd waiting{m_fd, POLLIN, 0};
            if (::poll(&waiting, 1, 1) <= 0)
                continue;
            char buffer[2048];
            const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (got >= 0)
                return QByteArray(buffer, got);
        }
        return std::nullopt;
    }

private:
    int m_fd;
    quint16 m_port;
};

class PageFixture : public PageFixtureBase<CUdpServerPage>
{
public:
    explicit PageFixture(HostEntry *host = LoopbackHost())
        : PageFixtureBase(host)
    {
    }

    void Type(int id, const QString &text) { Item<QLineEdit>(id)->setText(text); }

    quint16 Listen(QMessageBox::StandardButton logAnswer = QMessageBox::No)
    {
        port = FreePort(true);
        Type(kPort, QString::number(port));
        boxes.Queue(logAnswer);
        Click(kListen);
        return port;
    }
    // Sends from peer and waits until the page has counted rx bytes in all.
    bool Deliver(const UdpPeer &peer, QByteArrayView bytes, qint64 rx)
    {
        peer.SendTo(port, bytes);
        return WaitUntil([&] { return page->RxCount() >= rx; }) && page->RxCount() == rx;
    }
    void SelectPeer(int row) { SelectRow(page->PeerList(), row); }
    QByteArray PeerLine(int row) const { return page->PeerList()->GetText(row); }
    QByteArray DataLine(int row) const { return page->DataList()->GetText(row); }

    quint16 port = 0;
};

}  // namespace

class TestUdpServer : public QObject
{
    Q_OBJECT

private slots:
    void listenRefusalsAndBindFailure();
    void listenAndStopLinesInEveryState();
    void peerListOrderDeleteAndStop();
    void receiveTextHexZeroByteAndSizes();
    void repliesGoOnlyToTheSender();
    void sendRefusalsFailureAndTimer();
    void failingReadsShowOneBoxAtATime();
    void trafficLogOfWholeExchange();
};

void TestUdpServer::listenRefusalsAndBindFailure()
{
    for (const bool withHost : {false, true}) {
        PageFixture f(withHost ? LoopbackHost() : nullptr);
        f.Type(kPort, withHost ? "abc" : "7000");  // no number, or no host address
        f.Click(kListen);
        QCOMPARE(f.boxes.Texts(), QStringList{"请填写所有参数"});
        QCOMPARE(f.boxes.Boxes()[0].caption, QString("Velvane V1.03"));
        QCOMPARE(f.boxes.Boxes()[0].icon, QMessageBox::Warning);
        QVERIFY(!f.page->IsListening());
    }
    PageFixture f;
    QCOMPARE(f.page->DefaultButton(), f.Item<QPushButton>(kSend));  // Enter sends
    UdpPeer holder;                                                 // another socket holds the port
    const int sockets = OpenSockets();
    f.Type(kPort, QString::fromLatin1(holder.Peer().mid(10)));
    f.Click(kListen);
    QCOMPARE(f.boxes.Count(), 1);  // no question after it
    QCOMPARE(f.boxes.Boxes()[0].text, QString("绑定失败"));
    QCOMPARE(f.boxes.Boxes()[0].caption, QString("UDP Server提示"));
    QCOMPARE(f.boxes.Boxes()[0].icon, QMessageBox::NoIcon);
    QVERIFY(f.Enabled(kListen) && f.Enabled(kHost) && f.Enabled(kPort));
    QCOMPARE(f.log.GetCount(), 0);
    QCOMPARE(OpenSockets(), sockets);  // the refused socket is closed at once
}

void TestUdpServer::listenAndStopLinesInEveryState()
{
    PageFixture f;
    g_strDateTime = "2024-5-6 7:8:9";
    f.Click(kStop);  // idle: its line all the same
    QCOMPARE(FromGbk(f.log.GetText(0)), QString("2024-5-6 7:8:9 UDP停止监听127.0.0.1:7000 关闭线程\r\n"));

    const int sockets = OpenSockets();
    const quint16 port = FreePort(true);
    f.Type(kPort, QString::number(port + 65536));  // binds modulo 65536, the line shows what was typed
    f.boxes.Queue(QMessageBox::No);
    f.Click(kListen);
    QVERIFY(f.page->IsListening());
    QCOMPARE(f.boxes.Boxes()[0].text, QString("是否需要系统记录收发数据？"));
    QCOMPARE(f.boxes.Boxes()[0].caption, QString("UDP Server提示"));
    QCOMPARE(FromGbk(f.log.GetText(0)),
             QString("2024-5-6 7:8:9 UDP开始监听127.0.0.1:%1 等待客户端连接\r\n").arg(port + 65536));
    QVERIFY(!f.Enabled(kListen) && !f.Enabled(kHost) && !f.Enabled(kPort));
    f.port = port;
    UdpPeer peer;
    QVERIFY(f.Deliver(peer, "x", 1));

    f.Click(kStop);
    QVERIFY(!f.page->IsListening());
    QVERIFY(f.Enabled(kListen) && f.Enabled(kHost) && f.Enabled(kPort));
    QCOMPARE(FromGbk(f.log.GetText(0)),
             QString("2024-5-6 7:8:9 UDP停止监听127.0.0.1:%1 关闭线程\r\n").arg(port + 65536));
    QCOMPARE(OpenSockets(), sockets + 1);  // the page's socket is gone, the peer's remains
}

void TestUdpServer::peerListOrderDeleteAndStop()
{
    PageFixture f;
    f.Listen();
    UdpPeer a;
    UdpPeer b;
    QVERIFY(f.Deliver(a, "1", 1));
    QVERIFY(f.Deliver(b, "2", 2));
    QVERIFY(f.Deliver(a, "3", 3));
    QCOMPARE(f.page->PeerList()->GetCount(), 2);
    QCOMPARE(f.PeerLine(0), a.Peer());
    QCOMPARE(f.PeerLine(1), b.Peer());

    f.Click(kDeletePeer);
    QCOMPARE(f.boxes.Texts().last(), QString("请选择要删除的客户端!"));
    f.SelectPeer(0);
    f.Click(kDeletePeer);
    QCOMPARE(f.page->PeerList()->GetCount(), 1);
    QVERIFY(f.Deliver(a, "4", 4));  // heard again: at the end
    QCOMPARE(f.PeerLine(1), a.Peer());

    f.Click(kStop);
    f.Listen();
    QCOMPARE(f.page->PeerList()->GetCount(), 2);  // survives Stop and Listen
    QVERIFY(f.Deliver(b, "5", 5));
    QCOMPARE(f.page->PeerList()->GetCount(), 2);
}

void TestUdpServer::receiveTextHexZeroByteAndSizes()
{
    PageFixture f;
    g_strDateTime = "2024-5-6 7:8:9";
    f.Listen();
    UdpPeer peer;
    QVERIFY(f.Deliver(peer, "hello", 5));
    QCOMPARE(f.DataLine(0), peer.Peer() + " hello\r\n");
    QCOMPARE(FromGbk(f.log.GetText(0)), "2024-5-6 7:8:9 UDP接收来自" + peer.Peer() + "的数据\r\n");
    QTRY_COMPARE(f.Text(kRx), QString("5"));
    QVERIFY(f.Deliver(peer, QByteArray("ab\0cd", 5), 10));
    QCOMPARE(f.DataLine(0), peer.Peer() + " ab\r\n");
    f.Click(kHexDisplay);
    QVERIFY(f.Deliver(peer, "\x01\xAB", 12));
    QCOMPARE(f.DataLine(0), peer.Peer() + " 01 AB \r\n");
    f.Click(kHexDisplay);

    QVERIFY(f.Deliver(peer, QByteArray(128, 'z'), 140));  // the largest datagram read whole
    QCOMPARE(f.DataLine(0), peer.Peer() + ' ' + QByteArray(128, 'z') + "\r\n");
    const int lines = f.page->DataList()->GetCount();
    peer.SendTo(f.port, QByteArray(129, 'y'));
    QVERIFY(WaitUntil([&] { return f.boxes.Count() == 2; }));
    QCOMPARE(f.boxes.Boxes()[1].text, QString("接收数据失败！"));
    QCOMPARE(f.boxes.Boxes()[1].caption, QString("Velvane V1.03"));
    QCOMPARE(f.boxes.Boxes()[1].icon, QMessageBox::NoIcon);
    QCOMPARE(f.page->DataList()->GetCount(), lines);
    QCOMPARE(f.page->RxCount(), 140);

    // An empty datagram is a datagram: its line, no bytes, and an empty echo.
    f.Click(kAutoReply);
    f.Click(kReplyEcho);
    peer.SendTo(f.port, QByteArray());
    QVERIFY(WaitUntil([&] { return f.page->DataList()->GetCount() == lines + 1; }));
    QCOMPARE(f.DataLine(0), peer.Peer() + " \r\n");
    QCOMPARE(peer.Receive(), std::optional<QByteArray>(QByteArray()));
    QCOMPARE(f.page->RxCount(), 140);
    QCOMPARE(f.page->TxCount(), 0);

    f.Click(kClearData);
    QCOMPARE(f.page->DataList()->GetCount(), 0);
    f.Click(kClearCounters);  // here it means what it says
    QCOMPARE(f.Text(kRx), QString("0"));
}

void TestUdpServer::repliesGoOnlyToTheSender()
{
    PageFixture f;
    f.Listen();
    UdpPeer a;
    UdpPeer b;
    QVERIFY(f.Deliver(a, "x", 1));
    f.Click(kAutoReply);
    QVERIFY(!f.Enabled(kHexSend));
    QVERIFY(f.Deliver(b, "y", 2));
    QCOMPARE(b.Receive(), std::optional<QByteArray>(kOwnReply + '\0'));  // empty box: its own text
    QCOMPARE(f.page->TxCount(), 22);

    f.Type(kSendBox, "a b");
    QVERIFY(f.Deliver(a, "z", 3));
    QCOMPARE(a.Receive(), std::optional<QByteArray>(QByteArray("ab", 3)));
    QCOMPARE(f.page->TxCount(), 24);
    f.Item<QCheckBox>(kHexSend)->setChecked(true);  // greyed out, still followed
    f.Type(kSendBox, "41 42");
    QVERIFY(f.Deliver(a, "w", 4));
    QCOMPARE(a.Receive(), std::optional<QByteArray>("AB"));
    QCOMPARE(f.page->TxCount(), 26);

    f.Click(kReplyEcho);
    QVERIFY(f.Deliver(b, "echo", 8));
    QCOMPARE(b.Receive(), std::optional<QByteArray>("echo"));
    QCOMPARE(a.Receive(200), std::nullopt);  // never the other peer
    QCOMPARE(f.page->TxCount(), 30);
    f.Click(kAutoReply);
    QVERIFY(f.Enabled(kHexSend) && f.Ticked(kHexSend));
}

void TestUdpServer::sendRefusalsFailureAndTimer()
{
    PageFixture f;
    f.Click(kSend);
    f.Type(kSendBox, "x");
    f.Click(kSend);
    QCOMPARE(f.boxes.Texts(), (QStringList{"发送内容不能为空!", "请选择要发送的目的地!"}));

    f.Listen();
    UdpPeer peer;
    QVERIFY(f.Deliver(peer, "p", 1));
    f.SelectPeer(0);
    f.Click(kHexSend);
    f.Type(kSendBox, "4");
    f.Click(kSend);
    QCOMPARE(f.boxes.Texts().last(), QString("输入格式不符合要求!"));
    f.Type(kSendBox, "41 00 42");
    f.Click(kSend);
    QCOMPARE(peer.Receive(), std::optional<QByteArray>(QByteArray("A\0B", 3)));
    QCOMPARE(f.page->TxCount(), 3);
    f.Click(kHexSend);

    f.Type(kInterval, "500");
    f.Click(kTimedSend);
    QVERIFY(f.page->IsTimedSending());
    QCOMPARE(peer.Receive(), std::optional<QByteArray>(QByteArray("41 00 42").replace(" ", "") + '\0'));

    // After Stop the next tick fails: its line, the timer ends, nothing counted.
    const int boxes = f.boxes.Count();
    const qint64 tx = f.page->TxCount();
    f.Click(kStop);
    QVERIFY(WaitUntil([&] { return !f.page->IsTimedSending(); }));
    QCOMPARE(FromGbk(f.DataLine(0)), QString("数据发送失败!"));
    QVERIFY(!f.Ticked(kTimedSend));
    QCOMPARE(f.boxes.Count(), boxes);
    QCOMPARE(f.page->TxCount(), tx);
}

void TestUdpServer::failingReadsShowOneBoxAtATime()
{
    PageFixture f;
    f.Listen();
    UdpPeer peer;
    f.Item<QLineEdit>(kSendBox)->setText("1");  // an odd hex reply fails for every datagram
    f.Item<QCheckBox>(kHexSend)->setChecked(true);
    f.Click(kAutoReply);

    // Boxes stay open while the flood is read under them; a timer lets them go at the end.
    // The flood comes in bursts, the next once the page has read the last, so no datagram
    // is dropped by a kernel receive buffer, whatever its size and however busy the machine.
    // The timer sends them: the boxes' own event loops run it while the boxes are open.
    constexpr int kDatagrams = 200;
    constexpr int kBurst = 20;
    int sent = 0;
    int mostOpen = 0;
    QDeadlineTimer deadline(kPatienceMs);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        mostOpen = std::max(mostOpen, f.boxes.OpenBoxes());
        if (sent < kDatagrams && f.page->RxCount() == sent / 2 * 5)
            for (const int end = sent + kBurst; sent < end; ++sent)
                peer.SendTo(f.port, QByteArray(sent % 2 ? 129 : 5, 'x'));
        if (f.page->RxCount() >= kDatagrams / 2 * 5 || deadline.hasExpired())
            f.boxes.Hold(false);
    });
    watch.start(2);
    f.boxes.Hold(true);
    QVERIFY(WaitUntil([&] { return f.page->RxCount() >= kDatagrams / 2 * 5 && f.boxes.OpenBoxes() == 0; },
                      2 * kPatienceMs));
    watch.stop();
    QCOMPARE(f.page->RxCount(), kDatagrams / 2 * 5);
    QCOMPARE(mostOpen, 2);             // one of each kind at most, nothing piled up
    QCOMPARE(f.boxes.Count(), 1 + 2);  // the question, then one box of each kind
    QCOMPARE(f.page->TxCount(), 0);

    f.Click(kAutoReply);
    QVERIFY(f.Deliver(peer, "after", kDatagrams / 2 * 5 + 5));  // and it goes on
}

void TestUdpServer::trafficLogOfWholeExchange()
{
    PageFixture f;
    g_strDateTime = "2024-5-6 7:8:9";
    f.Listen(QMessageBox::Yes);
    UdpPeer peer;
    const QByteArray p = peer.Peer();
    QVERIFY(f.Deliver(peer, "hello", 5));
    f.SelectPeer(0);
    f.Type(kSendBox, "a b");
    f.Click(kSend);
    f.Click(kHexSend);
    f.Type(kSendBox, "41 42 00 43");
    f.Click(kSend);  // recorded as the bytes, up to the zero byte
    f.Click(kHexSend);
    f.Type(kSendBox, "");
    f.Click(kAutoReply);
    QVERIFY(f.Deliver(peer, "x", 6));
    f.Click(kReplyEcho);
    QVERIFY(f.Deliver(peer, QByteArray("e\0f", 3), 9));
    f.Click(kStop);

    const QByteArray expected = "2024-5-6 7:8:9\r\n*---------------------------------------------------*\r\n"
                                "CLIENT->SERVER  "
                                + p
                                + " hello\r\n"
                                  "SERVER->CLIENT  ab\r\n"
                                  "SERVER->CLIENT  AB\r\n"
                                  "CLIENT->SERVER  "
                                + p
                                + " x\r\n"
                                  "SERVER->CLIENT  "
                                + kOwnReply
                                + "\r\n"
                                  "CLIENT->SERVER  "
                                + p
                                + " e\r\n"
                                  "SERVER->CLIENT  e\r\n";
    QCOMPARE(ReadFileBytes(f.dir.FilePath("logudp.txt")), expected);
}

QTEST_MAIN(TestUdpServer)
#include "test_udp_server.moc"
