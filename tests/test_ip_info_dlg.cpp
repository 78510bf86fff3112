// The IP information dialog, its adapter list and the address entry field.
#include <QtTest>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QPushButton>

#include "pages/control_ids.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "pages/udp_server/udp_server_page.h"
#include "platform/adapters.h"
#include "shell/ip_info_dlg.h"
#include "shell/main_dlg.h"
#include "support/box_answerer.h"
#include "support/test_environment.h"
#include "widgets/ipv4_address_edit.h"

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
    void defaultGateway_data();
    void defaultGateway();
    void addressEditRoundTrip();
    void addressEditTyping();
    void realMachineAdapters();
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
    }
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
