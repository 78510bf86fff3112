// What survives a restart (记住设置, the send boxes' history, the command library), what never
// restarts by itself, and a command sent through each kind of page. A restart is the window
// destroyed and built again in the same configuration folder (this program's own).

#include <QtTest>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "pages/client/client_page.h"
#include "pages/control_ids.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "pages/traffic_area/traffic_area.h"
#include "pages/udp_server/udp_server_page.h"
#include "shell/main_dlg.h"
#include "shell/page_tab_ctrl.h"
#include "support/box_answerer.h"
#include "support/event_wait.h"
#include "support/loopback_sockets.h"
#include "support/page_fixture.h"
#include "text/gbk.h"
#include "traffic/commands/command_library.h"
#include "traffic/commands/library_file.h"
#include "traffic/commands/sequence_runner.h"
#include "traffic/settings_store.h"
#include "widgets/ipv4_address_edit.h"

namespace {

// The main window as the program builds it, in the test's temporary current directory.
struct Window
{
    Window()
    {
        ResetProcessGlobals();
        g_pHostEntry = LoopbackHost();
        dlg = std::make_unique<CMainDlg>();
        dlg->Create();
    }
    ~Window()
    {
        dlg.reset();
        g_pHostEntry = nullptr;
    }
    template <typename Control>
    Control *Item(QWidget *page, int id) const
    {
        return qobject_cast<Control *>(static_cast<CDialogPage *>(page)->GetDlgItem(id));
    }
    QAction *Remember() const { return dlg->Command(CommandIds::kRememberSettings); }

    BoxAnswerer boxes{QMessageBox::No};
    std::unique_ptr<CMainDlg> dlg;
};

void PressKey(QLineEdit *edit, Qt::Key key)
{
    QTest::keyClick(edit, key);
}

std::optional<QByteArray> NextDatagram(int socket)
{
    std::optional<QByteArray> datagram;
    WaitUntil([&] {
        char buffer[2048];
        const ssize_t got = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got >= 0)
            datagram = QByteArray(buffer, got);
        return datagram.has_value();
    });
    return datagram;
}

}  // namespace

class TestRemembered : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void fieldsSurviveARestartOnlyWhileOn();
    void activityNeverRestartsByItself();
    void historyWalksUpAndDown();
    void damagedSettingsAreKeptAside();
    void commandsGoThroughEachPage();
    void sequenceLoopsToARealPeer();
};

void TestRemembered::init()
{
    // Each case starts from an empty configuration folder.
    QDir(SettingsStore::Folder()).removeRecursively();
    SharedCommandLibrary().Clear();
}

void TestRemembered::fieldsSurviveARestartOnlyWhileOn()
{
    ScopedTemporaryCurrentDir dir;
    {
        Window w;
        QVERIFY(!w.Remember()->isChecked());  // off at first
        w.Remember()->setChecked(true);
        CClientPage *client = w.dlg->ClientPage();
        w.Item<Ipv4AddressEdit>(client, ClientIds::kHost)->SetAddressText("127.0.0.1");
        w.Item<QLineEdit>(client, ClientIds::kPort)->setText("4321");
        w.Item<QComboBox>(client, ClientIds::kProtocol)->setCurrentText("UDP");
        w.Item<QLineEdit>(client, ClientIds::kSendBox)->setText("hello 你好");
        w.Item<QCheckBox>(client, ClientIds::kHexDisplay)->setChecked(true);
        client->findChild<QCheckBox *>("timestamps")->setChecked(true);
        client->findChild<QLineEdit *>("hostName")->setText("fe80::1%eth0");
        client->findChild<QCheckBox *>("broadcast")->setChecked(true);
        client->findChild<QCheckBox *>("largeData")->setChecked(true);
        w.Item<QLineEdit>(w.dlg->TcpServerPage(), TcpServerIds::kPort)->setText("6811");
        w.dlg->TabPages()->SetActivePage(2);
        // Saved a moment after the change, before any close: a killed process keeps it.
        QVERIFY(WaitUntil([] {
            QFile file(SettingsStore::Folder() + "/settings.json");
            return file.open(QIODevice::ReadOnly) && file.readAll().contains("4321");
        }));
    }
    {
        Window w;
        QVERIFY(w.Remember()->isChecked());
        CClientPage *client = w.dlg->ClientPage();
        QCOMPARE(w.Item<Ipv4AddressEdit>(client, ClientIds::kHost)->AddressText(), QString("127.0.0.1"));
        QCOMPARE(w.Item<QLineEdit>(client, ClientIds::kPort)->text(), QString("4321"));
        QCOMPARE(w.Item<QComboBox>(client, ClientIds::kProtocol)->currentText(), QString("UDP"));
        QCOMPARE(w.Item<QLineEdit>(client, ClientIds::kSendBox)->text(), QString("hello 你好"));
        QVERIFY(w.Item<QCheckBox>(client, ClientIds::kHexDisplay)->isChecked());
        QVERIFY(client->findChild<QCheckBox *>("timestamps")->isChecked());
        QCOMPARE(client->findChild<QLineEdit *>("hostName")->text(), QString("fe80::1%eth0"));
        QVERIFY(client->findChild<QCheckBox *>("broadcast")->isChecked());
        QVERIFY(client->findChild<QCheckBox *>("largeData")->isChecked());
        QCOMPARE(w.Item<QLineEdit>(w.dlg->TcpServerPage(), TcpServerIds::kPort)->text(), QString("6811"));
        QCOMPARE(w.dlg->TabPages()->CurrentPage(), 2);
        w.Remember()->setChecked(false);  // off: remembered itself, nothing else
    }
    Window w;
    QVERIFY(!w.Remember()->isChecked());
    QCOMPARE(w.Item<QLineEdit>(w.dlg->ClientPage(), ClientIds::kSendBox)->text(), QString());
    QCOMPARE(w.Item<QLineEdit>(w.dlg->TcpServerPage(), TcpServerIds::kPort)->text(), QString("6800"));
    QCOMPARE(w.dlg->TabPages()->CurrentPage(), 0);
}

void TestRemembered::activityNeverRestartsByItself()
{
    ScopedTemporaryCurrentDir dir;
    {
        Window w;
        w.Remember()->setChecked(true);
        CUdpServerPage *udp = w.dlg->UdpServerPage();
        const quint16 port = FreePort(true);
        w.Item<QLineEdit>(udp, UdpServerIds::kPort)->setText(QString::number(port));
        w.Item<QLineEdit>(udp, UdpServerIds::kSendBox)->setText("tick");
        w.Item<QLineEdit>(udp, UdpServerIds::kInterval)->setText("700");
        QTest::mouseClick(w.Item<QPushButton>(udp, UdpServerIds::kListen), Qt::LeftButton);
        QVERIFY(udp->IsListening());
        udp->findChild<QCheckBox *>("pause")->setChecked(true);
        w.Item<QCheckBox>(udp, UdpServerIds::kTimedSend)->setChecked(true);
    }
    Window w;
    CUdpServerPage *udp = w.dlg->UdpServerPage();
    QCOMPARE(w.Item<QLineEdit>(udp, UdpServerIds::kInterval)->text(), QString("700"));
    QVERIFY(!udp->IsListening());
    QVERIFY(!udp->IsTimedSending());
    QVERIFY(!w.Item<QCheckBox>(udp, UdpServerIds::kTimedSend)->isChecked());
    QVERIFY(!udp->findChild<QCheckBox *>("pause")->isChecked());
    QVERIFY(!w.Item<QCheckBox>(udp, UdpServerIds::kAutoReply)->isChecked());
}

void TestRemembered::historyWalksUpAndDown()
{
    ScopedTemporaryCurrentDir dir;
    const int peer = UdpSocket(0);
    {
        Window w;
        w.Remember()->setChecked(true);
        CClientPage *client = w.dlg->ClientPage();
        w.Item<Ipv4AddressEdit>(client, ClientIds::kHost)->SetAddressText("127.0.0.1");
        w.Item<QLineEdit>(client, ClientIds::kPort)->setText(QString::number(LocalPort(peer)));
        w.Item<QComboBox>(client, ClientIds::kProtocol)->setCurrentText("UDP");
        QTest::mouseClick(w.Item<QPushButton>(client, ClientIds::kConnect), Qt::LeftButton);
        QVERIFY(client->IsConnected());
        auto *box = w.Item<QLineEdit>(client, ClientIds::kSendBox);
        for (const char *text : {"one", "two", "two", "three"}) {
            box->setText(text);
            QTest::mouseClick(w.Item<QPushButton>(client, ClientIds::kSend), Qt::LeftButton);
            QVERIFY(NextDatagram(peer));
        }
        box->setText("typing");
        PressKey(box, Qt::Key_Up);
        QCOMPARE(box->text(), QString("three"));
        PressKey(box, Qt::Key_Up);
        QCOMPARE(box->text(), QString("two"));  // no duplicate in a row
        PressKey(box, Qt::Key_Up);
        QCOMPARE(box->text(), QString("one"));
        PressKey(box, Qt::Key_Down);
        PressKey(box, Qt::Key_Down);
        PressKey(box, Qt::Key_Down);
        QCOMPARE(box->text(), QString("typing"));
    }
    Window w;  // kept across the restart while 记住设置 is on
    auto *box = w.Item<QLineEdit>(w.dlg->ClientPage(), ClientIds::kSendBox);
    PressKey(box, Qt::Key_Up);
    QCOMPARE(box->text(), QString("three"));
    ::close(peer);
}

void TestRemembered::damagedSettingsAreKeptAside()
{
    ScopedTemporaryCurrentDir dir;
    QDir().mkpath(SettingsStore::Folder());
    for (const char *name : {"/settings.json", "/commands.json"}) {
        QFile file(SettingsStore::Folder() + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{\"remember\": true, \"pages\": [[[[[[");
    }
    Window w;  // starts with defaults, says so, keeps the damaged files
    QVERIFY(!w.Remember()->isChecked());
    QVERIFY(SharedCommandLibrary().Groups().isEmpty());
    const QStringList aside = QDir(SettingsStore::Folder()).entryList({"*.damaged-*"}, QDir::Files);
    QCOMPARE(aside.size(), 2);
    QStringList logged;
    for (int row = 0; row < g_pSystemLogList->GetCount(); ++row)
        logged.append(FromGbk(g_pSystemLogList->GetText(row)));
    QCOMPARE(logged.filter(".damaged-").size(), 2);
}

void TestRemembered::commandsGoThroughEachPage()
{
    // A command's own mode and options for its send; the page's boxes untouched; a refusal
    // reported and timed sending left alone.
    ScopedTemporaryCurrentDir dir;
    Window w;
    Command command;
    command.name = "modbus";
    command.text = "01 03 00 0A 00 02";
    command.hex = true;
    command.options.checksum = Checksum::Crc16Modbus;
    const QByteArray wire = QByteArray::fromHex("0103000A0002E409");

    const int peer = UdpSocket(0);
    CClientPage *client = w.dlg->ClientPage();
    w.Item<Ipv4AddressEdit>(client, ClientIds::kHost)->SetAddressText("127.0.0.1");
    w.Item<QLineEdit>(client, ClientIds::kPort)->setText(QString::number(LocalPort(peer)));
    w.Item<QComboBox>(client, ClientIds::kProtocol)->setCurrentText("UDP");
    QTest::mouseClick(w.Item<QPushButton>(client, ClientIds::kConnect), Qt::LeftButton);
    TrafficArea *clientArea = client->findChild<TrafficArea *>();
    QVERIFY(clientArea->SendCommand(command));
    QCOMPARE(NextDatagram(peer), std::optional<QByteArray>(wire));
    QVERIFY(!w.Item<QCheckBox>(client, ClientIds::kHexSend)->isChecked());
    QCOMPARE(client->TxCount(), wire.size());
    // Ctrl+1 on the page sends the first command of the group its window shows.
    SharedCommandLibrary().AddCommand(SharedCommandLibrary().AddGroup("设备"), command);
    w.dlg->show();
    w.dlg->TabPages()->SetActivePage(2);
    w.dlg->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.dlg.get()));
    w.Item<QLineEdit>(client, ClientIds::kSendBox)->setFocus();
    QTest::keyClick(w.Item<QLineEdit>(client, ClientIds::kSendBox), Qt::Key_1, Qt::ControlModifier);
    QCOMPARE(NextDatagram(peer), std::optional<QByteArray>(wire));

    CUdpServerPage *udp = w.dlg->UdpServerPage();
    const quint16 port = FreePort(true);
    w.Item<QLineEdit>(udp, UdpServerIds::kPort)->setText(QString::number(port));
    QTest::mouseClick(w.Item<QPushButton>(udp, UdpServerIds::kListen), Qt::LeftButton);
    const int udpPeer = UdpSocket(0, port);
    ::send(udpPeer, "hi", 2, 0);
    QVERIFY(WaitUntil([&] { return udp->PeerList()->GetCount() == 1; }));
    TrafficArea *udpArea = udp->findChild<TrafficArea *>();
    QVERIFY(!udpArea->SendCommand(command));  // nobody selected: the page's own refusal
    QCOMPARE(w.boxes.Texts().last(), QString("请选择要发送的目的地!"));
    udp->PeerList()->SetCurSel(0);
    QVERIFY(udpArea->SendCommand(command));
    QCOMPARE(NextDatagram(udpPeer), std::optional<QByteArray>(wire));

    CTcpServerPage *tcp = w.dlg->TcpServerPage();
    const quint16 tcpPort = FreePort();
    w.Item<QLineEdit>(tcp, TcpServerIds::kPort)->setText(QString::number(tcpPort));
    QTest::mouseClick(w.Item<QPushButton>(tcp, TcpServerIds::kListen), Qt::LeftButton);
    const int tcpPeer = ConnectClient(tcpPort, true);
    QVERIFY(WaitUntil([&] { return tcp->ClientList()->GetCount() == 1; }));
    tcp->ClientList()->SetCurSel(0);
    Command text;
    text.text = "AT";
    text.options.ending = LineEnding::CrLf;
    QVERIFY(tcp->findChild<TrafficArea *>()->SendCommand(text));
    char got[16] = {};
    SetTimeouts(tcpPeer, kPatienceMs);
    QVERIFY(WaitUntil([&] { return ::recv(tcpPeer, got, sizeof got, MSG_PEEK | MSG_DONTWAIT) == 5; }));
    QCOMPARE(QByteArray(got, 5), QByteArray("AT\0\r\n", 5));
    ::close(tcpPeer);
    ::close(udpPeer);
    ::close(peer);
}

void TestRemembered::sequenceLoopsToARealPeer()
{
    // Three steps, three loops, through the client page to a UDP peer: nine datagrams in order.
    ScopedTemporaryCurrentDir dir;
    Window w;
    const int peer = UdpSocket(0);
    CClientPage *client = w.dlg->ClientPage();
    w.Item<Ipv4AddressEdit>(client, ClientIds::kHost)->SetAddressText("127.0.0.1");
    w.Item<QLineEdit>(client, ClientIds::kPort)->setText(QString::number(LocalPort(peer)));
    w.Item<QComboBox>(client, ClientIds::kProtocol)->setCurrentText("UDP");
    QTest::mouseClick(w.Item<QPushButton>(client, ClientIds::kConnect), Qt::LeftButton);
    CommandLibrary &library = SharedCommandLibrary();
    const int group = library.AddGroup("steps");
    Sequence sequence;
    sequence.loops = 3;
    for (const char *text : {"a", "b", "c"}) {
        Command command;
        command.name = text;
        command.text = text;
        command.options.asTyped = true;
        sequence.steps.append({library.AddCommand(group, command), 0});
    }
    TrafficArea *area = client->findChild<TrafficArea *>();
    SequenceRunner runner([area](const Command &command) { return area->SendCommand(command); }, [] { return true; });
    std::optional<SequenceRunner::End> end;
    connect(&runner, &SequenceRunner::Ended, this, [&](SequenceRunner::End how) { end = how; });
    QVERIFY(runner.Start(sequence, library));
    QByteArray got;
    for (int i = 0; i < 9; ++i) {
        const std::optional<QByteArray> datagram = NextDatagram(peer);
        QVERIFY(datagram);
        got += *datagram;
    }
    QCOMPARE(got, QByteArray("abcabcabc"));
    QVERIFY(WaitUntil([&] { return end.has_value(); }));
    QCOMPARE(*end, SequenceRunner::End::Done);
    ::close(peer);
}

QTEST_MAIN(TestRemembered)
#include "test_remembered.moc"
