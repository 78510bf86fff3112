// velvane-cli driven as a child process against sockets of the test on 127.0.0.1.
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include "cli_process.h"
#include "event_wait.h"

namespace {

QByteArray ReadAtLeast(QTcpSocket &socket, qsizetype size)
{
    QByteArray bytes;
    QElapsedTimer clock;
    clock.start();
    while (bytes.size() < size && clock.elapsed() < kPatienceMs) {
        socket.waitForReadyRead(100);
        bytes += socket.readAll();
    }
    return bytes;
}

}  // namespace

class CliTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    // Echo, the display lines, the traffic log in the pages' format and --expect across two
    // blocks: it ends with 0 as soon as the stream holds the text.
    void tcpServerEchoesLogsAndMeetsExpect()
    {
        const QString log = m_dir.filePath(QStringLiteral("log.txt"));
        CliProcess cli({QStringLiteral("tcp-server"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--echo"),
                        QStringLiteral("--log"), log, QStringLiteral("--expect"), QStringLiteral("lo w")});
        QVERIFY(cli.WaitForFirstLine());
        QVERIFY(cli.firstLine.startsWith("开始监听 127.0.0.1:"));
        QTcpSocket client;
        client.connectToHost(QStringLiteral("127.0.0.1"), cli.PortOfTextLine());
        QVERIFY(client.waitForConnected(kPatienceMs));
        client.write("hel");
        QCOMPARE(ReadAtLeast(client, 3), QByteArray("hel"));
        client.write("lo w");
        QCOMPARE(ReadAtLeast(client, 4), QByteArray("lo w"));
        QCOMPARE(cli.Finish(), 0);

        const QString peer = QStringLiteral("127.0.0.1:%1").arg(client.localPort());
        const QStringList lines = QString::fromUtf8(cli.process.readAllStandardOutput()).split(u'\n');
        QCOMPARE(lines.mid(0, 4),
                 QStringList({peer + QStringLiteral("连接到本机 (ID 1000)"), peer + QStringLiteral(" hel"),
                              peer + QStringLiteral(" lo w"), peer + QStringLiteral("被本机断开 (ID 1000)")}));
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const QByteArray peerBytes = peer.toLatin1();
        QVERIFY(bytes.endsWith("*---------------------------------------------------*\r\nCLIENT->SERVER  " + peerBytes
                               + " hel\r\nSERVER->CLIENT  hel\r\nCLIENT->SERVER  " + peerBytes
                               + " lo w\r\nSERVER->CLIENT  lo w\r\n"));
    }

    // On ::1 the lines write the peer in brackets; a client that resets ends its line as one
    // that closes does, and the server keeps listening.
    void tcpServerOnIpv6()
    {
        CliProcess cli({QStringLiteral("tcp-server"), QStringLiteral("[::1]:0"), QStringLiteral("--echo")});
        QVERIFY(cli.WaitForFirstLine());
        QVERIFY(cli.firstLine.startsWith("开始监听 [::1]:"));
        for (int round = 0; round < 2; ++round) {
            QTcpSocket client;
            client.connectToHost(QHostAddress(QHostAddress::LocalHostIPv6), cli.PortOfTextLine());
            QVERIFY(client.waitForConnected(kPatienceMs));
            client.write("v6");
            QCOMPARE(ReadAtLeast(client, 2), QByteArray("v6"));
            const QString peer = QStringLiteral("[::1]:%1").arg(client.localPort());
            if (round == 0)
                client.abort();
            else
                client.disconnectFromHost();
            QString seen;
            QElapsedTimer clock;
            clock.start();
            while (!seen.contains(peer + QStringLiteral("断开与服务器的连接 (ID %1)").arg(1000 + round))
                   && clock.elapsed() < kPatienceMs) {
                cli.process.waitForReadyRead(100);
                seen += QString::fromUtf8(cli.process.readAllStandardOutput());
            }
            QVERIFY2(seen.contains(peer + QStringLiteral(" v6\n")), qPrintable(seen));
            QVERIFY2(seen.contains(peer + QStringLiteral("断开与服务器的连接")), qPrintable(seen));
        }
        cli.process.terminate();
        QCOMPARE(cli.Finish(), 0);
    }

    // --json: one object per line; a reply with the as-typed text and its line ending.
    void tcpServerJsonEvents()
    {
        CliProcess cli({QStringLiteral("tcp-server"), QStringLiteral("0"), QStringLiteral("--json"),
                        QStringLiteral("--reply"), QStringLiteral("ok 1"), QStringLiteral("--eol"),
                        QStringLiteral("crlf"), QStringLiteral("--expect-hex"), QStringLiteral("01 ff")});
        QVERIFY(cli.WaitForFirstLine());
        const QJsonObject listening = QJsonDocument::fromJson(cli.firstLine).object();
        QCOMPARE(listening.value(QStringLiteral("event")).toString(), QStringLiteral("listening"));
        QTcpSocket client;
        client.connectToHost(QStringLiteral("127.0.0.1"), quint16(listening.value(QStringLiteral("port")).toInt()));
        QVERIFY(client.waitForConnected(kPatienceMs));
        client.write(QByteArray("\x01\xff", 2));
        QCOMPARE(ReadAtLeast(client, 6), QByteArray("ok 1\r\n"));
        QCOMPARE(cli.Finish(), 0);

        QList<QJsonObject> events;
        QVERIFY(CliJsonEvents(cli.process.readAllStandardOutput(), events));
        QStringList kinds;
        QJsonObject received;
        for (const QJsonObject &event : events) {
            kinds << event.value(QStringLiteral("event")).toString();
            if (kinds.last() == QLatin1String("receive"))
                received = event;
        }
        QCOMPARE(kinds, QStringList({QStringLiteral("connect"), QStringLiteral("receive"), QStringLiteral("send"),
                                     QStringLiteral("close")}));
        QCOMPARE(received.value(QStringLiteral("bytes")).toString(), QStringLiteral("01ff"));
    }

    // 1 bad usage (one line on stderr) or a log that cannot be written, 2 a port already taken,
    // 3 --expect not met in --wait.
    void exitCodes()
    {
        const QList<QStringList> badUsage{
            {},
            {QStringLiteral("tcp-serve"), QStringLiteral("1")},
            {QStringLiteral("tcp-server"), QStringLiteral("70000")},
            {QStringLiteral("tcp-server"), QStringLiteral("0"), QStringLiteral("--reply-hex"), QStringLiteral("123")},
            {QStringLiteral("tcp-client"), QStringLiteral("127.0.0.1:1"), QStringLiteral("--echo")}};
        for (const QStringList &args : badUsage) {
            CliProcess cli(args);
            QCOMPARE(cli.Finish(), 1);
            const QByteArray error = cli.process.readAllStandardError();
            QVERIFY2(error.startsWith("velvane-cli: ") && error.count('\n') == 1, error.constData());
        }

        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost));
        // With --json the failure is also an event among the others, for a script that reads only stdout.
        CliProcess bound({QStringLiteral("tcp-server"), QStringLiteral("127.0.0.1:%1").arg(taken.serverPort()),
                          QStringLiteral("--json")});
        QCOMPARE(bound.Finish(), 2);
        QVERIFY(bound.process.readAllStandardError().startsWith("velvane-cli: "));
        const QJsonObject error = QJsonDocument::fromJson(bound.process.readAllStandardOutput()).object();
        QCOMPARE(error.value(QStringLiteral("event")).toString(), QStringLiteral("error"));
        QVERIFY(!error.value(QStringLiteral("message")).toString().isEmpty());

        // A log file that cannot be written is the user's to fix, as a bad option is.
        for (const char *command : {"tcp-server", "udp-server"}) {
            CliProcess unwritable({QLatin1String(command), QStringLiteral("127.0.0.1:0"), QStringLiteral("--log"),
                                   m_dir.filePath(QStringLiteral("missing/log.txt"))});
            QCOMPARE(unwritable.Finish(), 1);
            QVERIFY(unwritable.process.readAllStandardError().startsWith("velvane-cli: "));
        }

        CliProcess unmet({QStringLiteral("tcp-server"), QStringLiteral("0"), QStringLiteral("--expect"),
                          QStringLiteral("x"), QStringLiteral("--wait"), QStringLiteral("200")});
        QCOMPARE(unmet.Finish(), 3);
    }

    // SIGTERM ends the run with 0, the connection closed and every line in the log.
    void sigtermEndsCleanly()
    {
        const QString log = m_dir.filePath(QStringLiteral("term.txt"));
        CliProcess cli({QStringLiteral("tcp-server"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--log"), log});
        QVERIFY(cli.WaitForFirstLine());
        QTcpSocket client;
        client.connectToHost(QStringLiteral("127.0.0.1"), cli.PortOfTextLine());
        QVERIFY(client.waitForConnected(kPatienceMs));
        client.write("last words");
        QVERIFY(client.waitForBytesWritten(kPatienceMs));
        QElapsedTimer clock;
        clock.start();
        while (!cli.process.readAllStandardOutput().contains("last words") && clock.elapsed() < kPatienceMs)
            cli.process.waitForReadyRead(100);
        cli.process.terminate();
        QCOMPARE(cli.Finish(), 0);
        QVERIFY(client.waitForDisconnected(kPatienceMs));
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().endsWith(" last words\r\n"));
    }

    // A log file that goes away during the run is not made again behind the user's back (as on
    // the pages); the failure is said on stderr, once, and the traffic goes on.
    void logLostDuringRun()
    {
        const QString log = m_dir.filePath(QStringLiteral("lost.txt"));
        CliProcess cli({QStringLiteral("tcp-server"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--echo"),
                        QStringLiteral("--log"), log});
        QVERIFY(cli.WaitForFirstLine());
        QVERIFY(QFile::remove(log));
        QTcpSocket client;
        client.connectToHost(QStringLiteral("127.0.0.1"), cli.PortOfTextLine());
        QVERIFY(client.waitForConnected(kPatienceMs));
        client.write("one");
        QCOMPARE(ReadAtLeast(client, 3), QByteArray("one"));
        client.write("two");
        QCOMPARE(ReadAtLeast(client, 3), QByteArray("two"));
        cli.process.terminate();
        QCOMPARE(cli.Finish(), 0);
        const QByteArray error = cli.process.readAllStandardError();
        QCOMPARE(error.count("失败"), 1);
        QVERIFY2(error.contains(log.toUtf8()), error.constData());
        QVERIFY(!QFile::exists(log));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(CliTest)
#include "test_cli.moc"
