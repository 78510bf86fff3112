#include "pages/udp_server/multicast_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "pages/message_box.h"
#include "traffic/multicast_memberships.h"

namespace {

const QString kEveryInterface = QStringLiteral("全部网卡");

QPushButton *Button(const QString &text, const QString &name)
{
    auto *button = new QPushButton(text);
    button->setObjectName(name);
    return button;
}

}  // namespace

MulticastWindow::MulticastWindow(MulticastMemberships &memberships, QWidget *page)
    : QWidget(page, Qt::Window)
    , m_memberships(memberships)
    , m_state(new QLabel)
    , m_group(new QLineEdit)
    , m_interface(new QComboBox)
    , m_groups(new QListWidget)
    , m_hops(new QSpinBox)
    , m_loopback(new QCheckBox(QStringLiteral("回环")))
{
    setObjectName(QStringLiteral("multicastWindow"));
    setWindowTitle(QStringLiteral("UDP Server 组播"));
    m_state->setObjectName(QStringLiteral("multicastState"));
    m_state->setWordWrap(true);
    m_group->setObjectName(QStringLiteral("group"));
    m_group->setPlaceholderText(QStringLiteral("239.255.255.250 或 ff02::c"));
    m_interface->setObjectName(QStringLiteral("interface"));
    m_interface->addItem(kEveryInterface);
    m_groups->setObjectName(QStringLiteral("groups"));
    m_hops->setObjectName(QStringLiteral("hops"));
    m_hops->setRange(0, 255);
    m_loopback->setObjectName(QStringLiteral("loopback"));
    m_loopback->setToolTip(QStringLiteral("本机也收到自己发往组播组的数据"));

    auto *join = Button(QStringLiteral("加入"), QStringLiteral("join"));
    auto *leave = Button(QStringLiteral("退出"), QStringLiteral("leave"));
    auto *sendToGroup = Button(QStringLiteral("发往该组"), QStringLiteral("sendToGroup"));
    sendToGroup->setToolTip(QStringLiteral("把选中的组播组加入客户端列表，作为发送的目的地"));

    auto *fields = new QFormLayout;
    fields->addRow(QStringLiteral("组播地址:"), m_group);
    fields->addRow(QStringLiteral("网卡:"), m_interface);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(join);
    buttons->addWidget(leave);
    buttons->addWidget(sendToGroup);
    auto *sending = new QFormLayout;
    sending->addRow(QStringLiteral("TTL/跳数:"), m_hops);
    sending->addRow(QString(), m_loopback);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_state);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    layout->addWidget(new QLabel(QStringLiteral("已加入的组播组:")));
    layout->addWidget(m_groups);
    layout->addLayout(sending);

    connect(join, &QPushButton::clicked, this, &MulticastWindow::OnJoin);
    connect(leave, &QPushButton::clicked, this, &MulticastWindow::OnLeave);
    connect(sendToGroup, &QPushButton::clicked, this, &MulticastWindow::OnSendToGroup);
    connect(m_hops, &QSpinBox::valueChanged, &m_memberships, &MulticastMemberships::SetHops);
    connect(m_loopback, &QCheckBox::toggled, &m_memberships, &MulticastMemberships::SetLoopback);
    connect(&m_memberships, &MulticastMemberships::Changed, this, &MulticastWindow::OnMembershipsChanged);
    OnMembershipsChanged();
}

void MulticastWindow::SetHostAddresses(const QStringList &addresses)
{
    const QString chosen = m_interface->currentText();
    m_interface->clear();
    m_interface->addItem(kEveryInterface);
    for (const QString &address : addresses)
        if (address != QLatin1String("0.0.0.0") && address != QLatin1String("::"))
            m_interface->addItem(address);
    m_interface->setCurrentIndex(std::max(0, m_interface->findText(chosen)));
}

void MulticastWindow::Refuse(const QString &text)
{
    AppMessageBox(text, QMessageBox::Ok, QMessageBox::Warning, this);
}

void MulticastWindow::OnJoin()
{
    const QString interfaceAddress = m_interface->currentIndex() > 0 ? m_interface->currentText() : QString();
    switch (m_memberships.Join(m_group->text(), interfaceAddress)) {
    case MulticastMemberships::Refusal::None:
        break;
    case MulticastMemberships::Refusal::NotJoinable:
        Refuse(QStringLiteral("请先在0.0.0.0、::或组播地址上侦听!"));
        break;
    case MulticastMemberships::Refusal::NotGroup:
        Refuse(QStringLiteral("请输入有效的组播地址(224.0.0.0~239.255.255.255或ff00::/8)!"));
        break;
    case MulticastMemberships::Refusal::WrongFamily:
        Refuse(m_group->text().contains(QLatin1Char(':')) ? QStringLiteral("IPv4侦听地址不能加入IPv6组播组!")
                                                          : QStringLiteral("IPv6侦听地址不能加入IPv4组播组!"));
        break;
    case MulticastMemberships::Refusal::AlreadyListed:
        Refuse(QStringLiteral("该组播组已在列表中!"));
        break;
    case MulticastMemberships::Refusal::Failed:
        Refuse(QStringLiteral("加入组播组失败!"));
        break;
    }
}

void MulticastWindow::OnLeave()
{
    const int row = m_groups->currentRow();
    if (row < 0) {
        Refuse(QStringLiteral("请选择要退出的组播组!"));
        return;
    }
    m_memberships.Leave(row);
}

void MulticastWindow::OnSendToGroup()
{
    const int row = m_groups->currentRow();
    if (row < 0) {
        Refuse(QStringLiteral("请选择要发送的组播组!"));
        return;
    }
    emit SendToGroupRequested(m_memberships.Groups().at(row).group);
}

void MulticastWindow::OnMembershipsChanged()
{
    m_state->setText(
        m_memberships.CanJoin()
            ? QStringLiteral("正在所有网卡或组播地址上侦听: 可以加入组播组。")
            : QStringLiteral("只有在0.0.0.0、::或组播地址上侦听时才能加入组播组; 列表中的组在下次侦听时重新加入。"));
    const int row = m_groups->currentRow();
    const QList<MulticastGroup> groups = m_memberships.Groups();
    m_groups->clear();
    for (int i = 0; i < groups.size(); ++i) {
        const QStringList joinedOn = m_memberships.JoinedOn(i);
        m_groups->addItem(groups[i].group + QStringLiteral("  ")
                          + (groups[i].interfaceAddress.isEmpty() ? kEveryInterface : groups[i].interfaceAddress)
                          + QStringLiteral(": ")
                          + (joinedOn.isEmpty() ? QStringLiteral("未加入") : joinedOn.join(QLatin1Char(' '))));
    }
    m_groups->setCurrentRow(std::min(row, static_cast<int>(groups.size()) - 1));
    const QSignalBlocker quietHops(m_hops);
    const QSignalBlocker quietLoopback(m_loopback);
    m_hops->setValue(m_memberships.Hops());
    m_loopback->setChecked(m_memberships.Loopback());
}
