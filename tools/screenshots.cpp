// Takes the pictures of the README and the AppStream data: the main window on each of its
// five tabs and the IP information dialog, rendered offscreen after real traffic on
// 127.0.0.1 through the real pages, so that they can be made again after any change of the UI.
// Usage: screenshots OUTDIR        (the build's "screenshots" target writes docs/screenshots)
//
// It links the tests' support: their box answerer says No to the log questions, and their
// environment sends whatever the web page fetches to a dead loopback proxy, so the pictures
// show the bundled page and nothing leaves the machine.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QNetworkProxy>
#include <QPushButton>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "pages/client/client_page.h"
#include "pages/control_ids.h"
#include "pages/dialog_controls.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "pages/udp_server/udp_server_page.h"
#include "platform/adapters.h"
#include "platform/host_addresses.h"
#include "shell/ip_info_dlg.h"
#include "shell/main_dlg.h"
#include "shell/page_tab_ctrl.h"
#include "support/box_answerer.h"
#include "support/test_environment.h"
#include "text/gbk.h"
#include "traffic/clock_text.h"
#include "traffic/commands/command_library.h"
#include "traffic/commands/library_file.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/display_list/line_list_box.h"
#include "widgets/ipv4_address_edit.h"

namespace {

enum TabIndex { kTcpServerTab, kUdpServerTab, kClientTab, kWebTab, kLogTab };

struct StepFailed
{
    QString what;
};

void Expect(bool done, const QString &what)
{
    if (!done)
        throw StepFailed{what};
}

// The port a user would keep (the page's default) unless something here already uses it.
quint16 DefaultOrFreePort(quint16 preferred, bool datagram)
{
    std::unique_ptr<QAbstractSocket> probe;
    if (datagram)
        probe = std::make_unique<QUdpSocket>();
    else
        probe = std::make_unique<QTcpSocket>();
    probe->setProxy(QNetworkProxy::NoProxy);
    return probe->bind(QHostAddress::LocalHost, preferred) ? preferred : FreePort(datagram);
}

// Drives the main window's pages the way a user does.
class Scene
{
public:
    explicit Scene(CMainDlg &window)
        : m_window(window)
    {
        // The tool's own peers talk to the pages directly, past the dead proxy.
        for (QAbstractSocket *socket : std::initializer_list<QAbstractSocket *>{&m_device, &m_sensor, &m_panel})
            socket->setProxy(QNetworkProxy::NoProxy);
    }

    template <typename Control = QWidget>
    Control *Item(QWidget *page, int id) const
    {
        auto *control = qobject_cast<Control *>(FindControl(page, id));
        Expect(control != nullptr, QStringLiteral("control %1 is found").arg(id));
        return control;
    }
    void Type(QWidget *page, int id, const QString &text) { Item<QLineEdit>(page, id)->setText(text); }
    void Click(QWidget *page, int id) { QTest::mouseClick(Item<QAbstractButton>(page, id), Qt::LeftButton); }

    void ListenTcp()
    {
        CTcpServerPage *page = m_window.TcpServerPage();
        m_tcpPort = DefaultOrFreePort(6800, false);
        Type(page, TcpServerIds::kPort, QString::number(m_tcpPort));
        Click(page, TcpServerIds::kListen);
        Expect(WaitUntil([page] { return page->IsListening(); }), QStringLiteral("the TCP server listens"));
    }

    // The client page is the server's first client, a device of the tool's own its second.
    void ConnectClients()
    {
        CClientPage *client = m_window.ClientPage();
        m_window.TabPages()->SetActivePage(kClientTab);
        Item<Ipv4AddressEdit>(client, ClientIds::kHost)->SetAddressText(QStringLiteral("127.0.0.1"));
        Type(client, ClientIds::kPort, QString::number(m_tcpPort));
        Item<QComboBox>(client, ClientIds::kProtocol)->setCurrentText(QStringLiteral("TCP"));
        Click(client, ClientIds::kConnect);
        Expect(WaitUntil([client] { return client->IsConnected(); }), QStringLiteral("the client page connects"));

        m_device.connectToHost(QHostAddress::LocalHost, m_tcpPort);
        Expect(m_device.waitForConnected(3000), QStringLiteral("the second client connects"));
        LineListBox *clients = m_window.TcpServerPage()->ClientList();
        Expect(WaitUntil([clients] { return clients->GetCount() == 2; }),
               QStringLiteral("the server lists two clients"));
    }

    void ExchangeTcp()
    {
        CTcpServerPage *server = m_window.TcpServerPage();
        CClientPage *client = m_window.ClientPage();
        const auto sendFromDevice = [&](const QString &line) {
            const qint64 before = server->RxCount();
            const QByteArray bytes = ToGbk(line);
            m_device.write(bytes);
            m_device.flush();
            Expect(WaitUntil([&] { return server->RxCount() == before + bytes.size(); }),
                   QStringLiteral("the server receives \"%1\"").arg(line));
        };
        // The server's lines with the time each came.
        auto *timestamps = server->findChild<QCheckBox *>(QStringLiteral("timestamps"));
        Expect(timestamps != nullptr, QStringLiteral("the 时间戳 box is found"));
        timestamps->setChecked(true);
        sendFromDevice(QStringLiteral("温度=23.5℃ 湿度=41%"));

        Type(client, ClientIds::kSendBox, QStringLiteral("你好，Velvane服务器"));
        const qint64 rxBefore = server->RxCount();
        Click(client, ClientIds::kSend);
        Expect(WaitUntil([&] { return server->RxCount() > rxBefore; }),
               QStringLiteral("the server receives the client page"));

        sendFromDevice(QStringLiteral("STATUS:OK;UPTIME=3612s"));
        sendFromDevice(QStringLiteral("温度=23.6℃ 湿度=40%"));

        m_window.TabPages()->SetActivePage(kTcpServerTab);
        if (!Item<QCheckBox>(server, TcpServerIds::kSendAll)->isChecked())
            Click(server, TcpServerIds::kSendAll);
        Type(server, TcpServerIds::kSendBox, QStringLiteral("欢迎连接Velvane"));
        const qint64 clientRx = client->RxCount();
        Click(server, TcpServerIds::kSend);
        Expect(WaitUntil([&] { return client->RxCount() > clientRx; }),
               QStringLiteral("the client page receives the welcome"));
        Expect(WaitUntil([&] { return m_device.bytesAvailable() > 0; }),
               QStringLiteral("the second client receives the welcome"));
        m_device.readAll();
    }

    void ExchangeUdp()
    {
        CUdpServerPage *page = m_window.UdpServerPage();
        m_window.TabPages()->SetActivePage(kUdpServerTab);
        const quint16 port = DefaultOrFreePort(7000, true);
        Type(page, UdpServerIds::kPort, QString::number(port));
        Click(page, UdpServerIds::kListen);

        const auto sendFrom = [&](QUdpSocket &peer, const QString &text) {
            const qint64 before = page->RxCount();
            const QByteArray bytes = ToGbk(text);
            peer.writeDatagram(bytes, QHostAddress::LocalHost, port);
            Expect(WaitUntil([&] { return page->RxCount() == before + bytes.size(); }),
                   QStringLiteral("the UDP server receives \"%1\"").arg(text));
        };
        for (QUdpSocket *peer : {&m_sensor, &m_panel})
            Expect(peer->bind(QHostAddress::LocalHost, 0), QStringLiteral("a UDP peer binds"));
        sendFrom(m_sensor, QStringLiteral("SENSOR-01 PING"));
        sendFrom(m_panel, QStringLiteral("控制面板:请求状态"));
        sendFrom(m_sensor, QStringLiteral("SENSOR-01 T=23.5"));

        // Answer the first peer heard from.
        LineListBox *peers = page->PeerList();
        Expect(WaitUntil([peers] { return peers->GetCount() == 2; }), QStringLiteral("the UDP server lists two peers"));
        const QModelIndex first = peers->model()->index(peers->GetCount() - 1, 0);
        QTest::mouseClick(peers->viewport(), Qt::LeftButton, {}, peers->visualRect(first).center());
        Type(page, UdpServerIds::kSendBox, QStringLiteral("ACK"));
        const qint64 txBefore = page->TxCount();
        Click(page, UdpServerIds::kSend);
        Expect(WaitUntil([&] { return page->TxCount() > txBefore; }), QStringLiteral("the UDP server answers"));
    }

private:
    CMainDlg &m_window;
    quint16 m_tcpPort = 0;
    QTcpSocket m_device;
    QUdpSocket m_sensor;
    QUdpSocket m_panel;
};

// Picks, as a user would, the first adapter that has an address and a gateway (else one with
// an address): virtual adapters without any come first on many machines.
void ShowConfiguredAdapter(CIpInfoDlg &dialog)
{
    const QList<AdapterInfo> adapters = FetchAdapters().value_or(QList<AdapterInfo>());
    auto chosen = std::find_if(adapters.begin(), adapters.end(),
                               [](const AdapterInfo &a) { return !a.ipAddress.isEmpty() && !a.gateway.isEmpty(); });
    if (chosen == adapters.end())
        chosen = std::find_if(adapters.begin(), adapters.end(),
                              [](const AdapterInfo &a) { return !a.ipAddress.isEmpty(); });
    auto *combo = qobject_cast<QComboBox *>(dialog.GetDlgItem(IpInfoDlgIds::kAdapters));
    if (chosen == adapters.end() || !combo)
        return;
    const int row = combo->findText(chosen->description);
    combo->setCurrentIndex(row);
    emit combo->activated(row);
}

bool Save(QWidget *widget, const QDir &dir, const QString &name)
{
    QCoreApplication::processEvents();
    const QString path = dir.filePath(name);
    if (!widget->grab().save(path, "PNG")) {
        std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char *argv[])
{
    // Offscreen on any machine, with or without a display: the same pictures everywhere.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 2) {
        std::fputs("usage: screenshots OUTDIR\n", stderr);
        return 2;
    }
    const QDir outDir(QDir::current().absoluteFilePath(arguments.at(1)));
    if (!QDir().mkpath(outDir.path())) {
        std::fprintf(stderr, "screenshots: cannot create %s\n", qPrintable(outDir.path()));
        return 1;
    }

    // No log files of the run land where the tool is started.
    ScopedTemporaryCurrentDir workDir;
    HostEntry loopback{QStringLiteral("localhost"), {QStringLiteral("127.0.0.1")}, {}};
    g_pHostEntry = &loopback;
    BoxAnswerer boxes(QMessageBox::No);

    CMainDlg window;
    window.Create();
    window.show();
    // The first tick of the main timer sets the time stamp of the pages' log lines.
    WaitUntil([] { return !g_strDateTime.isEmpty(); }, 3000);

    CUdpServerPage *udpPage = window.UdpServerPage();
    // Two groups the UDP server page remembers: not joined while it listens on 127.0.0.1
    // (joining would reach the machine's real interfaces), shown in its 组播… window below.
    QJsonObject udpState = udpPage->SaveState(false);
    udpState.insert(QStringLiteral("multicastGroups"),
                    QJsonArray{QJsonObject{{QStringLiteral("group"), QStringLiteral("239.255.255.250")}},
                               QJsonObject{{QStringLiteral("group"), QStringLiteral("ff02::c")}}});
    udpPage->RestoreState(udpState);

    Scene scene(window);
    try {
        scene.ListenTcp();
        scene.ConnectClients();
        scene.ExchangeTcp();
        scene.ExchangeUdp();
    } catch (const StepFailed &failure) {
        std::fprintf(stderr, "screenshots: %s did not happen\n", qPrintable(failure.what));
        return 1;
    }
    // Only the questions about log files may have been asked; any other box is a refusal.
    for (const BoxAnswerer::Box &box : boxes.Boxes())
        if (box.buttons != (QMessageBox::Yes | QMessageBox::No)) {
            std::fprintf(stderr, "screenshots: unexpected box \"%s\"\n", qPrintable(box.text));
            return 1;
        }

    const std::vector<std::pair<int, QString>> tabs = {
        {kTcpServerTab, QStringLiteral("tcp-server.png")}, {kUdpServerTab, QStringLiteral("udp-server.png")},
        {kClientTab, QStringLiteral("client.png")},        {kWebTab, QStringLiteral("web-page.png")},
        {kLogTab, QStringLiteral("system-log.png")},
    };
    for (const auto &[tab, name] : tabs) {
        window.TabPages()->SetActivePage(tab);
        if (!Save(&window, outDir, name))
            return 1;
    }

    // The TCP server page's 放大 window, as large as a user would make it.
    window.TabPages()->SetActivePage(kTcpServerTab);
    auto *largeView = window.TcpServerPage()->findChild<QPushButton *>(QStringLiteral("largeView"));
    if (!largeView) {
        std::fputs("screenshots: the 放大 button is missing\n", stderr);
        return 1;
    }
    largeView->click();
    QWidget *view = window.TcpServerPage()->findChild<QWidget *>(QStringLiteral("largeViewWindow"));
    if (!view) {
        std::fputs("screenshots: the 放大 window did not open\n", stderr);
        return 1;
    }
    view->resize(820, 560);
    if (!Save(view, outDir, QStringLiteral("large-view.png")))
        return 1;
    view->close();

    // The send options on the TCP server page: the strip shows them and the next send's bytes.
    auto *sendOptions = window.TcpServerPage()->findChild<QPushButton *>(QStringLiteral("sendOptions"));
    if (!sendOptions) {
        std::fputs("screenshots: the 发送选项… button is missing\n", stderr);
        return 1;
    }
    sendOptions->click();
    QWidget *options = window.TcpServerPage()->findChild<QWidget *>(QStringLiteral("sendOptionsWindow"));
    options->findChild<QComboBox *>(QStringLiteral("lineEnding"))->setCurrentIndex(3);
    options->findChild<QComboBox *>(QStringLiteral("checksum"))->setCurrentIndex(5);
    options->close();
    if (!Save(&window, outDir, QStringLiteral("send-options.png")))
        return 1;

    // The client page's 命令… window with a small library.
    CommandLibrary &library = SharedCommandLibrary();
    const int group = library.AddGroup(QStringLiteral("调制解调器"));
    for (const auto &[name, text] :
         {std::pair{"信号强度", "AT+CSQ"}, std::pair{"注册状态", "AT+CREG?"}, std::pair{"模块信息", "ATI"}}) {
        Command command;
        command.name = QString::fromUtf8(name);
        command.text = QString::fromUtf8(text);
        command.options.asTyped = true;
        command.options.ending = LineEnding::CrLf;
        library.AddCommand(group, command);
    }
    auto *commandsButton = window.ClientPage()->findChild<QPushButton *>(QStringLiteral("commands"));
    if (!commandsButton) {
        std::fputs("screenshots: the 命令… button is missing\n", stderr);
        return 1;
    }
    commandsButton->click();
    QWidget *commands = window.ClientPage()->findChild<QWidget *>(QStringLiteral("commandWindow"));
    commands->resize(560, 420);
    if (!Save(commands, outDir, QStringLiteral("commands.png")))
        return 1;
    commands->close();

    window.TabPages()->SetActivePage(kUdpServerTab);
    auto *multicastButton = udpPage->findChild<QPushButton *>(QStringLiteral("multicast"));
    if (!multicastButton) {
        std::fputs("screenshots: the 组播… button is missing\n", stderr);
        return 1;
    }
    multicastButton->click();
    QWidget *multicast = udpPage->findChild<QWidget *>(QStringLiteral("multicastWindow"));
    if (!multicast || !Save(multicast, outDir, QStringLiteral("multicast.png")))
        return 1;
    multicast->close();

    CIpInfoDlg ipInfo(&window);
    ShowConfiguredAdapter(ipInfo);
    ipInfo.show();
    if (!Save(&ipInfo, outDir, QStringLiteral("ip-info.png")))
        return 1;
    return 0;
}
