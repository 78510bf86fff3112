// The IP information dialog, its adapter list, the address entry field and the address texts
// of both families.
#include <QtTest>

#include <QComboBox>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QNetworkInterface>
#include <QPushButton>

#include "pages/control_ids.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "pages/udp_server/udp_server_page.h"
#include "platform/adapters.h"
#include "platform/socket_address.h"
#include "shell/ip_info_dlg.h"
#include "shell/main_dlg.h"
#include "support/box_answerer.h"
#include "support/test_environment.h"
#include "widgets/ipv4_address_edit.h"

#include <net/if.h>

namespace {

const QList<AdapterInfo> kAdapters = {
    {"Realtek PCIe GbE", "192.0.2.10", "255.255.255.0", "192.0.2.1"},
    {"Wi-Fi Direct", "198.51.100.7", "255.255.0.0", ""},
    {"VPN Tunnel", "203.0.113.5", "255.255.255.252", "203.0.113.6"},
    {"Disconnected", "", "", ""},
};

CIpInfoDlg::AdapterFetch Fake(const std::optional<QList<AdapterInfo>> &adapters)
{
    return [adapters] { return adapters; };
}

QStringList ComboItems(const QComboBox *combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items.append(combo->itemText(i));
    return items;
}

// IP address, mask, gateway as the three fields show them.
QStringList Shown(const CIpInfoDlg &dlg)
{
    QStringList texts;
    for (int id : {IpInfoDlgIds::kAddress, IpInfoDlgIds::kMask, IpInfoDlgIds::kGateway})
        texts.append(qobject_cast<Ipv4AddressEdit *>(dlg.GetDlgItem(id))->AddressText());
    return texts;
}

// Picks a combo row the way a user does with the keyboard.
void Pick(QComboBox *combo, int row)
{
    for (int guard = 0; combo->currentIndex() != row && guard < 20; ++guard)
        QTest::keyClick(combo, combo->currentIndex() < row ? Qt::Key_Down : Qt::Key_Up);
}

void TypeIntoFocus(const QString &keys)
{
    for (const QChar key : keys)
        QTest::keyClick(QApplication::focusWidget(), key.toLatin1());
}

const QRegularExpression kPrefixLength("^(.+)/(\\d{1,3})$");
const QRegularExpression kDottedQuad("^((25[0-5]|2[0-4]\\d|1?\\d?\\d)\\.){3}(25[0-5]|2[0-4]\\d|1?\\d?\\d)$");

}  // namespace

class TestIpInfoDlg : public QObject
{
    Q_OBJECT

private slots:
    void listsAdaptersAndShowsTheFirst();
    void pickingAnAdapterShowsItsAddresses_data();
    void pickingAnAdapterShowsItsAddresses();
    void duplicateDescriptionShowsTheLaterAdapter();
    void failedFetchWarnsAndOpensEmpty();
    void ipv6AddressesBesideTheIpv4Fields();
    void defaultGateway_data();
    void defaultGateway();
    void addressEditRoundTrip();
    void addressEditTyping();
    void realMachineAdapters();
    void socketAddressTexts();
    void menuAndServerPagesOpenTheDialog();
};

void TestIpInfoDlg::listsAdaptersAndShowsTheFirst()
{
    BoxAnswerer boxes;
    CIpInfoDlg dlg(nullptr, Fake(kAdapters));
    QCOMPARE(boxes.Count(), 0);
    QCOMPARE(dlg.windowTitle(), QString("IP 地址信息"));
    auto *combo = qobject_cast<QComboBox *>(dlg.GetDlgItem(IpInfoDlgIds::kAdapters));
    QVERIFY(combo && !combo->isEditable());
    QCOMPARE(ComboItems(combo), (QStringList{"Realtek PCIe GbE", "Wi-Fi Direct", "VPN Tunnel", "Disconnected"}));
    QCOMPARE(combo->currentIndex(), 0);
    QCOMPARE(Shown(dlg), (QStringList{"192.0.2.10", "255.255.255.0", "192.0.2.1"}));

    const auto labels = dlg.findChildren<QLabel *>();
    QVERIFY(std::any_of(labels.begin(), labels.end(), [](const QLabel *label) { return !label->pixmap().isNull(); }));

    auto *quit = qobject_cast<QPushButton *>(dlg.GetDlgItem(IpInfoDlgIds::kOk));
    QVERIFY(quit && quit->isDefault());
    QCOMPARE(quit->text(), QString("退  出"));
    for (int id : {IpInfoDlgIds::kAddress, IpInfoDlgIds::kMask, IpInfoDlgIds::kGateway})
        for (const QLineEdit *field : dlg.GetDlgItem(id)->findChildren<QLineEdit *>())
            QVERIFY(field->isReadOnly());
}

void TestIpInfoDlg::pickingAnAdapterShowsItsAddresses_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("without gateway") << 1 << QStringList{"198.51.100.7", "255.255.0.0", ""};
    QTest::newRow("third") << 2 << QStringList{"203.0.113.5", "255.255.255.252", "203.0.113.6"};
    QTest::newRow("no address at all") << 3 << QStringList{"", "", ""};
}

void TestIpInfoDlg::pickingAnAdapterShowsItsAddresses()
{
    QFETCH(int, row);
    QFETCH(QStringList, shown);
    CIpInfoDlg dlg(nullptr, Fake(kAdapters));
    auto *combo = qobject_cast<QComboBox *>(dlg.GetDlgItem(IpInfoDlgIds::kAdapters));
    Pick(combo, 2);  // from an adapter whose fields are all filled
    Pick(combo, row);
    QCOMPARE(combo->currentIndex(), row);
    QCOMPARE(Shown(dlg), shown);
    Pick(combo, 0);
    QCOMPARE(Shown(dlg), (QStringList{"192.0.2.10", "255.255.255.0", "192.0.2.1"}));
}

void TestIpInfoDlg::duplicateDescriptionShowsTheLaterAdapter()
{
    const QList<AdapterInfo> adapters = {
        {"eth", "192.0.2.10", "255.255.255.0", "192.0.2.1"},
        {"other", "198.51.100.7", "255.255.0.0", ""},
        {"eth", "203.0.113.5", "255.255.255.252", ""},
    };
    CIpInfoDlg dlg(nullptr, Fake(adapters));
    QCOMPARE(Shown(dlg), (QStringList{"192.0.2.10", "255.255.255.0", "192.0.2.1"}));  // before any pick
    auto *combo = qobject_cast<QComboBox *>(dlg.GetDlgItem(IpInfoDlgIds::kAdapters));
    Pick(combo, 1);
    Pick(combo, 0);
    QCOMPARE(Shown(dlg), (QStringList{"203.0.113.5", "255.255.255.252", ""}));
}

void TestIpInfoDlg::failedFetchWarnsAndOpensEmpty()
{
    for (const auto &result : {std::optional<QList<AdapterInfo>>(), std::optional(QList<AdapterInfo>())}) {
        BoxAnswerer boxes;
        CIpInfoDlg dlg(nullptr, Fake(result));
        QCOMPARE(boxes.Texts(), QStringList{"获取适配器信息失败!"});
        QCOMPARE(boxes.Boxes()[0].caption, QString("Velvane V1.03"));
        QCOMPARE(boxes.Boxes()[0].icon, QMessageBox::Warning);
        QCOMPARE(boxes.Boxes()[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(qobject_cast<QComboBox *>(dlg.GetDlgItem(IpInfoDlgIds::kAdapters))->count(), 0);
        QCOMPARE(Shown(dlg), (QStringList{"", "", ""}));

        // It still opens, and its button closes it.
        QTimer::singleShot(0, &dlg,
                           [&dlg] { qobject_cast<QPushButton *>(dlg.GetDlgItem(IpInfoDlgIds::kOk))->click(); });
        QTimer::singleShot(5000, &dlg, [&dlg] { dlg.done(99); });  // bound: never hang
        QCOMPARE(dlg.exec(), int(QDialog::Accepted));
        QCOMPARE(boxes.Count(), 1);
    }
}

void TestIpInfoDlg::ipv6AddressesBesideTheIpv4Fields()
{
    // Every child's class, text and place: what the user sees of the dialog.
    auto layoutOf = [](const CIpInfoDlg &dlg) {
        QStringList layout;
        for (const QWidget *child : dlg.findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            const auto *label = qobject_cast<const QLabel *>(child);
            const auto *button = qobject_cast<const QAbstractButton *>(child);
            const QRect g = child->geometry();
            layout.append(QString("%1 %2 %3,%4 %5x%6")
                              .arg(child->metaObject()->className(), label    ? label->text()
                                                                     : button ? button->text()
                                                                              : QString())
                              .arg(g.x())
                              .arg(g.y())
                              .arg(g.width())
                              .arg(g.height()));
        }
        return layout;
    };
    const CIpInfoDlg ipv4Only(nullptr, Fake(kAdapters));
    QVERIFY(!ipv4Only.findChild<QAbstractButton *>("ipv6Button"));
    QCOMPARE(ipv4Only.findChildren<QWidget *>(Qt::FindDirectChildrenOnly).size(), 10);

    QList<AdapterInfo> adapters = kAdapters;
    adapters[0].ipv6Addresses = QStringList{"2001:db8::5/64", "fe80::1%eth-0/64"};
    adapters[2].ipv6Addresses = QStringList{"fd00::2/128"};
    CIpInfoDlg dlg(nullptr, Fake(adapters));
    QCOMPARE(dlg.size(), ipv4Only.size());
    QCOMPARE(Shown(dlg), (QStringList{"192.0.2.10", "255.255.255.0", "192.0.2.1"}));
    auto *ipv6Button = dlg.findChild<QAbstractButton *>("ipv6Button");
    QVERIFY(ipv6Button && ipv6Button->isEnabled());
    QCOMPARE(ipv6Button->text(), QString("IPv6"));
    QStringList withoutButton = layoutOf(dlg);
    withoutButton.removeLast();  // the button comes after every control that was there
    QCOMPARE(withoutButton, layoutOf(ipv4Only));
    for (const QWidget *child : dlg.findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        QVERIFY2(child == ipv6Button || !child->geometry().intersects(ipv6Button->geometry()),
                 child->metaObject()->className());
    QVERIFY(dlg.rect().contains(ipv6Button->geometry()));

    dlg.show();
    ipv6Button->click();
    auto *window = dlg.findChild<QDialog *>("ipv6AddressWindow");
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->windowTitle(), QString("IPv6 地址"));
    auto *list = window->findChild<QListWidget *>("ipv6AddressList");
    auto *caption = window->findChild<QLabel *>("ipv6AdapterLabel");
    auto items = [list] {
        QStringList texts;
        for (int row = 0; row < list->count(); ++row)
            texts.append(list->item(row)->text());
        return texts;
    };
    QCOMPARE(items(), (QStringList{"2001:db8::5/64", "fe80::1%eth-0/64"}));
    QCOMPARE(caption->text(), QString("适配器: Realtek PCIe GbE"));

    // The open window follows the picked adapter; one without IPv6 empties it and the button.
    auto *combo = qobject_cast<QComboBox *>(dlg.GetDlgItem(IpInfoDlgIds::kAdapters));
    Pick(combo, 2);
    QCOMPARE(items(), QStringList{"fd00::2/128"});
    QCOMPARE(caption->text(), QString("适配器: VPN Tunnel"));
    QCOMPARE(Shown(dlg), (QStringList{"203.0.113.5", "255.255.255.252", "203.0.113.6"}));
    Pick(combo, 1);
    QVERIFY(items().isEmpty());
    QVERIFY(!ipv6Button->isEnabled());
}

void TestIpInfoDlg::defaultGateway_data()
{
    const QByteArray table =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"    // the link itself
        "eth0\t00000000\t010200C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"  // default via 192.0.2.1
        "eth0\t00000000\tFE0200C0\t0003\t0\t0\t200\t00000000\t0\t0\t0\n"  // a later default: not shown
        "wlan0\t006433C6\t016433C6\t0003\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"   // only a network route
        "ppp0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"    // default onto the link
        "tun0\t00000000\t067100CB\t0003\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"    // 0.0.0.0/24 is no default
        "eth1\tzz\t010200C0\t0003\t0\t0\t0\t00000000\n"                   // malformed
        "eth1\t00000000\t0A0AA8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QString>("interfaceName");
    QTest::addColumn<QString>("gateway");
    QTest::newRow("first default route") << table << "eth0"
                                         << "192.0.2.1";
    QTest::newRow("network route only") << table << "wlan0"
                                        << "";
    QTest::newRow("default without gateway") << table << "ppp0"
                                             << "";
    QTest::newRow("zero destination, not default") << table << "tun0"
                                                   << "";
    QTest::newRow("after a malformed line") << table << "eth1"
                                            << "192.168.10.10";
    QTest::newRow("name is matched whole") << table << "eth"
                                           << "";
    QTest::newRow("absent interface") << table << "eth9"
                                      << "";
    QTest::newRow("empty table") << QByteArray() << "eth0"
                                 << "";
}

void TestIpInfoDlg::defaultGateway()
{
    QFETCH(QByteArray, table);
    QFETCH(QString, interfaceName);
    QFETCH(QString, gateway);
    QCOMPARE(DefaultGatewayFromRouteTable(table, interfaceName), gateway);
}

void TestIpInfoDlg::addressEditRoundTrip()
{
    Ipv4AddressEdit edit;
    const struct
    {
        const char *in;
        const char *out;
    } cases[] = {
        {"192.168.1.10", "192.168.1.10"},
        {"0.0.0.0", "0.0.0.0"},
        {"255.255.255.255", "255.255.255.255"},
        {"010.001.000.009", "10.1.0.9"},
        {"", ""},
        {"256.1.1.1", ""},
        {"1.2.3", ""},
        {"1.2.3.4.5", ""},
        {"a.b.c.d", ""},
        {"1..2.3", ""},
        {"-1.2.3.4", ""},
    };
    for (const auto &step : cases) {
        edit.SetAddressText("203.0.113.77");  // each malformed text must clear what was there
        edit.SetAddressText(step.in);
        QCOMPARE(edit.AddressText(), QString(step.out));
    }
}

void TestIpInfoDlg::addressEditTyping()
{
    Ipv4AddressEdit edit;
    edit.show();
    edit.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&edit));

    const struct
    {
        const char *keys;
        const char *address;
    } cases[] = {
        {"10.0.0.255", "10.0.0.255"},
        {"192168001001", "192.168.1.1"},  // a third digit moves on
        {"300.1.2.3", "30.1.2.3"},        // above 255 is refused
        {"7..8", "7.8.0.0"},              // a dot in a blank field stays; blank fields read as 0
    };
    for (const auto &step : cases) {
        edit.SetAddressText("");
        edit.setFocus();
        TypeIntoFocus(step.keys);
        QCOMPARE(edit.AddressText(), QString(step.address));
    }
}

void TestIpInfoDlg::realMachineAdapters()
{
    const auto adapters = FetchAdapters();
    if (!adapters)
        return;  // a machine without adapters fails the fetch, which is also correct
    QVERIFY(!adapters->isEmpty());
    for (const AdapterInfo &adapter : *adapters) {
        const QNetworkInterface iface = QNetworkInterface::interfaceFromName(adapter.description);
        QVERIFY2(iface.isValid(), qPrintable(adapter.description));
        QVERIFY(!(iface.flags() & QNetworkInterface::IsLoopBack));
        QCOMPARE(adapter.ipAddress.isEmpty(), adapter.ipMask.isEmpty());
        for (const QString &text : {adapter.ipAddress, adapter.ipMask, adapter.gateway})
            QVERIFY2(text.isEmpty() || kDottedQuad.match(text).hasMatch(), qPrintable(text));
        // Each IPv6 address is one the system takes back, a link-local one with this adapter's scope.
        for (const QString &text : adapter.ipv6Addresses) {
            const auto prefix = kPrefixLength.match(text);
            QVERIFY2(prefix.hasMatch() && prefix.captured(2).toInt() <= 128, qPrintable(text));
            const QHostAddress address(prefix.captured(1));
            QVERIFY2(address.protocol() == QAbstractSocket::IPv6Protocol, qPrintable(text));
            QCOMPARE(address.isLinkLocal(), text.contains('%'));
            if (address.isLinkLocal())
                QCOMPARE(address.scopeId(), iface.name());
        }
    }
}

void TestIpInfoDlg::socketAddressTexts()
{
    const auto loopback = ParseIpv6Literal("::1", 7000);
    QVERIFY(loopback);
    QCOMPARE(PeerText(*loopback), QByteArray("[::1]:7000"));
    QCOMPARE(EndpointOfPeerText("[::1]:7000"), *loopback);

    // An IPv4 peer seen through an IPv6 socket reads as plain IPv4 everywhere.
    const auto mapped = ParseIpv6Literal("[::ffff:127.0.0.1]", 7000);
    QVERIFY(mapped && mapped->IsIpv6());
    QCOMPARE(PeerText(*mapped), QByteArray("127.0.0.1:7000"));
    QCOMPARE(AddressText(*mapped), QString("127.0.0.1"));

    // A link-local address carries its interface, by name or number, and shows its name.
    const uint lo = ::if_nametoindex("lo");
    QVERIFY(lo != 0);
    const auto byName = ParseIpv6Literal("fe80::1%lo", 80);
    QVERIFY(byName);
    QCOMPARE(ParseIpv6Literal(QString("[fe80::1%%1]").arg(lo), 80), byName);
    QCOMPARE(PeerText(*byName), QByteArray("[fe80::1%lo]:80"));
    QCOMPARE(AddressText(*byName), QString("fe80::1%lo"));
    for (const char *refused : {"fe80::1%", "fe80::1%0", "fe80::1%nosuchif9", "[::1", "1.2.3.4", "::1]:80"})
        QVERIFY2(!ParseIpv6Literal(refused, 80), refused);

    // IPv4 keeps the rule of before: inet_addr, the port cut to 16 bits.
    const SocketAddress ipv4 = EndpointOfPeerText("1.2.3.4:70000");
    QCOMPARE(ipv4.Family(), AF_INET);
    QCOMPARE(ipv4.Port(), quint16(4464));
    QCOMPARE(PeerText(ipv4), QByteArray("1.2.3.4:4464"));
    QCOMPARE(EndpointOfPeerText("1.2.3.4").Port(), quint16(0));
    QCOMPARE(EndpointOfHostField("1.2.3.4", -1), SocketAddress(Ipv4Endpoint("1.2.3.4", 65535)));
    QCOMPARE(EndpointOfHostField("1.2.3.4:80", 80), std::nullopt);
    QCOMPARE(EndpointOfHostField("[::1]", 70000), ParseIpv6Literal("::1", 4464));
}

void TestIpInfoDlg::menuAndServerPagesOpenTheDialog()
{
    ScopedTemporaryCurrentDir dir;
    BoxAnswerer boxes(QMessageBox::No);  // the log question; a failed fetch box is closed too
    CMainDlg main;
    main.Create();

    // The menu command and the two server pages' "IP信息" buttons each open the dialog over the
    // main window, modally; it is gone when the command returns.
    auto clickOn = [](CDialogPage *page, int id) {
        return [page, id] { qobject_cast<QPushButton *>(page->GetDlgItem(id))->click(); };
    };
    const std::vector<std::pair<QString, std::function<void()>>> openers = {
        {"menu", [&main] { main.Command(CommandIds::kIpInfo)->trigger(); }},
        {"TCP server page", clickOn(main.TcpServerPage(), TcpServerIds::kIpInfo)},
        {"UDP server page", clickOn(main.UdpServerPage(), UdpServerIds::kIpInfo)},
    };
    for (const auto &[name, open] : openers) {
        QPointer<CIpInfoDlg> opened;
        bool wasModal = false;
        bool ownedByMain = false;
        bool forcedShut = false;
        QDeadlineTimer patience(kPatienceMs);
        QTimer watch;
        watch.setInterval(10);
        connect(&watch, &QTimer::timeout, &main, [&] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *dlg = qobject_cast<CIpInfoDlg *>(widget);
                if (dlg && dlg->isVisible()) {
                    opened = dlg;
                    wasModal = dlg->isModal();
                    ownedByMain = dlg->parentWidget() == &main;
                    qobject_cast<QPushButton *>(dlg->GetDlgItem(IpInfoDlgIds::kOk))->click();
                    return;
                }
            }
            if (patience.hasExpired())
                if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                    forcedShut = true;  // bound: never hang
                    dialog->done(99);
                }
        });
        watch.start();
        open();
        watch.stop();

        QVERIFY2(wasModal, qPrintable(name));
        QVERIFY2(ownedByMain, qPrintable(name));
        QVERIFY2(opened.isNull(), qPrintable(name));
        QVERIFY2(!forcedShut, qPrintable(name));
    }
}

QTEST_MAIN(TestIpInfoDlg)
#include "test_ip_info_dlg.moc"
