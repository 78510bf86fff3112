// A flood into velvane-cli tcp-server whose stdout is a pipe: every byte comes out in the --hex
// lines, in order, also when the pipe's reader stalls and when that pipe is non-blocking.
#include <QTest>
#include <QThread>

#include <atomic>
#include <functional>
#include <random>
#include <thread>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "cli_process.h"
#include "event_wait.h"

namespace {

// Large enough that the pipe, the CLI's own buffer and the socket buffers cannot take it all
// while the reader stalls, so the stall reaches the sender.
constexpr qsizetype kFloodBytes = 8 * 1024 * 1024;

QByteArray Pattern(qsizetype size)
{
    // Every byte value, in no repeating order: a lost or doubled piece shows.
    std::mt19937 random(25);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(random() & 0xFF);
    return bytes;
}

int ConnectTo(quint16 port)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(socket);
        return -1;
    }
    // A small send buffer keeps what is in flight small; a stuck send ends at the patience.
    const int sendBuffer = 64 * 1024;
    ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    const timeval limit{kPatienceMs / 1000, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    return socket;
}

quint16 LocalPort(int socket)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(socket, reinterpret_cast<sockaddr *>(&address), &length);
    return ntohs(address.sin_port);
}

// Sends bytes in pieces of various sizes, then closes.
void SendAll(int socket, const QByteArray &bytes, std::atomic<qsizetype> &sent)
{
    qsizetype offset = 0;
    for (qsizetype piece = 1; offset < bytes.size(); piece = piece % 70000 + 4093) {
        const ssize_t n = ::send(socket, bytes.constData() + offset, size_t(std::min(piece, bytes.size() - offset)),
                                 MSG_NOSIGNAL);
        if (n <= 0)
            break;
        offset += n;
        sent = offset;
    }
    ::close(socket);
}

}  // namespace

class CliFloodTest : public QObject
{
    Q_OBJECT

private slots:
    void floodToPipeLosesNothing_data()
    {
        QTest::addColumn<int>("stallMs");
        QTest::addColumn<bool>("nonBlockingStdout");
        QTest::newRow("steady reader") << 0 << false;
        QTest::newRow("stalled reader") << 1500 << false;
        QTest::newRow("stalled reader, non-blocking stdout") << 1500 << true;
    }

    void floodToPipeLosesNothing()
    {
        QFETCH(int, stallMs);
        QFETCH(bool, nonBlockingStdout);
        std::function<void()> childSetup;
        if (nonBlockingStdout)
            childSetup = [] { ::fcntl(STDOUT_FILENO, F_SETFL, ::fcntl(STDOUT_FILENO, F_GETFL) | O_NONBLOCK); };
        CliProcess cli({QStringLiteral("tcp-server"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--hex")},
                       childSetup);
        QVERIFY(cli.WaitForFirstLine());
        const int socket = ConnectTo(cli.PortOfTextLine());
        QVERIFY(socket >= 0);
        const QByteArray peer = "127.0.0.1:" + QByteArray::number(LocalPort(socket));
        const QByteArray flood = Pattern(kFloodBytes);
        std::atomic<qsizetype> sent = 0;
        // Joined however the test ends; a send stuck that long times out.
        std::jthread sender(SendAll, socket, std::cref(flood), std::ref(sent));

        if (stallMs > 0) {
            // Nothing reads the pipe meanwhile: the CLI has to wait for it, and the sender for the CLI.
            QThread::msleep(stallMs);
            QVERIFY2(sent < flood.size(), "the stall never reached the sender");
        }
        const QByteArray closeLine = peer + "断开与服务器的连接 (ID 1000)\n";
        QByteArray output;
        QElapsedTimer clock;
        clock.start();
        while (!output.endsWith(closeLine) && cli.process.state() == QProcess::Running
               && clock.elapsed() < 2 * kPatienceMs) {
            cli.process.waitForReadyRead(100);
            output += cli.process.readAllStandardOutput();
        }
        sender.join();
        QCOMPARE(sent.load(), flood.size());
        cli.process.terminate();
        QCOMPARE(cli.Finish(), 0);
        output += cli.process.readAllStandardOutput();

        // After the connect line, every line up to the close is a block: the peer, a space, its
        // bytes in hex.
        const QList<QByteArray> lines = output.split('\n');
        QVERIFY(lines.size() >= 4);
        QCOMPARE(lines.at(0), peer + "连接到本机 (ID 1000)");
        QCOMPARE(lines.at(lines.size() - 2) + '\n', closeLine);
        QCOMPARE(lines.last(), QByteArray());
        QByteArray received;
        received.reserve(flood.size());
        for (qsizetype i = 1; i < lines.size() - 2; ++i) {
            QVERIFY2(lines.at(i).startsWith(peer + ' '), lines.at(i).left(80).constData());
            received += QByteArray::fromHex(lines.at(i).mid(peer.size() + 1));
        }
        QCOMPARE(received.size(), flood.size());
        qsizetype firstDifference = -1;
        for (qsizetype i = 0; i < flood.size() && firstDifference < 0; ++i)
            if (received.at(i) != flood.at(i))
                firstDifference = i;
        QCOMPARE(firstDifference, -1);
    }
};

QTEST_GUILESS_MAIN(CliFloodTest)
#include "test_cli_flood.moc"
