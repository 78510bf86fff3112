#pragma once

#include <QObject>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

#include "pages/control_ids.h"

class QAction;
class QMenu;

// The icon in the desktop's notification area while the main window exists, with its menu
// (129): "显示主窗口" (the default item), "隐藏主窗口" and "关    闭". A double click runs the
// first item's command; a single click does nothing.
class CTrayNotifyIcon : public QObject
{
    Q_OBJECT

public:
    static constexpr int kIconId = 129;
    static constexpr int kShowCommand = CommandIds::kShowMainWindow;
    static constexpr int kHideCommand = CommandIds::kHideMainWindow;
    static constexpr int kCloseCommand = CommandIds::kOk;

    // Whether the desktop has a notification area; a seam for tests, which have none.
    static std::function<bool()> s_isAvailable;

    explicit CTrayNotifyIcon(QObject *parent = nullptr);
    ~CTrayNotifyIcon() override;

    // Shows the icon with its tip and menu; false when the desktop has no notification area.
    bool Create(const QString &tip, const QIcon &icon);
    void RemoveIcon();
    bool IsAdded() const { return m_added; }
    bool IsAvailable() const { return s_isAvailable(); }

    QMenu *Menu() const { return m_menu.get(); }
    QAction *Command(int commandId) const;
    void OnTrayNotification(QSystemTrayIcon::ActivationReason reason);

signals:
    // A command of the menu, or the default one for a double click.
    void CommandChosen(int commandId);

private:
    std::unique_ptr<QMenu> m_menu;
    QSystemTrayIcon *m_icon;
    bool m_added = false;
};
