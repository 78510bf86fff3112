// The traffic pages' view options and captures: 时间戳, 暂停, and what every page adds in its
// free column. The shared pieces are checked once where they live; a page for its own steps.

#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>

#include <csignal>

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "pages/client/client_page.h"
#include "pages/control_ids.h"
#include "pages/file_dialogs.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "pages/udp_server/udp_server_page.h"
#include "support/event_wait.h"
#include "support/loopback_sockets.h"
#include "support/page_fixture.h"
#include "text/gbk.h"
#include "traffic/block_stamps.h"
#include "widgets/display_list/display_feed.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/display_list/line_list_model.h"
#include "widgets/ipv4_address_edit.h"

namespace {

// A TCP server page listening on a free loopback port, and one blocking client of it.
class TcpFixture : public PageFixtureBase<CTcpServerPage>
{
public:
    explicit TcpFixture(QMessageBox::StandardButton logAnswer = QMessageBox::No)
        : PageFixtureBase(LoopbackHost())
    {
        port = FreePort();
        Item<QLineEdit>(TcpServerIds::kPort)->setText(QString::number(port));
        boxes.Queue(logAnswer);
        Click(TcpServerIds::kListen);
    }
    ~TcpFixture()
    {
        if (client >= 0)
            ::close(client);
    }

    bool ConnectClient()
    {
        client = ::ConnectClient(port, true);
        SetTimeouts(client, kPatienceMs);
        return client >= 0 && WaitUntil([&] { return page->ClientList()->GetCount() == 1; });
    }
    // Sends bytes and waits until the page counted them.
    bool Deliver(QByteArrayView bytes)
    {
        const qint64 rx = page->RxCount() + bytes.size();
        return SendAll(client, bytes.data(), size_t(bytes.size())) && WaitUntil([&] { return page->RxCount() >= rx; })
               && page->RxCount() == rx;
    }
    QByteArray ReadReply(int count)
    {
        QByteArray bytes(count, '\0');
        qsizetype got = 0;
        while (got < count) {
            WaitUntil([&] { return DataWaiting(); });
            const ssize_t n = ::recv(client, bytes.data() + got, size_t(count - got), MSG_DONTWAIT);
            if (n <= 0)
                break;
            got += n;
        }
        return bytes.left(got);
    }
    bool DataWaiting() const
    {
        char byte;
        return ::recv(client, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
    }
    template <typename Control>
    Control *Named(const char *name) const
    {
        auto *control = page->findChild<Control *>(QString::fromLatin1(name));
        if (!control)
            qFatal("control %s missing", name);
        return control;
    }
    QByteArray DataLine(int row) const { return page->DataList()->GetText(row); }
    QByteArrayList LogFileLines() const
    {
        QFile file(QStringLiteral("logtcp.txt"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QByteArrayList lines = file.readAll().split('\n');
        lines.removeAll(QByteArray());
        return lines;
    }

    quint16 port = 0;
    int client = -1;
};

const QRegularExpression kTimeOfDay(QStringLiteral("^(\\d\\d):(\\d\\d):(\\d\\d)\\.(\\d\\d\\d) "));
const QRegularExpression kDateAndTime(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));

// Milliseconds since midnight of a display line's stamp; -1 when it has none.
int StampMs(const QByteArray &line)
{
    const QRegularExpressionMatch m = kTimeOfDay.match(QString::fromLatin1(line));
    if (!m.hasMatch())
        return -1;
    return ((m.captured(1).toInt() * 60 + m.captured(2).toInt()) * 60 + m.captured(3).toInt()) * 1000
           + m.captured(4).toInt();
}

int NowMsOfDay()
{
    return QTime::currentTime().msecsSinceStartOfDay();
}

// The capture dialog answered with path, as a user picks it, for as long as it lives.
class CaptureFileAnswer
{
public:
    explicit CaptureFileAnswer(const QString &path)
    {
        FileDialogs::g_answerSaveFile = [path](const FileDialogs::SaveRequest &request) {
            return FileDialogs::Answer{path, request.filters.value(path.endsWith(".bin") ? 1 : 0)};
        };
    }
    ~CaptureFileAnswer() { FileDialogs::g_answerSaveFile = nullptr; }
};

struct Tshark
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Tshark RunTshark(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("tshark"), arguments);
    Tshark result;
    if (!process.waitForFinished(120000))
        return result;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// The bytes of one TCP stream of a capture, per direction: from the side that sent first,
// and from the other.
std::pair<QByteArray, QByteArray> FollowTcp(const QString &file, int stream)
{
    const Tshark run = RunTshark({"-r", file, "-q", "-z", QStringLiteral("follow,tcp,raw,%1").arg(stream)});
    std::pair<QByteArray, QByteArray> bytes;
    bool inData = false;
    for (const QByteArray &line : run.out.split('\n')) {
        if (line.startsWith("Node 1:")) {
            inData = true;
            continue;
        }
        if (!inData || line.startsWith("====") || line.trimmed().isEmpty())
            continue;
        (line.startsWith('\t') ? bytes.second : bytes.first) += QByteArray::fromHex(line.trimmed());
    }
    return bytes;
}

// A capture tshark reads to its end: status 0, no word of a cut.
bool ReadsWhole(const QString &file)
{
    const Tshark run = RunTshark({"-r", file});
    if (run.exitCode != 0 || run.err.contains("cut short"))
        qWarning("tshark: %d %s", run.exitCode, run.err.constData());
    return run.exitCode == 0 && !run.err.contains("cut short");
}

QByteArray FileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

#define REQUIRE_TSHARK()                                                                                               \
    if (QStandardPaths::findExecutable(QStringLiteral("tshark")).isEmpty())                                            \
    QSKIP("tshark is not installed")

}  // namespace

class TestViewAndCapture : public QObject
{
    Q_OBJECT

private slots:
    void stampsTextsAtSecondEdges();
    void feedHoldsBoundedLinesAndReleasesThemInOrder();
    void timestampsOnDisplayAndLog();
    void pauseHoldsOnlyTheList();
    void newControlsStartOffInTheFreeColumn();
    void tcpServerCaptureHoldsEveryConnection();
    void udpServerCapturesAndBinOfOnePeer();
    void clientBinEndsWithItsServer();
    void captureThatCannotBeWritten();
};

void TestViewAndCapture::stampsTextsAtSecondEdges()
{
    BlockStamps stamps;
    const qint64 noon = QDateTime(QDate(2026, 3, 4), QTime(12, 0, 59)).toMSecsSinceEpoch();
    QCOMPARE(stamps.TimeOfDay(noon + 7), QByteArray("12:00:59.007 "));
    QCOMPARE(stamps.TimeOfDay(noon + 999), QByteArray("12:00:59.999 "));
    QCOMPARE(stamps.DateAndTime(noon + 1000), QByteArray("2026-03-04 12:01:00.000 "));
    // Back in time (the clock was set back) and across midnight: each second is its own.
    QCOMPARE(stamps.DateAndTime(noon - 1), QByteArray("2026-03-04 12:00:58.999 "));
    const qint64 midnight = QDateTime(QDate(2026, 3, 5), QTime(0, 0)).toMSecsSinceEpoch();
    QCOMPARE(stamps.DateAndTime(midnight - 1), QByteArray("2026-03-04 23:59:59.999 "));
    QCOMPARE(stamps.DateAndTime(midnight), QByteArray("2026-03-05 00:00:00.000 "));
}

void TestViewAndCapture::feedHoldsBoundedLinesAndReleasesThemInOrder()
{
    CExtentListBox list;
    list.SetMaxLines(5);
    DisplayFeed feed(&list);
    QList<int> counts;
    connect(&feed, &DisplayFeed::WaitingChanged, this, [&](int waiting) { counts.append(waiting); });
    feed.Show("old");
    feed.SetPaused(true);
    for (int i = 1; i <= 8; ++i)
        feed.Show(QByteArray::number(i), i == 8 ? TextEncoding::Utf8 : TextEncoding::Gbk);
    QCOMPARE(list.GetCount(), 1);
    QCOMPARE(feed.Waiting(), 5);  // the newest five: the list keeps no more
    QCOMPARE(counts.last(), 5);
    feed.SetPaused(false);
    QCOMPARE(feed.Waiting(), 0);
    QCOMPARE(counts.last(), 0);
    QCOMPARE(list.GetCount(), 5);
    for (int row = 0; row < 5; ++row)
        QCOMPARE(list.GetText(row), QByteArray::number(8 - row));
    QCOMPARE(list.Lines()->LineEncoding(0), TextEncoding::Utf8);

    // Clearing while paused drops the waiting lines with the list's.
    feed.SetPaused(true);
    feed.Show("dropped");
    feed.Clear();
    QCOMPARE(feed.Waiting(), 0);
    feed.SetPaused(false);
    QCOMPARE(list.GetCount(), 0);
}

void TestViewAndCapture::timestampsOnDisplayAndLog()
{
    TcpFixture f(QMessageBox::Yes);
    QVERIFY(f.ConnectClient());
    f.Click(TcpServerIds::kAutoReply);
    f.Click(TcpServerIds::kReplyEcho);
    QVERIFY(f.Deliver("plain"));
    QCOMPARE(f.ReadReply(5), QByteArray("plain"));

    f.Named<QCheckBox>("timestamps")->click();
    constexpr int kBlocks = 5;
    const int before = NowMsOfDay();
    for (int i = 0; i < kBlocks; ++i) {
        const QByteArray block = "stamped" + QByteArray::number(i);
        QVERIFY(f.Deliver(block));
        QCOMPARE(f.ReadReply(int(block.size())), block);
    }
    const int after = NowMsOfDay();
    int previous = -1;
    for (int row = kBlocks - 1; row >= 0; --row) {
        const QByteArray line = f.DataLine(row);
        const int stamp = StampMs(line);
        QVERIFY2(stamp >= 0, line.constData());
        QVERIFY(line.endsWith(" stamped" + QByteArray::number(kBlocks - 1 - row) + "\r\n"));
        QVERIFY(stamp >= previous);  // in the order read
        if (after >= before)         // not across midnight
            QVERIFY(stamp >= before && stamp <= after);
        previous = stamp;
    }
    QCOMPARE(StampMs(f.DataLine(kBlocks)), -1);  // written before: as it was

    f.Named<QCheckBox>("timestamps")->click();
    QVERIFY(f.Deliver("again"));
    QCOMPARE(StampMs(f.DataLine(0)), -1);

    // The log: stamped lines in between, both directions; the others as ever.
    QByteArrayList data;
    for (const QByteArray &line : f.LogFileLines())
        if (line.contains("->"))
            data.append(line);
    QCOMPARE(data.size(), 2 + 2 * kBlocks + 2);
    QVERIFY(data.first().startsWith("CLIENT->SERVER  "));
    QVERIFY(data[1].startsWith("SERVER->CLIENT  plain"));
    for (int i = 0; i < 2 * kBlocks; ++i) {
        const QByteArray &line = data[2 + i];
        QVERIFY2(kDateAndTime.match(QString::fromLatin1(line)).hasMatch(), line.constData());
        QCOMPARE(line.mid(24, 16), QByteArray(i % 2 ? "SERVER->CLIENT  " : "CLIENT->SERVER  "));
    }
    QVERIFY(data[data.size() - 2].startsWith("CLIENT->SERVER  "));
    QVERIFY(data.last().startsWith("SERVER->CLIENT  again"));
}

void TestViewAndCapture::pauseHoldsOnlyTheList()
{
    TcpFixture f(QMessageBox::Yes);
    QVERIFY(f.ConnectClient());
    f.Click(TcpServerIds::kAutoReply);
    f.Click(TcpServerIds::kReplyEcho);
    QVERIFY(f.Deliver("shown"));
    QCOMPARE(f.ReadReply(5), QByteArray("shown"));
    auto *pause = f.Named<QCheckBox>("pause");
    auto *waiting = f.Named<QLabel>("pauseWaiting");
    pause->click();

    constexpr int kBlocks = 4;
    for (int i = 0; i < kBlocks; ++i) {
        const QByteArray block = "held" + QByteArray::number(i);
        QVERIFY(f.Deliver(block));
        QCOMPARE(f.ReadReply(int(block.size())), block);  // replies go on
    }
    QCOMPARE(f.page->DataList()->GetCount(), 1);
    QVERIFY(WaitUntil([&] { return waiting->text() == QString::number(kBlocks); }));
    QVERIFY(pause->toolTip().contains(QString::number(kBlocks)));
    QCOMPARE(f.page->TxCount(), f.page->RxCount());  // counters go on
    const QByteArrayList logged = f.LogFileLines();
    QCOMPARE(std::count_if(logged.begin(), logged.end(),
                           [](const QByteArray &line) { return line.startsWith("CLIENT->SERVER  127.0.0.1"); }),
             1 + kBlocks);

    pause->click();
    QCOMPARE(f.page->DataList()->GetCount(), 1 + kBlocks);
    for (int row = 0; row < kBlocks; ++row)
        QVERIFY(f.DataLine(row).endsWith(" held" + QByteArray::number(kBlocks - 1 - row) + "\r\n"));
    QVERIFY(WaitUntil([&] { return waiting->text().isEmpty(); }));

    // 清空数据 while paused: nothing comes back on unpausing.
    pause->click();
    QVERIFY(f.Deliver("gone"));
    f.Click(TcpServerIds::kClearData);
    pause->click();
    QCOMPARE(f.page->DataList()->GetCount(), 0);
}

void TestViewAndCapture::newControlsStartOffInTheFreeColumn()
{
    // Every traffic page: the new controls off, in the right-hand column's free rows, over
    // nothing the page had before.
    PageFixtureBase<CTcpServerPage> tcp(LoopbackHost());
    PageFixtureBase<CUdpServerPage> udp(LoopbackHost());
    PageFixtureBase<CClientPage> client(LoopbackHost());
    // Each page's own additions after the area's.
    const QList<std::pair<QWidget *, QList<std::pair<QString, QString>>>> pages{
        {tcp.page.get(), {{"ipv6All", "IPv6/全部"}}},
        {udp.page.get(), {{"ipv6All", "IPv6/全部"}, {"multicast", "组播…"}}},
        {client.page.get(), {{"broadcast", "广播"}}}};
    for (const auto &[page, own] : pages) {
        QStringList names{"timestamps", "pause",       "pauseWaiting", "largeData", "largeView",
                          "capture",    "sendOptions", "sendFile",     "commands"};
        QStringList texts{"时间戳", "暂停", "", "大数据", "放大", "捕获…", "发送选项…", "发送文件…", "命令…"};
        for (const auto &[name, text] : own) {
            names.append(name);
            texts.append(text);
        }
        QList<QWidget *> added;
        for (int i = 0; i < names.size(); ++i) {
            auto *control = page->findChild<QWidget *>(names[i]);
            QVERIFY2(control, qPrintable(names[i]));
            added.append(control);
            if (auto *button = qobject_cast<QAbstractButton *>(control)) {
                QCOMPARE(button->text(), texts[i]);
                QVERIFY(!button->isChecked());
            }
        }
        const int columnLeft = added.first()->x();
        for (QWidget *control : page->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (added.contains(control) || !control->isVisibleTo(page))
                continue;
            for (QWidget *mine : added)
                QVERIFY2(!mine->geometry().intersects(control->geometry()),
                         qPrintable(mine->objectName() + " over " + control->metaObject()->className()));
        }
        for (QWidget *mine : added)
            QVERIFY(mine->x() >= columnLeft && mine->geometry().right() < page->width());
    }
}

void TestViewAndCapture::tcpServerCaptureHoldsEveryConnection()
{
    REQUIRE_TSHARK();
    TcpFixture f;
    QVERIFY(f.ConnectClient());  // open before the capture: it gets a handshake of its own
    f.Click(TcpServerIds::kAutoReply);
    f.Click(TcpServerIds::kReplyEcho);
    const QString path = f.dir.Path() + "/all.pcap";
    CaptureFileAnswer answer(path);
    auto *capture = f.Named<QPushButton>("capture");
    capture->click();
    QCOMPARE(capture->text(), QString("停止捕获"));

    const QByteArray first("one\0two", 7);
    QVERIFY(f.Deliver(first));
    QCOMPARE(f.ReadReply(7), first);
    const int second = ConnectClient(f.port, true);
    QVERIFY(WaitUntil([&] { return f.page->ClientList()->GetCount() == 2; }));
    QVERIFY(SendAll(second, "second", 6));
    QVERIFY(WaitUntil([&] { return f.page->RxCount() == 13; }));
    ::close(second);
    QVERIFY(WaitUntil([&] { return f.page->ClientList()->GetCount() == 1; }));
    QVERIFY(f.Deliver("last"));
    QCOMPARE(f.ReadReply(4), QByteArray("last"));
    f.Click(TcpServerIds::kStop);  // ends the capture with the server
    QCOMPARE(capture->text(), QString("捕获…"));

    QVERIFY(ReadsWhole(path));
    QCOMPARE(FollowTcp(path, 0), std::make_pair(first + "last", first + "last"));
    QCOMPARE(FollowTcp(path, 1), std::make_pair(QByteArray("second"), QByteArray("second")));  // echoed
    // Each connection opens and ends: SYN and FIN both ways.
    const Tshark flags = RunTshark(
        {"-r", path, "-Y", "tcp.flags.syn==1 || tcp.flags.fin==1", "-T", "fields", "-e", "tcp.stream"});
    QCOMPARE(flags.out.split('\n').count("0"), 4);
    QCOMPARE(flags.out.split('\n').count("1"), 4);
}

void TestViewAndCapture::udpServerCapturesAndBinOfOnePeer()
{
    REQUIRE_TSHARK();
    PageFixtureBase<CUdpServerPage> f(LoopbackHost());
    const quint16 port = FreePort(true);
    f.Item<QLineEdit>(UdpServerIds::kPort)->setText(QString::number(port));
    f.Click(UdpServerIds::kListen);
    const int one = UdpSocket(0, port);
    const int two = UdpSocket(0, port);
    auto deliver = [&](int peer, QByteArrayView bytes) {
        const qint64 rx = f.page->RxCount() + bytes.size();
        const qsizetype lines = f.page->DataList()->GetCount() + 1;
        ::send(peer, bytes.data(), size_t(bytes.size()), 0);
        return WaitUntil([&] { return f.page->DataList()->GetCount() == lines; }) && f.page->RxCount() == rx;
    };
    QVERIFY(deliver(one, "hello"));
    QVERIFY(deliver(two, "there"));
    auto *capture = f.page->findChild<QPushButton *>("capture");

    {
        // .bin: nothing selected, a box and no capture; then only the selected peer's bytes.
        CaptureFileAnswer answer(f.dir.Path() + "/one.bin");
        capture->click();
        QCOMPARE(f.boxes.Texts().last(), QString("请选择需要捕获的客户端!"));
        QCOMPARE(capture->text(), QString("捕获…"));
        f.SelectRow(f.page->PeerList(), 0);
        capture->click();
        QCOMPARE(capture->text(), QString("停止捕获"));
        QVERIFY(deliver(one, QByteArray("a\0b", 3)));
        QVERIFY(deliver(two, "other"));
        QVERIFY(deliver(one, ""));
        QVERIFY(deliver(one, "c"));
        capture->click();
        QCOMPARE(FileBytes(f.dir.Path() + "/one.bin"), QByteArray("a\0bc", 4));
    }

    const QString path = f.dir.Path() + "/udp.pcap";
    CaptureFileAnswer answer(path);
    capture->click();
    QVERIFY(deliver(one, ""));
    QVERIFY(deliver(two, QByteArray("z\0", 2)));
    f.Item<QLineEdit>(UdpServerIds::kSendBox)->setText("back");
    f.SelectRow(f.page->PeerList(), 1);
    f.Click(UdpServerIds::kSend);
    QVERIFY(f.page->TxCount() == 4);
    f.Click(UdpServerIds::kStop);
    QVERIFY(ReadsWhole(path));
    const Tshark run = RunTshark({"-r", path, "-T", "fields", "-e", "udp.length", "-e", "data.data"});
    QCOMPARE(run.out, QByteArray("8\t\n10\t7a00\n13\t6261636b00\n"));
    ::close(one);
    ::close(two);
}

void TestViewAndCapture::clientBinEndsWithItsServer()
{
    PageFixtureBase<CClientPage> f(LoopbackHost());
    const QString path = f.dir.Path() + "/server.bin";
    CaptureFileAnswer answer(path);
    auto *capture = f.page->findChild<QPushButton *>("capture");
    capture->click();
    QCOMPARE(f.boxes.Texts().last(), QString("未连接服务器，无法捕获!"));
    QCOMPARE(capture->text(), QString("捕获…"));

    int port = 0;
    const int listener = OpenListener(port, 4);
    f.Item<Ipv4AddressEdit>(ClientIds::kHost)->SetAddressText("127.0.0.1");
    f.Item<QLineEdit>(ClientIds::kPort)->setText(QString::number(port));
    f.Item<QComboBox>(ClientIds::kProtocol)->setCurrentText("TCP");
    f.Click(ClientIds::kConnect);
    QVERIFY(WaitUntil([&] { return f.page->IsConnected(); }));
    const int server = ::accept(listener, nullptr, nullptr);
    capture->click();
    QCOMPARE(capture->text(), QString("停止捕获"));
    QByteArray sent(600, '\0');
    for (int i = 0; i < sent.size(); ++i)
        sent[i] = char(i * 7);
    QVERIFY(SendAll(server, sent.constData(), size_t(sent.size())));
    QVERIFY(WaitUntil([&] { return f.page->RxCount() == sent.size(); }));
    ::close(server);
    // The server went: so does the capture, by itself.
    QVERIFY(WaitUntil([&] { return capture->text() == QString("捕获…"); }));
    QCOMPARE(FileBytes(path), sent);
    ::close(listener);
}

void TestViewAndCapture::captureThatCannotBeWritten()
{
    TcpFixture f;
    QVERIFY(f.ConnectClient());
    auto *capture = f.Named<QPushButton>("capture");
    {
        CaptureFileAnswer answer(f.dir.Path() + "/no/such/folder/x.pcap");
        capture->click();
        QCOMPARE(f.boxes.Texts().last(), "无法写入" + f.dir.Path() + "/no/such/folder/x.pcap，不能捕获!");
        QCOMPARE(capture->text(), QString("捕获…"));
    }
    // A full disk (the file size limit stands in for it) and a file removed under the capture:
    // each time one box naming the file, the capture over, the traffic going on, and what was
    // written readable to its last whole record.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit unlimited{};
    ::getrlimit(RLIMIT_FSIZE, &unlimited);
    for (const bool removed : {false, true}) {
        const QString path = f.dir.Path() + (removed ? "/removed.pcap" : "/full.pcap");
        CaptureFileAnswer answer(path);
        capture->click();
        QCOMPARE(capture->text(), QString("停止捕获"));
        const qsizetype boxesBefore = f.boxes.Texts().size();
        if (removed)
            QFile::remove(path);
        rlimit small = unlimited;
        small.rlim_cur = 2000;
        if (!removed)
            ::setrlimit(RLIMIT_FSIZE, &small);
        for (int i = 0; i < 30 && capture->text() != QString("捕获…"); ++i)
            QVERIFY(f.Deliver(QByteArray(100, char('a' + i))));
        ::setrlimit(RLIMIT_FSIZE, &unlimited);
        QVERIFY(WaitUntil([&] { return capture->text() == QString("捕获…"); }));
        RunEventsFor(50);
        QCOMPARE(f.boxes.Texts().mid(boxesBefore), QStringList{"捕获文件" + path + "写入失败，捕获已停止!"});
        const qint64 rx = f.page->RxCount();
        QVERIFY(f.Deliver("still"));
        QCOMPARE(f.page->RxCount(), rx + 5);
        if (!removed && !QStandardPaths::findExecutable(QStringLiteral("tshark")).isEmpty())
            QVERIFY(ReadsWhole(path));
        if (!removed)
            QVERIFY(QFileInfo(path).size() <= 2000);
    }
}

QTEST_MAIN(TestViewAndCapture)
#include "test_view_and_capture.moc"
