// The TCP server page driven like a user, with real clients on 127.0.0.1.
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpServer>

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <type_traits>
#include <unistd.h>
#include <vector>

#include "pages/control_ids.h"
#include "pages/log/log_page.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "shell/main_dlg.h"
#include "support/box_answerer.h"
#include "support/page_fixture.h"
#include "support/test_environment.h"
#include "text/gbk.h"
#include "traffic/accept_worker.h"
#include "traffic/client_session.h"
#include "traffic/clock_text.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/display_list/line_list_box.h"

namespace {

using namespace TcpServerIds;

const QByteArray kSeparator = "*---------------------------------------------------*\r\n";
const QByteArray kOwnReply = ToGbk(u"服务器自己进行数据回复");

// A plain blocking client socket, so that the descriptors it holds are exactly one.
class LoopbackClient
{
public:
    explicit LoopbackClient(quint16 port)
        : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        const sockaddr_in to = LoopbackAddress(port);
        m_connected = ::connect(m_fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0;
        m_port = static_cast<quint16>(LocalPort(m_fd));
    }
    ~LoopbackClient() { Close(); }
    LoopbackClient(const LoopbackClient &) = delete;
    LoopbackClient &operator=(const LoopbackClient &) = delete;

    bool Connected() const { return m_connected; }
    // How the server names this client: "127.0.0.1:port".
    QByteArray Peer() const { return "127.0.0.1:" + QByteArray::number(m_port); }
    QString PeerText() const { return QString::fromLatin1(Peer()); }

    bool Send(QByteArrayView bytes) { return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == bytes.size(); }

    // Whatever arrives until count bytes are in, the peer closes or the time is up. The page
    // lives on this thread, so its events are handled while waiting.
    QByteArray Read(int count, int timeoutMs = kPatienceMs)
    {
        QByteArray bytes;
        QDeadlineTimer deadline(timeoutMs);
        while (bytes.size() < count && !deadline.hasExpired()) {
            const ssize_t got = ReadSome(count - bytes.size());
            if (got == 0)
                break;
            if (got > 0)
                bytes.append(m_chunk.data(), got);
        }
        return bytes;
    }

    // True when the server ends the connection within the time (data before the end is skipped).
    bool SeesEnd(int timeoutMs = kPatienceMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired())
            if (ReadSome(static_cast<int>(m_chunk.size())) == 0)
                return true;
        return false;
    }

    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    // Ends the connection with a reset instead of a close.
    void Reset()
    {
        ResetOnClose(m_fd);
        Close();
    }

private:
    // Up to max bytes into m_chunk: count, 0 at the end (or reset), -1 when nothing came yet.
    ssize_t ReadSome(int max)
    {
        pollfd waiting{m_fd, POLLIN, 0};
        if (::poll(&waiting, 1, 2) <= 0) {
            QCoreApplication::processEvents();
            return -1;
        }
        const ssize_t got = ::recv(m_fd, m_chunk.data(), std::min<size_t>(m_chunk.size(), max), 0);
        return got < 0 && errno != ECONNRESET ? -1 : std::max<ssize_t>(got, 0);
    }

    int m_fd;
    std::array<char, 4096> m_chunk{};
    bool m_connected = false;
    quint16 m_port = 0;
};

// A blocking client socket with a small receive buffer (set before connecting, so the
// window it offers stays small): a peer that soon stops taking what the page sends.
int ConnectWithSmallWindow(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    const sockaddr_in to = LoopbackAddress(port);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads count bytes from a blocking socket, handling the page's events meanwhile.
QByteArray ReadWhileServing(int fd, qsizetype count, int timeoutMs = 20000)
{
    QByteArray bytes;
    QDeadlineTimer deadline(timeoutMs);
    std::vector<char> chunk(65536);
    while (bytes.size() < count && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, 1) <= 0)
            continue;
        const ssize_t got = ::recv(fd, chunk.data(), std::min<qsizetype>(chunk.size(), count - bytes.size()), 0);
        if (got <= 0)
            break;
        bytes.append(chunk.data(), got);
    }
    return bytes;
}

QByteArray Pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return bytes;
}

class PageFixture : public PageFixtureBase<CTcpServerPage>
{
public:
    explicit PageFixture(HostEntry *host = LoopbackHost())
        : PageFixtureBase(host)
    {
    }

    void Type(int id, const QString &text)
    {
        auto *edit = Item<QLineEdit>(id);
        edit->clear();
        if (text == QString::fromLatin1(text.toLatin1()))
            QTest::keyClicks(edit, text);
        else
            edit->insert(text);  // Chinese comes through an input method, not as keys
    }
    void SetTicked(int id, bool ticked)
    {
        if (Ticked(id) != ticked)
            Click(id);
    }

    // Listens on a free port (the port box holds port + portOffset); returns the port.
    quint16 Listen(QMessageBox::StandardButton logAnswer = QMessageBox::No, int portOffset = 0)
    {
        port = FreePort();
        Type(kPort, QString::number(port + portOffset));
        boxes.Queue(logAnswer);
        Click(kListen);
        return port;
    }

    // count more clients; true when the page lists them all. They come a backlog's worth at
    // a time: a full accept queue drops connection requests, which costs a second each.
    bool ConnectMany(int count, int timeoutMs = 20000)
    {
        constexpr int kBacklog = 8;
        const int before = page->ClientList()->GetCount();
        QDeadlineTimer deadline(timeoutMs);
        for (int i = 0; i < count; ++i) {
            if (i % kBacklog == 0
                && !WaitUntil([&] { return page->ClientList()->GetCount() == before + i; },
                              static_cast<int>(deadline.remainingTime())))
                return false;
            clients.push_back(std::make_unique<LoopbackClient>(port));
            if (!clients.back()->Connected())
                return false;
        }
        return WaitUntil([&] { return page->ClientList()->GetCount() == before + count; },
                         static_cast<int>(deadline.remainingTime()));
    }

    // A client that the page has listed last, or null.
    LoopbackClient *Connect()
    {
        const int row = page->ClientList()->GetCount();
        if (!ConnectMany(1))
            return nullptr;
        LoopbackClient *client = clients.back().get();
        return ClientLine(row).startsWith(client->Peer() + '-') ? client : nullptr;
    }

    void SelectClient(int row) { SelectRow(page->ClientList(), row); }

    QByteArray ClientLine(int row) const { return page->ClientList()->GetText(row); }
    QByteArray DataLine(int row) const { return page->DataList()->GetText(row); }
    QByteArray LogTop() const { return log.GetText(0); }
    QStringList LogLines() const
    {
        QStringList lines;
        for (int row = 0; row < log.GetCount(); ++row)
            lines.append(FromGbk(log.GetText(row)));
        return lines;
    }
    bool WaitRx(qint64 count, int timeoutMs = kPatienceMs)
    {
        return WaitUntil([&] { return page->RxCount() >= count; }, timeoutMs) && page->RxCount() == count;
    }

    std::vector<std::unique_ptr<LoopbackClient>> clients;
    quint16 port = 0;  // where the page listens
};

}  // namespace

class TestTcpServer : public QObject
{
    Q_OBJECT

private slots:
    void listenRefusesSilently_data();
    void listenRefusesSilently();
    void bindFailureShowsPlainBox();
    void listenLineAndPortAboveRange_data();
    void listenLineAndPortAboveRange();
    void idsStartAtThousandInEachPeriod();
    void disconnectKeepsOrderAndEndsPeer();
    void peerCloseAndResetUseRecordedAddress();
    void receiveTextHexAndZeroByte();
    void burstArrivesInBlocksAndClearData();
    void sendRefusalsInOrder();
    void sendTextAndHexToOneAndAll();
    void sendToAllHexRefusals_data();
    void sendToAllHexRefusals();
    void replyModes_data();
    void replyModes();
    void oddHexReplyFloodShowsOneBox();
    void hexSendFollowsAutoReply();
    void timedSending();
    void countersAreSixtyFourBitAndCleared();
    void trafficLogOfWholeExchange();
    void stopWhenNotListening();
    void descriptorsReturnAfterStop();
    void closingPageWhileListening();
    void idsPastNineThousandNineHundredNinetyNine();
    void enterInSendBoxPressesSend();
    void echoToASlowReaderLosesNothing();
    void stuckClientDelaysNobodyAndResetDropsItsQueue();
    void descriptorReservePausesAccepting();
};

void TestTcpServer::listenRefusesSilently_data()
{
    QTest::addColumn<bool>("withHost");
    QTest::addColumn<QString>("portText");
    QTest::newRow("port 0") << true << "0";
    QTest::newRow("port not a number") << true << "http";
    QTest::newRow("empty host box") << false << "6800";
}

void TestTcpServer::listenRefusesSilently()
{
    QFETCH(bool, withHost);
    QFETCH(QString, portText);
    PageFixture f(withHost ? LoopbackHost() : nullptr);
    QCOMPARE(f.Item<QComboBox>(kHost)->count(), withHost ? 1 : 0);
    const int sockets = OpenSockets();

    f.Type(kPort, portText);
    f.Click(kListen);
    QTest::qWait(20);
    QCOMPARE(f.boxes.Count(), 0);
    QCOMPARE(f.log.GetCount(), 0);
    QVERIFY(!f.page->IsListening());
    QVERIFY(f.Enabled(kListen) && f.Enabled(kHost) && f.Enabled(kPort));
    QCOMPARE(OpenSockets(), sockets);
}

void TestTcpServer::bindFailureShowsPlainBox()
{
    PageFixture f;
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
    const int sockets = OpenSockets();

    f.Type(kPort, QString::number(holder.serverPort()));
    f.Click(kListen);
    QCOMPARE(f.boxes.Count(), 1);  // no traffic log question after it
    const BoxAnswerer::Box box = f.boxes.Boxes()[0];
    QCOMPARE(box.text, QString("绑定失败"));
    QCOMPARE(box.caption, QString("TCP Server提示"));
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QCOMPARE(box.buttons, QMessageBox::Ok);
    QVERIFY(!f.page->IsListening());
    QVERIFY(f.Enabled(kListen) && f.Enabled(kHost) && f.Enabled(kPort));
    QCOMPARE(f.log.GetCount(), 0);
    QCOMPARE(OpenSockets(), sockets);  // the refused socket is closed

    holder.close();  // the port is free again: the same page now listens there
    f.boxes.Queue(QMessageBox::No);
    f.Click(kListen);
    QVERIFY(f.page->IsListening());
}

void TestTcpServer::listenLineAndPortAboveRange_data()
{
    QTest::addColumn<int>("offset");
    QTest::newRow("port as typed") << 0;
    QTest::newRow("port above 65535") << 65536;
}

void TestTcpServer::listenLineAndPortAboveRange()
{
    QFETCH(int, offset);
    PageFixture f;
    const quint16 port = f.Listen(QMessageBox::No, offset);
    const QString typed = QString::number(port + offset);
    QVERIFY(f.page->IsListening());
    QCOMPARE(f.boxes.Count(), 1);
    QCOMPARE(f.boxes.Boxes()[0].text, QString("是否需要系统记录收发数据？"));
    QCOMPARE(f.boxes.Boxes()[0].caption, QString("TCP Server提示"));
    QCOMPARE(f.LogTop(), ToGbk(" TCP开始监听127.0.0.1:" + typed + " 等待客户端连接\r\n"));
    QVERIFY(!f.Enabled(kListen) && !f.Enabled(kHost) && !f.Enabled(kPort) && f.Enabled(kStop));

    LoopbackClient *client = f.Connect();  // reaches the port modulo 65536
    QVERIFY(client);
    QCOMPARE(f.LogTop(), ToGbk(" " + client->PeerText() + "连接到本机\r\n"));

    f.Click(kStop);
    QCOMPARE(f.LogTop(), ToGbk(" TCP停止监听127.0.0.1:" + typed + " 关闭线程\r\n"));
    QVERIFY(f.Enabled(kListen) && f.Enabled(kHost) && f.Enabled(kPort));
}

void TestTcpServer::idsStartAtThousandInEachPeriod()
{
    PageFixture f;
    std::unique_ptr<LoopbackClient> early;  // connects while the log question is still open
    f.boxes.OnBox([&](const BoxAnswerer::Box &) {
        if (!early)
            early = std::make_unique<LoopbackClient>(f.port);
    });
    f.Listen();
    QVERIFY(early && early->Connected());
    QVERIFY(WaitUntil([&] { return f.page->ClientList()->GetCount() == 1; }));  // taken from the backlog
    LoopbackClient *second = f.Connect();
    QVERIFY(second);
    QCOMPARE(f.ClientLine(0), early->Peer() + "-1000");
    QCOMPARE(f.ClientLine(1), second->Peer() + "-1001");

    f.Click(kStop);
    QCOMPARE(f.page->ClientList()->GetCount(), 0);
    QVERIFY(early->SeesEnd());
    QVERIFY(second->SeesEnd());
    QVERIFY(g_pSessionHead == nullptr);

    f.Listen();
    LoopbackClient *third = f.Connect();
    QVERIFY(third);
    QCOMPARE(f.ClientLine(0), third->Peer() + "-1000");
}

void TestTcpServer::disconnectKeepsOrderAndEndsPeer()
{
    PageFixture f;
    f.Listen();
    LoopbackClient *a = f.Connect();
    LoopbackClient *b = f.Connect();
    LoopbackClient *c = f.Connect();
    QVERIFY(a && b && c);
    const int logLines = f.log.GetCount();

    f.SelectClient(1);
    QCOMPARE(f.page->ClientList()->GetCurSel(), 1);
    f.Click(kDisconnect);
    QCOMPARE(f.page->ClientList()->GetCount(), 2);
    QCOMPARE(f.ClientLine(0), a->Peer() + "-1000");
    QCOMPARE(f.ClientLine(1), c->Peer() + "-1002");
    QVERIFY(b->SeesEnd());
    QCOMPARE(f.log.GetCount(), logLines);  // the user's own disconnect is not logged
    QCOMPARE(f.boxes.Count(), 1);

    LoopbackClient *d = f.Connect();
    QVERIFY(d);
    QCOMPARE(f.ClientLine(2), d->Peer() + "-1003");

    f.Click(kDisconnect);  // the rebuilt list has no selection
    QCOMPARE(f.boxes.Count(), 2);
    QCOMPARE(f.boxes.Boxes()[1].text, QString("请选择需要断开的客户端!"));
    QCOMPARE(f.boxes.Boxes()[1].caption, QString("Velvane V1.03"));
    QCOMPARE(f.boxes.Boxes()[1].icon, QMessageBox::Warning);
    QCOMPARE(f.page->ClientList()->GetCount(), 3);
}

void TestTcpServer::peerCloseAndResetUseRecordedAddress()
{
    PageFixture f;
    f.Listen();
    const int sockets = OpenSockets();
    LoopbackClient *leaving = f.Connect();
    LoopbackClient *resetting = f.Connect();
    QVERIFY(leaving && resetting);

    const QString leavingPeer = leaving->PeerText();
    QVERIFY(leaving->Send("bye"));  // what came before the close is still shown
    leaving->Close();
    QVERIFY(WaitUntil([&] { return f.page->ClientList()->GetCount() == 1; }));
    QCOMPARE(f.LogTop(), ToGbk(" " + leavingPeer + "断开与服务器的连接\r\n"));
    QCOMPARE(f.DataLine(0), leaving->Peer() + " bye\r\n");
    QCOMPARE(f.ClientLine(0), resetting->Peer() + "-1001");

    // Reset while most of a stream still waits unread: the reads that follow and the close
    // line can no longer ask the socket for its peer.
    const QString resettingPeer = resetting->PeerText();
    QVERIFY(resetting->Send(QByteArray(32 * 1024, 'r')));
    QVERIFY(WaitUntil([&] { return f.page->RxCount() > 3; }));
    resetting->Reset();
    const qint64 readBeforeReset = f.page->RxCount();
    QVERIFY(WaitUntil([&] { return f.page->ClientList()->GetCount() == 0; }));
    QVERIFY(f.page->RxCount() >= readBeforeReset);  // a flood may have been read whole before the reset
    QCOMPARE(f.LogTop(), ToGbk(" " + resettingPeer + "断开与服务器的连接\r\n"));
    const QStringList lines = f.LogLines();
    QCOMPARE(lines.filter("0.0.0.0").size(), 0);
    QCOMPARE(lines.filter(" 接收来自" + resettingPeer + "的数据\r\n").size(), f.page->DataList()->GetCount() - 1);
    for (int row = 0; row + 1 < f.page->DataList()->GetCount(); ++row)
        QVERIFY(f.DataLine(row).startsWith(resetting->Peer() + ' '));
    QCOMPARE(OpenSockets(), sockets);  // the server closed both ends it held
}

void TestTcpServer::receiveTextHexAndZeroByte()
{
    PageFixture f;
    f.Listen();
    LoopbackClient *client = f.Connect();
    QVERIFY(client);
    const QByteArray peer = client->Peer();

    QVERIFY(client->Send("hello"));
    QVERIFY(f.WaitRx(5));
    QCOMPARE(f.DataLine(0), peer + " hello\r\n");
    QCOMPARE(f.LogTop(), ToGbk(" 接收来自" + client->PeerText() + "的数据\r\n"));
    QTRY_COMPARE(f.Text(kRx), QString("5"));

    f.Click(kHexDisplay);
    QVERIFY(client->Send("hello"));
    QVERIFY(f.WaitRx(10));
    QCOMPARE(f.DataLine(0), peer + " 68 65 6C 6C 6F \r\n");

    QVERIFY(client->Send(QByteArray("\x41\x42\x00\x43\x44", 5)));
    QVERIFY(f.WaitRx(15));
    QCOMPARE(f.DataLine(0), peer + " 41 42 00 43 44 \r\n");

    f.Click(kHexDisplay);
    QVERIFY(client->Send(QByteArray("AB\0CD", 5)));
    QVERIFY(f.WaitRx(20));
    QCOMPARE(f.DataLine(0), peer + " AB\r\n");  // text stops at the zero byte, RX counts all
    QCOMPARE(f.page->DataList()->GetCount(), 4);
    QCOMPARE(f.DataLine(3), peer + " hello\r\n");
    QTRY_COMPARE(f.Text(kRx), QString("20"));
}

void TestTcpServer::burstArrivesInBlocksAndClearData()
{
    PageFixture f;
    f.Listen();
    LoopbackClient *client = f.Connect();
    QVERIFY(client);
    const QByteArray peer = client->Peer();
    QByteArray burst;
    for (int i = 0; i < 600; ++i)
        burst.append(char('a' + i % 26));
    const int logBefore = f.log.GetCount();

    QVERIFY(client->Send(burst));
    QVERIFY(f.WaitRx(600));
    const int blocks = f.page->DataList()->GetCount();
    QVERIFY2(blocks >= 3, qPrintable(QString::number(blocks)));
    QByteArray joined;
    for (int row = blocks - 1; row >= 0; --row) {  // oldest at the bottom
        const QByteArray line = f.DataLine(row);
        QVERIFY(line.startsWith(peer + ' ') && line.endsWith("\r\n"));
        const QByteArray data = line.mid(peer.size() + 1).chopped(2);
        QVERIFY(data.size() <= 256);
        joined += data;
    }
    QCOMPARE(joined, burst);
    QCOMPARE(f.log.GetCount() - logBefore, blocks);  // one system log line per block
    QTRY_COMPARE(f.Text(kRx), QString("600"));

    QVERIFY(f.page->DataList()->HorizontalExtent() > 0);
    f.Click(kClearData);
    QCOMPARE(f.page->DataList()->GetCount(), 0);
    QCOMPARE(f.page->DataList()->HorizontalExtent(), 0);
    QCOMPARE(f.page->RxCount(), 600);  // clearing the data leaves the counts alone
}

void TestTcpServer::sendRefusalsInOrder()
{
    PageFixture f;
    f.Listen();
    f.Click(kSendAll);
    f.Click(kSend);  // empty box comes first, even with no client and send to all
    f.Type(kSendBox, "x");
    f.Click(kSend);
    f.Click(kSendAll);
    f.Click(kSend);
    const QStringList expected{"发送内容不能为空!", "当前没有在线客户端!", "请选择要发送的目的地!"};
    QCOMPARE(f.boxes.Texts().mid(1), expected);
    for (const BoxAnswerer::Box &box : f.boxes.Boxes().mid(1)) {
        QCOMPARE(box.caption, QString("Velvane V1.03"));
        QCOMPARE(box.icon, QMessageBox::Warning);
    }

    LoopbackClient *selected = f.Connect();  // the selected client goes: no selection is left
    LoopbackClient *other = f.Connect();
    QVERIFY(selected && other);
    f.SelectClient(0);
    selected->Close();
    QVERIFY(WaitUntil([&] { return f.page->ClientList()->GetCount() == 1; }));
    f.Click(kSend);
    QCOMPARE(f.boxes.Texts().last(), QString("请选择要发送的目的地!"));
    QCOMPARE(f.page->TxCount(), 0);
    QCOMPARE(other->Read(1, 100), QByteArray());
}

void TestTcpServer::sendTextAndHexToOneAndAll()
{
    PageFixture f;
    f.Listen();
    LoopbackClient *a = f.Connect();
    LoopbackClient *b = f.Connect();
    QVERIFY(a && b);

    f.SelectClient(1);
    f.Type(kSendBox, "a b");
    f.Click(kSend);
    QCOMPARE(b->Read(3), QByteArray("ab\0", 3));  // spaces removed, one NUL added
    QCOMPARE(f.page->TxCount(), 2);
    QTRY_COMPARE(f.Text(kTx), QString("2"));
    QCOMPARE(a->Read(1, 100), QByteArray());

    f.Type(kSendBox, "你好");
    f.Click(kSend);
    QCOMPARE(b->Read(5), ToGbk(u"你好") + '\0');
    QCOMPARE(f.page->TxCount(), 6);

    f.Click(kHexSend);
    f.Type(kSendBox, "01 02 0a FF");
    f.Click(kSend);
    QCOMPARE(b->Read(4), QByteArray("\x01\x02\x0A\xFF", 4));
    QCOMPARE(f.page->TxCount(), 10);

    f.Click(kSendAll);
    f.Click(kSend);
    QCOMPARE(a->Read(4), QByteArray("\x01\x02\x0A\xFF", 4));
    QCOMPARE(b->Read(4), QByteArray("\x01\x02\x0A\xFF", 4));
    QCOMPARE(f.page->TxCount(), 18);

    f.Click(kHexSend);
    f.Type(kSendBox, "hi");
    f.Click(kSend);
    QCOMPARE(a->Read(3), QByteArray("hi\0", 3));
    QCOMPARE(b->Read(3), QByteArray("hi\0", 3));
    QCOMPARE(f.page->TxCount(), 22);
    QCOMPARE(f.boxes.Count(), 1);  // only the Listen question
}

void TestTcpServer::sendToAllHexRefusals_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("secondLeavesMidway");
    QTest::addColumn<QStringList>("expected");
    const QString odd = "输入格式不符合要求!";
    QTest::newRow("odd, once per client") << "1 2 3" << false << QStringList{odd, odd, odd};
    QTest::newRow("too long, once per client")
        << QString(256, 'A') << false << QStringList(3, "您一次要发送的字节太长!");
    QTest::newRow("bad token ends the send") << "0x12" << false << QStringList{"输入的16进制格式错误!"};
    QTest::newRow("client gone while a box is open") << "123" << true << QStringList{odd, "套接字为空,无法发送!", odd};
}

void TestTcpServer::sendToAllHexRefusals()
{
    QFETCH(QString, text);
    QFETCH(bool, secondLeavesMidway);
    QFETCH(QStringList, expected);
    PageFixture f;
    f.Listen();
    LoopbackClient *clients[] = {f.Connect(), f.Connect(), f.Connect()};
    QVERIFY(clients[0] && clients[1] && clients[2]);
    f.boxes.Clear();

    bool timerRanAtABox = false;
    bool secondGone = false;
    f.boxes.OnBox([&](const BoxAnswerer::Box &) {
        timerRanAtABox = timerRanAtABox || f.page->IsTimedSending() || f.Ticked(kTimedSend);
        if (!secondLeavesMidway || f.boxes.Count() != 1)
            return;
        // The second client goes while the first box is open; its line is still in the send.
        f.boxes.Hold(true);
        clients[1]->Close();
        secondGone = WaitUntil([&] { return f.page->ClientList()->GetCount() == 2; });
        f.boxes.Hold(false);
    });
    f.Click(kHexSend);
    f.Click(kSendAll);
    f.Type(kSendBox, text);
    f.Click(kTimedSend);
    QVERIFY(f.page->IsTimedSending());
    f.Click(kSend);

    QCOMPARE(f.boxes.Texts(), expected);
    QCOMPARE(secondGone, secondLeavesMidway);
    QVERIFY(!timerRanAtABox);
    QVERIFY(!f.Ticked(kTimedSend) && !f.page->IsTimedSending());
    QCOMPARE(f.page->TxCount(), 0);
    for (LoopbackClient *client : clients)
        if (client != clients[1] || !secondLeavesMidway)
            QCOMPARE(client->Read(1, 50), QByteArray());
}

void TestTcpServer::replyModes_data()
{
    QTest::addColumn<bool>("echo");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QString>("sendText");
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("txPerBlock");
    QTest::newRow("own text for an empty box") << false << false << "" << QByteArray("ping") << kOwnReply + '\0' << 22;
    QTest::newRow("send box text") << false << false << "a b" << QByteArray("ping") << QByteArray("ab\0", 3) << 2;
    QTest::newRow("send box hex") << false << true << "01 fe" << QByteArray("ping") << QByteArray("\x01\xFE", 2) << 2;
    QTest::newRow("transparent") << true << false << "ignored" << QByteArray("ab\0cd", 5) << QByteArray("ab\0cd", 5)
                                 << 5;
}

void TestTcpServer::replyModes()
{
    QFETCH(bool, echo);
    QFETCH(bool, hex);
    QFETCH(QString, sendText);
    QFETCH(QByteArray, block);
    QFETCH(QByteArray, reply);
    QFETCH(int, txPerBlock);
    PageFixture f;
    f.Listen();
    LoopbackClient *talker = f.Connect();
    LoopbackClient *bystander = f.Connect();
    QVERIFY(talker && bystander);
    QVERIFY(f.Ticked(kReplyData));

    f.SetTicked(kHexSend, hex);
    f.Type(kSendBox, sendText);
    f.Click(kAutoReply);
    QVERIFY(f.Ticked(kAutoReply));
    if (echo)
        f.Click(kReplyEcho);

    for (int round = 1; round <= 2; ++round) {  // every block is answered
        QVERIFY(talker->Send(block));
        QCOMPARE(talker->Read(reply.size()), reply);
        QCOMPARE(f.page->TxCount(), round * txPerBlock);
        QTRY_COMPARE(f.Text(kTx), QString::number(round * txPerBlock));
    }
    QCOMPARE(bystander->Read(1, 50), QByteArray());  // only the sender is answered
    QCOMPARE(f.boxes.Count(), 1);
}

void TestTcpServer::oddHexReplyFloodShowsOneBox()
{
    PageFixture f;
    f.Listen();
    LoopbackClient *client = f.Connect();
    QVERIFY(client);
    f.Click(kHexSend);
    f.Type(kSendBox, "1 2 3");
    f.Click(kAutoReply);
    f.boxes.Clear();

    // Hold the first box open while the rest of the flood is read under it.
    constexpr int kBlocks = 40;
    constexpr int kTotal = kBlocks * 256;
    int mostOpen = 0;
    qint64 rxWhileHeld = 0;
    QDeadlineTimer deadline(kPatienceMs);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        mostOpen = std::max(mostOpen, f.boxes.OpenBoxes());
        if (f.boxes.OpenBoxes() > 0 && (f.page->RxCount() >= kTotal || deadline.hasExpired())) {
            rxWhileHeld = f.page->RxCount();
            f.boxes.Hold(false);
        }
    });
    watch.start(2);
    f.boxes.Hold(true);
    QVERIFY(client->Send(QByteArray(kTotal, 'f')));
    QVERIFY(WaitUntil([&] { return f.page->RxCount() >= kTotal && f.boxes.OpenBoxes() == 0; }, 2 * kPatienceMs));
    watch.stop();

    QCOMPARE(rxWhileHeld, kTotal);  // the blocks did arrive while the box was open
    QCOMPARE(mostOpen, 1);
    QCOMPARE(f.boxes.Texts(), QStringList{"输入格式不符合要求!"});
    QCOMPARE(f.page->TxCount(), 0);
    QCOMPARE(client->Read(1, 50), QByteArray());

    QVERIFY(client->Send("again"));  // once the box is gone the next failure shows again
    QVERIFY(WaitUntil([&] { return f.boxes.Count() == 2; }));
}

void TestTcpServer::hexSendFollowsAutoReply()
{
    PageFixture f;
    QVERIFY(!f.Enabled(kAutoReply) && !f.Enabled(kReplyData) && !f.Enabled(kReplyEcho));
    QVERIFY(f.Ticked(kReplyData) && !f.Ticked(kAutoReply));
    f.Listen();
    LoopbackClient *client = f.Connect();
    QVERIFY(client);
    QVERIFY(f.Enabled(kAutoReply) && f.Enabled(kReplyData) && f.Enabled(kReplyEcho));

    f.Click(kHexSend);
    f.Click(kAutoReply);
    QVERIFY(!f.Enabled(kHexSend));
    QVERIFY(f.Ticked(kHexSend));  // its tick still decides the replies
    f.Click(kAutoReply);
    QVERIFY(f.Enabled(kHexSend));
    f.Click(kAutoReply);

    client->Close();  // the last client leaves
    QVERIFY(WaitUntil([&] { return !f.Enabled(kAutoReply); }));
    QVERIFY(!f.Ticked(kAutoReply) && !f.Enabled(kReplyData) && !f.Enabled(kReplyEcho));
    QVERIFY(!f.Enabled(kHexSend));

    f.Click(kStop);
    QVERIFY(f.Enabled(kHexSend));
}

void TestTcpServer::timedSending()
{
    PageFixture f;
    f.Listen();
    LoopbackClient *client = f.Connect();
    QVERIFY(client);
    f.Type(kSendBox, "t");
    f.Click(kSendAll);

    f.Type(kInterval, "499");
    f.Click(kTimedSend);
    QCOMPARE(f.boxes.Texts().last(), QString("发送时间间隔太短!"));
    QVERIFY(f.Ticked(kTimedSend) && !f.page->IsTimedSending());
    f.Click(kTimedSend);

    f.Type(kInterval, "500");
    f.Click(kTimedSend);
    QVERIFY(f.page->IsTimedSending());
    QCOMPARE(client->Read(6), QByteArray("t\0t\0t\0", 6));  // three ticks, each one send
    f.Click(kTimedSend);
    QVERIFY(!f.page->IsTimedSending());
    const qint64 tx = f.page->TxCount();
    QCOMPARE(client->Read(1, 700), QByteArray());
    QCOMPARE(f.page->TxCount(), tx);

    // Stop leaves the timer running until its next tick, which fails and ends it first.
    bool runningAtBox = true;
    f.boxes.OnBox([&](const BoxAnswerer::Box &) { runningAtBox = f.page->IsTimedSending() || f.Ticked(kTimedSend); });
    const int boxes = f.boxes.Count();
    f.Click(kTimedSend);
    f.Click(kStop);
    QVERIFY(f.page->IsTimedSending());
    QVERIFY(WaitUntil([&] { return f.boxes.Count() == boxes + 1; }));
    QCOMPARE(f.boxes.Texts().last(), QString("当前没有在线客户端!"));
    QVERIFY(!runningAtBox);
    QVERIFY(!f.page->IsTimedSending() && !f.Ticked(kTimedSend));
}

void TestTcpServer::countersAreSixtyFourBitAndCleared()
{
    static_assert(std::is_same_v<decltype(std::declval<CTcpServerPage>().RxCount()), qint64>);
    static_assert(std::is_same_v<decltype(std::declval<CTcpServerPage>().TxCount()), qint64>);
    PageFixture f;
    QTRY_COMPARE(f.Text(kTx), QString("0"));
    QTRY_COMPARE(f.Text(kRx), QString("0"));
    f.Listen();
    LoopbackClient *client = f.Connect();
    QVERIFY(client);
    QVERIFY(client->Send("12345678"));
    QVERIFY(f.WaitRx(8));
    f.SelectClient(0);
    f.Type(kSendBox, "abc");
    f.Click(kSend);

    f.Click(kStop);  // Stop and Listen leave the counts alone
    f.Listen();
    QTRY_COMPARE(f.Text(kRx), QString("8"));
    QTRY_COMPARE(f.Text(kTx), QString("3"));

    f.Click(kClearCounters);
    QCOMPARE(f.page->RxCount(), 0);
    QCOMPARE(f.page->TxCount(), 0);
    QTRY_COMPARE(f.Text(kRx), QString("0"));
    QTRY_COMPARE(f.Text(kTx), QString("0"));
}

void TestTcpServer::trafficLogOfWholeExchange()
{
    PageFixture f;
    g_strDateTime = "2024-5-6 7:8:9";
    const QString path = f.dir.FilePath("logtcp.txt");
    f.Listen(QMessageBox::Yes);
    QCOMPARE(g_bTcpTrafficLog, 1);
    LoopbackClient *client = f.Connect();
    QVERIFY(client);
    const QByteArray peer = client->Peer();

    QVERIFY(client->Send("hello"));
    QVERIFY(f.WaitRx(5));
    f.Click(kHexDisplay);
    QVERIFY(client->Send("hi"));
    QVERIFY(f.WaitRx(7));
    f.Click(kHexDisplay);
    f.SelectClient(0);
    f.Type(kSendBox, "a b");
    f.Click(kSend);
    f.Click(kHexSend);
    f.Type(kSendBox, "01 02");
    f.Click(kSend);
    f.Click(kHexSend);
    f.Item<QLineEdit>(kSendBox)->clear();
    f.Click(kAutoReply);
    QVERIFY(client->Send("x"));
    QCOMPARE(client->Read(3 + 2 + 23).size(), 28);
    f.Click(kReplyEcho);
    QVERIFY(client->Send(QByteArray("echo\0!", 6)));
    QCOMPARE(client->Read(6), QByteArray("echo\0!", 6));
    // A send to a connection its peer has reset goes nowhere, so it is not logged as sent.
    LoopbackClient *gone = f.Connect();
    QVERIFY(gone);
    f.SelectClient(1);
    f.Type(kSendBox, "lost");
    gone->Reset();
    f.page->OnSend();
    f.Click(kStop);
    QCOMPARE(g_bTcpTrafficLog, 0);

    const QByteArray first = "2024-5-6 7:8:9\r\n" + kSeparator + "CLIENT->SERVER  " + peer + " hello\r\n"
                             + "CLIENT->SERVER  " + peer + " 68 69 \r\n" + "SERVER->CLIENT  ab\r\n"
                             + "SERVER->CLIENT  0102\r\n" + "CLIENT->SERVER  " + peer + " x\r\n" + "SERVER->CLIENT  "
                             + kOwnReply + "\r\n" + "CLIENT->SERVER  " + peer + " echo\r\n"
                             + "SERVER->CLIENT  echo\r\n";
    QCOMPARE(ReadFileBytes(path), first);

    g_strDateTime = "2024-5-6 7:9:0";
    f.Listen(QMessageBox::Yes);  // a second section after five empty lines
    f.Click(kStop);
    const QByteArray second = first + "\r\n\r\n\r\n\r\n\r\n" + "2024-5-6 7:9:0\r\n" + kSeparator;
    QCOMPARE(ReadFileBytes(path), second);

    f.Listen(QMessageBox::No);  // No leaves the file alone, traffic included
    LoopbackClient *late = f.Connect();
    QVERIFY(late);
    QVERIFY(late->Send("unlogged"));
    QVERIFY(f.WaitRx(5 + 2 + 1 + 6 + 8));
    QCOMPARE(ReadFileBytes(path), second);
}

void TestTcpServer::stopWhenNotListening()
{
    PageFixture f;
    f.Click(kStop);
    QCOMPARE(f.LogTop(), ToGbk(u" TCP停止监听127.0.0.1:6800 关闭线程\r\n"));
    QVERIFY(!f.page->IsListening());
    QVERIFY(f.Enabled(kListen) && f.Enabled(kHost) && f.Enabled(kPort) && f.Enabled(kHexSend));
    QCOMPARE(f.boxes.Count(), 0);

    f.Listen();  // the page is still usable, and a second Stop is as harmless
    QVERIFY(f.page->IsListening());
    f.Click(kStop);
    f.Click(kStop);
    QVERIFY(!f.page->IsListening());
    QCOMPARE(f.log.GetCount(), 4);
}

void TestTcpServer::descriptorsReturnAfterStop()
{
    PageFixture f;
    const int before = OpenSockets();
    f.Listen();
    QVERIFY(f.ConnectMany(200));
    QVERIFY(f.ClientLine(0).endsWith("-1000"));
    QVERIFY(f.ClientLine(199).endsWith("-1199"));
    for (const auto &client : f.clients)  // all of them leave together
        client->Close();
    QVERIFY(WaitUntil([&] { return f.page->ClientList()->GetCount() == 0; }, 20000));
    f.Click(kStop);
    QCOMPARE(OpenSockets(), before);

    f.clients.clear();  // clients still there at Stop are ended by it
    f.Listen();
    QVERIFY(f.ConnectMany(20));
    f.Click(kStop);
    QVERIFY(g_pSessionHead == nullptr);
    for (const auto &client : f.clients)
        QVERIFY(client->SeesEnd());

    f.clients.clear();  // clients that close at once, before the page has even listed them
    f.log.ResetContent();
    f.Listen();
    for (int i = 0; i < 8; ++i)
        LoopbackClient(f.port).Close();
    QVERIFY(WaitUntil([&] { return f.LogLines().filter("断开与服务器的连接").size() == 8; }));
    QCOMPARE(f.page->ClientList()->GetCount(), 0);
    f.Click(kStop);
    QCOMPARE(OpenSockets(), before);

    // Accepted by the worker, not yet taken in by the page when Stop comes.
    f.Listen();
    f.clients.push_back(std::make_unique<LoopbackClient>(f.port));
    QThread::msleep(300);
    f.Click(kStop);
    QVERIFY(f.clients.back()->SeesEnd());
    QCOMPARE(f.page->ClientList()->GetCount(), 0);
    f.clients.clear();
    QCOMPARE(OpenSockets(), before);
}

void TestTcpServer::closingPageWhileListening()
{
    PageFixture f;
    const int before = OpenSockets();
    f.Listen();
    QVERIFY(f.ConnectMany(3));
    // One more that the worker has accepted but the page has not taken in yet.
    f.clients.push_back(std::make_unique<LoopbackClient>(f.port));
    QVERIFY(f.clients.back()->Connected());
    QThread::msleep(300);

    // The worker looks at its run flag at least every 100 ms, so closing joins it at once;
    // the bound only keeps a worker that never looks from hanging the run.
    QElapsedTimer closing;
    closing.start();
    f.page.reset();
    QVERIFY2(closing.elapsed() < 60000, "closing the page waited for the accept worker");
    QVERIFY(g_pSessionHead == nullptr);
    QCOMPARE(g_bAcceptRunning.load(), 0);
    QTest::qWait(20);
    for (size_t i = 0; i < f.clients.size(); ++i)
        QVERIFY2(f.clients[i]->SeesEnd(), qPrintable(QString("client %1 is never ended").arg(i)));
    f.clients.clear();
    QCOMPARE(OpenSockets(), before);
}

void TestTcpServer::idsPastNineThousandNineHundredNinetyNine()
{
    PageFixture f;
    f.Listen();
    LoopbackClient *first = f.Connect();
    QVERIFY(first);
    // Ids 1001 to 9999 come and go in batches while 1000 stays.
    for (int done = 0; done < 8999;) {
        const int batch = std::min(150, 8999 - done);
        QVERIFY(f.ConnectMany(batch));
        f.clients.resize(1);
        QVERIFY(WaitUntil([&] { return f.page->ClientList()->GetCount() == 1; }, 20000));
        done += batch;
    }
    LoopbackClient *last = f.Connect();
    QVERIFY(last);
    QCOMPARE(f.ClientLine(1), last->Peer() + "-10000");

    f.SelectClient(1);
    f.Type(kSendBox, "z");
    f.Click(kSend);
    QCOMPARE(last->Read(2), QByteArray("z\0", 2));
    QCOMPARE(first->Read(1, 50), QByteArray());

    f.SelectClient(1);
    f.Click(kDisconnect);
    QVERIFY(last->SeesEnd());
    QCOMPARE(f.page->ClientList()->GetCount(), 1);
    QCOMPARE(f.ClientLine(0), first->Peer() + "-1000");
}

void TestTcpServer::enterInSendBoxPressesSend()
{
    ScopedTemporaryCurrentDir dir;
    ResetProcessGlobals();
    BoxAnswerer boxes(QMessageBox::No);
    CMainDlg dlg;
    dlg.Create();
    dlg.show();
    auto *sendBox = qobject_cast<QLineEdit *>(dlg.TcpServerPage()->GetDlgItem(kSendBox));
    QVERIFY(sendBox);
    sendBox->setFocus();
    QTest::keyClicks(sendBox, "hello");
    QTest::keyClick(sendBox, Qt::Key_Return);
    // The page's default button ran (no client selected), and the window stays open.
    QCOMPARE(boxes.Texts().last(), QString("请选择要发送的目的地!"));
    QVERIFY(dlg.isVisible());
    SetSystemLogList(nullptr);
}

void TestTcpServer::echoToASlowReaderLosesNothing()
{
    PageFixture f;
    f.Listen();
    LoopbackClient *client = f.Connect();
    QVERIFY(client);
    f.SetTicked(kAutoReply, true);
    f.Click(kReplyEcho);

    // The client sends everything before it reads anything, from its own thread: the echo
    // backs up in the page's queue and then in the kernel, and must all come back.
    const QByteArray sent = Pattern(4 * 1024 * 1024);
    const int fd = ConnectWithSmallWindow(f.port);
    QVERIFY(fd >= 0);
    QVERIFY(WaitUntil([&] { return f.page->ClientList()->GetCount() == 2; }));
    std::atomic<bool> allSent = false;
    std::thread writer([&] {
        const timeval limit{20, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        allSent = ::send(fd, sent.constData(), sent.size(), MSG_NOSIGNAL) == sent.size();
    });
    const bool sending = WaitUntil([&] { return allSent.load(); }, 20000);
    writer.join();
    QVERIFY(sending);
    const QByteArray back = ReadWhileServing(fd, sent.size());
    ::close(fd);
    QCOMPARE(back.size(), sent.size());
    QVERIFY(back == sent);
    QTRY_COMPARE(f.page->TxCount(), qint64(sent.size()));
    QCOMPARE(f.page->RxCount(), qint64(sent.size()));
    QTRY_COMPARE(f.Text(kTx), QString::number(sent.size()));
}

void TestTcpServer::stuckClientDelaysNobodyAndResetDropsItsQueue()
{
    PageFixture f;
    f.Listen();
    LoopbackClient *reader = f.Connect();
    QVERIFY(reader);
    const int stuck = ConnectWithSmallWindow(f.port);
    const int vanishing = ConnectWithSmallWindow(f.port);
    QVERIFY(stuck >= 0 && vanishing >= 0);
    QVERIFY(WaitUntil([&] { return f.page->ClientList()->GetCount() == 3; }));

    const QByteArray text = Pattern(4000).toHex().left(4000);
    f.Item<QLineEdit>(kSendBox)->setText(QString::fromLatin1(text));
    f.Click(kSendAll);
    constexpr int kSends = 1000;
    const qint64 perClient = qint64(kSends) * text.size();
    QByteArray readerGot;
    for (int i = 0; i < kSends; ++i) {
        f.page->OnSend();
        if (i % 10 == 9)
            readerGot += reader->Read(10 * (text.size() + 1));  // keeps up although two others do not read
    }
    QCOMPARE(readerGot.size(), qsizetype(kSends) * (text.size() + 1));
    QVERIFY(readerGot == (text + '\0').repeated(kSends));
    QVERIFY2(f.page->TxCount() < 3 * perClient, "the two that do not read should hold queued bytes");

    // The one that vanishes with bytes queued: they are dropped, never counted.
    CloseWithReset(vanishing);
    QVERIFY(WaitUntil([&] { return f.page->ClientList()->GetCount() == 2; }));
    QVERIFY(FromGbk(f.LogTop()).endsWith("断开与服务器的连接\r\n"));

    // The stuck one reads at last and gets every byte, in order; TX then counts exactly
    // what went out to the three.
    const QByteArray stuckGot = ReadWhileServing(stuck, kSends * (text.size() + 1));
    ::close(stuck);
    QVERIFY(stuckGot == (text + '\0').repeated(kSends));
    const qint64 tx = f.page->TxCount();
    QVERIFY(tx >= 2 * perClient && tx < 3 * perClient);
    f.page->OnSend();  // the page goes on serving who is left
    QCOMPARE(reader->Read(text.size() + 1), text + '\0');
}

void TestTcpServer::descriptorReservePausesAccepting()
{
    rlimit original{};
    QVERIFY(::getrlimit(RLIMIT_NOFILE, &original) == 0);
    PageFixture f;
    // A limit just above what the process holds: the reserve is reached after a few dozen clients.
    const int headroom = 60;
    rlimit low = original;
    low.rlim_cur = std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {})
                   + AcceptWorker::kDescriptorReserve + headroom;
    struct RestoreLimit
    {
        rlimit limit;
        ~RestoreLimit() { ::setrlimit(RLIMIT_NOFILE, &limit); }
    } restore{original};
    QVERIFY(::setrlimit(RLIMIT_NOFILE, &low) == 0);
    f.Listen();

    const QString pausedLine = QStringLiteral(" TCP连接数接近系统上限，暂停接受新的客户端\r\n");
    const QString resumedLine = QStringLiteral(" TCP恢复接受新的客户端\r\n");
    auto count = [&](const QString &line) { return static_cast<int>(f.LogLines().count(line)); };
    for (int i = 0; i < 2 * headroom && count(pausedLine) == 0; ++i) {
        f.clients.push_back(std::make_unique<LoopbackClient>(f.port));
        QVERIFY(f.clients.back()->Connected());
        QVERIFY(WaitUntil([&] { return f.page->ClientList()->GetCount() == i + 1 || count(pausedLine) > 0; }));
    }
    QCOMPARE(count(pausedLine), 1);
    const int listed = f.page->ClientList()->GetCount();
    QVERIFY2(listed >= 10 && listed <= headroom, qPrintable(QString::number(listed)));
    // Clients that come now wait in the backlog, not refused and not taken in.
    for (int i = 0; i < 5; ++i)
        f.clients.push_back(std::make_unique<LoopbackClient>(f.port));
    QTest::qWait(300);
    QCOMPARE(f.page->ClientList()->GetCount(), listed);
    // The worker tells of the pause just after it queues the client that reached the reserve:
    // when the page shows that client first, the loop above has made one more, which waits too.
    const int waiting = static_cast<int>(f.clients.size()) - listed;
    QVERIFY2(waiting == 5 || waiting == 6, qPrintable(QString::number(waiting)));

    // Enough of them leave: accepting goes on, and the waiting ones are taken in.
    const int leaving = listed - 3;
    for (int i = 0; i < leaving; ++i)
        f.clients[i]->Close();
    QVERIFY(WaitUntil([&] { return count(resumedLine) == 1; }));
    QVERIFY(WaitUntil([&] { return f.page->ClientList()->GetCount() == 3 + waiting; }));
    QCOMPARE(count(pausedLine), 1);
    QCOMPARE(f.ClientLine(3 + waiting - 1),
             f.clients.back()->Peer() + "-" + QByteArray::number(1000 + f.clients.size() - 1));
}

QTEST_MAIN(TestTcpServer)
#include "test_tcp_server.moc"
