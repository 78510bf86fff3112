// velvane-cli tcp-client and udp-client driven as child processes against peers of the test
// on 127.0.0.1 and ::1.
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <memory>

#include <sys/socket.h>

#include "cli_process.h"
#include "event_wait.h"

namespace {

QString Endpoint(const QHostAddress &address, quint16 port)
{
    const QString host = address.toString();
    return address.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("[%1]:%2").arg(host).arg(port)
                                                               : QStringLiteral("%1:%2").arg(host).arg(port);
}

QStringList Lines(const QByteArray &out)
{
    return QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts);
}

QStringList Kinds(const QList<QJsonObject> &events)
{
    QStringList kinds;
    for (const QJsonObject &event : events)
        kinds << event.value(QStringLiteral("event")).toString();
    return kinds;
}

QByteArray RandomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

// A TCP peer listening where the row says, with the one client it accepts.
struct TcpPeer
{
    QTcpServer server;
    std::unique_ptr<QTcpSocket> client;
    QByteArray received;

    bool Listen(const QHostAddress &address) { return server.listen(address, 0); }
    QString Endpoint() const { return ::Endpoint(server.serverAddress(), server.serverPort()); }
    QByteArray Name() const { return Endpoint().toLatin1(); }
    bool Accept()
    {
        if (!server.waitForNewConnection(kPatienceMs))
            return false;
        client.reset(server.nextPendingConnection());
        QObject::connect(client.get(), &QTcpSocket::readyRead, [this] { received += client->readAll(); });
        return true;
    }
    bool ReadAtLeast(qsizetype size)
    {
        return QTest::qWaitFor([&] { return received.size() >= size; }, kPatienceMs);
    }
    // The client's stream ended (its half close or close): everything it sent is here.
    bool WaitForEnd()
    {
        const bool ended = QTest::qWaitFor([&] { return client->state() == QAbstractSocket::UnconnectedState; },
                                           kPatienceMs);
        received += client->readAll();
        return ended;
    }
};

struct UdpPeer
{
    QUdpSocket socket;
    QList<QByteArray> datagrams;

    bool Bind(const QHostAddress &address) { return socket.bind(address, 0); }
    QString Endpoint() const { return ::Endpoint(socket.localAddress(), socket.localPort()); }
    // Reads what came; the last sender is where an answer goes.
    bool WaitFor(qsizetype count, QHostAddress *from = nullptr, quint16 *port = nullptr)
    {
        return QTest::qWaitFor(
            [&] {
                while (socket.hasPendingDatagrams()) {
                    QByteArray datagram(socket.pendingDatagramSize(), Qt::Uninitialized);
                    socket.readDatagram(datagram.data(), datagram.size(), from, port);
                    datagrams << datagram;
                }
                return datagrams.size() >= count;
            },
            kPatienceMs);
    }
};

void AddFamilies()
{
    QTest::addColumn<QHostAddress>("address");
    QTest::newRow("ipv4") << QHostAddress(QHostAddress::LocalHost);
    QTest::newRow("ipv6") << QHostAddress(QHostAddress::LocalHostIPv6);
}

}  // namespace

class CliClientsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    // The client page's lines and log: the connect line naming the address, each block with
    // its peer, the server's close ending the run with 0; the sent text in the log as typed.
    void tcpClientLinesAndLog_data() { AddFamilies(); }
    void tcpClientLinesAndLog()
    {
        QFETCH(QHostAddress, address);
        TcpPeer peer;
        if (!peer.Listen(address))
            QSKIP("no such loopback address here");
        const QString log = m_dir.filePath(QStringLiteral("tcp.txt"));
        CliProcess cli({QStringLiteral("tcp-client"), peer.Endpoint(), QStringLiteral("--send"),
                        QStringLiteral("hi there"), QStringLiteral("--log"), log});
        QVERIFY(peer.Accept());
        QVERIFY(peer.ReadAtLeast(8));
        QCOMPARE(peer.received, QByteArray("hi there"));
        peer.client->write("yo");
        QVERIFY(peer.client->waitForBytesWritten(kPatienceMs));
        QVERIFY(cli.WaitForFirstLine());
        peer.client->disconnectFromHost();
        QCOMPARE(cli.Finish(), 0);

        const QString name = peer.Endpoint();
        QCOMPARE(QStringList(QString::fromUtf8(cli.firstLine).trimmed()) + Lines(cli.process.readAllStandardOutput()),
                 QStringList({QStringLiteral("成功连接到%1的%2端口 连接方式为TCP!")
                                  .arg(address.toString())
                                  .arg(peer.server.serverPort()),
                              name + QStringLiteral(" yo"), name + QStringLiteral("服务器主动断开")}));
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.contains("*-----------------------TCP CLIENT---------------------*\r\n"));
        QVERIFY2(bytes.endsWith("CLIENT->SERVER  hi there\r\nSERVER->CLIENT  " + peer.Name() + " yo\r\n"),
                 bytes.constData());
    }

    // --json: connect, send, receive (bytes in hex and the text), close by the server.
    void tcpClientJson_data() { AddFamilies(); }
    void tcpClientJson()
    {
        QFETCH(QHostAddress, address);
        TcpPeer peer;
        if (!peer.Listen(address))
            QSKIP("no such loopback address here");
        CliProcess cli({QStringLiteral("tcp-client"), peer.Endpoint(), QStringLiteral("--json"),
                        QStringLiteral("--send-hex"), QStringLiteral("01 02"), QStringLiteral("--encoding"),
                        QStringLiteral("utf-8")});
        QVERIFY(peer.Accept());
        QVERIFY(peer.ReadAtLeast(2));
        peer.client->write("\xe4\xbd\xa0!");
        QVERIFY(peer.client->waitForBytesWritten(kPatienceMs));
        peer.client->disconnectFromHost();
        QCOMPARE(cli.Finish(), 0);

        QList<QJsonObject> events;
        QVERIFY(CliJsonEvents(cli.process.readAllStandardOutput(), events));
        QCOMPARE(Kinds(events), QStringList({QStringLiteral("connect"), QStringLiteral("send"),
                                             QStringLiteral("receive"), QStringLiteral("close")}));
        QCOMPARE(events[0].value(QStringLiteral("peer")).toString(), peer.Endpoint());
        QCOMPARE(events[1].value(QStringLiteral("bytes")).toString(), QStringLiteral("0102"));
        QCOMPARE(events[2].value(QStringLiteral("bytes")).toString(), QStringLiteral("e4bda021"));
        QCOMPARE(events[2].value(QStringLiteral("text")).toString(), QStringLiteral("你!"));
        QCOMPARE(events[3].value(QStringLiteral("by")).toString(), QStringLiteral("peer"));
    }

    // Timed sends: --count datagrams every --interval, each answer shown with its sender, the
    // run over with 0 after --wait; in JSON, the same as events.
    void udpClientSendsAndAnswers_data() { AddFamilies(); }
    void udpClientSendsAndAnswers()
    {
        QFETCH(QHostAddress, address);
        for (const bool json : {false, true}) {
            UdpPeer peer;
            if (!peer.Bind(address))
                QSKIP("no such loopback address here");
            QStringList args{
                QStringLiteral("udp-client"), peer.Endpoint(),       QStringLiteral("--send"),  QStringLiteral("ping"),
                QStringLiteral("--interval"), QStringLiteral("20"),  QStringLiteral("--count"), QStringLiteral("3"),
                QStringLiteral("--wait"),     QStringLiteral("1000")};
            if (json)
                args << QStringLiteral("--json");
            // The wait is the time the last answer has to come back in.
            CliProcess cli(args);
            QHostAddress from;
            quint16 port = 0;
            for (int i = 1; i <= 3; ++i) {
                QVERIFY(peer.WaitFor(i, &from, &port));
                peer.socket.writeDatagram(QByteArray("pong"), from, port);
            }
            QCOMPARE(cli.Finish(), 0);
            QCOMPARE(peer.datagrams, QList<QByteArray>({"ping", "ping", "ping"}));

            const QByteArray out = cli.process.readAllStandardOutput();
            const QString name = peer.Endpoint();
            if (json) {
                QList<QJsonObject> events;
                QVERIFY(CliJsonEvents(out, events));
                QCOMPARE(Kinds(events).count(QStringLiteral("send")), 3);
                QCOMPARE(Kinds(events).count(QStringLiteral("receive")), 3);
                QCOMPARE(events.first().value(QStringLiteral("protocol")).toString(), QStringLiteral("udp"));
                QCOMPARE(events.last().value(QStringLiteral("by")).toString(), QStringLiteral("local"));
            } else {
                QCOMPARE(Lines(out),
                         QStringList({QStringLiteral("成功连接到%1的%2端口 连接方式为UDP!")
                                          .arg(address.toString())
                                          .arg(peer.socket.localPort()),
                                      name + QStringLiteral(" pong"), name + QStringLiteral(" pong"),
                                      name + QStringLiteral(" pong"), QStringLiteral("用户主动与服务器断开")}));
            }
        }
    }

    // Standard input arrives byte for byte: through TCP as a stream (its end half closes the
    // connection, the server's close then ends the run with 0), through UDP a datagram per
    // line, the last piece without a line feed as its own.
    void stdinArrivesByteExact_data() { AddFamilies(); }
    void stdinArrivesByteExact()
    {
        QFETCH(QHostAddress, address);
        TcpPeer tcp;
        if (!tcp.Listen(address))
            QSKIP("no such loopback address here");
        // More than the send path holds before stdin waits for the server.
        const QByteArray stream = RandomBytes(3 * 1024 * 1024 + 7);
        auto cli = std::make_unique<CliProcess>(
            QStringList{QStringLiteral("tcp-client"), tcp.Endpoint(), QStringLiteral("-"), QStringLiteral("--quiet")});
        QVERIFY(tcp.Accept());
        for (qsizetype at = 0; at < stream.size(); at += 256 * 1024)
            cli->process.write(stream.mid(at, 256 * 1024));
        cli->process.closeWriteChannel();
        QVERIFY(tcp.WaitForEnd());
        QCOMPARE(tcp.received.size(), stream.size());
        QVERIFY(tcp.received == stream);
        QCOMPARE(cli->Finish(), 0);

        UdpPeer udp;
        QVERIFY(udp.Bind(address));
        QByteArray text;
        QList<QByteArray> lines;
        for (int i = 0; i < 200; ++i) {
            lines << QByteArray(i % 37, char('a' + i % 26)) + QByteArray::number(i) + '\n';
            text += lines.last();
        }
        lines << QByteArray("no line feed");
        text += lines.last();
        auto udpCli = std::make_unique<CliProcess>(
            QStringList{QStringLiteral("udp-client"), udp.Endpoint(), QStringLiteral("-"), QStringLiteral("--quiet")});
        udpCli->process.write(text.left(1000));
        QVERIFY(udpCli->process.waitForBytesWritten(kPatienceMs));
        udpCli->process.write(text.mid(1000));
        udpCli->process.closeWriteChannel();
        QCOMPARE(udpCli->Finish(), 0);
        QVERIFY(udp.WaitFor(lines.size()));
        QCOMPARE(udp.datagrams, lines);
    }

    // --send-file: the file's bytes in order through TCP (the page's line in the log), and
    // as the page's 1,024-byte datagrams through UDP.
    void sendFileArrivesByteExact_data() { AddFamilies(); }
    void sendFileArrivesByteExact()
    {
        QFETCH(QHostAddress, address);
        const QByteArray content = RandomBytes(700 * 1024 + 3);
        const QString path = m_dir.filePath(QStringLiteral("data.bin"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();

        TcpPeer tcp;
        if (!tcp.Listen(address))
            QSKIP("no such loopback address here");
        const QString log = m_dir.filePath(QStringLiteral("file.txt"));
        CliProcess cli({QStringLiteral("tcp-client"), tcp.Endpoint(), QStringLiteral("--send-file"), path,
                        QStringLiteral("--log"), log});
        QVERIFY(tcp.Accept());
        QVERIFY(tcp.WaitForEnd());
        QVERIFY(tcp.received == content);
        QCOMPARE(cli.Finish(), 0);
        QFile logFile(log);
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        QVERIFY(logFile.readAll().endsWith(
            "CLIENT->SERVER  \xb7\xa2\xcb\xcd\xce\xc4\xbc\xfe data.bin (716803 \xd7\xd6\xbd\xda)\r\n"));

        const QByteArray small = content.left(10 * 1024 + 5);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(small) == small.size());
        file.close();
        UdpPeer udp;
        QVERIFY(udp.Bind(address));
        CliProcess udpCli({QStringLiteral("udp-client"), udp.Endpoint(), QStringLiteral("--send-file"), path});
        QCOMPARE(udpCli.Finish(), 0);
        QVERIFY(udp.WaitFor(11));
        QCOMPARE(udp.datagrams.size(), 11);
        QCOMPARE(udp.datagrams.first().size(), 1024);
        QVERIFY(udp.datagrams.join() == small);
    }

    // 2 for every network failure (refused, a name that does not resolve, a reset) with one
    // line on stderr; 3 for an --expect not met by the wait's end or the server's close; 0 as
    // soon as it is met across two blocks; 1 for a file that cannot be read.
    void exitCodes_data() { AddFamilies(); }
    void exitCodes()
    {
        QFETCH(QHostAddress, address);
        const auto oneLine = [](CliProcess &cli, const char *text) {
            const QByteArray error = cli.process.readAllStandardError();
            const bool one = error.startsWith("velvane-cli: ") && error.contains(text) && error.count('\n') == 1;
            if (!one)
                qWarning("stderr: %s", error.constData());
            return one;
        };
        TcpPeer closed;
        if (!closed.Listen(address))
            QSKIP("no such loopback address here");
        const QString refusedAt = closed.Endpoint();
        closed.server.close();
        CliProcess refused({QStringLiteral("tcp-client"), refusedAt});
        QCOMPARE(refused.Finish(), 2);
        QVERIFY(oneLine(refused, "无法连接服务器"));

        TcpPeer resetting;
        QVERIFY(resetting.Listen(address));
        CliProcess reset({QStringLiteral("tcp-client"), resetting.Endpoint()});
        QVERIFY(resetting.Accept());
        QVERIFY(reset.WaitForFirstLine());  // connected on its side too: the reset ends a connection
        const linger abortive{1, 0};
        ::setsockopt(int(resetting.client->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        resetting.client->abort();
        QCOMPARE(reset.Finish(), 2);
        QVERIFY(oneLine(reset, "中断"));

        TcpPeer silent;
        QVERIFY(silent.Listen(address));
        CliProcess unmet({QStringLiteral("tcp-client"), silent.Endpoint(), QStringLiteral("--expect"),
                          QStringLiteral("ok"), QStringLiteral("--wait"), QStringLiteral("200")});
        QCOMPARE(unmet.Finish(), 3);
        TcpPeer closing;
        QVERIFY(closing.Listen(address));
        CliProcess closedFirst(
            {QStringLiteral("tcp-client"), closing.Endpoint(), QStringLiteral("--expect"), QStringLiteral("ok")});
        QVERIFY(closing.Accept());
        closing.client->disconnectFromHost();
        QCOMPARE(closedFirst.Finish(), 3);

        TcpPeer answering;
        QVERIFY(answering.Listen(address));
        // The wait outlasts the test's patience: only the match can end this run in time.
        CliProcess met({QStringLiteral("tcp-client"), answering.Endpoint(), QStringLiteral("--expect"),
                        QStringLiteral("ok"), QStringLiteral("--wait"), QStringLiteral("600000")});
        QVERIFY(answering.Accept());
        answering.client->write("o");
        QVERIFY(answering.client->waitForBytesWritten(kPatienceMs));
        QTest::qWait(50);
        answering.client->write("k");
        QVERIFY(answering.client->waitForBytesWritten(kPatienceMs));
        QCOMPARE(met.Finish(), 0);

        UdpPeer udp;
        QVERIFY(udp.Bind(address));
        CliProcess udpUnmet({QStringLiteral("udp-client"), udp.Endpoint(), QStringLiteral("--send"),
                             QStringLiteral("x"), QStringLiteral("--expect"), QStringLiteral("ok"),
                             QStringLiteral("--wait"), QStringLiteral("200")});
        QCOMPARE(udpUnmet.Finish(), 3);

        CliProcess noFile({QStringLiteral("tcp-client"), answering.Endpoint(), QStringLiteral("--send-file"),
                           m_dir.filePath(QStringLiteral("missing"))});
        QCOMPARE(noFile.Finish(), 1);
        QVERIFY(oneLine(noFile, "missing"));
    }

    // A host name (localhost, from the hosts file: no lookup leaves the machine) is resolved
    // and its addresses tried in turn; the connect line names the address that answered.
    void tcpClientReachesAName()
    {
        TcpPeer peer;
        QVERIFY(peer.Listen(QHostAddress::LocalHost));
        CliProcess cli({QStringLiteral("tcp-client"), QStringLiteral("localhost:%1").arg(peer.server.serverPort()),
                        QStringLiteral("--send"), QStringLiteral("x")});
        QVERIFY(peer.Accept());
        QVERIFY(peer.ReadAtLeast(1));
        peer.client->disconnectFromHost();
        QCOMPARE(cli.Finish(), 0);
        QCOMPARE(Lines(cli.process.readAllStandardOutput()).value(0),
                 QStringLiteral("成功连接到127.0.0.1的%1端口 连接方式为TCP!").arg(peer.server.serverPort()));
    }

    // A name that does not resolve, in a network namespace of its own: the lookup reaches no
    // server outside the machine.
    void unresolvableNameEndsWith2()
    {
        QProcess cli;
        cli.start(QStringLiteral("unshare"), {QStringLiteral("-rn"), QStringLiteral(VELVANE_CLI_PATH),
                                              QStringLiteral("tcp-client"), QStringLiteral("nonexistent.invalid:80")});
        QVERIFY(cli.waitForFinished(kPatienceMs));
        const QByteArray error = cli.readAllStandardError();
        if (cli.exitCode() != 2 && !error.startsWith("velvane-cli"))
            QSKIP("no network namespace here");
        QCOMPARE(cli.exitCode(), 2);
        QCOMPARE(error, QByteArray("velvane-cli: 无法解析主机名 nonexistent.invalid\n"));
    }

    // SIGTERM ends a connected client with 0: its disconnect line, the connection closed and
    // every line in the log.
    void sigtermEndsCleanly()
    {
        TcpPeer peer;
        QVERIFY(peer.Listen(QHostAddress::LocalHost));
        const QString log = m_dir.filePath(QStringLiteral("term.txt"));
        CliProcess cli({QStringLiteral("tcp-client"), peer.Endpoint(), QStringLiteral("--log"), log});
        QVERIFY(peer.Accept());
        peer.client->write("last words");
        QByteArray out;
        QVERIFY(QTest::qWaitFor(
            [&] {
                out += cli.process.readAllStandardOutput();
                return out.contains("last words");
            },
            kPatienceMs));
        cli.process.terminate();
        QCOMPARE(cli.Finish(), 0);
        out += cli.process.readAllStandardOutput();
        QVERIFY(out.endsWith("用户主动与服务器断开\n"));
        QVERIFY(peer.WaitForEnd());
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().endsWith("SERVER->CLIENT  " + peer.Name() + " last words\r\n"));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(CliClientsTest)
#include "test_cli_clients.moc"
