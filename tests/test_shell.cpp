// The application shell: start-up, main window and tab pages, system log, status bar and uptime.
#include <QtTest>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QTabBar>
#include <QThread>

#include <sys/resource.h>

#include "app/main_app.h"
#include "pages/control_ids.h"
#include "pages/dialog_page.h"
#include "pages/log/log_page.h"
#include "platform/host_addresses.h"
#include "shell/main_dlg.h"
#include "shell/page_tab_ctrl.h"
#include "shell/tray_notify_icon.h"
#include "support/box_answerer.h"
#include "support/test_environment.h"
#include "text/gbk.h"
#include "traffic/clock_text.h"
#include "traffic/system_log.h"
#include "widgets/display_list/line_list_box.h"
#include "widgets/part_status_bar.h"

namespace {

const QByteArray kBanner = ToGbk(u"*-------------------Velvane日志------------------*\r\n");

QStringList ListLines(const LineListBox *list)
{
    QStringList lines;
    for (int row = 0; row < list->model()->rowCount(); ++row)
        lines.append(list->model()->index(row, 0).data(Qt::DisplayRole).toString());
    return lines;
}

// The start text is the part of the start line before " Velvane V1.03 启动成功".
QString StartTextOf(const CMainDlg &dlg)
{
    const QStringList lines = ListLines(dlg.LogPage()->List());
    return lines.isEmpty() ? QString() : lines.last().section(QLatin1Char(' '), 0, 1);
}

}  // namespace

class TestShell : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        ResetProcessGlobals();
        CTrayNotifyIcon::s_isAvailable = [] { return true; };  // as on a desktop with a tray
    }

    void startUpWritesLogTxtOnlyWhenAccepted();
    void logTxtThatCannotBeWrittenIsReported();
    void laterAppendFailureIsReportedOnce();
    void networkFailureEndsBeforeAnyWindow();
    void uptimeAndClockTexts();
    void statusBarParts();
    void pagesTabsAndActivePage();
    void controlsCarryTheirDialogIds();
    void addPageRefusesSeventeenth();
    void menuHasEveryCommand();
    void enterAndEscCloseTheMainWindow();
    void newestLineFirstAndFromOtherThreads();
    void hostEntryListsLoopbackOnce();
};

void TestShell::startUpWritesLogTxtOnlyWhenAccepted()
{
    ScopedTemporaryCurrentDir dir;
    const QString path = dir.FilePath("log.txt");

    {  // Yes in a directory without log.txt: header without the five empty lines.
        BoxAnswerer boxes(QMessageBox::Yes);
        CMainDlg dlg;
        dlg.Create();
        QCOMPARE(boxes.Count(), 1);
        QCOMPARE(boxes.Boxes()[0].caption, QString("Velvane V1.03"));
        QCOMPARE(boxes.Boxes()[0].text, QString("是否需要系统保存日志？"));
        QCOMPARE(boxes.Boxes()[0].icon, QMessageBox::Warning);
        QCOMPARE(boxes.Boxes()[0].buttons, QMessageBox::Yes | QMessageBox::No);
        QVERIFY(!dlg.isVisible());  // asked before the window is shown
        QCOMPARE(g_bSystemLogFile, 1);
        QCOMPARE(g_strSystemLogPath, path);

        const QString start = StartTextOf(dlg);
        QVERIFY(QRegularExpression("^\\d{4}-\\d{1,2}-\\d{1,2} \\d{1,2}:\\d{1,2}:\\d{1,2}$").match(start).hasMatch());
        const QByteArray expected = ToGbk(start + "\r\n") + kBanner + ToGbk(start + " Velvane V1.03 启动成功\r\n");
        QCOMPARE(ReadFileBytes(path), expected);
        QCOMPARE(ListLines(dlg.LogPage()->List()), QStringList{start + " Velvane V1.03 启动成功\r\n"});
    }

    const QByteArray afterFirstRun = ReadFileBytes(path);
    ResetProcessGlobals();
    {  // Yes again: five empty lines, then the same three lines.
        BoxAnswerer boxes(QMessageBox::Yes);
        CMainDlg dlg;
        dlg.Create();
        const QString start = StartTextOf(dlg);
        const QByteArray expected = afterFirstRun + "\r\n\r\n\r\n\r\n\r\n" + ToGbk(start + "\r\n") + kBanner
                                    + ToGbk(start + " Velvane V1.03 启动成功\r\n");
        QCOMPARE(ReadFileBytes(path), expected);
    }

    const QByteArray afterSecondRun = ReadFileBytes(path);
    ResetProcessGlobals();
    {  // No leaves the existing file alone; the start line still goes to the list.
        BoxAnswerer boxes(QMessageBox::No);
        CMainDlg dlg;
        dlg.Create();
        QCOMPARE(g_bSystemLogFile, 0);
        SystemLog::Append("later line\r\n");
        QCOMPARE(ReadFileBytes(path), afterSecondRun);
        QCOMPARE(dlg.LogPage()->List()->GetCount(), 2);
    }

    ScopedTemporaryCurrentDir empty;
    ResetProcessGlobals();
    {  // No in a directory without log.txt creates nothing.
        BoxAnswerer boxes(QMessageBox::No);
        CMainDlg dlg;
        dlg.Create();
        QVERIFY(!QFile::exists(empty.FilePath("log.txt")));
    }
}

void TestShell::logTxtThatCannotBeWrittenIsReported()
{
    ScopedTemporaryCurrentDir dir;
    QVERIFY(QDir(dir.Path()).mkdir("log.txt"));  // neither opened nor created, even by root

    BoxAnswerer boxes(QMessageBox::Yes);
    CMainDlg dlg;
    dlg.Create();
    QCOMPARE(boxes.Count(), 2);
    QCOMPARE(boxes.Boxes()[1].caption, QString("Velvane V1.03"));
    QVERIFY(boxes.Boxes()[1].text.contains("log.txt"));
    QCOMPARE(g_bSystemLogFile, 0);
    QCOMPARE(dlg.LogPage()->List()->GetCount(), 1);  // the start line still shows
}

void TestShell::laterAppendFailureIsReportedOnce()
{
    ScopedTemporaryCurrentDir dir;
    BoxAnswerer boxes(QMessageBox::Yes);
    CMainDlg dlg;
    dlg.Create();
    QVERIFY(QFile::remove(dir.FilePath("log.txt")));

    for (int i = 0; i < 3; ++i)
        SystemLog::Append(QString("line %1\r\n").arg(i));
    const QStringList lines = ListLines(dlg.LogPage()->List());
    QCOMPARE(lines.filter("line ").size(), 3);                 // every list insert happened
    QCOMPARE(lines.filter("写入系统日志文件失败").size(), 1);  // said once, not per line
    QVERIFY(!QFile::exists(dir.FilePath("log.txt")));          // and never re-created behind the user's back
    QCOMPARE(boxes.Count(), 1);                                // no box from the log path
}

void TestShell::networkFailureEndsBeforeAnyWindow()
{
    BoxAnswerer boxes(QMessageBox::Ok);
    // Start-up also lifts the descriptor limit to the hard one, for servers with many clients.
    rlimit limit{};
    QVERIFY(::getrlimit(RLIMIT_NOFILE, &limit) == 0);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 512);
    QVERIFY(::setrlimit(RLIMIT_NOFILE, &limit) == 0);
    CMainApp app([] { return false; });
    QVERIFY(app.InitInstance() != 0);
    QVERIFY(::getrlimit(RLIMIT_NOFILE, &limit) == 0);
    QCOMPARE(limit.rlim_cur, limit.rlim_max);
    QCOMPARE(boxes.Texts(), QStringList{"网络版本校验不匹配，启动失败!"});
    QCOMPARE(boxes.Boxes()[0].caption, QString("Velvane V1.03"));
    QCOMPARE(boxes.Boxes()[0].icon, QMessageBox::Warning);
    // Qt's standard buttons speak Chinese like the rest of the window.
    QCOMPARE(boxes.Boxes()[0].buttonTexts, QStringList{"确定"});
    QMessageBox::question(nullptr, "Velvane V1.03", "?", QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(boxes.Boxes()[1].buttonTexts.size(), 2);
    QVERIFY(boxes.Boxes()[1].buttonTexts.join(' ').contains("是"));
    QVERIFY(boxes.Boxes()[1].buttonTexts.join(' ').contains("否"));
}

void TestShell::uptimeAndClockTexts()
{
    ScopedTemporaryCurrentDir dir;
    BoxAnswerer boxes(QMessageBox::No);
    CMainDlg dlg;
    dlg.Create();
    PartStatusBar *bar = dlg.StatusBar();

    QVERIFY(g_strDateTime.isEmpty());
    SystemLog::Append(g_strDateTime + " 早于第一次计时\r\n");
    QCOMPARE(ListLines(dlg.LogPage()->List()).first(), QString(" 早于第一次计时\r\n"));

    const struct
    {
        int ticks;
        const char *text;
    } cases[] = {
        {59, "系统运行了:00天00小时00分59秒"},
        {1, "系统运行了:00天00小时01分00秒"},
        {3540, "系统运行了:00天01小时00分00秒"},
        {86400, "系统运行了:01天01小时00分00秒"},
    };
    for (const auto &step : cases) {
        for (int i = 0; i < step.ticks; ++i)
            dlg.OnTimer(0);
        QCOMPARE(bar->Text(1), QString(step.text));
    }
    g_nUpDays = 123;
    g_nUpHours = 23;
    g_nUpMinutes = 59;
    g_nUpSeconds = 59;
    const QDateTime before = QDateTime::currentDateTime().addMSecs(-1000);  // the text has whole seconds
    dlg.OnTimer(0);
    const QDateTime after = QDateTime::currentDateTime();
    QCOMPARE(bar->Text(1), QString("系统运行了:124天00小时00分00秒"));

    const QRegularExpression form(
        "^(\\d{4})-([1-9]|1[0-2])-([1-9]|[12]\\d|3[01]) ([1-9]?\\d):([1-5]?\\d):([1-5]?\\d)$");
    const QRegularExpressionMatch match = form.match(g_strDateTime);
    QVERIFY2(match.hasMatch(), qPrintable(g_strDateTime));
    QCOMPARE(bar->Text(2) + " " + bar->Text(3), g_strDateTime);
    const QDateTime stamped(QDate(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt()),
                            QTime(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt()));
    QVERIFY2(stamped >= before && stamped <= after, qPrintable(g_strDateTime));
}

void TestShell::statusBarParts()
{
    ScopedTemporaryCurrentDir dir;
    BoxAnswerer boxes(QMessageBox::No);
    CMainDlg dlg;
    dlg.Create();
    PartStatusBar *bar = dlg.StatusBar();
    QCOMPARE(bar->RightEdges(), (QList<int>{300, 520, 620, 720, -1}));
    QCOMPARE(bar->Text(0), QString("Velvane V1.03 启动成功"));
    QCOMPARE(bar->Text(1), QString("系统运行时间"));
    QCOMPARE(bar->Text(2), QString("日期"));
    QCOMPARE(bar->Text(3), QString("时间"));
    QCOMPARE(bar->Text(4), QString());
    QVERIFY(bar->HasIcon(0));
    QVERIFY(!bar->HasIcon(1));
    QCOMPARE(bar->height(), 28);
    QCOMPARE(dlg.GetDlgItem(0), static_cast<QWidget *>(bar));
    QCOMPARE(dlg.windowTitle(), QString("Velvane V1.03"));
}

void TestShell::controlsCarryTheirDialogIds()
{
    // The numbers of the dialog tables, written out here rather than taken from the ids
    // header: this is what holds the header to them.
    ScopedTemporaryCurrentDir dir;
    BoxAnswerer boxes(QMessageBox::No);
    CMainDlg dlg;
    dlg.Create();
    const char *tables[] = {
        "1007:QComboBox 1008:QPushButton 1006:QLineEdit 1004:QPushButton 1005:QPushButton 1010:LineListBox "
        "1009:QPushButton 1065:QCheckBox 1039:QLineEdit 1042:QPushButton 1038:QCheckBox 1040:QLineEdit 1041:QCheckBox "
        "1062:QCheckBox 1063:QRadioButton 1064:QRadioButton 1011:QLineEdit 1012:QLineEdit 1013:QPushButton "
        "1022:QCheckBox 1054:QPushButton 1050:CExtentListBox",
        "1027:QComboBox 1026:QPushButton 1023:QLineEdit 1024:QPushButton 1025:QPushButton 1029:LineListBox "
        "1054:QPushButton 1043:QLineEdit 1047:QPushButton 1044:QCheckBox 1045:QLineEdit 1046:QCheckBox 1066:QCheckBox "
        "1067:QRadioButton 1068:QRadioButton 1031:QLineEdit 1032:QLineEdit 1030:QPushButton 1048:QCheckBox "
        "1055:QPushButton 1035:CExtentListBox",
        "1052:Ipv4AddressEdit 1039:QLineEdit 1053:QComboBox 1054:QPushButton 1055:QPushButton 1040:QLineEdit "
        "1043:QPushButton 1057:QCheckBox 1041:QLineEdit 1042:QCheckBox 1058:QLineEdit 1059:QLineEdit 1060:QPushButton "
        "1061:QCheckBox 1056:CExtentListBox",
        "1051:CWebBrowser2",
        "1049:LineListBox",
    };
    for (int page = 0; page < 5; ++page) {
        for (const QString &entry : QString::fromLatin1(tables[page]).split(' ')) {
            const int id = entry.section(':', 0, 0).toInt();
            QWidget *control = dlg.TabPages()->Page(page)->GetDlgItem(id);
            QVERIFY2(control && control->inherits(qPrintable(entry.section(':', 1))),
                     qPrintable(QString("page %1: %2").arg(page).arg(entry)));
        }
    }
}

void TestShell::pagesTabsAndActivePage()
{
    ScopedTemporaryCurrentDir dir;
    BoxAnswerer boxes(QMessageBox::No);
    CMainDlg dlg;
    dlg.Create();
    dlg.show();
    CPageTabCtrl *tabs = dlg.TabPages();
    QCOMPARE(dlg.GetDlgItem(1000), static_cast<QWidget *>(tabs));

    QStringList captions;
    for (int i = 0; i < tabs->TabBar()->count(); ++i)
        captions.append(tabs->TabBar()->tabText(i));
    QCOMPARE(captions, (QStringList{"TCP Server", "UDP Server", "TCP/UDP Client", "Quorvale工作室", "日志"}));
    const unsigned templates[] = {133, 134, 149, 150, 144};
    for (int i = 0; i < 5; ++i)
        QCOMPARE(tabs->Page(i)->TemplateId(), templates[i]);
    // Every traffic page starts as it always did: GBK, no filter, and its rates at 0.
    for (int i = 0; i < 3; ++i) {
        const int firstId = 1101 + 10 * i;
        QCOMPARE(qobject_cast<QComboBox *>(tabs->Page(i)->GetDlgItem(firstId))->currentText(), QString("GBK"));
        QCOMPARE(qobject_cast<QLineEdit *>(tabs->Page(i)->GetDlgItem(firstId + 1))->text(), QString());
        QCOMPARE(qobject_cast<QLabel *>(tabs->Page(i)->GetDlgItem(firstId + 2))->text(), QString("TX 0 B/s"));
        QCOMPARE(qobject_cast<QLabel *>(tabs->Page(i)->GetDlgItem(firstId + 3))->text(), QString("RX 0 B/s"));
    }

    auto onlyVisible = [tabs](int index) {
        for (int i = 0; i < tabs->PageCount(); ++i)
            if (tabs->Page(i)->isVisible() != (i == index))
                return false;
        return tabs->TabBar()->currentIndex() == index && tabs->CurrentPage() == index;
    };
    QVERIFY(onlyVisible(0));

    QCOMPARE(tabs->SetActivePage(2), 0);
    QVERIFY(onlyVisible(2));
    QCOMPARE(tabs->SetActivePage(2), 2);  // the page already shown: nothing changes
    QVERIFY(onlyVisible(2));
    QCOMPARE(tabs->SetActivePage(5), -1);
    QCOMPARE(tabs->SetActivePage(-1), -1);
    QVERIFY(onlyVisible(2));

    // The page follows the tab however it was selected: mouse, keyboard, menu.
    QTest::mouseClick(tabs->TabBar(), Qt::LeftButton, {}, tabs->TabBar()->tabRect(4).center());
    QVERIFY(onlyVisible(4));
    tabs->TabBar()->setFocus();
    QTest::keyClick(tabs->TabBar(), Qt::Key_Left);
    QVERIFY(onlyVisible(3));
    dlg.Command(CommandIds::kUdpServerPage)->trigger();
    QVERIFY(onlyVisible(1));
    dlg.Command(CommandIds::kLogPage)->trigger();
    QVERIFY(onlyVisible(4));

    // Every page fills the area below the tabs.
    const QRect area = tabs->Page(0)->geometry();
    QVERIFY(area.top() >= tabs->TabBar()->geometry().bottom());
    for (int i = 1; i < 5; ++i)
        QCOMPARE(tabs->Page(i)->geometry(), area);
}

void TestShell::addPageRefusesSeventeenth()
{
    CPageTabCtrl tabs;
    QList<CDialogPage *> pages;
    for (int i = 0; i < 16; ++i) {
        pages.append(new CDialogPage(200 + i, &tabs));
        QVERIFY(tabs.AddPage(QString::number(i), pages.last(), 200 + i));
    }
    CDialogPage extra(999);
    QVERIFY(!tabs.AddPage("17", &extra, 999));
    QCOMPARE(tabs.PageCount(), 16);
    tabs.CreatePages();
    QCOMPARE(tabs.TabBar()->count(), 16);
    QCOMPARE(tabs.SetActivePage(15), 0);
    QVERIFY(pages[15]->isVisibleTo(&tabs) && !pages[0]->isVisibleTo(&tabs));
}

void TestShell::menuHasEveryCommand()
{
    CMainDlg dlg;
    const QList<QAction *> top = dlg.findChild<QMenuBar *>()->actions();
    QStringList topCaptions;
    for (QAction *action : top)
        topCaptions.append(action->text());
    QCOMPARE(topCaptions, (QStringList{"功能", "数据日志", "帮助"}));

    // Walks the menus in order; a separator shows as "-", a submenu as "name>".
    std::function<QStringList(QMenu *)> walk = [&walk](QMenu *menu) {
        QStringList items;
        for (QAction *action : menu->actions()) {
            if (action->isSeparator())
                items.append("-");
            else if (action->menu())
                items.append(action->text() + ">" + walk(action->menu()).join(","));
            else
                items.append(action->text() + "=" + action->property("commandId").toString());
        }
        return items;
    };
    QCOMPARE(walk(top[0]->menu()),
             (QStringList{"IP信息=32773", "-", "TCP Server=32774", "UDP Server=32775", "TCP/UDP Client=32784",
                          "工作室介绍=32783", "日志=32782", "-", "记住设置=32789", "-", "退  出=32776"}));
    QCOMPARE(walk(top[1]->menu()),
             (QStringList{"系统日志=32788", "TCP服务器日志=32785", "UDP服务器日志=32786", "TCP/UDP客户端日志=32787"}));
    QCOMPARE(walk(top[2]->menu()),
             (QStringList{"帮助=32777", "-", "在线帮助>访问网站=32779,邮件帮助=32780", "-", "关于=32781"}));
}

void TestShell::enterAndEscCloseTheMainWindow()
{
    ScopedTemporaryCurrentDir dir;
    BoxAnswerer boxes(QMessageBox::No);
    for (const int key : {Qt::Key_Return, Qt::Key_Escape}) {
        CMainDlg dlg;
        dlg.Create();
        QTimer::singleShot(0, &dlg, [&dlg, key] {
            dlg.TabPages()->TabBar()->setFocus();
            QTest::keyClick(dlg.TabPages()->TabBar(), static_cast<Qt::Key>(key));
        });
        QTimer::singleShot(5000, &dlg, [&dlg] { dlg.done(99); });  // bound: never hang
        const int result = dlg.exec();
        QCOMPARE(result, key == Qt::Key_Return ? int(QDialog::Accepted) : int(QDialog::Rejected));
    }
}

void TestShell::newestLineFirstAndFromOtherThreads()
{
    ScopedTemporaryCurrentDir dir;
    BoxAnswerer boxes(QMessageBox::Yes);
    CMainDlg dlg;
    dlg.Create();
    LineListBox *list = dlg.LogPage()->List();
    QCOMPARE(g_pSystemLogList, list);
    QCOMPARE(dlg.GetDlgItem(1049), static_cast<QWidget *>(list));

    SystemLog::Append("first\r\n");
    SystemLog::Append("second\r\n");
    QCOMPARE(ListLines(list).mid(0, 2), (QStringList{"second\r\n", "first\r\n"}));
    // The page's filter field shows the matching lines only, and every line once emptied.
    auto *filter = qobject_cast<QLineEdit *>(dlg.LogPage()->GetDlgItem(CLogPage::kFilterId));
    filter->setText("SECOND");
    QCOMPARE(list->model()->rowCount(), 1);
    filter->clear();
    QCOMPARE(list->model()->rowCount(), list->GetCount());

    constexpr int kLines = 200;
    QThread *worker = QThread::create([] {
        for (int i = 0; i < kLines; ++i)
            SystemLog::Append(QString("worker %1\r\n").arg(i));
    });
    worker->start();
    QVERIFY(worker->wait(kPatienceMs));
    delete worker;
    QTRY_COMPARE_WITH_TIMEOUT(list->GetCount(), 3 + kLines, kPatienceMs);
    const QStringList lines = ListLines(list);
    for (int i = 0; i < kLines; ++i)
        QCOMPARE(lines[i], QString("worker %1\r\n").arg(kLines - 1 - i));
    // The file got the same lines in the same order, each whole.
    const QList<QByteArray> fileLines = ReadFileBytes(dir.FilePath("log.txt")).split('\n');
    QCOMPARE(fileLines.size(), 3 + 2 + kLines + 1);
    QCOMPARE(fileLines[5], QByteArray("worker 0\r"));
    QCOMPARE(fileLines[4 + kLines], QByteArray("worker 199\r"));

    // The list keeps the newest lines only; the file keeps every one.
    QCOMPARE(list->MaxLines(), LineListBox::kKeptLines);
    list->SetMaxLines(50);
    QCOMPARE(list->GetCount(), 50);
    SystemLog::Append("last\r\n");
    QCOMPARE(list->GetCount(), 50);
    QCOMPARE(ListLines(list).first(), QString("last\r\n"));
    QCOMPARE(ListLines(list).last(), QString("worker %1\r\n").arg(kLines - 49));
    QCOMPARE(ReadFileBytes(dir.FilePath("log.txt")).count('\n'), 3 + 2 + kLines + 1);
}

void TestShell::hostEntryListsLoopbackOnce()
{
    const std::optional<QString> name = LocalHostName();
    QVERIFY(name.has_value() && !name->isEmpty());
    HostEntry entry = ResolveHostEntry(*name);
    QVERIFY(entry.addresses.contains("127.0.0.1"));
    QCOMPARE(entry.addresses.removeDuplicates(), 0);
}

QTEST_MAIN(TestShell)
#include "test_shell.moc"
