#include "shell/main_dlg.h"

#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>
#include <QUrl>

#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>

#include "pages/client/client_page.h"
#include "pages/control_ids.h"
#include "pages/dialog_controls.h"
#include "pages/log/log_page.h"
#include "pages/message_box.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "pages/udp_server/udp_server_page.h"
#include "pages/web/maker.h"
#include "pages/web/web_page.h"
#include "pages/window_timers.h"
#include "shell/about_dlg.h"
#include "shell/help_dlg.h"
#include "shell/ip_info_dlg.h"
#include "shell/page_tab_ctrl.h"
#include "shell/remembered_settings.h"
#include "shell/tray_notify_icon.h"
#include "traffic/clock_text.h"
#include "traffic/commands/library_file.h"
#include "traffic/system_log.h"
#include "widgets/part_status_bar.h"

namespace {

constexpr int kMainTimerId = 0;
const QRect kClientArea = DialogUnitsRect(0, 0, 473, 292);
constexpr int kStatusBarHeight = 28;

}  // namespace

CMainDlg::CMainDlg(QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , m_tabPages(nullptr)
    , m_hIcon(QStringLiteral(":/icons/128.png"))
    , m_tcpServerPage(new CTcpServerPage)
    , m_udpServerPage(new CUdpServerPage)
    , m_logPage(new CLogPage)
    , m_clientPage(new CClientPage)
    , m_webPage(new CDlg_Html_Quorvale)
    , m_menuBar(new QMenuBar(this))
    , m_client(new QWidget(this))
    , m_timers(new WindowTimers(this))
    , m_trayIcon(new CTrayNotifyIcon(this))
{
    setWindowTitle(kAppDisplayName);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(m_menuBar);
    layout->addWidget(m_client);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_client->setFixedSize(kClientArea.size());

    auto *banner = new QLabel(m_client);
    banner->setPixmap(QPixmap(QStringLiteral(":/icons/148.png")));
    banner->setScaledContents(true);
    banner->setGeometry(DialogUnitsRect(1, 0, 52, 277));

    m_tabPages = WithControlId(new CPageTabCtrl(m_client), MainDlgIds::kTabs);
    m_tabPages->setGeometry(DialogUnitsRect(55, 0, 418, 275));
    // The tab control creates and places the pages; until then they wait hidden inside it.
    for (QWidget *page :
         std::initializer_list<QWidget *>{m_tcpServerPage, m_udpServerPage, m_logPage, m_clientPage, m_webPage})
        page->setParent(m_tabPages);

    CreateMenu();
    connect(m_tcpServerPage, &CServerPage::IpInfoRequested, this, &CMainDlg::OnIpInfo);
    connect(m_udpServerPage, &CServerPage::IpInfoRequested, this, &CMainDlg::OnIpInfo);
    connect(m_timers, &WindowTimers::Timeout, this, &CMainDlg::OnTimer);
    connect(m_trayIcon, &CTrayNotifyIcon::CommandChosen, this, [this](int command) {
        if (command == CTrayNotifyIcon::kShowCommand)
            OnShowMainWindow();
        else if (command == CTrayNotifyIcon::kHideCommand)
            OnHideMainWindow();
        else if (command == CTrayNotifyIcon::kCloseCommand)
            accept();  // the OK path
    });
}

CMainDlg::~CMainDlg()
{
    // A window destroyed without done() (a test, a nested owner) keeps the last changes too.
    if (m_settings)
        m_settings->Flush();
    if (m_libraryFile)
        m_libraryFile->Flush();
}

void CMainDlg::Create()
{
    if (m_created)
        return;
    m_created = true;
    const bool trayShown = m_trayIcon->Create(QStringLiteral("Velvane程序 - ") + Maker::kName, m_hIcon);
    OnInitDialog();
    // Without a notification area the program still runs; minimizing then only minimizes.
    if (!trayShown)
        SystemLog::Append(DateTimeText(QDateTime::currentDateTime())
                          + QStringLiteral(" 系统托盘不可用，最小化时窗口不隐藏\r\n"));
}

int CMainDlg::DoModal()
{
    Create();
    // A loop of our own: QDialog::exec would end when the window hides to the notification area.
    QApplication::setQuitOnLastWindowClosed(false);
    setResult(0);
    setWindowModality(Qt::ApplicationModal);
    show();
    QEventLoop loop;
    m_loop = &loop;
    loop.exec(QEventLoop::DialogExec);
    m_loop = nullptr;
    return result();
}

void CMainDlg::done(int result)
{
    // What changed in the last moment is not lost with the window.
    if (m_settings)
        m_settings->Flush();
    if (m_libraryFile)
        m_libraryFile->Flush();
    QDialog::done(result);
    if (m_loop)
        m_loop->exit();
}

void CMainDlg::OnShowMainWindow()
{
    // Back from hidden or minimized, in front and active.
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void CMainDlg::OnHideMainWindow()
{
    hide();
}

void CMainDlg::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    // The minimize box hides the window while the notification area can bring it back.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && m_trayIcon->IsAdded()
        && m_trayIcon->IsAvailable())
        QTimer::singleShot(0, this, [this] {
            setWindowState(windowState() & ~Qt::WindowMinimized);
            hide();
        });
}

void CMainDlg::OnExit()
{
    // At once, with status 0: nothing more is written and no window is closed first.
    std::fflush(nullptr);
    std::_Exit(0);
}

void CMainDlg::OnAbout()
{
    CAboutDlg about(this);
    about.exec();
}

void CMainDlg::OnHelp()
{
    CHelpDlg help(this);
    help.exec();
}

void CMainDlg::OpenLogFile(const QString &fileName)
{
    // The whole current directory of this moment, as the logs build their paths.
    QDesktopServices::openUrl(QUrl::fromLocalFile(SystemLog::PathInCurrentDirectory(fileName)));
}

QWidget *CMainDlg::GetDlgItem(int id) const
{
    return FindControl(this, id);
}

void CMainDlg::OnInitDialog()
{
    // The big icon is the application icon; the small one is icon 143 (set with the status bar).
    setWindowIcon(m_hIcon);

    m_tabPages->AddPage(QStringLiteral("TCP Server"), m_tcpServerPage, CTcpServerPage::kTemplateId);
    m_tabPages->AddPage(QStringLiteral("UDP Server"), m_udpServerPage, CUdpServerPage::kTemplateId);
    m_tabPages->AddPage(QStringLiteral("TCP/UDP Client"), m_clientPage, CClientPage::kTemplateId);
    m_tabPages->AddPage(QStringLiteral("Quorvale工作室"), m_webPage, CDlg_Html_Quorvale::kTemplateId);
    m_tabPages->AddPage(QStringLiteral("日志"), m_logPage, CLogPage::kTemplateId);
    m_tabPages->CreatePages();

    // The user's own commands, and while 记住设置 is on the fields as they were left.
    m_libraryFile = new LibraryFile(SharedCommandLibrary(), this);
    m_libraryFile->Load();
    m_settings = new RememberedSettings(m_tabPages,
                                        {{QStringLiteral("tcpServer"), m_tcpServerPage},
                                         {QStringLiteral("udpServer"), m_udpServerPage},
                                         {QStringLiteral("client"), m_clientPage}},
                                        this);
    m_settings->Restore();
    QAction *remember = Command(CommandIds::kRememberSettings);
    remember->setChecked(m_settings->IsOn());
    connect(remember, &QAction::toggled, m_settings, &RememberedSettings::SetOn);

    m_timers->SetTimer(kMainTimerId, 1000);
    CreateStatusBar();
    StartSystemLog();
}

QAction *CMainDlg::AddCommand(QMenu *menu, const QString &caption, int commandId)
{
    QAction *action = menu->addAction(caption);
    SetCommandId(action, commandId);
    m_commands.insert(commandId, action);
    return action;
}

void CMainDlg::CreateMenu()
{
    QMenu *functions = m_menuBar->addMenu(QStringLiteral("功能"));
    using namespace CommandIds;
    connect(AddCommand(functions, QStringLiteral("IP信息"), kIpInfo), &QAction::triggered, this, &CMainDlg::OnIpInfo);
    functions->addSeparator();
    const struct
    {
        const char *caption;
        int command;
        int page;
    } pageCommands[] = {
        {"TCP Server", kTcpServerPage, 0},
        {"UDP Server", kUdpServerPage, 1},
        {"TCP/UDP Client", kClientPage, 2},
        {"工作室介绍", kWebPage, 3},
        {"日志", kLogPage, 4},
    };
    for (const auto &entry : pageCommands) {
        QAction *action = AddCommand(functions, QString::fromUtf8(entry.caption), entry.command);
        connect(action, &QAction::triggered, this, [this, page = entry.page] { m_tabPages->SetActivePage(page); });
    }
    functions->addSeparator();
    AddCommand(functions, QStringLiteral("记住设置"), kRememberSettings)->setCheckable(true);
    functions->addSeparator();
    connect(AddCommand(functions, QStringLiteral("退  出"), kExit), &QAction::triggered, this, &CMainDlg::OnExit);

    QMenu *dataLogs = m_menuBar->addMenu(QStringLiteral("数据日志"));
    const struct
    {
        const char *caption;
        int command;
        const char *file;
    } logCommands[] = {
        {"系统日志", kSystemLog, "log.txt"},
        {"TCP服务器日志", kTcpServerLog, "logtcp.txt"},
        {"UDP服务器日志", kUdpServerLog, "logudp.txt"},
        {"TCP/UDP客户端日志", kClientLog, "logclient.txt"},
    };
    for (const auto &entry : logCommands) {
        QAction *action = AddCommand(dataLogs, QString::fromUtf8(entry.caption), entry.command);
        connect(action, &QAction::triggered, this,
                [this, file = QString::fromLatin1(entry.file)] { OpenLogFile(file); });
    }

    QMenu *help = m_menuBar->addMenu(QStringLiteral("帮助"));
    connect(AddCommand(help, QStringLiteral("帮助"), kHelp), &QAction::triggered, this, &CMainDlg::OnHelp);
    help->addSeparator();
    QMenu *online = help->addMenu(QStringLiteral("在线帮助"));
    connect(AddCommand(online, QStringLiteral("访问网站"), kVisitSite), &QAction::triggered, this,
            [] { QDesktopServices::openUrl(QUrl(Maker::kHomePage)); });
    connect(AddCommand(online, QStringLiteral("邮件帮助"), kMailHelp), &QAction::triggered, this,
            [] { QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + Maker::kSupportMail)); });
    help->addSeparator();
    connect(AddCommand(help, QStringLiteral("关于"), kAbout), &QAction::triggered, this, &CMainDlg::OnAbout);
}

void CMainDlg::CreateStatusBar()
{
    m_pStatusBar = WithControlId(new PartStatusBar(m_client), MainDlgIds::kStatusBar);
    m_pStatusBar->setGeometry(0, kClientArea.height() - kStatusBarHeight, kClientArea.width(), kStatusBarHeight);
    m_pStatusBar->SetParts({300, 520, 620, 720, -1});

    // Icon 143 becomes the window's small icon; the application icon it replaces goes to part 0.
    QIcon icons = m_hIcon;
    icons.addFile(QStringLiteral(":/icons/143.png"), QSize(16, 16));
    setWindowIcon(icons);
    m_pStatusBar->SetIcon(0, m_hIcon);

    m_pStatusBar->SetText(0, QStringLiteral("Velvane V1.03 启动成功"));
    m_pStatusBar->SetText(1, QStringLiteral("系统运行时间"));
    m_pStatusBar->SetText(2, QStringLiteral("日期"));
    m_pStatusBar->SetText(3, QStringLiteral("时间"));
    m_pStatusBar->show();
}

void CMainDlg::StartSystemLog()
{
    const QString startText = DateTimeText(QDateTime::currentDateTime());
    const auto answer = PageMessageBox(this, kAppDisplayName, QStringLiteral("是否需要系统保存日志？"),
                                       QMessageBox::Yes | QMessageBox::No, QMessageBox::Warning);
    if (answer == QMessageBox::Yes && !SystemLog::EnableLogFile(startText))
        AppMessageBox(QStringLiteral("无法写入系统日志文件log.txt，本次运行不保存日志!"));
    SystemLog::Append(startText + QStringLiteral(" Velvane V1.03 启动成功\r\n"));
}

void CMainDlg::OnIpInfo()
{
    CIpInfoDlg dlg(this);
    dlg.exec();
}

void CMainDlg::OnTimer(int)
{
    AdvanceUptime();
    const QDateTime now = QDateTime::currentDateTime();
    if (m_pStatusBar) {
        m_pStatusBar->SetText(1, UptimeText());
        m_pStatusBar->SetText(2, DateText(now));
        m_pStatusBar->SetText(3, TimeText(now));
    }
    g_strDateTime = DateTimeText(now);
    // The notification area went away (a panel restart) while the window hid there.
    if (m_created && !isVisible() && m_trayIcon->IsAdded() && !m_trayIcon->IsAvailable())
        OnShowMainWindow();
}

void CMainDlg::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        reject();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        // Enter inside a page presses that page's default button; anywhere else it is OK.
        for (QWidget *widget = focusWidget(); widget && widget != this; widget = widget->parentWidget()) {
            if (auto *page = qobject_cast<CDialogPage *>(widget)) {
                if (QPushButton *button = page->DefaultButton()) {
                    if (button->isEnabled())
                        button->click();
                    return;
                }
                break;
            }
        }
        accept();
        return;
    }
    default:
        QDialog::keyPressEvent(event);
    }
}
