// velvane-cli udp-server --join in a network namespace of its own (netns/run_in_netns.sh):
// lo and the veth pair vvane0 - vvane1 carry the groups to the members. Nothing here leaves
// that namespace.
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QTest>
#include <QUdpSocket>

#include <optional>

#include "cli_process.h"
#include "event_wait.h"

namespace {

std::optional<QByteArray> Receive(QUdpSocket &socket)
{
    if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(kPatienceMs))
        return std::nullopt;
    return socket.receiveDatagram().data();
}

}  // namespace

class CliJoinTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qgetenv("VELVANE_NETNS") == "1")
            return;
        if (qgetenv("CI") == "true")
            QFAIL("CI=true: run this program through tests/netns/run_in_netns.sh");
        QSKIP("needs the network namespace that tests/netns/run_in_netns.sh makes");
    }

    // On ::, an IPv4 and an IPv6 group: each is joined on the links and its datagrams taken
    // and echoed to the sender; a group not joined is not heard.
    void joinsBothFamiliesOnADualStackSocket()
    {
        CliProcess cli({QStringLiteral("udp-server"), QStringLiteral("[::]:0"), QStringLiteral("--join"),
                        QStringLiteral("239.1.2.3"), QStringLiteral("--join"), QStringLiteral("FF15::1:2"),
                        QStringLiteral("--echo"), QStringLiteral("--expect"), QStringLiteral("end")});
        QVERIFY(cli.WaitForFirstLine());
        QVERIFY(cli.firstLine.startsWith("开始监听 [::]:"));
        const quint16 port = cli.PortOfTextLine();
        QString seen;
        QElapsedTimer clock;
        clock.start();
        while (seen.count(QStringLiteral("加入组播组")) < 2 && clock.elapsed() < kPatienceMs) {
            cli.process.waitForReadyRead(100);
            seen += QString::fromUtf8(cli.process.readAllStandardOutput());
        }
        // The group as the system writes it, on lo at least.
        QVERIFY2(seen.contains(QStringLiteral("加入组播组 239.1.2.3: lo")), qPrintable(seen));
        QVERIFY2(seen.contains(QStringLiteral("加入组播组 ff15::1:2: lo")), qPrintable(seen));

        // IPv4 out of lo, its copy looped back; IPv6 (which lo does not loop to a group) out of
        // vvane1 with no copy of its own, taken on vvane0. One copy each way.
        const QNetworkInterface lo = QNetworkInterface::interfaceFromName(QStringLiteral("lo"));
        QUdpSocket v4;
        QVERIFY(v4.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        v4.setMulticastInterface(lo);
        v4.writeDatagram("not joined", QHostAddress(QStringLiteral("239.1.2.4")), port);
        v4.writeDatagram("four", QHostAddress(QStringLiteral("239.1.2.3")), port);
        QCOMPARE(Receive(v4), std::optional<QByteArray>("four"));
        QUdpSocket v6;
        QVERIFY(v6.bind(QHostAddress(QStringLiteral("fd00:99::2")), 0));
        v6.setMulticastInterface(QNetworkInterface::interfaceFromName(QStringLiteral("vvane1")));
        v6.setSocketOption(QAbstractSocket::MulticastLoopbackOption, 0);
        v6.writeDatagram("six", QHostAddress(QStringLiteral("ff15::1:2")), port);
        QCOMPARE(Receive(v6), std::optional<QByteArray>("six"));
        v6.writeDatagram("end", QHostAddress(QStringLiteral("ff15::1:2")), port);
        QCOMPARE(cli.Finish(), 0);

        seen += QString::fromUtf8(cli.process.readAllStandardOutput());
        QVERIFY(seen.contains(QStringLiteral("127.0.0.1:%1 four\n").arg(v4.localPort())));
        QVERIFY(seen.contains(QStringLiteral("[fd00:99::2]:%1 six\n").arg(v6.localPort())));
        QVERIFY(!seen.contains(QStringLiteral("not joined")));
    }
};

QTEST_GUILESS_MAIN(CliJoinTest)
#include "test_cli_join.moc"
