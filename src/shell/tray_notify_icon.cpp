#include "shell/tray_notify_icon.h"

#include <QMenu>

#include "pages/dialog_controls.h"

std::function<bool()> CTrayNotifyIcon::s_isAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };

CTrayNotifyIcon::CTrayNotifyIcon(QObject *parent)
    : QObject(parent)
    , m_menu(std::make_unique<QMenu>())
    , m_icon(new QSystemTrayIcon(this))
{
    const struct
    {
        const char *caption;
        int command;
    } items[] = {
        {"显示主窗口", kShowCommand},
        {"隐藏主窗口", kHideCommand},
        {"关    闭", kCloseCommand},
    };
    for (const auto &item : items) {
        QAction *action = m_menu->addAction(QString::fromUtf8(item.caption));
        SetCommandId(action, item.command);
        connect(action, &QAction::triggered, this, [this, command = item.command] { emit CommandChosen(command); });
    }
    // The first item is the default one: bold, and what a double click does.
    QAction *first = m_menu->actions().first();
    QFont bold = first->font();
    bold.setBold(true);
    first->setFont(bold);
    m_menu->setDefaultAction(first);
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon, &QSystemTrayIcon::activated, this, &CTrayNotifyIcon::OnTrayNotification);
}

CTrayNotifyIcon::~CTrayNotifyIcon()
{
    RemoveIcon();
}

bool CTrayNotifyIcon::Create(const QString &tip, const QIcon &icon)
{
    if (!s_isAvailable())
        return false;
    m_icon->setIcon(icon);
    m_icon->setToolTip(tip);
    m_icon->show();
    m_added = true;
    return true;
}

void CTrayNotifyIcon::RemoveIcon()
{
    if (!m_added)
        return;
    m_icon->hide();
    m_added = false;
}

QAction *CTrayNotifyIcon::Command(int commandId) const
{
    for (QAction *action : m_menu->actions())
        if (action->property(kCommandIdProperty).toInt() == commandId)
            return action;
    return nullptr;
}

void CTrayNotifyIcon::OnTrayNotification(QSystemTrayIcon::ActivationReason reason)
{
    // The context menu opens by itself on a right click; a single click does nothing.
    if (reason == QSystemTrayIcon::DoubleClick)
        m_menu->defaultAction()->trigger();
}
