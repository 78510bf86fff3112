#include "shell/ip_info_dlg.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include <algorithm>

#include "pages/control_ids.h"
#include "pages/dialog_controls.h"
#include "pages/message_box.h"
#include "shell/ipv6_address_window.h"
#include "widgets/ipv4_address_edit.h"

namespace {

constexpr int kIconPixels = 32;  // a dialog's static icon shows at the system icon size

Ipv4AddressEdit *AddressField(QWidget *parent, int id, const QRect &geometry)
{
    auto *field = WithControlId(new Ipv4AddressEdit(parent), id);
    field->setGeometry(geometry);
    field->SetReadOnly(true);
    return field;
}

void AddLabel(QWidget *parent, const QString &text, int x, int y)
{
    // The labels end where the controls begin, 42 units in.
    auto *label = new QLabel(text, parent);
    label->setGeometry(DialogUnitsRect(x, y, 42 - x - 1, 10));
}

}  // namespace

CIpInfoDlg::CIpInfoDlg(QWidget *parent, AdapterFetch fetch)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint)
    , m_adapters(WithControlId(new QComboBox(this), IpInfoDlgIds::kAdapters))
    , m_ipAddress(AddressField(this, IpInfoDlgIds::kAddress, DialogUnitsRect(42, 26, 66, 12)))
    , m_ipMask(AddressField(this, IpInfoDlgIds::kMask, DialogUnitsRect(42, 42, 66, 12)))
    , m_gateway(AddressField(this, IpInfoDlgIds::kGateway, DialogUnitsRect(42, 58, 66, 12)))
    , m_fetch(fetch ? std::move(fetch) : AdapterFetch(FetchAdapters))
{
    setWindowTitle(QStringLiteral("IP 地址信息"));
    setFixedSize(DialogUnitsRect(0, 0, 205, 78).size());

    // The template's 30 units include the dropped-down list; the closed box is one line high.
    const QRect comboArea = DialogUnitsRect(42, 11, 156, 30);
    m_adapters->setGeometry(comboArea.x(), comboArea.y(), comboArea.width(), DialogUnitsRect(0, 0, 0, 12).height());
    connect(m_adapters, &QComboBox::activated, this, &CIpInfoDlg::OnAdapterChanged);

    AddLabel(this, QStringLiteral("适配器:"), 7, 13);
    AddLabel(this, QStringLiteral("IP地址:"), 7, 28);
    AddLabel(this, QStringLiteral("子网掩码:"), 7, 45);
    AddLabel(this, QStringLiteral("网关:"), 7, 60);

    auto *icon = new QLabel(this);
    icon->setPixmap(QPixmap(QStringLiteral(":/icons/128.png")));
    icon->setScaledContents(true);
    icon->setGeometry(QRect(DialogUnitsRect(149, 32, 0, 0).topLeft(), QSize(kIconPixels, kIconPixels)));

    auto *quit = WithControlId(new QPushButton(QStringLiteral("退  出"), this), IpInfoDlgIds::kOk);
    quit->setGeometry(DialogUnitsRect(134, 57, 50, 14));
    quit->setDefault(true);
    connect(quit, &QPushButton::clicked, this, &QDialog::accept);

    OnInitDialog();
}

QWidget *CIpInfoDlg::GetDlgItem(int id) const
{
    return FindControl(this, id);
}

void CIpInfoDlg::OnInitDialog()
{
    m_pAdapterInfo = m_fetch();
    if (!m_pAdapterInfo || m_pAdapterInfo->isEmpty()) {
        m_pAdapterInfo.reset();
        AppMessageBox(QStringLiteral("获取适配器信息失败!"), QMessageBox::Ok, QMessageBox::Warning, parentWidget());
        return;
    }
    FillAdapterControls();
}

void CIpInfoDlg::FillAdapterControls()
{
    const bool anyIpv6 = std::any_of(m_pAdapterInfo->cbegin(), m_pAdapterInfo->cend(),
                                     [](const AdapterInfo &adapter) { return !adapter.ipv6Addresses.isEmpty(); });
    if (anyIpv6)
        AddIpv6Button();
    ShowAdapter(m_pAdapterInfo->first());
    for (const AdapterInfo &adapter : *m_pAdapterInfo)
        m_adapters->addItem(adapter.description);
    m_adapters->setCurrentIndex(0);
}

void CIpInfoDlg::OnAdapterChanged()
{
    if (!m_pAdapterInfo)
        return;
    const QString description = m_adapters->currentText();
    // The whole list is walked: of two adapters with one description the later one shows.
    for (const AdapterInfo &adapter : *m_pAdapterInfo)
        if (adapter.description == description)
            ShowAdapter(adapter);
}

void CIpInfoDlg::ShowAdapter(const AdapterInfo &adapter)
{
    m_ipAddress->SetAddressText(adapter.ipAddress);
    m_gateway->SetAddressText(adapter.gateway);
    m_ipMask->SetAddressText(adapter.ipMask);
    m_shownAdapter = adapter;
    if (m_ipv6Button)
        m_ipv6Button->setEnabled(!adapter.ipv6Addresses.isEmpty());
    if (m_ipv6Window)
        m_ipv6Window->ShowAdapter(adapter);
}

void CIpInfoDlg::AddIpv6Button()
{
    // In the free space right of the icon: every other control keeps its place.
    m_ipv6Button = new QToolButton(this);
    m_ipv6Button->setText(QStringLiteral("IPv6"));
    m_ipv6Button->setObjectName(QStringLiteral("ipv6Button"));
    m_ipv6Button->setToolTip(QStringLiteral("所选适配器的 IPv6 地址"));
    m_ipv6Button->setGeometry(DialogUnitsRect(171, 32, 28, 14));
    connect(m_ipv6Button, &QPushButton::clicked, this, &CIpInfoDlg::OnShowIpv6);
}

void CIpInfoDlg::OnShowIpv6()
{
    if (!m_ipv6Window)
        m_ipv6Window = new Ipv6AddressWindow(this);
    m_ipv6Window->ShowAdapter(m_shownAdapter);
    m_ipv6Window->show();
    m_ipv6Window->raise();
    m_ipv6Window->activateWindow();
}
