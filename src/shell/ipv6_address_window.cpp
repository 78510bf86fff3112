#include "shell/ipv6_address_window.h"

#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "pages/dialog_controls.h"

Ipv6AddressWindow::Ipv6AddressWindow(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_adapter(new QLabel(this))
    , m_addresses(new QListWidget(this))
{
    setObjectName(QStringLiteral("ipv6AddressWindow"));
    setWindowTitle(QStringLiteral("IPv6 地址"));
    // Wide enough for a full address with a scope and its prefix length.
    setFixedSize(DialogUnitsRect(0, 0, 220, 90).size());
    m_adapter->setObjectName(QStringLiteral("ipv6AdapterLabel"));
    m_addresses->setObjectName(QStringLiteral("ipv6AddressList"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_adapter);
    layout->addWidget(m_addresses);
}

void Ipv6AddressWindow::ShowAdapter(const AdapterInfo &adapter)
{
    m_adapter->setText(QStringLiteral("适配器: ") + adapter.description);
    m_addresses->clear();
    m_addresses->addItems(adapter.ipv6Addresses);
}
