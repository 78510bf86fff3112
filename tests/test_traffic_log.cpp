// Traffic log files: headers for new and existing files, lines, refusals and write failures.
#include <QtTest>

#include "pages/client/client_page.h"
#include "pages/control_ids.h"
#include "pages/dialog_page.h"
#include "pages/log/log_page.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "pages/traffic_area/traffic_area.h"
#include "pages/udp_server/udp_server_page.h"
#include "support/box_answerer.h"
#include "support/test_environment.h"
#include "text/gbk.h"
#include "traffic/clock_text.h"
#include "traffic/traffic_log.h"
#include "widgets/display_list/line_list_box.h"

namespace {

const QByteArray kSeparator = "*---------------------------------------------------*\r\n";
const QByteArray kTcpBanner = "*-----------------------TCP CLIENT---------------------*\r\n";
const QByteArray kUdpBanner = "*----------------------UDP CLIENT----------------------*\r\n";
const QByteArray kEmptyLines = "\r\n\r\n\r\n\r\n\r\n";

// A page's traffic area, which asks the user before it starts the page's log.
struct AreaOnPage
{
    explicit AreaOnPage(const QString &caption, const QString &fileName, int &flag)
        : area(&page, TrafficAreaIds::Of<TcpServerIds::Id>(), {caption, fileName, &flag, "", "", 2})
    {
    }
    CDialogPage page{0};
    TrafficArea area;
};

}  // namespace

class TestTrafficLog : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        ResetProcessGlobals();
        g_strDateTime = "2024-3-5 9:7:3";
    }

    void serverSectionsAndLines();
    void noLeavesFileAndSwitchAlone();
    void clientHeaders_data();
    void clientHeaders();
    void headerThatCannotBeWrittenKeepsRecordingOff();
    void lineThatCannotBeWrittenIsReportedOnce();
};

void TestTrafficLog::serverSectionsAndLines()
{
    ScopedTemporaryCurrentDir dir;
    TrafficLog log("logtcp.txt", g_bTcpTrafficLog);

    log.WriteLine("before recording\r\n");  // off: nothing, not even a file
    QVERIFY(!QFile::exists(dir.FilePath("logtcp.txt")));

    QVERIFY(log.StartLog());
    QCOMPARE(g_bTcpTrafficLog, 1);
    QCOMPARE(log.Path(), dir.FilePath("logtcp.txt"));

    const QByteArray received = TrafficLog::kReceivedTag + "127.0.0.1:5000 68 65 6C 6C 6F \r\n";
    const QByteArray undecodable = TrafficLog::kSentTag + QByteArray("\xFF\x80\x81", 3) + "\r\n";
    log.WriteLine(received);
    log.WriteLine(undecodable);  // bytes reach the file unaltered
    QByteArray expected = "2024-3-5 9:7:3\r\n" + kSeparator + received + undecodable;
    QCOMPARE(ReadFileBytes(log.Path()), expected);

    log.StopLog();
    QCOMPARE(g_bTcpTrafficLog, 0);
    log.WriteLine("after stop\r\n");
    QCOMPARE(ReadFileBytes(log.Path()), expected);

    // A second Yes appends five empty lines and a new header.
    g_strDateTime = "2024-3-5 10:0:0";
    QVERIFY(log.StartLog());
    log.WriteLine(TrafficLog::kSentTag + "0102\r\n");
    expected += kEmptyLines + "2024-3-5 10:0:0\r\n" + kSeparator + "SERVER->CLIENT  0102\r\n";
    QCOMPARE(ReadFileBytes(log.Path()), expected);
}

void TestTrafficLog::noLeavesFileAndSwitchAlone()
{
    ScopedTemporaryCurrentDir dir;
    WriteFileBytes(dir.FilePath("logudp.txt"), "earlier\r\n");
    BoxAnswerer boxes(QMessageBox::No);
    AreaOnPage page("UDP Server提示", "logudp.txt", g_bUdpTrafficLog);
    QVERIFY(!page.area.StartLog());
    QCOMPARE(boxes.Count(), 1);
    QCOMPARE(boxes.Boxes()[0].caption, QString("UDP Server提示"));
    QCOMPARE(boxes.Boxes()[0].text, QString("是否需要系统记录收发数据？"));
    QCOMPARE(boxes.Boxes()[0].icon, QMessageBox::Warning);
    QCOMPARE(boxes.Boxes()[0].buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(g_bUdpTrafficLog, 0);
    QCOMPARE(ReadFileBytes(dir.FilePath("logudp.txt")), QByteArray("earlier\r\n"));

    // A No after an earlier Yes keeps the switch as it was.
    boxes.Queue(QMessageBox::Yes);
    QVERIFY(page.area.StartLog());
    QVERIFY(!page.area.StartLog());
    QCOMPARE(g_bUdpTrafficLog, 1);
}

void TestTrafficLog::clientHeaders_data()
{
    QTest::addColumn<int>("header");
    QTest::addColumn<bool>("existing");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray earlier = "earlier\r\n";
    const QByteArray stamp = "2024-3-5 9:7:3\r\n";
    const int tcp = int(TrafficLog::Header::TcpClient), udp = int(TrafficLog::Header::UdpClient);
    QTest::newRow("tcp new") << tcp << false << stamp + kTcpBanner;
    QTest::newRow("tcp existing") << tcp << true << earlier + kEmptyLines + stamp + kTcpBanner;
    QTest::newRow("udp new") << udp << false << stamp + kUdpBanner;
    QTest::newRow("udp existing, no empty lines") << udp << true << earlier + stamp + kUdpBanner;
}

void TestTrafficLog::clientHeaders()
{
    QFETCH(int, header);
    QFETCH(bool, existing);
    QFETCH(QByteArray, expected);
    ScopedTemporaryCurrentDir dir;
    if (existing)
        WriteFileBytes(dir.FilePath("logclient.txt"), "earlier\r\n");
    TrafficLog log("logclient.txt", g_bClientTrafficLog);
    QVERIFY(log.StartLog(TrafficLog::Header(header)));
    QCOMPARE(ReadFileBytes(dir.FilePath("logclient.txt")), expected);
    QCOMPARE(g_bClientTrafficLog, 1);
}

void TestTrafficLog::headerThatCannotBeWrittenKeepsRecordingOff()
{
    ScopedTemporaryCurrentDir dir;
    QVERIFY(QDir(dir.Path()).mkdir("logtcp.txt"));  // can be neither appended to nor created
    BoxAnswerer boxes(QMessageBox::Yes);
    AreaOnPage page("TCP Server提示", "logtcp.txt", g_bTcpTrafficLog);
    QVERIFY(page.area.StartLog());  // the user said Yes
    QCOMPARE(boxes.Count(), 2);
    QCOMPARE(boxes.Boxes()[1].caption, QString("TCP Server提示"));
    QCOMPARE(boxes.Boxes()[1].text, QString("无法写入logtcp.txt，本次不记录收发数据!"));
    QCOMPARE(g_bTcpTrafficLog, 0);
    TrafficLog log("logtcp.txt", g_bTcpTrafficLog);
    QVERIFY(!log.StartLog());
    QVERIFY(!log.IsOn());
}

void TestTrafficLog::lineThatCannotBeWrittenIsReportedOnce()
{
    ScopedTemporaryCurrentDir dir;
    LineListBox systemLog;
    SetSystemLogList(&systemLog);
    BoxAnswerer boxes(QMessageBox::Yes);
    TrafficLog log("logtcp.txt", g_bTcpTrafficLog);
    QVERIFY(log.StartLog());
    QVERIFY(QFile::remove(log.Path()));

    for (int i = 0; i < 5; ++i)
        log.WriteLine("lost line\r\n");
    QCOMPARE(systemLog.GetCount(), 1);
    QVERIFY(FromGbk(systemLog.GetText(0)).contains("logtcp.txt"));
    QVERIFY(!QFile::exists(log.Path()));  // never re-created without a header
    QCOMPARE(boxes.Count(), 0);           // the receive path opens no boxes
    QCOMPARE(g_bTcpTrafficLog, 1);

    // Once the file is back, lines go in again and a new failure is reported again.
    WriteFileBytes(log.Path(), "");
    log.WriteLine("back\r\n");
    QCOMPARE(ReadFileBytes(log.Path()), QByteArray("back\r\n"));
    QVERIFY(QFile::remove(log.Path()));
    log.WriteLine("lost again\r\n");
    QCOMPARE(systemLog.GetCount(), 2);
    SetSystemLogList(nullptr);
}

QTEST_MAIN(TestTrafficLog)
#include "test_traffic_log.moc"
