// The send options on the pages: the frames on the wire of a real peer, the preview beside
// them, the refusal of a bad escape, the data reply, and all options off as the plain rules.
// The checksums and escapes themselves are checked where they live (test_send_frame).

#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "pages/client/client_page.h"
#include "pages/control_ids.h"
#include "pages/file_dialogs.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "pages/udp_server/udp_server_page.h"
#include "support/event_wait.h"
#include "support/loopback_sockets.h"
#include "support/page_fixture.h"
#include "text/gbk.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/ipv4_address_edit.h"

namespace {

// The next datagram on socket within the time, the page's events handled meanwhile.
std::optional<QByteArray> NextDatagram(int socket, int timeoutMs = kPatienceMs)
{
    std::optional<QByteArray> datagram;
    WaitUntil(
        [&] {
            char buffer[2048];
            const ssize_t got = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got >= 0)
                datagram = QByteArray(buffer, got);
            return datagram.has_value();
        },
        timeoutMs);
    return datagram;
}

// The options window of a page, used as a user does.
class OptionsWindow
{
public:
    explicit OptionsWindow(QWidget *page)
    {
        page->findChild<QPushButton *>("sendOptions")->click();
        m_window = page->findChild<QWidget *>("sendOptionsWindow");
    }
    void Set(bool asTyped, bool escapes, int ending, int checksum, int order = 0)
    {
        Check("asTyped", asTyped);
        Check("escapes", escapes);
        Combo("lineEnding")->setCurrentIndex(ending);
        Combo("checksum")->setCurrentIndex(checksum);
        Combo("checksumOrder")->setCurrentIndex(order);
    }
    QWidget *Window() const { return m_window; }

private:
    void Check(const char *name, bool on)
    {
        auto *box = m_window->findChild<QCheckBox *>(name);
        if (box->isChecked() != on)
            box->click();
    }
    QComboBox *Combo(const char *name) const { return m_window->findChild<QComboBox *>(name); }

    QWidget *m_window = nullptr;
};

// The client page talking UDP to a socket of the test: every send is one datagram.
class ClientFixture : public PageFixtureBase<CClientPage>
{
public:
    ClientFixture()
        : PageFixtureBase(LoopbackHost())
        , peer(UdpSocket(0))
    {
        Item<Ipv4AddressEdit>(ClientIds::kHost)->SetAddressText("127.0.0.1");
        Item<QLineEdit>(ClientIds::kPort)->setText(QString::number(LocalPort(peer)));
        Item<QComboBox>(ClientIds::kProtocol)->setCurrentText("UDP");
        boxes.Queue(QMessageBox::Yes);  // the traffic log: its lines are checked too
        Click(ClientIds::kConnect);
    }
    ~ClientFixture() { ::close(peer); }

    void Type(const QString &text, bool hex)
    {
        if (Ticked(ClientIds::kHexSend) != hex)
            Click(ClientIds::kHexSend);
        Item<QLineEdit>(ClientIds::kSendBox)->setText(text);
    }
    QLabel *Strip() const { return page->findChild<QLabel *>("sendStrip"); }
    QByteArrayList LogLines() const
    {
        QFile file("logclient.txt");
        file.open(QIODevice::ReadOnly);
        QByteArrayList lines;
        for (const QByteArray &line : file.readAll().split('\n'))
            if (line.startsWith("CLIENT->SERVER  "))
                lines.append(line.trimmed());
        return lines;
    }

    int peer;
};

// A file of size patterned bytes in the current directory.
QByteArray WriteFile(const QString &name, qsizetype size)
{
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + i / 977) & 0xFF);
    QFile file(name);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return bytes;
}

// The open dialog answered with path for as long as it lives.
struct OpenFileAnswer
{
    explicit OpenFileAnswer(const QString &path)
    {
        FileDialogs::g_answerOpenFile = [path](const FileDialogs::SaveRequest &) {
            return FileDialogs::Answer{path, QString()};
        };
    }
    ~OpenFileAnswer() { FileDialogs::g_answerOpenFile = nullptr; }
};

// A UDP server page listening, with one peer it has heard from.
class UdpServerFixture : public PageFixtureBase<CUdpServerPage>
{
public:
    UdpServerFixture()
        : PageFixtureBase(LoopbackHost())
    {
        const quint16 port = FreePort(true);
        Item<QLineEdit>(UdpServerIds::kPort)->setText(QString::number(port));
        Click(UdpServerIds::kListen);
        peer = UdpSocket(0, port);
        ::send(peer, "hi", 2, 0);
    }
    ~UdpServerFixture() { ::close(peer); }

    int peer = -1;
};

// A TCP server page listening, with one blocking client of it.
class ServerFixture : public PageFixtureBase<CTcpServerPage>
{
public:
    ServerFixture()
        : PageFixtureBase(LoopbackHost())
    {
        const quint16 port = FreePort();
        Item<QLineEdit>(TcpServerIds::kPort)->setText(QString::number(port));
        boxes.Queue(QMessageBox::Yes);
        Click(TcpServerIds::kListen);
        client = ConnectClient(port, true);
        SetTimeouts(client, kPatienceMs);
        WaitUntil([&] { return page->ClientList()->GetCount() == 1; });
    }
    ~ServerFixture() { ::close(client); }
    QPushButton *SendFile() const { return page->findChild<QPushButton *>("sendFile"); }
    // count bytes from the client's socket, the page's events handled meanwhile.
    QByteArray Read(qsizetype count)
    {
        QByteArray bytes;
        WaitUntil([&] {
            char chunk[65536];
            ssize_t got;
            while ((got = ::recv(client, chunk, sizeof chunk, MSG_DONTWAIT)) > 0)
                bytes.append(chunk, got);
            return bytes.size() >= count || got == 0;
        });
        return bytes;
    }

    int client = -1;
};

}  // namespace

class TestSendOptions : public QObject
{
    Q_OBJECT

private slots:
    void framesOnTheWire_data();
    void framesOnTheWire();
    void badEscapeSendsNothing();
    void allOffIsThePlainRules();
    void dataReplyTakesTheOptionsButNotTheOwnText();
    void tcpFileToTheSelectedClient();
    void fileRefusalsCancelAndPeerGoing();
    void udpFileInDatagramsOfTheChosenSize();
};

void TestSendOptions::framesOnTheWire_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<bool>("asTyped");
    QTest::addColumn<bool>("escapes");
    QTest::addColumn<int>("ending");
    QTest::addColumn<int>("checksum");
    QTest::addColumn<int>("order");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("logged");
    // Endings: 0 none, 1 CR, 2 LF, 3 CR LF; checksums in the window's order, 5 = CRC-16/MODBUS.
    QTest::newRow("text, CR LF") << "AT CSQ" << false << false << false << 3 << 0 << 0
                                 << QByteArray::fromHex("4154435351000D0A") << QByteArray("ATCSQ [+0D 0A]");
    QTest::newRow("as typed, CR LF") << "AT CSQ" << false << true << false << 3 << 0 << 0
                                     << QByteArray::fromHex("4154204353510D0A") << QByteArray("AT CSQ [+0D 0A]");
    QTest::newRow("hex, MODBUS") << "01 03 00 0A 00 02" << true << false << false << 0 << 5 << 0
                                 << QByteArray::fromHex("0103000A0002E409") << QByteArray("0103000A0002 [+E4 09]");
    QTest::newRow("hex, MODBUS high first, LF")
        << "01 03 00 0A 00 02" << true << false << false << 2 << 5 << 2 << QByteArray::fromHex("0103000A000209E40A")
        << QByteArray("0103000A0002 [+09 E4 0A]");
    QTest::newRow("escapes") << "A\\x41\\0\\t\\\\" << false << true << true << 0 << 0 << 0
                             << QByteArray::fromHex("414100095C") << QByteArray("A\\x41\\0\\t\\\\");
}

void TestSendOptions::framesOnTheWire()
{
    QFETCH(QString, typed);
    QFETCH(bool, hex);
    QFETCH(bool, asTyped);
    QFETCH(bool, escapes);
    QFETCH(int, ending);
    QFETCH(int, checksum);
    QFETCH(int, order);
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, logged);

    ClientFixture f;
    QVERIFY(f.page->IsConnected());
    OptionsWindow options(f.page.get());
    options.Set(asTyped, escapes, ending, checksum, order);
    f.Type(typed, hex);
    // The strip shows the bytes before they go.
    QVERIFY(f.Strip()->isVisible());
    QVERIFY2(f.Strip()->toolTip().endsWith(QString::fromLatin1(wire.toHex(' ').toUpper())),
             qPrintable(f.Strip()->toolTip()));
    f.Click(ClientIds::kSend);
    QCOMPARE(NextDatagram(f.peer), std::optional<QByteArray>(wire));
    const bool zeroByte = !hex && !asTyped;
    QCOMPARE(f.page->TxCount(), wire.size() - (zeroByte ? 1 : 0));
    QCOMPARE(f.LogLines(), QByteArrayList{"CLIENT->SERVER  " + logged});
}

void TestSendOptions::badEscapeSendsNothing()
{
    ClientFixture f;
    OptionsWindow options(f.page.get());
    options.Set(true, true, 3, 8);
    f.Type("ok\\q", false);
    QVERIFY(f.Strip()->toolTip().endsWith("第3个字符处的转义无效!"));
    f.Click(ClientIds::kTimedSend);  // a refusal also stops timed sending
    QVERIFY(WaitUntil([&] { return f.boxes.Texts().contains("第3个字符处的转义无效!"); }));
    QVERIFY(!f.page->IsTimedSending());
    QCOMPARE(NextDatagram(f.peer, 100), std::nullopt);
    QCOMPARE(f.page->TxCount(), 0);
}

void TestSendOptions::allOffIsThePlainRules()
{
    // Options turned on and off again: the plain bytes, count, line, and no strip.
    ClientFixture f;
    OptionsWindow options(f.page.get());
    options.Set(true, true, 3, 8, 1);
    options.Set(false, false, 0, 0, 0);
    f.Type("AT CSQ", false);
    QVERIFY(!f.Strip()->isVisible());
    f.Click(ClientIds::kSend);
    QCOMPARE(NextDatagram(f.peer), std::optional<QByteArray>(QByteArray("ATCSQ\0", 6)));
    QCOMPARE(f.page->TxCount(), 5);
    QCOMPARE(f.LogLines(), QByteArrayList{"CLIENT->SERVER  ATCSQ"});
}

void TestSendOptions::dataReplyTakesTheOptionsButNotTheOwnText()
{
    UdpServerFixture f;
    const int peer = f.peer;
    QVERIFY(WaitUntil([&] { return f.page->PeerList()->GetCount() == 1; }));
    f.Click(UdpServerIds::kAutoReply);
    OptionsWindow options(f.page.get());
    options.Set(false, false, 3, 0);
    f.Item<QLineEdit>(UdpServerIds::kSendBox)->setText("pong");
    ::send(peer, "a", 1, 0);
    QCOMPARE(NextDatagram(peer), std::optional<QByteArray>(QByteArray("pong\0\r\n", 7)));
    f.Item<QLineEdit>(UdpServerIds::kSendBox)->clear();
    ::send(peer, "b", 1, 0);
    const std::optional<QByteArray> own = NextDatagram(peer);
    QVERIFY(own && own->endsWith('\0') && !own->contains("\r\n"));
}

void TestSendOptions::tcpFileToTheSelectedClient()
{
    ServerFixture f;
    const QByteArray bytes = WriteFile("big.bin", 3 * 1024 * 1024 + 17);
    OpenFileAnswer answer(f.dir.Path() + "/big.bin");
    f.SelectRow(f.page->ClientList(), 0);
    f.SendFile()->click();
    QCOMPARE(f.SendFile()->text(), QString("取消发送"));
    QVERIFY(f.page->findChild<QLabel *>("sendStrip")->text().startsWith("发送文件 big.bin"));
    QVERIFY(f.Read(bytes.size()) == bytes);
    QVERIFY(WaitUntil([&] { return f.SendFile()->text() == QString("发送文件…"); }));
    QCOMPARE(f.page->TxCount(), bytes.size());
    QCOMPARE(f.page->DataList()->GetCount(), 1);  // one line for the file, not its bytes
    const QString line = QString("发送文件 big.bin (%1 字节)").arg(bytes.size());
    QCOMPARE(FromGbk(f.page->DataList()->GetText(0)), line);
    QFile log("logtcp.txt");
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(FromGbk(log.readAll()).endsWith("SERVER->CLIENT  " + line + "\r\n"));
    QVERIFY(!f.page->findChild<QLabel *>("sendStrip")->isVisible());
}

void TestSendOptions::fileRefusalsCancelAndPeerGoing()
{
    ServerFixture f;
    {
        OpenFileAnswer answer(f.dir.Path() + "/missing.bin");
        f.SendFile()->click();
        QCOMPARE(f.boxes.Texts().last(), "无法读取文件" + f.dir.Path() + "/missing.bin!");
    }
    WriteFile("file.bin", 32 * 1024 * 1024);
    OpenFileAnswer answer(f.dir.Path() + "/file.bin");
    f.SendFile()->click();
    QCOMPARE(f.boxes.Texts().last(), QString("请选择要发送的目的地!"));
    QCOMPARE(f.SendFile()->text(), QString("发送文件…"));

    // The client reads nothing: the file waits in the path until cancelled; what goes after
    // it still arrives.
    f.SelectRow(f.page->ClientList(), 0);
    f.SendFile()->click();
    QVERIFY(WaitUntil([&] { return f.page->TxCount() > 0; }));
    f.SendFile()->click();
    QCOMPARE(f.SendFile()->text(), QString("发送文件…"));
    const qint64 sent = f.page->TxCount();
    QVERIFY(sent < 32 * 1024 * 1024);
    f.Item<QLineEdit>(TcpServerIds::kSendBox)->setText("after");
    f.Click(TcpServerIds::kSend);
    const QByteArray got = f.Read(sent + 6);
    QCOMPARE(got.size(), sent + 6);
    QVERIFY(got.endsWith(QByteArray("after\0", 6)));

    // A peer that goes away ends the file with the page's usual line.
    f.SendFile()->click();
    QVERIFY(WaitUntil([&] { return f.page->TxCount() > sent + 5; }));
    CloseWithReset(f.client);
    f.client = -1;
    QVERIFY(WaitUntil([&] { return f.SendFile()->text() == QString("发送文件…"); }));
    QVERIFY(FromGbk(f.log.GetText(0)).endsWith("断开与服务器的连接\r\n"));
}

void TestSendOptions::udpFileInDatagramsOfTheChosenSize()
{
    UdpServerFixture f;
    const int peer = f.peer;
    QVERIFY(WaitUntil([&] { return f.page->PeerList()->GetCount() == 1; }));
    OptionsWindow options(f.page.get());
    options.Window()->findChild<QSpinBox *>("datagramSize")->setValue(1000);
    const QByteArray bytes = WriteFile("d.bin", 4500);
    OpenFileAnswer answer(f.dir.Path() + "/d.bin");
    f.SelectRow(f.page->PeerList(), 0);
    f.page->findChild<QPushButton *>("sendFile")->click();
    QByteArray got;
    for (int i = 0; i < 5; ++i) {
        const std::optional<QByteArray> datagram = NextDatagram(peer);
        QVERIFY(datagram);
        QCOMPARE(datagram->size(), i < 4 ? 1000 : 500);
        got += *datagram;
    }
    QCOMPARE(got, bytes);
    QVERIFY(WaitUntil([&] { return f.page->TxCount() == bytes.size(); }));
}

QTEST_MAIN(TestSendOptions)
#include "test_send_options.moc"
