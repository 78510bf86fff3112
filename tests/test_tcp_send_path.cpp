// The traffic pieces every page shares: the queued TCP send path (order, counting, back-up
// and its end, over real loopback pairs) and the read slice shared by one event-loop pass.
#include <QtTest>

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/test_environment.h"
#include "traffic/receive_slice.h"
#include "traffic/tcp_send_path.h"

namespace {

// A connected loopback pair: `sender` is non-blocking like the pages' sockets, `peer` is
// the other end. Both buffers on the way are set small (which also turns the kernel's own
// growing of them off), so what the kernel holds is the same on every machine, whatever its
// defaults, and queues form after a few kilobytes.
struct LoopbackPair
{
    static constexpr int kBufferBytes = 4096;

    int sender = -1;
    int peer = -1;

    LoopbackPair()
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = LoopbackAddress(BindToFreeLoopbackPort(listener));
        ::listen(listener, 1);
        peer = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int small = kBufferBytes;
        ::setsockopt(peer, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);  // before connecting: the window offered
        ::connect(peer, reinterpret_cast<sockaddr *>(&address), sizeof address);
        sender = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        ::setsockopt(sender, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        ::close(listener);
    }

    // What the kernel can hold between the two ends: both buffers as it set them (it
    // doubles what was asked, for its bookkeeping). 0 when they are not the small ones.
    qint64 KernelHolds() const
    {
        int sent = 0;
        int received = 0;
        socklen_t length = sizeof sent;
        ::getsockopt(sender, SOL_SOCKET, SO_SNDBUF, &sent, &length);
        length = sizeof received;
        ::getsockopt(peer, SOL_SOCKET, SO_RCVBUF, &received, &length);
        const bool small = sent > 0 && sent <= 4 * kBufferBytes && received > 0 && received <= 4 * kBufferBytes;
        return small ? qint64(sent) + received : 0;
    }
    ~LoopbackPair()
    {
        for (int fd : {sender, peer})
            if (fd >= 0)
                ::close(fd);
    }

    // Reads what the peer has, handling events meanwhile, until count bytes or the time is up.
    QByteArray ReadAll(qsizetype count, int timeoutMs = 10000)
    {
        QByteArray bytes;
        QDeadlineTimer deadline(timeoutMs);
        char chunk[65536];
        while (bytes.size() < count && !deadline.hasExpired()) {
            QCoreApplication::processEvents();
            pollfd waiting{peer, POLLIN, 0};
            if (::poll(&waiting, 1, 1) <= 0)
                continue;
            const ssize_t got = ::recv(peer, chunk, sizeof chunk, 0);
            if (got <= 0)
                break;
            bytes.append(chunk, got);
        }
        return bytes;
    }

    void ResetPeer()
    {
        CloseWithReset(peer);
        peer = -1;
    }
};

QByteArray Pattern(qsizetype size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251 + seed) & 0xFF);
    return bytes;
}

}  // namespace

class TestTcpSendPath : public QObject
{
    Q_OBJECT

private slots:
    void queuedBytesGoOutInOrderAndCountAsAccepted();
    void backedUpUntilDrained();
    void resetWithBytesQueuedDropsThem();
    void readSliceIsSharedWithinOnePass();
};

void TestTcpSendPath::queuedBytesGoOutInOrderAndCountAsAccepted()
{
    LoopbackPair pair;
    TcpSendPath path;
    qint64 counted = 0;
    connect(&path, &TcpSendPath::BytesSent, [&](int socket, qint64 bytes) {
        QCOMPARE(socket, pair.sender);
        counted += bytes;
    });

    // Far more than the socket takes at once, in pieces of every kind: raw blocks and text
    // sends whose zero byte (before a line ending) goes out but is not counted.
    QByteArray expected;
    qint64 expectedCount = 0;
    for (int i = 0; i < 300; ++i) {
        const QByteArray block = Pattern(1000 + i, i);
        if (i % 3 == 0) {
            const QByteArray text = "text" + QByteArray::number(i) + '\0' + "\r\n";
            QVERIFY(path.Send(pair.sender, text, text.size() - 3));
            expected += text;
            expectedCount += text.size() - 1;
        }
        QVERIFY(path.Send(pair.sender, block));
        expected += block;
        expectedCount += block.size();
    }
    QVERIFY(path.Queued(pair.sender) > 0);  // the peer has not read yet
    QVERIFY(counted < expectedCount);       // what waits is not counted

    const QByteArray received = pair.ReadAll(expected.size());
    QCOMPARE(received.size(), expected.size());
    QVERIFY(received == expected);
    QTRY_COMPARE(counted, expectedCount);
    QCOMPARE(path.Queued(pair.sender), 0);
}

void TestTcpSendPath::backedUpUntilDrained()
{
    LoopbackPair pair;
    TcpSendPath path;
    path.SetBackedUpBytes(64 * 1024);
    int drained = 0;
    connect(&path, &TcpSendPath::Drained, [&](int) { ++drained; });

    const QByteArray block = Pattern(256, 1);
    // The kernel takes its buffers' worth, then the path queues the rest: the bound leaves
    // room twice over and is never what ends the loop.
    QVERIFY(pair.KernelHolds() > 0);
    const qint64 mostBlocks = 2 * (pair.KernelHolds() + 64 * 1024) / block.size() + 1;
    int blocks = 0;
    while (!path.IsBackedUp(pair.sender) && blocks < mostBlocks) {
        QVERIFY(path.Send(pair.sender, block));
        ++blocks;
    }
    QVERIFY(path.IsBackedUp(pair.sender));
    QVERIFY(path.Queued(pair.sender) > 64 * 1024);
    QVERIFY(path.Queued(pair.sender) <= 64 * 1024 + block.size());
    QCOMPARE(drained, 0);

    const QByteArray received = pair.ReadAll(qsizetype(blocks) * block.size());
    QCOMPARE(received.size(), qsizetype(blocks) * block.size());
    QCOMPARE(received.left(block.size()), block);
    QCOMPARE(received.right(block.size()), block);
    QCOMPARE(drained, 1);  // said once, when it fell below the bound
    QVERIFY(!path.IsBackedUp(pair.sender));
}

void TestTcpSendPath::resetWithBytesQueuedDropsThem()
{
    LoopbackPair pair;
    TcpSendPath path;
    path.SetBackedUpBytes(16 * 1024);
    qint64 counted = 0;
    int drained = 0;
    connect(&path, &TcpSendPath::BytesSent, [&](int, qint64 bytes) { counted += bytes; });
    connect(&path, &TcpSendPath::Drained, [&](int) { ++drained; });

    const QByteArray block = Pattern(4096, 2);
    QVERIFY(pair.KernelHolds() > 0 && pair.KernelHolds() + 16 * 1024 < 64 * block.size());
    qint64 handed = 0;
    for (int i = 0; i < 64; ++i) {
        QVERIFY(path.Send(pair.sender, block));
        handed += block.size();
    }
    QVERIFY(path.IsBackedUp(pair.sender));
    const qint64 countedBeforeReset = counted;
    pair.ResetPeer();

    // The next write fails: the queue is gone, the read side is told to go on (to see the
    // close), and nothing more is counted or sent.
    QTRY_COMPARE(drained, 1);
    QCOMPARE(path.Queued(pair.sender), 0);
    QVERIFY(!path.Send(pair.sender, block));
    QCOMPARE(counted, countedBeforeReset);
    QVERIFY(counted < handed);
}

void TestTcpSendPath::readSliceIsSharedWithinOnePass()
{
    ReceiveSlice slice;
    slice.Begin();
    QTest::qSleep(ReceiveSlice::kSliceMs + 4);
    QVERIFY(slice.IsOver());
    slice.Begin();  // another socket in the same pass: the slice is already used up
    QVERIFY(slice.IsOver());
    // Once the loop has come round, a new slice opens. A loaded machine may take this thread
    // away for a whole slice between two lines, so a few passes are allowed for it.
    bool opened = false;
    for (int pass = 0; pass < 10 && !opened; ++pass) {
        QCoreApplication::processEvents();
        slice.Begin();
        opened = !slice.IsOver();
    }
    QVERIFY(opened);

    // Its bytes end a slice too, whatever the time: 4,096 reads of 64 KiB would be 256 MiB.
    // A new slice counts from nothing. (A machine that takes the thread away for a whole slice
    // right here only makes the first check pass early; the last two stand either way.)
    for (int pass = 0; pass < 10 && slice.IsOver(); ++pass) {
        QCoreApplication::processEvents();
        slice.Begin();
    }
    slice.Count(ReceiveSlice::kSliceBytes - 1);
    slice.Count(1);
    QVERIFY(slice.IsOver());
    bool fresh = false;
    for (int pass = 0; pass < 10 && !fresh; ++pass) {
        QCoreApplication::processEvents();
        slice.Begin();
        fresh = !slice.IsOver();
    }
    QVERIFY(fresh);
}

QTEST_GUILESS_MAIN(TestTcpSendPath)
#include "test_tcp_send_path.moc"
