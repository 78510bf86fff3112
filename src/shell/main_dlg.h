#pragma once

#include <QDialog>
#include <QHash>
#include <QIcon>

class CClientPage;
class CTrayNotifyIcon;
class QEventLoop;
class CDlg_Html_Quorvale;
class CLogPage;
class CPageTabCtrl;
class CTcpServerPage;
class CUdpServerPage;
class PartStatusBar;
class QAction;
class QMenuBar;
class WindowTimers;

// The only top-level window: banner, menu, the tab control with the five pages and the
// status bar. Closing it ends the program.
class LibraryFile;
class RememberedSettings;

class CMainDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CMainDlg(QWidget *parent = nullptr);
    ~CMainDlg() override;

    // Initialises the window once (pages, timer, status bar, the log question) without
    // showing it; DoModal does it first when needed and then runs the window.
    void Create();
    // Runs the window until OK, Cancel, the close box or "关    闭" ends it; hiding it to the
    // notification area does not.
    int DoModal();
    void done(int result) override;

    QWidget *GetDlgItem(int id) const;
    QAction *Command(int commandId) const { return m_commands.value(commandId); }

    CPageTabCtrl *TabPages() const { return m_tabPages; }
    PartStatusBar *StatusBar() const { return m_pStatusBar; }
    CTcpServerPage *TcpServerPage() const { return m_tcpServerPage; }
    CUdpServerPage *UdpServerPage() const { return m_udpServerPage; }
    CClientPage *ClientPage() const { return m_clientPage; }
    CLogPage *LogPage() const { return m_logPage; }
    CTrayNotifyIcon *TrayIcon() const { return m_trayIcon; }
    RememberedSettings *Settings() const { return m_settings; }

    void OnTimer(int id);
    void OnShowMainWindow();
    void OnHideMainWindow();
    void OnExit();
    void OnAbout();
    void OnHelp();
    void OpenLogFile(const QString &fileName);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void OnInitDialog();
    void CreateMenu();
    void CreateStatusBar();
    void StartSystemLog();
    void OnIpInfo();
    QAction *AddCommand(class QMenu *menu, const QString &caption, int commandId);

    CPageTabCtrl *m_tabPages;
    QIcon m_hIcon;
    CTcpServerPage *m_tcpServerPage;
    CUdpServerPage *m_udpServerPage;
    CLogPage *m_logPage;
    CClientPage *m_clientPage;
    CDlg_Html_Quorvale *m_webPage;
    PartStatusBar *m_pStatusBar = nullptr;

    QMenuBar *m_menuBar;
    QWidget *m_client;
    WindowTimers *m_timers;
    QHash<int, QAction *> m_commands;
    CTrayNotifyIcon *m_trayIcon;
    QEventLoop *m_loop = nullptr;
    bool m_created = false;
    RememberedSettings *m_settings = nullptr;
    LibraryFile *m_libraryFile = nullptr;
};
