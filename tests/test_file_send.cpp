// Sending a file: streamed on a TCP connection through the send path (whole and in order
// between the sends around it, with flat memory to a slow reader, cancelled, failing, gone),
// and cut into datagrams at a rate, over real loopback sockets.
#include <QtTest>

#include <QFile>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/test_environment.h"
#include "traffic/tcp_send_path.h"
#include "traffic/udp_file_sender.h"

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

namespace {

// No period short of the file: a chunk or a datagram out of place shows.
char PatternByte(qint64 i)
{
    return static_cast<char>((i * 131 + (i >> 8) * 7 + (i >> 18)) & 0xFF);
}

QByteArray Pattern(qint64 from, qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = PatternByte(from + i);
    return bytes;
}

// A file of the pattern, written a MiB at a time.
std::unique_ptr<QFile> PatternFile(const QTemporaryDir &dir, qint64 size)
{
    auto file = std::make_unique<QFile>(dir.filePath(QString::number(size)));
    if (!file->exists() && file->open(QIODevice::WriteOnly)) {
        for (qint64 at = 0; at < size; at += 1 << 20)
            file->write(Pattern(at, std::min<qint64>(1 << 20, size - at)));
        file->close();
    }
    file->open(QIODevice::ReadOnly);
    return file;
}

// A device that claims a size and gives the pattern up to a point, then fails (-1) or ends
// early (0), or says it is sequential.
class BrokenDevice : public QIODevice
{
public:
    BrokenDevice(qint64 size, qint64 givesUpAt, qint64 answer, bool sequential = false)
        : m_size(size)
        , m_givesUpAt(givesUpAt)
        , m_answer(answer)
        , m_sequential(sequential)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    qint64 size() const override { return m_size; }
    bool isSequential() const override { return m_sequential; }

protected:
    qint64 readData(char *data, qint64 most) override
    {
        if (m_at >= m_givesUpAt)
            return m_answer;
        const QByteArray bytes = Pattern(m_at, std::min(most, m_givesUpAt - m_at));
        std::memcpy(data, bytes.constData(), bytes.size());
        m_at += bytes.size();
        return bytes.size();
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    qint64 m_size, m_givesUpAt, m_answer;
    bool m_sequential;
    qint64 m_at = 0;
};

// A connected pair: `sender` non-blocking like the pages' sockets; small buffers on the way,
// so that the kernel holds little and the path does the waiting.
struct TcpPair
{
    int sender = -1;
    int peer = -1;

    explicit TcpPair(int bufferBytes = 4096)
    {
        int port = 0;
        const int listener = OpenListener(port, 1);
        peer = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::setsockopt(peer, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
        const sockaddr_in address = LoopbackAddress(port);
        ::connect(peer, reinterpret_cast<const sockaddr *>(&address), sizeof address);
        sender = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        ::setsockopt(sender, SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
        ::close(listener);
    }
    ~TcpPair()
    {
        for (int fd : {sender, peer})
            if (fd >= 0)
                ::close(fd);
    }

    // What the peer gets, events handled meanwhile, until count bytes or the time is up;
    // with more, the check for extra bytes gets them too.
    QByteArray Read(qint64 count, int quietMs = 0)
    {
        QByteArray bytes;
        char piece[65536];
        WaitUntil([&] {
            pollfd waiting{peer, POLLIN, 0};
            const ssize_t got = ::poll(&waiting, 1, 0) > 0 ? ::recv(peer, piece, sizeof piece, 0) : 0;
            bytes.append(piece, std::max<ssize_t>(got, 0));
            return bytes.size() >= count;
        });
        RunEventsFor(quietMs);
        pollfd waiting{peer, POLLIN, 0};
        while (::poll(&waiting, 1, 0) > 0 && ::recv(peer, piece, sizeof piece, MSG_DONTWAIT) > 0)
            bytes.append("+");  // more than the stream should hold
        return bytes;
    }
};

// Reads on its own thread in pieces with pauses, as a slow peer does, and checks every byte
// against what should come, keeping only the count.
class SlowReader
{
public:
    SlowReader(int socket, std::function<char(qint64)> expected, qint64 total)
        : m_thread([=, this] { Run(socket, expected, total); })
    {
    }
    ~SlowReader() { m_thread.join(); }

    std::atomic<qint64> got = 0;
    std::atomic<qint64> firstWrong = -1;

private:
    void Run(int socket, const std::function<char(qint64)> &expected, qint64 total)
    {
        char piece[16384];
        QDeadlineTimer deadline(3 * kPatienceMs);
        for (int reads = 1; got < total && !deadline.hasExpired(); ++reads) {
            pollfd waiting{socket, POLLIN, 0};
            if (::poll(&waiting, 1, 100) <= 0)
                continue;
            const ssize_t n = ::recv(socket, piece, sizeof piece, 0);
            if (n <= 0)
                return;
            for (ssize_t i = 0; i < n && firstWrong < 0; ++i)
                if (piece[i] != expected(got + i))
                    firstWrong = got + i;
            got += n;
            if (reads % 4 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    std::thread m_thread;
};

// What a send path told, in order.
struct PathWatch
{
    qint64 counted = 0;
    QList<qint64> progress;
    QList<FileEnd> ends;
    int drained = 0;

    explicit PathWatch(TcpSendPath &path)
    {
        QObject::connect(&path, &TcpSendPath::BytesSent, [this](int, qint64 bytes) { counted += bytes; });
        QObject::connect(&path, &TcpSendPath::FileProgress, [this](int, qint64 sent, qint64) { progress << sent; });
        QObject::connect(&path, &TcpSendPath::FileEnded, [this](int, FileEnd end) { ends << end; });
        QObject::connect(&path, &TcpSendPath::Drained, [this](int) { ++drained; });
    }
};

}  // namespace

class TestFileSend : public QObject
{
    Q_OBJECT

private slots:
    void tcpFileGoesWholeBetweenSendsWithFlatMemory();
    void tcpCancelLeavesAPrefixThenTheSendsBehind();
    void tcpFileEndsOtherwise();
    void udpFileGoesInDatagramsAtItsRate();
    void udpFileEndsOtherwise();

private:
    QTemporaryDir m_dir;
};

void TestFileSend::tcpFileGoesWholeBetweenSendsWithFlatMemory()
{
    constexpr qint64 kFileBytes = 64 << 20;
    std::unique_ptr<QFile> file = PatternFile(m_dir, kFileBytes);
    QCOMPARE(file->size(), kFileBytes);
    TcpPair pair(16384);
    TcpSendPath path;
    PathWatch watch(path);

    const QByteArray before(300000, 'b');  // more than the kernel takes: it waits
    const QByteArray behind("after the file\0\r\n", 17);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(path.Send(pair.sender, before));
    QVERIFY(path.Queued(pair.sender) > 0);
    QVERIFY(path.SendFile(pair.sender, std::move(file)));
    QVERIFY(path.Send(pair.sender, behind, behind.size() - 3));
    QVERIFY(!path.SendFile(pair.sender, PatternFile(m_dir, 1)));  // one file at a time

    const qint64 total = before.size() + kFileBytes + behind.size();
    SlowReader reader(
        pair.peer,
        [&](qint64 at) {
            if (at < before.size())
                return before[at];
            at -= before.size();
            return at < kFileBytes ? PatternByte(at) : behind[at - kFileBytes];
        },
        total);
    const long residentBefore = ResidentBytes();
    long mostResident = residentBefore;
    qint64 mostHeld = 0;
    bool backedUp = false;
    QVERIFY(WaitUntil(
        [&] {
            mostResident = std::max(mostResident, ResidentBytes());
            mostHeld = std::max(mostHeld, path.FileHeld(pair.sender));
            backedUp = backedUp || path.IsBackedUp(pair.sender);
            return reader.got == total || reader.firstWrong >= 0;
        },
        3 * kPatienceMs));

    QCOMPARE(reader.firstWrong.load(), -1);
    QCOMPARE(watch.ends, QList<FileEnd>{FileEnd::Done});
    QCOMPARE(watch.counted, total - 1);  // the text's zero byte is not counted
    QVERIFY(!path.IsSendingFile(pair.sender));
    QCOMPARE(path.Queued(pair.sender), 0);
    // Read as the socket takes it: a chunk at most, and never the page's reads held up.
    // The address sanitizer keeps freed memory aside for a while: there only the bytes held
    // tell it.
    if (!kAddressSanitizer)
        QVERIFY2(mostResident - residentBefore < (32 << 20),
                 qPrintable(QString::number(mostResident - residentBefore)));
    QVERIFY(mostHeld > 0 && mostHeld <= TcpSendPath::kFileChunkBytes);
    QVERIFY(!backedUp);
    // Told at most every 100 ms, the last with the whole file.
    QCOMPARE(watch.progress.last(), kFileBytes);
    QVERIFY(watch.progress.size() <= clock.elapsed() / TcpSendPath::kFileProgressMs + 1);
}

void TestFileSend::tcpCancelLeavesAPrefixThenTheSendsBehind()
{
    constexpr qint64 kFileBytes = 4 << 20;
    TcpPair pair;
    TcpSendPath path;
    PathWatch watch(path);
    QVERIFY(path.SendFile(pair.sender, PatternFile(m_dir, kFileBytes)));
    QVERIFY(path.Send(pair.sender, "first behind"));

    // The peer does not read: the kernel fills up and the path holds the rest of a chunk.
    QVERIFY(WaitUntil([&] { return path.FileSent(pair.sender) > 0; }));
    RunEventsFor(50);
    const qint64 sent = path.FileSent(pair.sender);
    QVERIFY(path.FileHeld(pair.sender) > 0);
    QVERIFY(watch.ends.isEmpty());

    path.CancelFile(pair.sender);
    QCOMPARE(watch.ends, QList<FileEnd>{FileEnd::Cancelled});
    QCOMPARE(watch.progress.last(), sent);
    QVERIFY(!path.IsSendingFile(pair.sender));
    QVERIFY(path.Send(pair.sender, "second behind"));

    // Exactly what the socket took of the file, nothing of the dropped chunk, then the sends.
    const QByteArray expected = Pattern(0, sent) + "first behind" + "second behind";
    QCOMPARE(pair.Read(expected.size(), 100), expected);
    QCOMPARE(watch.counted, expected.size());
}

void TestFileSend::tcpFileEndsOtherwise()
{
    // A device that fails, or ends before its size, in the second chunk: what it gave goes
    // out, then the send behind it.
    for (const qint64 answer : {-1, 0}) {
        TcpPair pair(1 << 20);
        TcpSendPath path;
        PathWatch watch(path);
        const qint64 gives = TcpSendPath::kFileChunkBytes + 1234;
        QVERIFY(path.SendFile(pair.sender, std::make_unique<BrokenDevice>(8 << 20, gives, answer)));
        QVERIFY(path.Send(pair.sender, "behind"));
        const QByteArray expected = Pattern(0, gives) + "behind";
        QCOMPARE(pair.Read(expected.size(), 50), expected);
        QCOMPARE(watch.ends, QList<FileEnd>{FileEnd::ReadFailed});
        QCOMPARE(watch.progress.last(), gives);
    }

    // An empty file: nothing of it, Done, and the sends on either side in their order.
    {
        TcpPair pair;
        TcpSendPath path;
        PathWatch watch(path);
        QVERIFY(path.Send(pair.sender, "a"));
        QVERIFY(path.SendFile(pair.sender, PatternFile(m_dir, 0)));
        QVERIFY(path.Send(pair.sender, "b"));
        QCOMPARE(pair.Read(2, 50), "ab");
        QCOMPARE(watch.ends, QList<FileEnd>{FileEnd::Done});
        QCOMPARE(watch.progress, QList<qint64>{0});
    }

    // Forget, and a peer reset, while a file goes: ConnectionGone. Its bytes never count
    // toward a back-up, the sends behind it do; a failure lets the reading go on.
    for (const bool reset : {false, true}) {
        TcpPair pair;
        TcpSendPath path;
        path.SetBackedUpBytes(16 * 1024);
        PathWatch watch(path);
        QVERIFY(!path.SendFile(pair.sender, std::make_unique<BrokenDevice>(10, 10, 0, true)));  // a pipe
        QVERIFY(!path.SendFile(pair.sender, std::make_unique<QFile>(m_dir.filePath("missing"))));
        QVERIFY(path.SendFile(pair.sender, PatternFile(m_dir, 4 << 20)));
        QVERIFY(WaitUntil([&] { return path.FileSent(pair.sender) > 0; }));
        RunEventsFor(20);
        QVERIFY(!path.IsBackedUp(pair.sender));
        QVERIFY(path.Send(pair.sender, QByteArray(20000, 'x')));
        QVERIFY(path.IsBackedUp(pair.sender));
        if (reset) {
            CloseWithReset(pair.peer);
            pair.peer = -1;
            QVERIFY(WaitUntil([&] { return !watch.ends.isEmpty(); }));
            QCOMPARE(watch.drained, 1);
            QVERIFY(!path.Send(pair.sender, "late"));
            QVERIFY(!path.SendFile(pair.sender, PatternFile(m_dir, 1)));
        } else {
            path.Forget(pair.sender);
        }
        QCOMPARE(watch.ends, QList<FileEnd>{FileEnd::ConnectionGone});
        QVERIFY(!path.IsSendingFile(pair.sender));
    }
}

void TestFileSend::udpFileGoesInDatagramsAtItsRate()
{
    const int receiver = UdpSocket(0);
    const int sender = UdpSocket(0, LocalPort(receiver));
    const int big = 8 << 20;
    ::setsockopt(receiver, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);

    struct Case
    {
        qint64 bytes;
        int size;
        int perSecond;
    };
    // A rate below the timer's resolution and one above it; then as fast as it goes, when
    // the receiver may drop some but the socket is handed each datagram once, in order.
    for (const Case run :
         {Case{150 * 1000 + 321, 1000, 300}, Case{1000 * 512 + 1, 512, 2000}, Case{4 << 20, 1024, 0}}) {
        const qint64 count = (run.bytes + run.size - 1) / run.size;
        // The socket is full now and then: the same datagram is tried again, nothing is lost.
        qint64 calls = 0;
        qint64 handed = 0;
        bool inOrder = true;
        UdpFileSender fileSender([&](QByteArrayView datagram) -> qint64 {
            if (++calls % 5 == 0) {
                errno = calls % 2 ? EAGAIN : ENOBUFS;
                return -1;
            }
            inOrder = inOrder && datagram == Pattern(handed, datagram.size());
            handed += datagram.size();
            return ::send(sender, datagram.data(), datagram.size(), 0);
        });
        QList<qint64> progress;
        QList<FileEnd> ends;
        connect(&fileSender, &UdpFileSender::Progress,
                [&](qint64 sent, qint64, qint64 datagrams) { progress << sent << datagrams; });
        connect(&fileSender, &UdpFileSender::Ended, [&](FileEnd end) { ends << end; });

        QByteArray received;
        QList<qsizetype> sizes;
        char piece[65536];
        const auto receive = [&] {
            for (ssize_t n; (n = ::recv(receiver, piece, sizeof piece, MSG_DONTWAIT)) > 0;) {
                received.append(piece, n);
                sizes << n;
            }
            return sizes.size() == count;
        };
        QElapsedTimer clock;
        clock.start();
        QVERIFY(fileSender.Start(PatternFile(m_dir, run.bytes), run.size, run.perSecond));
        QVERIFY(!fileSender.Start(PatternFile(m_dir, 1)));
        QVERIFY(WaitUntil([&] { return receive() || !ends.isEmpty(); }));
        QVERIFY(WaitUntil([&] { return !ends.isEmpty(); }));
        const qint64 tookMs = clock.elapsed();

        QCOMPARE(ends, QList<FileEnd>{FileEnd::Done});
        QVERIFY(!fileSender.IsRunning());
        QVERIFY(inOrder);
        QCOMPARE(handed, run.bytes);
        QCOMPARE(progress.mid(progress.size() - 2), (QList<qint64>{run.bytes, count}));
        if (run.perSecond > 0) {
            QVERIFY(WaitUntil(receive));
            QVERIFY(received == Pattern(0, run.bytes));
            QCOMPARE(sizes.count(run.size), count - 1);
            QCOMPARE(sizes.last(), (run.bytes - 1) % run.size + 1);
            QVERIFY2(tookMs >= (count - 1) * 1000 / run.perSecond, qPrintable(QString::number(tookMs)));
        }
        receive();
    }
    ::close(sender);
    ::close(receiver);
}

void TestFileSend::udpFileEndsOtherwise()
{
    qint64 calls = 0;
    int failAt = -1;
    UdpFileSender sender([&](QByteArrayView datagram) -> qint64 {
        errno = ECONNREFUSED;
        return ++calls == failAt ? -1 : datagram.size();
    });
    QList<qint64> datagrams;
    QList<FileEnd> ends;
    connect(&sender, &UdpFileSender::Progress, [&](qint64, qint64, qint64 count) { datagrams << count; });
    connect(&sender, &UdpFileSender::Ended, [&](FileEnd end) { ends << end; });

    QVERIFY(!sender.Start(PatternFile(m_dir, 10), 0));
    QVERIFY(!sender.Start(PatternFile(m_dir, 10), UdpFileSender::kMaxDatagramSize + 1));
    QVERIFY(!sender.Start(PatternFile(m_dir, 10), 100, -1));

    // Cancel: nothing more goes.
    QVERIFY(sender.Start(PatternFile(m_dir, 1 << 20), 100, 100));
    QVERIFY(WaitUntil([&] { return calls >= 3; }));
    sender.Cancel();
    QCOMPARE(ends, QList<FileEnd>{FileEnd::Cancelled});
    QCOMPARE(datagrams.last(), calls);
    RunEventsFor(100);
    QCOMPARE(datagrams.last(), calls);

    // A socket that fails for good ends the file there.
    calls = 0;
    failAt = 3;
    QVERIFY(sender.Start(PatternFile(m_dir, 1 << 20)));
    QVERIFY(WaitUntil([&] { return ends.size() == 2; }));
    QCOMPARE(ends.last(), FileEnd::ConnectionGone);
    QCOMPARE(calls, 3);
    QCOMPARE(datagrams.last(), 2);

    // An empty file sends nothing and is done.
    calls = 0;
    QVERIFY(sender.Start(PatternFile(m_dir, 0)));
    QVERIFY(WaitUntil([&] { return ends.size() == 3; }));
    QCOMPARE(ends.last(), FileEnd::Done);
    QCOMPARE(calls, 0);
}

QTEST_GUILESS_MAIN(TestFileSend)
#include "test_file_send.moc"
