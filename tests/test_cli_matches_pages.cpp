// The same traffic through a server page and through velvane-cli with the same options gives
// the same traffic log and the same capture: the same peer port, the same server port, one
// after the other. What may differ is only time: the log's header line (its date and time) and
// the pcap records' time stamps are masked; a TCP capture's made-up initial sequence numbers
// are random per capture, so its sequence numbers are compared from each side's first, and
// its checksums (which cover them) are left out.
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtEndian>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <optional>

#include "pages/client/client_page.h"
#include "pages/control_ids.h"
#include "pages/file_dialogs.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "pages/udp_server/udp_server_page.h"
#include "support/cli_process.h"
#include "support/loopback_sockets.h"
#include "support/page_fixture.h"
#include "support/test_environment.h"
#include "widgets/ipv4_address_edit.h"

namespace {

// The page's capture dialog answered with path while it lives.
class CaptureFileAnswer
{
public:
    explicit CaptureFileAnswer(const QString &path)
    {
        FileDialogs::g_answerSaveFile = [path](const FileDialogs::SaveRequest &request) {
            return FileDialogs::Answer{path, request.filters.value(0)};
        };
    }
    ~CaptureFileAnswer() { FileDialogs::g_answerSaveFile = nullptr; }
};

// The log without its first line, the date and time the recording began.
QByteArray LogAfterHeaderTime(const QString &path)
{
    const QByteArray bytes = ReadFileBytes(path);
    return bytes.mid(bytes.indexOf("\r\n") + 2);
}

quint32 Get32(const QByteArray &bytes, qsizetype at)
{
    return qFromBigEndian<quint32>(bytes.constData() + at);
}

void Put32(QByteArray &bytes, qsizetype at, quint32 value)
{
    qToBigEndian(value, bytes.data() + at);
}

// The pcap file (IPv4, raw IP) with every record's time zeroed; for TCP each side's sequence
// numbers counted from its SYN's and the checksums zeroed; every port but keepPort zeroed when
// one is given, with the checksums (a client's own port is the system's choice). Empty when
// the file is cut.
QByteArray MaskedPcap(const QString &path, bool tcp, quint16 keepPort = 0)
{
    QByteArray bytes = ReadFileBytes(path);
    constexpr qsizetype kFileHeader = 24;
    constexpr qsizetype kRecordHeader = 16;
    std::map<quint16, quint32> initial;  // by source port
    qsizetype at = kFileHeader;
    while (at + kRecordHeader <= bytes.size()) {
        Put32(bytes, at, 0);
        Put32(bytes, at + 4, 0);
        const qsizetype size = qFromLittleEndian<quint32>(bytes.constData() + at + 8);
        const qsizetype packet = at + kRecordHeader;
        if (packet + size > bytes.size())
            return {};
        if (tcp && size >= 40) {
            const qsizetype segment = packet + 20;
            const quint16 source = qFromBigEndian<quint16>(bytes.constData() + segment);
            const quint16 destination = qFromBigEndian<quint16>(bytes.constData() + segment + 2);
            const quint8 flags = quint8(bytes.at(segment + 13));
            if (flags & 0x02)  // SYN
                initial[source] = Get32(bytes, segment + 4);
            Put32(bytes, segment + 4, Get32(bytes, segment + 4) - initial[source]);
            if (flags & 0x10)  // ACK
                Put32(bytes, segment + 8, Get32(bytes, segment + 8) - initial[destination]);
            bytes[segment + 16] = 0;
            bytes[segment + 17] = 0;
            if (keepPort != 0 && source != keepPort)
                bytes[segment] = bytes[segment + 1] = 0;
            if (keepPort != 0 && destination != keepPort)
                bytes[segment + 2] = bytes[segment + 3] = 0;
        }
        if (!tcp && keepPort != 0 && size >= 28) {
            const qsizetype datagram = packet + 20;
            for (const qsizetype field : {datagram, datagram + 2})
                if (qFromBigEndian<quint16>(bytes.constData() + field) != keepPort)
                    bytes[field] = bytes[field + 1] = 0;
            bytes[datagram + 6] = bytes[datagram + 7] = 0;  // the checksum covers the ports
        }
        at = packet + size;
    }
    return at == bytes.size() ? bytes : QByteArray();
}

std::optional<QByteArray> ReceiveOn(int socket, qsizetype size)
{
    QByteArray bytes;
    QDeadlineTimer deadline(kPatienceMs);
    while (bytes.size() < size && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        pollfd waiting{socket, POLLIN, 0};
        if (::poll(&waiting, 1, 5) <= 0)
            continue;
        char buffer[4096];
        const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
        if (got < 0)
            return std::nullopt;
        bytes.append(buffer, got);
        if (got == 0)
            break;
    }
    return bytes;
}

// A TCP client from a fixed port on 127.0.0.1: the second connection has the first one's ends.
int ConnectFrom(quint16 localPort, quint16 serverPort)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in local = LoopbackAddress(localPort);
    const sockaddr_in server = LoopbackAddress(serverPort);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0
        || ::connect(fd, reinterpret_cast<const sockaddr *>(&server), sizeof server) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The connection the page or the CLI makes to listener, accepted while the events run.
int AcceptWhileRunning(int listener)
{
    QDeadlineTimer deadline(kPatienceMs);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents();
        pollfd waiting{listener, POLLIN, 0};
        if (::poll(&waiting, 1, 5) > 0)
            return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    }
    return -1;
}

// The server's side of the client comparison: what arrives, an answer, then the close.
void AnswerAndClose(int server, const QByteArray &expected, const QByteArray &answer)
{
    QCOMPARE(ReceiveOn(server, expected.size()), std::optional<QByteArray>(expected));
    QVERIFY(SendAll(server, answer.constData(), size_t(answer.size())));
    ::close(server);
}

// The CLI's stdout, read until it holds text.
bool CliSays(CliProcess &cli, const QByteArray &text, QByteArray &seen)
{
    QDeadlineTimer deadline(kPatienceMs);
    while (!seen.contains(text) && !deadline.hasExpired()) {
        cli.process.waitForReadyRead(50);
        seen += cli.process.readAllStandardOutput();
    }
    return seen.contains(text);
}

}  // namespace

class TestCliMatchesPages : public QObject
{
    Q_OBJECT

private slots:
    void udpServerLogAndPcap();
    void tcpServerLogAndPcap();
    void tcpClientLogAndPcap();
    void udpClientLogAndPcap();
};

// The page as it starts (128-byte datagrams, text with its zero byte, hex of at most 127
// bytes) beside the CLI with --parts, which asks for exactly those rules; a hex data reply,
// which the UDP server logs as its bytes, and a datagram with a zero byte.
void TestCliMatchesPages::udpServerLogAndPcap()
{
    using namespace UdpServerIds;
    const quint16 port = FreePort(true);
    const int peer = UdpSocket(0, port);
    QVERIFY(peer >= 0);
    const QList<QByteArray> datagrams{"hello", QByteArray("a\0b", 3), QByteArray(128, 'm')};
    const QByteArray reply("ABC");
    ScopedTemporaryCurrentDir files;

    {
        PageFixtureBase<CUdpServerPage> f(LoopbackHost());
        f.Item<QLineEdit>(kPort)->setText(QString::number(port));
        f.boxes.Queue(QMessageBox::Yes);  // the traffic log
        f.Click(kListen);
        QVERIFY(f.page->IsListening());
        CaptureFileAnswer answer(files.FilePath("page.pcap"));
        f.page->findChild<QPushButton *>("capture")->click();
        f.Item<QLineEdit>(kSendBox)->setText("41 42 43");
        f.Item<QCheckBox>(kHexSend)->setChecked(true);
        f.Click(kAutoReply);
        for (const QByteArray &datagram : datagrams) {
            ::send(peer, datagram.constData(), size_t(datagram.size()), 0);
            QCOMPARE(ReceiveOn(peer, reply.size()), std::optional<QByteArray>(reply));
        }
        f.Click(kStop);
        ::rename(qPrintable(f.dir.FilePath("logudp.txt")), qPrintable(files.FilePath("page.txt")));
    }

    CliProcess cli({"udp-server", QStringLiteral("127.0.0.1:%1").arg(port), "--parts", "--reply-hex", "41 42 43",
                    "--log", files.FilePath("cli.txt"), "--pcap", files.FilePath("cli.pcap")});
    QVERIFY(cli.WaitForFirstLine());
    for (const QByteArray &datagram : datagrams) {
        ::send(peer, datagram.constData(), size_t(datagram.size()), 0);
        QCOMPARE(ReceiveOn(peer, reply.size()), std::optional<QByteArray>(reply));
    }
    cli.process.terminate();
    QCOMPARE(cli.Finish(), 0);
    ::close(peer);

    const QByteArray pageLog = LogAfterHeaderTime(files.FilePath("page.txt"));
    QVERIFY(pageLog.contains("SERVER->CLIENT  ABC\r\n"));
    QCOMPARE(LogAfterHeaderTime(files.FilePath("cli.txt")), pageLog);
    const QByteArray pagePcap = MaskedPcap(files.FilePath("page.pcap"), false);
    QVERIFY(pagePcap.size() > 24);
    QCOMPARE(MaskedPcap(files.FilePath("cli.pcap"), false), pagePcap);
}

// The page with 大数据 ticked (reads of up to 64 KiB) beside the CLI as it starts, whose
// reads are those; an echo of a block larger than the page's plain 256-byte read, then the
// peer's reset, which both see as the peer's close.
void TestCliMatchesPages::tcpServerLogAndPcap()
{
    using namespace TcpServerIds;
    const quint16 port = FreePort();
    const quint16 clientPort = FreePort();
    QByteArray large(300, '\0');
    for (qsizetype i = 0; i < large.size(); ++i)
        large[i] = char('a' + i % 26);
    const QList<QByteArray> blocks{large, "bye"};
    ScopedTemporaryCurrentDir files;

    {
        PageFixtureBase<CTcpServerPage> f(LoopbackHost());
        f.Item<QLineEdit>(kPort)->setText(QString::number(port));
        f.boxes.Queue(QMessageBox::Yes);
        f.Click(kListen);
        QVERIFY(f.page->IsListening());
        f.page->findChild<QCheckBox *>("largeData")->setChecked(true);
        CaptureFileAnswer answer(files.FilePath("page.pcap"));
        f.page->findChild<QPushButton *>("capture")->click();
        const int client = ConnectFrom(clientPort, port);
        QVERIFY(client >= 0);
        QVERIFY(WaitUntil([&] { return f.page->ClientList()->GetCount() == 1; }));
        f.Click(kAutoReply);  // offered once there is a client to answer
        f.Click(kReplyEcho);
        for (const QByteArray &block : blocks) {
            QVERIFY(SendAll(client, block.constData(), size_t(block.size())));
            QCOMPARE(ReceiveOn(client, block.size()), std::optional<QByteArray>(block));
        }
        CloseWithReset(client);  // no TIME_WAIT: the CLI's run takes the same ends
        QVERIFY(WaitUntil([&] { return f.page->ClientList()->GetCount() == 0; }));
        f.Click(kStop);
        ::rename(qPrintable(f.dir.FilePath("logtcp.txt")), qPrintable(files.FilePath("page.txt")));
    }

    CliProcess cli({"tcp-server", QStringLiteral("127.0.0.1:%1").arg(port), "--echo", "--log",
                    files.FilePath("cli.txt"), "--pcap", files.FilePath("cli.pcap")});
    QVERIFY(cli.WaitForFirstLine());
    const int client = ConnectFrom(clientPort, port);
    QVERIFY(client >= 0);
    for (const QByteArray &block : blocks) {
        QVERIFY(SendAll(client, block.constData(), size_t(block.size())));
        QCOMPARE(ReceiveOn(client, block.size()), std::optional<QByteArray>(block));
    }
    CloseWithReset(client);
    QByteArray seen;
    QVERIFY(CliSays(cli, "断开与服务器的连接", seen));
    cli.process.terminate();
    QCOMPARE(cli.Finish(), 0);

    const QByteArray pageLog = LogAfterHeaderTime(files.FilePath("page.txt"));
    QVERIFY(pageLog.contains(" " + large + "\r\n"));  // one read, one line
    QCOMPARE(LogAfterHeaderTime(files.FilePath("cli.txt")), pageLog);
    const QByteArray pagePcap = MaskedPcap(files.FilePath("page.pcap"), true);
    QVERIFY(pagePcap.size() > 24);
    QCOMPARE(MaskedPcap(files.FilePath("cli.pcap"), true), pagePcap);
}

// The client page as it starts (spaces taken out, the zero byte after the text) beside the CLI
// with --parts; a text send, the server's answer and the server's close.
void TestCliMatchesPages::tcpClientLogAndPcap()
{
    using namespace ClientIds;
    int port = 0;
    const int listener = OpenListener(port, 4);
    QVERIFY(listener >= 0);
    const QByteArray sent("ab c");
    const QByteArray onWire("abc\0", 4);
    const QByteArray answer("ok 1");
    ScopedTemporaryCurrentDir files;

    {
        PageFixtureBase<CClientPage> f(LoopbackHost());
        f.Item<Ipv4AddressEdit>(kHost)->SetAddressText("127.0.0.1");
        f.Item<QLineEdit>(kPort)->setText(QString::number(port));
        f.Item<QComboBox>(kProtocol)->setCurrentText("TCP");
        f.boxes.Queue(QMessageBox::Yes);  // the traffic log
        CaptureFileAnswer capture(files.FilePath("page.pcap"));
        f.page->findChild<QPushButton *>("capture")->click();
        f.Click(kConnect);
        const int server = AcceptWhileRunning(listener);
        QVERIFY(server >= 0);
        QVERIFY(WaitUntil([&] { return f.page->IsConnected(); }));
        f.Item<QLineEdit>(kSendBox)->setText(QString::fromLatin1(sent));
        f.Click(kSend);
        AnswerAndClose(server, onWire, answer);
        QVERIFY(WaitUntil([&] { return f.Enabled(kConnect); }));
        f.page->findChild<QPushButton *>("capture")->click();
        ::rename(qPrintable(f.dir.FilePath("logclient.txt")), qPrintable(files.FilePath("page.txt")));
    }

    CliProcess cli({"tcp-client", QStringLiteral("127.0.0.1:%1").arg(port), "--parts", "--send",
                    QString::fromLatin1(sent), "--log", files.FilePath("cli.txt"), "--pcap",
                    files.FilePath("cli.pcap")});
    const int server = AcceptWhileRunning(listener);
    QVERIFY(server >= 0);
    AnswerAndClose(server, onWire, answer);
    QCOMPARE(cli.Finish(), 0);
    ::close(listener);

    const QByteArray pageLog = LogAfterHeaderTime(files.FilePath("page.txt"));
    QVERIFY2(pageLog.contains(" " + answer + "\r\n"), pageLog.constData());
    QCOMPARE(LogAfterHeaderTime(files.FilePath("cli.txt")), pageLog);
    const QByteArray pagePcap = MaskedPcap(files.FilePath("page.pcap"), true, quint16(port));
    QVERIFY(pagePcap.size() > 24);
    QCOMPARE(MaskedPcap(files.FilePath("cli.pcap"), true, quint16(port)), pagePcap);
}

// The same over UDP: a datagram from the client, the server's answer to where it came from.
void TestCliMatchesPages::udpClientLogAndPcap()
{
    using namespace ClientIds;
    const int server = UdpSocket(0);
    QVERIFY(server >= 0);
    const quint16 port = quint16(LocalPort(server));
    const QByteArray onWire("abc\0", 4);
    const QByteArray answer("ok 2");
    const auto answerDatagram = [&] {
        QDeadlineTimer deadline(kPatienceMs);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents();
            pollfd waiting{server, POLLIN, 0};
            if (::poll(&waiting, 1, 5) <= 0)
                continue;
            char buffer[256];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t got = ::recvfrom(server, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from),
                                           &length);
            ::sendto(server, answer.constData(), size_t(answer.size()), 0, reinterpret_cast<sockaddr *>(&from), length);
            return QByteArray(buffer, int(std::max<ssize_t>(got, 0)));
        }
        return QByteArray();
    };
    ScopedTemporaryCurrentDir files;

    {
        PageFixtureBase<CClientPage> f(LoopbackHost());
        f.Item<Ipv4AddressEdit>(kHost)->SetAddressText("127.0.0.1");
        f.Item<QLineEdit>(kPort)->setText(QString::number(port));
        f.Item<QComboBox>(kProtocol)->setCurrentText("UDP");
        f.boxes.Queue(QMessageBox::Yes);
        CaptureFileAnswer capture(files.FilePath("page.pcap"));
        f.page->findChild<QPushButton *>("capture")->click();
        f.Click(kConnect);
        QVERIFY(WaitUntil([&] { return f.page->IsConnected(); }));
        f.Item<QLineEdit>(kSendBox)->setText("ab c");
        f.Click(kSend);
        QCOMPARE(answerDatagram(), onWire);
        QVERIFY(WaitUntil([&] { return f.page->RxCount() == answer.size(); }));
        f.Click(kDisconnect);
        ::rename(qPrintable(f.dir.FilePath("logclient.txt")), qPrintable(files.FilePath("page.txt")));
    }

    CliProcess cli({"udp-client", QStringLiteral("127.0.0.1:%1").arg(port), "--parts", "--send", "ab c", "--log",
                    files.FilePath("cli.txt"), "--pcap", files.FilePath("cli.pcap")});
    QCOMPARE(answerDatagram(), onWire);
    QByteArray seen;
    QVERIFY(CliSays(cli, " " + answer, seen));
    cli.process.terminate();
    QCOMPARE(cli.Finish(), 0);
    ::close(server);

    const QByteArray pageLog = LogAfterHeaderTime(files.FilePath("page.txt"));
    QVERIFY2(pageLog.contains(" " + answer + "\r\n"), pageLog.constData());
    QCOMPARE(LogAfterHeaderTime(files.FilePath("cli.txt")), pageLog);
    const QByteArray pagePcap = MaskedPcap(files.FilePath("page.pcap"), false, port);
    QVERIFY(pagePcap.size() > 24);
    QCOMPARE(MaskedPcap(files.FilePath("cli.pcap"), false, port), pagePcap);
}

QTEST_MAIN(TestCliMatchesPages)
#include "test_cli_matches_pages.moc"
