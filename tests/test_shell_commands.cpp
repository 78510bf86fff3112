// The notification-area icon, hiding and showing the main window, and the commands of the
// menus: about, help, the log files, the web site and mail, and "退  出".
#include <QRegularExpression>
#include <QtTest>

#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTextBrowser>

#include "pages/control_ids.h"
#include "pages/log/log_page.h"
#include "shell/about_dlg.h"
#include "shell/help_dlg.h"
#include "shell/main_dlg.h"
#include "shell/tray_notify_icon.h"
#include "support/box_answerer.h"
#include "support/test_environment.h"
#include "text/gbk.h"
#include "widgets/display_list/line_list_box.h"

namespace {

// Catches what the program hands to the desktop to open.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    UrlCatcher()
    {
        for (const char *scheme : {"file", "http", "https", "mailto"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "Open");
    }
    ~UrlCatcher() override
    {
        for (const char *scheme : {"file", "http", "https", "mailto"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    QList<QUrl> urls;

public slots:
    void Open(const QUrl &url) { urls.append(url); }
};

// Runs steps one after the other inside the main window's own loop, then closes it if the
// steps have not. The step index lives in the slot itself, so it goes with the window however
// the run ends.
void RunInside(CMainDlg &dlg, std::vector<std::function<void()>> steps)
{
    auto *timer = new QTimer(&dlg);
    QObject::connect(timer, &QTimer::timeout, &dlg,
                     [=, &dlg, steps = std::move(steps), index = std::size_t{0}]() mutable {
                         if (index < steps.size())
                             steps[index++]();
                         else {
                             timer->stop();
                             dlg.done(99);
                         }
                     });
    timer->start(30);
}

QStringList LogLines(const CMainDlg &dlg)
{
    QStringList lines;
    const LineListBox *list = dlg.LogPage()->List();
    for (int row = 0; row < list->GetCount(); ++row)
        lines.append(list->model()->index(row, 0).data().toString());
    return lines;
}

}  // namespace

class TestShellCommands : public QObject
{
    Q_OBJECT

private slots:
    void init() { ResetProcessGlobals(); }
    void trayMenuHidesAndShowsWithoutEndingTheRun();
    void withoutTrayMinimizeMinimizes();
    void trayGoingAwayShowsTheWindow();
    void aboutAndHelp();
    void filesWebAndMailGoToTheDesktop();
    void exitEndsWithStatusZero();
};

void TestShellCommands::trayMenuHidesAndShowsWithoutEndingTheRun()
{
    CTrayNotifyIcon::s_isAvailable = [] { return true; };
    ScopedTemporaryCurrentDir dir;
    BoxAnswerer boxes(QMessageBox::No);
    CMainDlg dlg;
    CTrayNotifyIcon *tray = dlg.TrayIcon();
    const QList<QAction *> items = tray->Menu()->actions();
    QCOMPARE(items.size(), 3);
    QCOMPARE(items[0]->text(), QString("显示主窗口"));
    QCOMPARE(items[1]->text(), QString("隐藏主窗口"));
    QCOMPARE(items[2]->text(), QString("关    闭"));
    QCOMPARE(items[0]->property("commandId").toInt(), 32771);
    QCOMPARE(items[1]->property("commandId").toInt(), 32772);
    QCOMPARE(items[2]->property("commandId").toInt(), 1);
    QCOMPARE(tray->Menu()->defaultAction(), items[0]);
    QVERIFY(items[0]->font().bold());

    bool hiddenByCommand = false, shownByDoubleClick = false, singleClickNothing = false, minimizeHides = false;
    dlg.Create();  // the log question first, then the steps in the window's run
    RunInside(dlg, {
                       [&] { tray->Command(CommandIds::kHideMainWindow)->trigger(); },
                       [&] {
                           hiddenByCommand = !dlg.isVisible();
                           tray->OnTrayNotification(QSystemTrayIcon::Trigger);
                       },
                       [&] {
                           singleClickNothing = !dlg.isVisible();
                           tray->OnTrayNotification(QSystemTrayIcon::DoubleClick);
                       },
                       [&] {
                           shownByDoubleClick = dlg.isVisible() && !dlg.isMinimized();
                           dlg.showMinimized();
                       },
                       [&] {},
                       [&] {
                           minimizeHides = !dlg.isVisible();
                           tray->Command(CommandIds::kShowMainWindow)->trigger();
                       },
                       [&] { tray->Command(CommandIds::kOk)->trigger(); },  // 关闭: the OK path ends the run
                   });
    QCOMPARE(dlg.DoModal(), int(QDialog::Accepted));
    QVERIFY(hiddenByCommand);
    QVERIFY(singleClickNothing);
    QVERIFY(shownByDoubleClick);
    QVERIFY(minimizeHides);
    QVERIFY(tray->IsAdded());
    QVERIFY(!LogLines(dlg).join("").contains("系统托盘不可用"));
}

void TestShellCommands::withoutTrayMinimizeMinimizes()
{
    CTrayNotifyIcon::s_isAvailable = [] { return false; };
    ScopedTemporaryCurrentDir dir;
    BoxAnswerer boxes(QMessageBox::No);
    CMainDlg dlg;
    bool stillThere = false;
    dlg.Create();
    RunInside(dlg, {[&] { dlg.showMinimized(); }, [&] {}, [&] { stillThere = dlg.isVisible() && dlg.isMinimized(); }});
    QCOMPARE(dlg.DoModal(), 99);
    QVERIFY(stillThere);
    QVERIFY(!dlg.TrayIcon()->IsAdded());
    const QStringList lines = LogLines(dlg);
    QCOMPARE(lines.size(), 2);  // right after the start line, with the same kind of time
    QVERIFY(lines[1].endsWith(" Velvane V1.03 启动成功\r\n"));
    // Same kind of time as the start line; the second may have turned between the two lines.
    static const QRegularExpression timeForm("^\\d{4}-\\d{1,2}-\\d{1,2} \\d{1,2}:\\d{1,2}:\\d{1,2} ");
    QVERIFY(timeForm.match(lines[1]).hasMatch());
    QVERIFY(timeForm.match(lines[0]).hasMatch());
    QCOMPARE(lines[0].section(' ', 2), QString("系统托盘不可用，最小化时窗口不隐藏\r\n"));
}

void TestShellCommands::trayGoingAwayShowsTheWindow()
{
    bool available = true;
    CTrayNotifyIcon::s_isAvailable = [&available] { return available; };
    ScopedTemporaryCurrentDir dir;
    BoxAnswerer boxes(QMessageBox::No);
    CMainDlg dlg;
    dlg.Create();
    dlg.OnHideMainWindow();
    dlg.OnTimer(0);
    QVERIFY(!dlg.isVisible());
    available = false;  // the panel went away: nothing could bring the window back
    dlg.OnTimer(0);
    QVERIFY(dlg.isVisible());
    CTrayNotifyIcon::s_isAvailable = [] { return true; };
}

void TestShellCommands::aboutAndHelp()
{
    CTrayNotifyIcon::s_isAvailable = [] { return true; };
    ScopedTemporaryCurrentDir dir;
    BoxAnswerer boxes(QMessageBox::No);
    CMainDlg dlg;
    dlg.Create();
    QStringList aboutTexts;
    QString aboutTitle, helpText;
    QTimer::singleShot(100, &dlg, [&] {
        auto *about = qobject_cast<CAboutDlg *>(QApplication::activeModalWidget());
        QVERIFY(about);
        aboutTitle = about->windowTitle();
        for (QLabel *label : about->findChildren<QLabel *>())
            if (!label->text().isEmpty())
                aboutTexts.append(label->text());
        about->findChild<QPushButton *>()->click();
    });
    dlg.Command(CommandIds::kAbout)->trigger();
    QCOMPARE(aboutTitle, QString("关于Velvane"));
    QCOMPARE(aboutTexts.size(), 3);
    QCOMPARE(aboutTexts[0], QString("关于Velvane V1.03"));
    QVERIFY(aboutTexts[1].contains("2026"));
    QCOMPARE(aboutTexts[2], QString("Quorvale工作室  https://quorvale.example/velvane/"));

    QTimer::singleShot(100, &dlg, [&] {
        auto *help = qobject_cast<CHelpDlg *>(QApplication::activeModalWidget());
        QVERIFY(help);
        QCOMPARE(help->parentWidget(), &dlg);
        helpText = help->Text()->toPlainText();
        help->accept();
    });
    dlg.Command(CommandIds::kHelp)->trigger();
    QVERIFY(helpText.contains("logtcp.txt"));
    QVERIFY(helpText.contains("TCP/UDP Client"));
}

void TestShellCommands::filesWebAndMailGoToTheDesktop()
{
    ScopedTemporaryCurrentDir dir;
    BoxAnswerer boxes(QMessageBox::No);
    CMainDlg dlg;
    dlg.Create();
    UrlCatcher catcher;
    for (const int command : {CommandIds::kSystemLog, CommandIds::kTcpServerLog, CommandIds::kUdpServerLog,
                              CommandIds::kClientLog, CommandIds::kVisitSite, CommandIds::kMailHelp})
        dlg.Command(command)->trigger();
    const QString directory = QDir::currentPath();
    QCOMPARE(
        catcher.urls,
        (QList<QUrl>{QUrl::fromLocalFile(directory + "/log.txt"), QUrl::fromLocalFile(directory + "/logtcp.txt"),
                     QUrl::fromLocalFile(directory + "/logudp.txt"), QUrl::fromLocalFile(directory + "/logclient.txt"),
                     QUrl("https://quorvale.example/velvane/"), QUrl("mailto:support@quorvale.example")}));
    QCOMPARE(catcher.urls.last().toString(), QString("mailto:support@quorvale.example"));
}

void TestShellCommands::exitEndsWithStatusZero()
{
    ScopedTemporaryCurrentDir dir;
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VELVANE_EXIT_CHILD", "1");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForFinished(20000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    // Nothing more was written: log.txt ends with the start line.
    QVERIFY(ReadFileBytes(dir.FilePath("log.txt")).endsWith(ToGbk(u"启动成功\r\n")));
}

// As a child: the main window with log.txt on, then "退  出" from its menu.
int RunExitChild(int argc, char *argv[])
{
    QApplication application(argc, argv);
    BoxAnswerer boxes(QMessageBox::Yes);
    CTrayNotifyIcon::s_isAvailable = [] { return true; };
    CMainDlg dlg;
    // Once the window is up, that is after the log question and the start line, however slow
    // the start (a fixed delay could fire while the question is still open).
    auto *exitWhenShown = new QTimer(&dlg);
    QObject::connect(exitWhenShown, &QTimer::timeout, &dlg, [&dlg] {
        if (dlg.isVisible())
            dlg.Command(CommandIds::kExit)->trigger();
    });
    exitWhenShown->start(20);
    dlg.DoModal();
    return 3;  // never reached
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet("VELVANE_EXIT_CHILD"))
        return RunExitChild(argc, argv);
    QApplication application(argc, argv);
    TestShellCommands test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_shell_commands.moc"
