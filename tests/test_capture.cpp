// The capture files: a .pcap of a real exchange over the loopback as tshark reads it back, a
// .bin of one peer's received bytes, and both over a file that fills up or goes away.
#include <QtTest>

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

#include <functional>
#include <memory>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/event_wait.h"
#include "traffic/capture/bin_capture.h"
#include "traffic/capture/packet_builder.h"
#include "traffic/capture/pcap_capture.h"

namespace {

// A file that takes only so many bytes, as a full disk does: the write that overflows it
// leaves part of itself.
class FillingSink final : public CaptureSink
{
public:
    FillingSink(std::unique_ptr<CaptureSink> file, qint64 room)
        : m_file(std::move(file))
        , m_room(room)
    {
    }
    bool Write(const char *data, qsizetype size) override
    {
        const qsizetype taken = qMin<qint64>(size, m_room);
        m_room -= taken;
        return m_file->Write(data, taken) && taken == size;
    }
    bool TruncateTo(qint64 size) override { return m_file->TruncateTo(size); }
    bool StillAtPath() override { return m_file->StillAtPath(); }
    bool Close() override { return m_file->Close(); }
    QString ErrorText() const override { return QStringLiteral("No space left on device"); }

private:
    std::unique_ptr<CaptureSink> m_file;
    qint64 m_room;
};

struct Tshark
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Tshark RunTshark(const QString &file, const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("tshark"), QStringList{"-n", "-r", file} + arguments);
    Tshark result;
    if (!process.waitForFinished(kPatienceMs))
        return result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// tshark reads the whole file without complaint, and it ends at the end of a record.
void CheckReadable(const QString &file)
{
    const Tshark read = RunTshark(file, {});
    QVERIFY2(read.exitCode == 0 && !read.err.contains("cut short"), read.err.constData());
    QFile pcap(file);
    QVERIFY(pcap.open(QIODevice::ReadOnly));
    const QByteArray bytes = pcap.readAll();
    qsizetype at = 24;
    while (at + 16 <= bytes.size())
        at += 16 + qFromLittleEndian<quint32>(bytes.constData() + at + 8);
    QCOMPARE(at, bytes.size());
}

// Both directions of one TCP stream as "Follow TCP stream" shows them; node 0 sent the SYN.
std::pair<QByteArray, QByteArray> FollowTcp(const QString &file, int stream)
{
    const Tshark follow = RunTshark(file, {"-q", "-z", QStringLiteral("follow,tcp,raw,%1").arg(stream)});
    std::pair<QByteArray, QByteArray> directions;
    bool inData = false;
    for (const QByteArray &line : follow.out.split('\n')) {
        if (line.startsWith("Node 1:"))
            inData = true;
        else if (line.startsWith("====="))
            inData = false;
        else if (inData && !line.isEmpty())
            (line.startsWith('\t') ? directions.second : directions.first) += QByteArray::fromHex(line.trimmed());
    }
    return directions;
}

QByteArray RandomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

// A socket of the type bound to the family's loopback address at a port the system picks;
// -1 when the family has no loopback here.
int BoundSocket(int family, int type)
{
    sockaddr_storage address{};
    address.ss_family = sa_family_t(family);
    if (family == AF_INET)
        reinterpret_cast<sockaddr_in *>(&address)->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    else
        reinterpret_cast<sockaddr_in6 *>(&address)->sin6_addr = in6addr_loopback;
    const int socket = ::socket(family, type | SOCK_CLOEXEC, 0);
    // Room for a block beyond one packet to go and come in one call.
    const int buffer = 1 << 20;
    ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    if (::bind(socket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        return socket;
    ::close(socket);
    return -1;
}

bool ConnectTo(int socket, int other)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    return ::getsockname(other, reinterpret_cast<sockaddr *>(&address), &length) == 0
           && ::connect(socket, reinterpret_cast<sockaddr *>(&address), length) == 0;
}

// The page's end and the peer's of a connection or a UDP flow over the loopback, non-blocking.
struct SocketPair
{
    int page = -1;
    int peer = -1;

    bool ConnectTcp(int family, bool pageConnects)
    {
        const int listener = BoundSocket(family, SOCK_STREAM);
        const int client = BoundSocket(family, SOCK_STREAM);
        const bool connected = listener >= 0 && ::listen(listener, 1) == 0 && ConnectTo(client, listener);
        const int accepted = connected ? ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK) : -1;
        ::close(listener);
        ::fcntl(client, F_SETFL, O_NONBLOCK);
        page = pageConnects ? client : accepted;
        peer = pageConnects ? accepted : client;
        return accepted >= 0;
    }
    bool ConnectUdp(int family)
    {
        page = BoundSocket(family, SOCK_DGRAM | SOCK_NONBLOCK);
        peer = BoundSocket(family, SOCK_DGRAM | SOCK_NONBLOCK);
        return page >= 0 && peer >= 0 && ConnectTo(page, peer) && ConnectTo(peer, page);
    }
    ~SocketPair()
    {
        for (const int socket : {page, peer})
            if (socket >= 0)
                ::close(socket);
    }
};

void WaitReadable(int socket)
{
    pollfd readable{socket, POLLIN, 0};
    ::poll(&readable, 1, 5);
}

// What the page's end of a connection sent and received, and the largest block it told.
struct Stream
{
    bool pageOpened = false;
    QByteArray told[2];  // Received, sent.
    qsizetype largest[2] = {0, 0};

    void Tell(bool sent, QByteArrayView block)
    {
        told[sent] += block;
        largest[sent] = qMax(largest[sent], block.size());
    }
};

// Moves a block across the pair and tells the capture what the page's end did: each send the
// system took, each read as it came. The reader waits for all that was sent, so a large
// block is read in one go.
bool Cross(TrafficCapture &capture, int connection, const SocketPair &pair, bool fromPage, const QByteArray &block,
           Stream &stream)
{
    const int from = fromPage ? pair.page : pair.peer;
    const int to = fromPage ? pair.peer : pair.page;
    QByteArray readBuffer(block.size(), Qt::Uninitialized);
    qsizetype sent = 0;
    qsizetype received = 0;
    QElapsedTimer clock;
    clock.start();
    while (received < block.size() && !clock.hasExpired(kPatienceMs)) {
        const ssize_t took = sent < block.size()
                                 ? ::send(from, block.constData() + sent, block.size() - sent, MSG_NOSIGNAL)
                                 : 0;
        if (took > 0 && fromPage) {
            capture.TcpSent(connection, QByteArrayView(block).sliced(sent, took));
            stream.Tell(true, QByteArrayView(block).sliced(sent, took));
        }
        const bool senderStuck = sent < block.size() && took <= 0;
        sent += qMax<ssize_t>(took, 0);
        int waiting = 0;
        ::ioctl(to, FIONREAD, &waiting);
        if (waiting == 0 || (received + waiting < sent && !senderStuck)) {
            WaitReadable(to);
            continue;
        }
        const ssize_t read = ::recv(to, readBuffer.data(), readBuffer.size(), 0);
        if (read > 0 && !fromPage) {
            capture.TcpReceived(connection, QByteArrayView(readBuffer).first(read));
            stream.Tell(false, QByteArrayView(readBuffer).first(read));
        }
        received += qMax<ssize_t>(read, 0);
    }
    return received == block.size();
}

// One datagram across a UDP pair, told as the page's end saw it.
bool CrossDatagram(TrafficCapture &capture, const SocketPair &pair, bool fromPage, const QByteArray &datagram)
{
    const FlowEnds ends{LocalEnd(pair.page), LocalEnd(pair.peer)};
    if (::send(fromPage ? pair.page : pair.peer, datagram.constData(), datagram.size(), 0) != datagram.size())
        return false;
    if (fromPage)
        capture.UdpSent(ends, datagram);
    QByteArray buffer(2000, Qt::Uninitialized);
    ssize_t read = -1;
    QElapsedTimer clock;
    clock.start();
    while (read < 0 && !clock.hasExpired(kPatienceMs)) {
        WaitReadable(fromPage ? pair.peer : pair.page);
        read = ::recv(fromPage ? pair.peer : pair.page, buffer.data(), buffer.size(), 0);
    }
    if (!fromPage && read >= 0)
        capture.UdpReceived(ends, buffer.first(read));
    return read == datagram.size();
}

}  // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void pcapShowsTheExchangeAsItCrossed();
    void pcapStopsOnceAndStaysReadableWhenWritesFail();
    void binKeepsOnlyTheTargetsReceivedBytes();

private:
    QString FilePath(const QString &name) const { return m_dir->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCapture::init()
{
    if (QStandardPaths::findExecutable(QStringLiteral("tshark")).isEmpty())
        QSKIP("tshark is not installed");
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestCapture::pcapShowsTheExchangeAsItCrossed()
{
    const QString path = FilePath("exchange.pcap");
    int stopped = 0;
    QString error;
    const qint64 startSeconds = QDateTime::currentSecsSinceEpoch();
    std::unique_ptr<TrafficCapture> capture = OpenPcapCapture(
        path, [&] { ++stopped; }, &error);
    QVERIFY2(capture, qPrintable(error));
    QCOMPARE(capture->FilePath(), path);

    // Blocks both ways, interleaved: with NUL bytes, and beyond one IPv4 packet's room.
    const QByteArray large = RandomBytes(PacketBuilder::MaxTcpPayload(false) * 2 + 1000);
    const QList<std::pair<bool, QByteArray>> blocks = {
        {false, QByteArray("hello\0world", 11)}, {true, QByteArray("\0", 1)}, {false, large}, {true, large},
        {true, "after the large one"},           {false, RandomBytes(300)}};
    QList<Stream> streams;

    // An accepted connection closed by its peer, then one this side opened and closed under
    // the same number, then an IPv6 one the capture first hears of by its data.
    const int connection = 40;
    for (const int family : {AF_INET, AF_INET, AF_INET6}) {
        const bool pageOpens = streams.size() == 1;
        SocketPair pair;
        if (!pair.ConnectTcp(family, pageOpens)) {
            QVERIFY2(family == AF_INET6, "no TCP connection over 127.0.0.1");
            break;
        }
        const int id = family == AF_INET6 ? pair.page : connection;
        FlowEnds ends;
        QVERIFY(SocketEnds(pair.page, ends));
        if (family == AF_INET)
            capture->TcpOpened(id, ends, pageOpens ? TcpOpener::ThisSide : TcpOpener::Peer);
        Stream stream;
        stream.pageOpened = pageOpens;
        for (const auto &[fromPage, block] : blocks)
            QVERIFY(Cross(*capture, id, pair, fromPage, block, stream));
        capture->TcpClosed(id, !pageOpens);
        streams.append(stream);
    }
    QVERIFY2(streams[0].largest[0] == large.size() && streams[0].largest[1] == large.size(),
             "the system took or gave the large block in pieces");

    // Datagrams both ways, an empty one among them, on each loopback there is.
    QList<QByteArray> datagrams;
    for (const int family : {AF_INET, AF_INET6}) {
        SocketPair pair;
        if (!pair.ConnectUdp(family)) {
            QVERIFY2(family == AF_INET6, "no UDP over 127.0.0.1");
            continue;
        }
        for (const QByteArray &datagram : {QByteArray("ping"), QByteArray(), RandomBytes(1400), QByteArray("\0", 1)}) {
            QVERIFY(CrossDatagram(*capture, pair, datagrams.size() % 2 == 1, datagram));
            datagrams.append(datagram);
        }
    }
    capture->Close();
    QVERIFY(!capture->HasFailed());
    QCOMPARE(stopped, 0);

    CheckReadable(path);
    for (qsizetype index = 0; index < streams.size(); ++index) {
        const auto [opener, other] = FollowTcp(path, int(index));
        const Stream &stream = streams[index];
        QCOMPARE(opener.toHex(), stream.told[stream.pageOpened].toHex());
        QCOMPARE(other.toHex(), stream.told[!stream.pageOpened].toHex());
    }
    const Tshark udp = RunTshark(path, {"-Y", "udp", "-T", "fields", "-e", "udp.payload", "-e", "frame.time_epoch"});
    const QList<QByteArray> lines = udp.out.trimmed().split('\n');
    QCOMPARE(lines.size(), datagrams.size());
    for (qsizetype index = 0; index < lines.size(); ++index) {
        const QList<QByteArray> fields = lines[index].split('\t');
        QCOMPARE(QByteArray::fromHex(fields[0]).toHex(), datagrams[index].toHex());
        const double seconds = fields[1].toDouble();
        QVERIFY(seconds >= startSeconds && seconds <= QDateTime::currentSecsSinceEpoch() + 1);
    }

    // Every checksum is checked and good (status 1); IPv6 has no header checksum.
    const Tshark checked = RunTshark(path,
                                     {"-o", "ip.check_checksum:TRUE", "-o", "tcp.check_checksum:TRUE", "-o",
                                      "udp.check_checksum:TRUE", "-T", "fields", "-e", "ip.version", "-e",
                                      "ip.checksum.status", "-e", "tcp.checksum.status", "-e", "udp.checksum.status"});
    const QList<QByteArray> packets = checked.out.trimmed().split('\n');
    QVERIFY(packets.size() > 3 * streams.size() * 2 + datagrams.size());
    for (const QByteArray &packet : packets) {
        const QList<QByteArray> status = packet.split('\t');
        QVERIFY2(status.size() == 4 && (status[0] == "4") == (status[1] == "1"), packet.constData());
        QVERIFY2((status[2] == "1") != (status[3] == "1"), packet.constData());
    }

    if (streams.size() < 3)
        QSKIP("::1 is not available here: IPv6 was left out");
}

void TestCapture::pcapStopsOnceAndStaysReadableWhenWritesFail()
{
    const QByteArray block = RandomBytes(256);
    const int kNoSocket = 123456;
    const auto fillingFile = [&](const QString &path, qint64 room) {
        return std::make_unique<FillingSink>(FileCaptureSink::Create(path, nullptr), room);
    };

    // No room even for the file's header: no capture, a reason, and no "stopped".
    int stopped = 0;
    QString error;
    QVERIFY(!OpenPcapCapture(
        fillingFile(FilePath("none.pcap"), 10), "none.pcap", [&] { ++stopped; }, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(stopped, 0);

    // The disk fills at the end of a pass of the event loop, or within one call's large block;
    // the file is renamed away while it is written. The connection is no socket: its ends are
    // unknown, its bytes kept all the same.
    for (const QString how : {"pass", "call", "renamed"}) {
        const QString path = FilePath(how + ".pcap");
        stopped = 0;
        std::unique_ptr<TrafficCapture> capture;
        if (how == "renamed")
            capture = OpenPcapCapture(
                path, [&] { ++stopped; }, &error);
        else
            capture = OpenPcapCapture(
                fillingFile(path, how == "pass" ? 3000 : 1500000), path, [&] { ++stopped; }, &error);
        QVERIFY(capture);
        QByteArray told;
        for (int pass = 0; pass < 20 && !capture->HasFailed(); ++pass) {
            const QByteArray data = how == "call" ? RandomBytes(3000000) : block + block;
            capture->TcpReceived(kNoSocket, data);
            told += data;
            if (how == "renamed" && pass == 3)
                QVERIFY(QFile::rename(path, path + ".moved"));
            RunEventsFor(0);
        }
        QVERIFY2(capture->HasFailed(), qPrintable(how));
        QCOMPARE(stopped, 1);

        // Nothing more is taken, nothing more is said.
        const QString left = how == "renamed" ? path + ".moved" : path;
        const qint64 size = QFileInfo(left).size();
        capture->TcpReceived(kNoSocket, block);
        capture->TcpClosed(kNoSocket, true);
        RunEventsFor(0);
        capture->Close();
        QCOMPARE(QFileInfo(left).size(), size);
        QCOMPARE(stopped, 1);

        // What is left reads as a whole capture of the first of the bytes.
        CheckReadable(left);
        const QByteArray kept = FollowTcp(left, 0).first;
        QVERIFY2(!kept.isEmpty() && told.startsWith(kept), qPrintable(how));
    }
}

void TestCapture::binKeepsOnlyTheTargetsReceivedBytes()
{
    const IpEndpoint local{QByteArray("\x7f\0\0\x01", 4), 5000};
    const IpEndpoint target{QByteArray("\x7f\0\0\x01", 4), 40000};
    const IpEndpoint other{QByteArray("\x7f\0\0\x01", 4), 40001};
    const auto read = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
    };

    // A TCP connection: its received bytes as they came, until it closes.
    int stopped = 0;
    QString error;
    std::unique_ptr<TrafficCapture> tcp = OpenBinCapture(
        FilePath("tcp.bin"), BinCaptureTarget::Tcp(7), [&] { ++stopped; }, &error);
    QVERIFY2(tcp, qPrintable(error));
    tcp->TcpReceived(7, QByteArray("a\0b", 3));
    tcp->TcpReceived(8, "other connection");
    tcp->TcpSent(7, "sent");
    tcp->UdpReceived({local, target}, "datagram");
    tcp->TcpReceived(7, "c");
    tcp->TcpClosed(8, true);
    QVERIFY(!tcp->HasEnded());
    RunEventsFor(0);
    QCOMPARE(read(FilePath("tcp.bin")), QByteArray("a\0bc", 4));
    tcp->TcpReceived(7, "d");
    tcp->TcpClosed(7, false);
    QVERIFY(tcp->HasEnded() && !tcp->HasFailed());
    QCOMPARE(stopped, 1);
    tcp->TcpReceived(7, "after the end");
    tcp->Close();
    QCOMPARE(read(FilePath("tcp.bin")), QByteArray("a\0bcd", 5));
    QCOMPARE(stopped, 1);

    // A UDP peer: its datagrams, none of another peer's nor those sent to it.
    std::unique_ptr<TrafficCapture> udp = OpenBinCapture(
        FilePath("udp.bin"), BinCaptureTarget::Udp(target), [&] { ++stopped; }, &error);
    udp->UdpReceived({local, target}, "one");
    udp->UdpReceived({local, other}, "other peer");
    udp->UdpSent({local, target}, "sent");
    udp->UdpReceived({local, target}, "");
    udp->TcpReceived(7, "tcp");
    udp->UdpReceived({local, target}, "two");
    udp->Close();
    QCOMPARE(read(FilePath("udp.bin")), QByteArray("onetwo"));

    // A full disk: the writes of whole passes stay, and "stopped" comes once.
    stopped = 0;
    const QString full = FilePath("full.bin");
    udp = OpenBinCapture(std::make_unique<FillingSink>(FileCaptureSink::Create(full, nullptr), 250), full,
                         BinCaptureTarget::Udp(target), [&] { ++stopped; });
    for (int pass = 0; pass < 10; ++pass) {
        udp->UdpReceived({local, target}, QByteArray(40, char('a' + pass)));
        udp->UdpReceived({local, target}, QByteArray(20, char('a' + pass)));
        RunEventsFor(0);
    }
    udp->Close();
    QVERIFY(udp->HasFailed());
    QCOMPARE(stopped, 1);
    QCOMPARE(read(full), QByteArray(60, 'a') + QByteArray(60, 'b') + QByteArray(60, 'c') + QByteArray(60, 'd'));
}

QTEST_MAIN(TestCapture)
#include "test_capture.moc"
