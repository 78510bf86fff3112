#include "chaos_run.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <thread>

#include <csignal>
#include <execinfo.h>
#include <malloc.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

// AddressSanitizer, as GCC and as Clang say it.
#if defined(__SANITIZE_ADDRESS__)
#define CHAOS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CHAOS_ASAN 1
#endif
#endif

#if defined(CHAOS_ASAN)
// From the sanitizer's runtime (its header is not always installed).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "chaos_peers.h"
#include "support/box_answerer.h"
#include "support/event_wait.h"
#include "support/loopback_sockets.h"
#include "support/process_counts.h"

#include "traffic/system_log.h"
#include "pages/client/client_page.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/display_list/line_list_box.h"
#include "widgets/display_list/line_list_model.h"
#include "pages/traffic_area/counter_boxes.h"
#include "platform/host_addresses.h"
#include "platform/network_startup.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "pages/udp_server/udp_server_page.h"
#include "widgets/ipv4_address_edit.h"
#include "pages/log/log_page.h"
#include "shell/main_dlg.h"
#include "shell/page_tab_ctrl.h"

namespace Chaos {

namespace {

using namespace std::chrono_literals;

// ---- the pages' controls by their dialog ids ----

struct ServerIds
{
    int listen, stop, port, peers, peerButton, sendBox, send, timedSend, interval, hexSend, autoReply, replyData,
        replyEcho, clearCounters, hexDisplay, clearData, encoding, filter;
};
constexpr ServerIds kTcpIds{1004, 1005, 1006, 1010, 1009, 1039, 1042, 1038, 1040, 1041,
                            1062, 1063, 1064, 1013, 1022, 1054, 1101, 1102};
constexpr int kTcpSendAll = 1065;
constexpr ServerIds kUdpIds{1024, 1025, 1023, 1029, 1054, 1043, 1047, 1044, 1045, 1046,
                            1066, 1067, 1068, 1030, 1048, 1055, 1111, 1112};
namespace ClientId {
constexpr int kHost = 1052, kPort = 1039, kProtocol = 1053, kConnect = 1054, kDisconnect = 1055, kSendBox = 1040,
              kSend = 1043, kTimedSend = 1057, kInterval = 1041, kHexSend = 1042, kClearCounters = 1060,
              kHexDisplay = 1061, kEncoding = 1121, kFilter = 1122;
}
enum Tab { kTcpTab, kUdpTab, kClientTab, kWebTab, kLogTab };

const QString kLogQuestion = QStringLiteral("是否需要系统记录收发数据？");
const QString kStartQuestion = QStringLiteral("是否需要系统保存日志？");

// What the user types into the send boxes. In text mode and in hex mode alike none of them
// gives a byte the good peers use (a-z, 0-9, '-', ':'): uppercase letters, a zero byte,
// bytes from 0x80 up, '?' for what an encoding cannot hold. Some are refused (empty, odd,
// not hex, too long) with their boxes.
const QStringList kSendTexts{
    QString(), QStringLiteral("ABCD"), QStringLiteral("FACE"), QStringLiteral("BEEF CAFE"), QStringLiteral("DEAD BEEF"),
    QStringLiteral("FEED"), QStringLiteral("ABC"), QStringLiteral("QQ"), QStringLiteral("HELLO"),
    QStringLiteral("测试"), QStringLiteral("AB").repeated(130), QStringLiteral("  FA  CE  "),
};
const QStringList kIntervals{QStringLiteral("300"), QStringLiteral("500"), QStringLiteral("800"),
                             QStringLiteral("1000"), QStringLiteral("2000")};
const QStringList kFilters{QString(), QStringLiteral("127"), QStringLiteral("g1"), QStringLiteral("FF"),
                           QStringLiteral("接收"), QStringLiteral("zz"), QString()};

qint64 Ms(Clock::duration duration)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

QString Mb(qint64 bytes)
{
    return QString::number(bytes / 1048576.0, 'f', 1) + QStringLiteral(" MB");
}

// The source port of a display line "127.0.0.1:port data\r\n"; -1 for other lines.
int PortOfLine(const QByteArray &line, qsizetype &space)
{
    static const QByteArray kPrefix = "127.0.0.1:";
    if (!line.startsWith(kPrefix))
        return -1;
    int port = 0;
    for (space = kPrefix.size(); space < line.size() && line[space] >= '0' && line[space] <= '9'; ++space)
        port = port * 10 + (line[space] - '0');
    return space < line.size() && line[space] == ' ' && port <= 65535 ? port : -1;
}

int HexValue(char c)
{
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

// The bytes a display line shows after its port: the text itself, or the hex read back.
QByteArray ShownBytes(const QByteArray &line, qsizetype space)
{
    QByteArrayView data = QByteArrayView(line).sliced(space + 1);
    if (data.endsWith("\r\n"))
        data.chop(2);
    // A good block has no space: a line with one is the hex display ("%02X " per byte).
    if (!data.contains(' '))
        return data.toByteArray();
    QByteArray shown;
    shown.reserve(data.size() / 3);
    for (qsizetype i = 0; i + 1 < data.size(); i += 3)
        shown.append(static_cast<char>(HexValue(data[i]) * 16 + HexValue(data[i + 1])));
    return shown;
}

// Each open descriptor as "number -> what it is", to name the difference when counts differ.
QStringList DescriptorTargets()
{
    // A socket's kind from the kernel's tables, by its inode.
    QMap<QByteArray, QString> kinds;
    for (const char *table : {"tcp", "udp", "unix", "netlink", "tcp6", "udp6"}) {
        QFile file(QStringLiteral("/proc/net/") + QLatin1String(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (const QByteArray &line : lines) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            const int inodeField = QByteArray(table) == "unix" ? 6 : QByteArray(table) == "netlink" ? 9 : 9;
            if (fields.size() > inodeField)
                kinds[fields[inodeField]] = QLatin1String(table) + QLatin1Char(' ') + QString::fromLatin1(line.simplified().left(120));
        }
    }
    QStringList targets;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &name : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(name));
        const qsizetype open = target.indexOf(QLatin1String("socket:["));
        const QByteArray inode = open >= 0 ? target.mid(open + 8).chopped(1).toLatin1() : QByteArray();
        targets << name + QStringLiteral(" -> ") + target.mid(target.lastIndexOf(QLatin1Char('/')) + 1)
                       + (inode.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(kinds.value(inode, QStringLiteral("?"))));
    }
    return targets;
}

// Bytes the allocator has handed out and not taken back: what a leak grows, unlike the
// resident size, which keeps the high-water mark of the heap and its fragments.
qint64 HeapInUse()
{
#if defined(CHAOS_ASAN)
    return static_cast<qint64>(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<qint64>(info.uordblks + info.hblkhd);
#endif
}

// Nanoseconds the thread has spent runnable but waiting for a CPU (the kernel's schedstat).
qint64 RunDelayNs(pid_t thread)
{
    QFile stat(QStringLiteral("/proc/self/task/%1/schedstat").arg(thread));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    return stat.readAll().split(' ').value(1).toLongLong();
}

// CPU time in clock ticks: of the whole machine (busy, all CPUs) and of this process.
qint64 MachineBusyTicks()
{
    QFile stat(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stat.readLine().simplified().split(' ');
    qint64 busy = 0;
    for (const int field : {1, 2, 3, 6, 7, 8})  // user nice system irq softirq steal
        busy += fields.value(field).toLongLong();
    return busy;
}

qint64 ProcessTicks()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLongLong() + fields.value(12).toLongLong();  // utime stime
}

QString DescriptorDifference(const QStringList &before, const QStringList &after)
{
    QStringList gone;
    QStringList added;
    for (const QString &target : before)
        if (!after.contains(target))
            gone << target;
    for (const QString &target : after)
        if (!before.contains(target))
            added << target;
    return QStringLiteral("; gone: [%1]; new: [%2]").arg(gone.join(QStringLiteral(", ")), added.join(QStringLiteral(", ")));
}

qint64 ListBytes(const LineListBox *list)
{
    qint64 bytes = 0;
    const LineListModel *lines = list->Lines();
    for (int row = 0; row < lines->Count(); ++row)
        bytes += lines->Line(row).size();
    return bytes;
}

// ---- the box answerer ----

// Answers every message box as a user would after a moment: the traffic log question with
// No, now and then Yes; the start-up log question with No; any other box with its default
// button. Most boxes are answered within 15 ms, one in fifty is left open up to 0.8 s (the
// pages go on meanwhile), a series of the same box at once without delay. Its tally keeps how
// many boxes were open at once, and of one text.
class ChaosBoxes
{
public:
    ChaosBoxes(quint64 seed, Context &ctx)
        : m_random(seed, 500)
    {
        answerer.AnswerText(kLogQuestion, [this] {
            const bool yes = m_random.Chance(0.15);
            (yes ? logYes : logNo) += 1;
            return yes ? QMessageBox::Yes : QMessageBox::No;
        });
        answerer.AnswerText(kStartQuestion, QMessageBox::No);
        answerer.SetHoldTime([this](const QString &text) {
            // The same box again at once is a series (one per client of a send to all): the
            // user clicks through it without pausing.
            const qint64 since = answerer.MsSinceLastAnswer();
            const bool series = text == answerer.LastAnsweredText() && since >= 0 && since < 50;
            const bool holdLong = !series && m_random.Chance(0.02);
            heldLong += holdLong;
            return series ? 0 : holdLong ? m_random.Between(300, 800) : m_random.Between(0, 15);
        });
        answerer.OnOtherDialog([this, &ctx](QDialog *dialog) {
            ++otherModals;
            ctx.Finding(QStringLiteral("a modal dialog other than a message box opened: ") + dialog->windowTitle());
            dialog->reject();
        });
    }

    // Each box once, by its text.
    std::map<QString, long> ByText() const
    {
        std::map<QString, long> byText;
        for (const BoxAnswerer::Box &box : answerer.Boxes())
            ++byText[box.text];
        return byText;
    }
    int MaxOpen() const { return answerer.Tallied().maxOpen; }
    int MaxOpenOf(const QString &text) const
    {
        const auto &byText = answerer.Tallied().maxOpenByText;
        const auto most = byText.find(text);
        return most == byText.end() ? 0 : most->second;
    }
    int MaxOpenOfOneText() const
    {
        int most = 0;
        for (const auto &[text, open] : answerer.Tallied().maxOpenByText)
            most = std::max(most, open);
        return most;
    }

    BoxAnswerer answerer{QMessageBox::NoButton};
    long logYes = 0;
    long logNo = 0;
    long heldLong = 0;
    long otherModals = 0;

private:
    Random m_random;
};

// ---- what the GUI thread checks of the good peers' lines ----

// A TCP good peer's stream as its page shows it: each display line from the peer's ports
// must be the next bytes of its blocks, in order.
struct TcpWatch
{
    long number = 0;
    qsizetype offset = 0;
    QByteArray block;
    long lines = 0;
    bool broken = false;
};

// A UDP good peer's datagrams as the page shows them: each the next one, or the same again
// (sent twice after a lost echo).
struct UdpWatch
{
    long last = -1;
    long lines = 0;
    long repeated = 0;
    bool broken = false;
};

// With VELVANE_CHAOS_TRACE set: the longest gaps between two events the application
// delivered, and the event before each, to find what held the GUI thread.
class EventGapTracer : public QObject
{
public:
    EventGapTracer()
    {
        m_clock.start();
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~EventGapTracer() override { QCoreApplication::instance()->removeEventFilter(this); }

    // The longest gap since the last call, with the event before it.
    QString LastGap()
    {
        const QString text = QStringLiteral("longest event %1 ms: %2").arg(m_worstMs).arg(m_worstEvent);
        m_worstMs = 0;
        return text;
    }

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        const qint64 now = m_clock.elapsed();
        if (now - m_lastMs > m_worstMs) {
            m_worstMs = now - m_lastMs;
            m_worstEvent = QStringLiteral("%1 to %2 \"%3\" (parent %4)")
                               .arg(m_lastType).arg(QString::fromLatin1(m_lastClass)).arg(m_lastName)
                               .arg(QString::fromLatin1(m_lastParentClass));
        }
        m_lastMs = now;
        m_lastType = int(event->type());
        m_lastClass = receiver->metaObject()->className();
        m_lastName = receiver->objectName();
        m_lastParentClass = receiver->parent() ? receiver->parent()->metaObject()->className() : "none";
        return false;
    }

private:
    QElapsedTimer m_clock;
    qint64 m_lastMs = 0;
    qint64 m_worstMs = 0;
    int m_lastType = 0;
    const char *m_lastClass = "";
    QString m_lastName;
    const char *m_lastParentClass = "";
    QString m_worstEvent;
};

// Takes the GUI thread's stack from the watchdog thread: a signal makes the GUI thread
// write its frames, the watchdog prints them with their symbols (VELVANE_CHAOS_TRACE only).
namespace StallSampler {

void *s_frames[64];
std::atomic<int> s_count{-1};

void OnSignal(int)
{
    s_count = ::backtrace(s_frames, 64);
}

void Install()
{
    struct sigaction action{};
    action.sa_handler = OnSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGUSR2, &action, nullptr);
}

void Sample(pthread_t thread, qint64 silentMs)
{
    s_count = -1;
    ::pthread_kill(thread, SIGUSR2);
    for (int wait = 0; wait < 100 && s_count < 0; ++wait)
        std::this_thread::sleep_for(1ms);
    std::fprintf(stderr, "chaos: the GUI thread silent for %lld ms, in:\n", static_cast<long long>(silentMs));
    if (s_count > 0)
        ::backtrace_symbols_fd(s_frames, s_count.load(), 2);
}

} // namespace StallSampler

// ---- the run ----

class Runner : public QObject
{
public:
    explicit Runner(const Options &options);
    Result Execute();

private:
    struct Window
    {
        enum Step { Idle, WaitPaused, Acting, Restore, WaitReconnected } step = Idle;
        bool tcp = true;
        Clock::time_point since;
        Clock::time_point nextAction;
        int actionsLeft = 0;
        int listenTries = 0;
    };

    // Set-up and the end.
    // Shows the window; the descriptors and memory are taken before the pages listen.
    bool SetUp(Result &result, int &descriptorsBefore);
    void StartThreads();
    // The threads' names and when each ended, for the figures.
    struct ThreadEnd
    {
        QString name;
        std::atomic<qint64> endedMs{-1};
    };
    // The good peers end first (their last echoes need the pages), then everything else.
    bool EndGoodPeers();
    bool EndThreads();
    void FinalUserSteps();
    // The window goes (as at the end of the program), its pages listening or not.
    void CloseWindow();
    // The web page's fetch leaves a socket in its network manager's connection cache, which
    // the manager closes two minutes later: closed before each count, it does not count.
    void ForgetWebConnections();
    void CheckGoodPeers(Result &result);

    // The user.
    void Tick();
    void StepWindow(Clock::time_point now);
    void StartWindow(bool tcp, Clock::time_point now);
    void WindowAction(bool tcp);
    void UserAction();
    void TcpAction();
    void UdpAction();
    void ClientAction();
    bool ReconnectedToTcpPage() const;

    // Controls, used as a user does.
    void ShowTab(int tab);
    void Click(QAbstractButton *button);
    void Type(QLineEdit *edit, const QString &text);
    void ClickRow(LineListBox *list, int row);
    void ChooseItem(QComboBox *combo);
    template <typename Control>
    Control *TcpItem(int id) const { return qobject_cast<Control *>(m_tcp->GetDlgItem(id)); }
    template <typename Control>
    Control *UdpItem(int id) const { return qobject_cast<Control *>(m_udp->GetDlgItem(id)); }
    template <typename Control>
    Control *ClientItem(int id) const { return qobject_cast<Control *>(m_client->GetDlgItem(id)); }
    // The common controls of a server page, by the ids of one of them.
    void ServerCommonAction(CDialogPage *page, const ServerIds &ids, int pick);
    void Count(const char *action)
    {
        ++m_userActions[action];
        m_lastAction = action;
    }
    // Keeps what happened around the ticks of a 10 ms timer that came over 100 ms late.
    void OnLateCheck();
    QString LateTicksText() const
    {
        QStringList texts;
        for (auto it = m_lateTicks.rbegin(); it != m_lateTicks.rend(); ++it)
            texts << it->second;
        return texts.isEmpty() ? QString() : QStringLiteral(": ") + texts.join(QStringLiteral("; "));
    }

    // The good peers' lines.
    void OnTcpLines(int first, int last);
    void OnUdpLines(int first, int last);

    Options m_options;
    std::unique_ptr<Context> m_ctx;
    Random m_random;
    std::vector<std::unique_ptr<GoodPeer>> m_goodTcp;
    std::vector<std::unique_ptr<GoodPeer>> m_goodUdp;
    std::vector<TcpWatch> m_tcpWatch;
    std::vector<UdpWatch> m_udpWatch;
    std::vector<std::thread> m_threads;
    std::deque<ThreadEnd> m_threadEnds;
    std::atomic<int> m_threadsRunning{0};
    int m_driverTcpListener = -1;
    int m_driverUdpSocket = -1;

    std::unique_ptr<ChaosBoxes> m_boxes;
    std::unique_ptr<CMainDlg> m_dlg;
    CTcpServerPage *m_tcp = nullptr;
    CUdpServerPage *m_udp = nullptr;
    CClientPage *m_client = nullptr;
    QTimer m_tick;
    bool m_inTick = false;
    bool m_userStopped = false;

    Clock::time_point m_start;
    Clock::time_point m_end;
    Clock::time_point m_nextUserAction;
    Clock::time_point m_nextWindow;
    Window m_window;
    bool m_nextWindowTcp = false;

    std::map<QString, long> m_userActions;
    const char *m_lastAction = "none";
    QTimer m_lateCheck;
    QElapsedTimer m_lateClock;
    qint64 m_lastLateTickNs = 0;
    qint64 m_lastRunDelayNs = 0;
    pid_t m_guiThread = 0;
    double m_worstWallLateMs = 0;
    double m_worstWallWaitedMs = 0;
    double m_worstOwnLateMs = 0;
    // Milliseconds since the lateness clock started, at the last check: what the watchdog
    // watches.
    std::atomic<qint64> heartbeat{0};
    std::multimap<qint64, QString> m_lateTicks;  // the worst ones
    std::unique_ptr<class EventGapTracer> m_tracer;
    long m_lateTickCount = 0;
    long m_windows = 0;
    long m_clientConnects = 0;
    long m_goodLinesTcp = 0;
    long m_goodLinesUdp = 0;

    QStringList m_descriptorsBefore;
    int m_socketsBefore = 0;
    long m_rssBase = 0;
    long m_rssMid = 0;
    qint64 m_heapMid = 0;
    qint64 m_listBytesMid = 0;
    qint64 m_listLinesMid = 0;
    bool m_midTaken = false;
};

Runner::Runner(const Options &options)
    : m_options(options)
    , m_ctx(std::make_unique<Context>())
    , m_random(options.seed, 1)
{
    m_ctx->seed = options.seed;
    m_ctx->slowdown = std::max(1, options.slowdown);
    for (int i = 0; i < std::min(options.goodTcpPeers, PortPlan::kMaxGoodPeers); ++i) {
        m_goodTcp.push_back(std::make_unique<GoodPeer>());
        m_goodTcp.back()->index = i;
    }
    for (int i = 0; i < std::min(options.goodUdpPeers, PortPlan::kMaxGoodPeers); ++i) {
        m_goodUdp.push_back(std::make_unique<GoodPeer>());
        m_goodUdp.back()->index = i;
        m_goodUdp.back()->udp = true;
    }
    m_tcpWatch.resize(m_goodTcp.size());
    m_udpWatch.resize(m_goodUdp.size());
    m_tick.setObjectName(QStringLiteral("chaos user"));
    m_lateCheck.setObjectName(QStringLiteral("chaos late check"));
    m_tick.setInterval(2);
    connect(&m_tick, &QTimer::timeout, this, [this] { Tick(); });
    m_lateCheck.setInterval(10);
    m_lateCheck.setTimerType(Qt::PreciseTimer);
    connect(&m_lateCheck, &QTimer::timeout, this, [this] { OnLateCheck(); });
}

void Runner::OnLateCheck()
{
    const qint64 now = m_lateClock.nsecsElapsed();
    const qint64 runDelay = RunDelayNs(m_guiThread);
    const double lateMs = (now - m_lastLateTickNs) / 1e6 - 10;
    // What of it the GUI thread spent waiting for a CPU that others held: the machine's
    // load, not the program's work.
    const double waitedMs = (runDelay - m_lastRunDelayNs) / 1e6;
    const double ownMs = std::max(0.0, lateMs - waitedMs);
    m_lastLateTickNs = now;
    m_lastRunDelayNs = runDelay;
    heartbeat = now / 1000000;
    if (lateMs > m_worstWallLateMs) {
        m_worstWallLateMs = lateMs;
        m_worstWallWaitedMs = waitedMs;
    }
    m_worstOwnLateMs = std::max(m_worstOwnLateMs, ownMs);
    const QString gap = m_tracer ? QStringLiteral("; ") + m_tracer->LastGap() : QString();
    if (lateMs < 100 || !m_tcp)
        return;
    ++m_lateTickCount;
    m_lateTicks.emplace(qint64(lateMs),
                        QStringLiteral("%1 ms (%2 waiting for a CPU) at %3 s (last user action: %4; %5 boxes open;"
                                       " TCP/UDP/client lines %6/%7/%8%9)")
                            .arg(lateMs, 0, 'f', 0).arg(waitedMs, 0, 'f', 0).arg(now / 1e9, 0, 'f', 2)
                            .arg(QString::fromLatin1(m_lastAction)).arg(m_boxes ? m_boxes->answerer.OpenBoxes() : 0)
                            .arg(m_tcp->DataList()->GetCount()).arg(m_udp->DataList()->GetCount())
                            .arg(m_client->DataList()->GetCount()).arg(gap));
    if (m_lateTicks.size() > 8)
        m_lateTicks.erase(m_lateTicks.begin());
}

// ---- controls ----

void Runner::ShowTab(int tab)
{
    CPageTabCtrl *tabs = m_dlg->TabPages();
    if (tabs->CurrentPage() == tab)
        return;
    QTabBar *bar = tabs->TabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(tab).center());
    Count("switch tab");
}

void Runner::Click(QAbstractButton *button)
{
    if (button)
        QTest::mouseClick(button, Qt::LeftButton);
}

void Runner::Type(QLineEdit *edit, const QString &text)
{
    if (!edit || !edit->isEnabled())
        return;
    edit->setFocus();
    edit->selectAll();
    if (text.isEmpty()) {
        QTest::keyClick(edit, Qt::Key_Backspace);
        return;
    }
    // Keys for ASCII; what is not on the keyboard comes as an input method's commit.
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80) {
            QTest::keyClick(edit, ch.toLatin1());
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(QString(ch));
            QApplication::sendEvent(edit, &commit);
        }
    }
}

void Runner::ClickRow(LineListBox *list, int row)
{
    const QModelIndex index = list->model()->index(row, 0);
    if (!index.isValid())
        return;
    list->scrollTo(index);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
}

void Runner::ChooseItem(QComboBox *combo)
{
    if (combo && combo->isEnabled() && combo->count() > 0)
        combo->setCurrentIndex(m_random.Below(combo->count()));
}

// ---- set-up ----

bool Runner::SetUp(Result &result, int &descriptorsBefore)
{
    StartNetwork();
    RaiseDescriptorLimit();
    if (!m_ctx->ports.Choose()) {
        result.checks.push_back({QStringLiteral("set-up"), false, QStringLiteral("no free ports for the run")});
        return false;
    }
    // Whatever the program fetches from elsewhere (the maker's page) goes to a loopback port
    // nobody listens on: the run talks to 127.0.0.1 only.
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), static_cast<quint16>(m_ctx->ports.deadTcp)));

    m_boxes = std::make_unique<ChaosBoxes>(m_options.seed, *m_ctx);
    m_dlg = std::make_unique<CMainDlg>();
    m_dlg->Create();
    m_dlg->show();
    m_tcp = m_dlg->TcpServerPage();
    m_udp = m_dlg->UdpServerPage();
    m_client = m_dlg->ClientPage();
    RunEventsFor(500);
    ForgetWebConnections();
    descriptorsBefore = OpenDescriptorsSettled();
    m_descriptorsBefore = DescriptorTargets();
    m_socketsBefore = OpenSockets();
    if (qEnvironmentVariableIsSet("VELVANE_CHAOS_TRACE"))
        std::fprintf(stderr, "chaos: descriptors before: %s\n", qPrintable(m_descriptorsBefore.join(QStringLiteral("; "))));
    m_rssBase = ResidentBytes();

    connect(m_tcp->DataList()->Lines(), &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { OnTcpLines(first, last); });
    connect(m_udp->DataList()->Lines(), &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { OnUdpLines(first, last); });

    // Both servers listen, the UDP one echoing at once; the TCP one echoes once the good
    // peers are there (its automatic reply needs a client).
    ShowTab(kTcpTab);
    Type(TcpItem<QLineEdit>(kTcpIds.port), QString::number(m_ctx->ports.tcpPage));
    Click(TcpItem<QPushButton>(kTcpIds.listen));
    ShowTab(kUdpTab);
    Type(UdpItem<QLineEdit>(kUdpIds.port), QString::number(m_ctx->ports.udpPage));
    Click(UdpItem<QPushButton>(kUdpIds.listen));
    Click(UdpItem<QCheckBox>(kUdpIds.autoReply));
    Click(UdpItem<QRadioButton>(kUdpIds.replyEcho));
    if (!m_tcp->IsListening() || !m_udp->IsListening() || !UdpItem<QCheckBox>(kUdpIds.autoReply)->isChecked()) {
        result.checks.push_back({QStringLiteral("set-up"), false, QStringLiteral("the server pages did not listen")});
        return false;
    }
    m_driverTcpListener = ListenOn(m_ctx->ports.driverTcp);
    m_driverUdpSocket = UdpSocket(m_ctx->ports.driverUdp);
    return m_driverTcpListener >= 0 && m_driverUdpSocket >= 0;
}

void Runner::StartThreads()
{
    auto start = [this](const QString &name, auto body, bool flood = true) {
        ++m_threadsRunning;
        ThreadEnd &end = m_threadEnds.emplace_back();
        end.name = name;
        m_threads.emplace_back([this, body, flood, &end] {
            // The peers stand for other machines: on a machine of two cores the flooding ones
            // must not take the CPU from the window they test, or its lateness measures the
            // driver. They run when the GUI thread does not want it (or at least niced). The
            // good peers, which mostly wait for their echoes, keep the normal priority, so
            // that a busy machine does not starve them.
            const sched_param idle{};
            if (flood && ::pthread_setschedparam(::pthread_self(), SCHED_IDLE, &idle) != 0)
                ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
            body();
            end.endedMs = Ms(Clock::now() - m_end);
            --m_threadsRunning;
        });
    };
    Context &ctx = *m_ctx;
    start(QStringLiteral("driver's TCP server"), [&ctx, socket = m_driverTcpListener] { RunDriverTcpServer(ctx, socket); });
    start(QStringLiteral("driver's UDP server"), [&ctx, socket = m_driverUdpSocket] { RunDriverUdpServer(ctx, socket); });
    for (auto &peer : m_goodTcp)
        start(QStringLiteral("TCP good peer %1").arg(peer->index), [&ctx, p = peer.get()] { RunGoodTcpPeer(ctx, *p); }, false);
    for (auto &peer : m_goodUdp)
        start(QStringLiteral("UDP good peer %1").arg(peer->index), [&ctx, p = peer.get()] { RunGoodUdpPeer(ctx, *p); }, false);
    for (int i = 0; i < m_options.badTcpPlayers; ++i)
        start(QStringLiteral("bad TCP player %1").arg(i), [&ctx, i] { RunBadTcpPlayer(ctx, i); });
    for (int i = 0; i < m_options.badUdpPlayers; ++i)
        start(QStringLiteral("bad UDP player %1").arg(i), [&ctx, i] { RunBadUdpPlayer(ctx, i); });
    start(QStringLiteral("log janitor"), [&ctx, dir = QDir::currentPath(), cap = m_options.logFilesCap] {
        RunLogJanitor(ctx, dir, cap);
    }, false);
}

bool Runner::EndGoodPeers()
{
    m_ctx->goodStop = true;
    // The good TCP peers finish their block: the page must go on echoing meanwhile.
    auto ended = [this] {
        auto finished = [](const auto &peer) { return peer->State() == PeerState::Finished; };
        return std::all_of(m_goodTcp.begin(), m_goodTcp.end(), finished)
               && std::all_of(m_goodUdp.begin(), m_goodUdp.end(), finished);
    };
    if (WaitUntil(ended, 30000 * m_ctx->slowdown))
        return true;
    m_ctx->Finding(QStringLiteral("good peers still ran %1 s after the end").arg(30 * m_ctx->slowdown));
    return false;
}

bool Runner::EndThreads()
{
    m_ctx->stop = true;
    const bool ended = WaitUntil([this] { return m_threadsRunning == 0; }, 30000 * m_ctx->slowdown);
    if (!ended) {
        m_ctx->Finding(QStringLiteral("%1 driver threads still ran %2 s after the end; the run waits for them")
                           .arg(m_threadsRunning.load()).arg(30 * m_ctx->slowdown));
        WaitUntil([this] { return m_threadsRunning == 0; }, 600000);
    }
    for (std::thread &thread : m_threads)
        thread.join();
    m_threads.clear();
    ::close(m_driverTcpListener);
    ::close(m_driverUdpSocket);
    return ended;
}

void Runner::CloseWindow()
{
    m_tick.stop();
    m_tracer.reset();
    m_tcp = nullptr;
    m_udp = nullptr;
    m_client = nullptr;
    m_dlg.reset();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

// ---- the user ----

void Runner::Tick()
{
    if (m_inTick || m_userStopped)
        return;
    // While a box is open the user answers it first: the window's controls do not take clicks.
    if (QApplication::activeModalWidget())
        return;
    m_inTick = true;
    const auto now = Clock::now();
    StepWindow(now);
    if (now >= m_nextUserAction && !QApplication::activeModalWidget()) {
        m_nextUserAction = now + std::chrono::milliseconds(m_random.Between(10, 80));
        UserAction();
    }
    m_inTick = false;
}

bool Runner::ReconnectedToTcpPage() const
{
    QSet<int> listed;
    LineListBox *clients = m_tcp->ClientList();
    for (int row = 0; row < clients->GetCount(); ++row) {
        const QByteArray line = clients->GetText(row);
        const qsizetype colon = line.indexOf(':');
        const qsizetype hyphen = line.indexOf('-');
        if (colon >= 0 && hyphen > colon)
            listed.insert(line.mid(colon + 1, hyphen - colon - 1).toInt());
    }
    for (const auto &peer : m_goodTcp) {
        if (peer->failed || peer->State() == PeerState::Finished)
            continue;
        if (peer->State() != PeerState::Connected || !listed.contains(peer->port))
            return false;
    }
    return true;
}

void Runner::StartWindow(bool tcp, Clock::time_point now)
{
    m_window = Window{};
    m_window.tcp = tcp;
    m_window.step = Window::WaitPaused;
    m_window.since = now;
    ++m_windows;
    (tcp ? m_ctx->tcpPhase : m_ctx->udpPhase) = static_cast<int>(Phase::Pausing);
}

// The windows for Stop/Listen and the automatic reply. The good peers stay meaningful: the
// toggles that leave echoes alone (hex display, hex send, encoding, filter, timed sending,
// Send, clearing, disconnecting a bad client) come at any time; Stop, Listen and the reply
// toggles only in a window, announced to the page's good peers, which finish their block and
// stand still (TCP ones disconnect). After the user's steps the page listens and echoes
// again, the TCP good peers reconnect, and only then do the good peers go on.
void Runner::StepWindow(Clock::time_point now)
{
    const auto waitLimit = std::chrono::seconds(30 * m_ctx->slowdown);
    auto &peers = m_window.tcp ? m_goodTcp : m_goodUdp;
    switch (m_window.step) {
    case Window::Idle:
        if (now >= m_nextWindow && now < m_end) {
            StartWindow(m_nextWindowTcp, now);
            m_nextWindowTcp = !m_nextWindowTcp;
        }
        return;
    case Window::WaitPaused: {
        const bool paused = std::all_of(peers.begin(), peers.end(), [](const auto &peer) {
            return peer->failed || peer->State() == PeerState::Paused || peer->State() == PeerState::Finished;
        });
        if (!paused && now - m_window.since < waitLimit)
            return;
        if (!paused)
            m_ctx->Finding(QStringLiteral("the %1 good peers did not pause within %2 s")
                               .arg(m_window.tcp ? "TCP" : "UDP").arg(30 * m_ctx->slowdown));
        m_window.step = Window::Acting;
        m_window.actionsLeft = m_random.Between(2, 6);
        m_window.nextAction = now;
        return;
    }
    case Window::Acting:
        if (now < m_window.nextAction)
            return;
        WindowAction(m_window.tcp);
        m_window.nextAction = now + std::chrono::milliseconds(m_random.Between(20, 300));
        if (--m_window.actionsLeft <= 0) {
            m_window.step = Window::Restore;
            m_window.since = now;
        }
        return;
    case Window::Restore: {
        CServerPage *page = m_window.tcp ? static_cast<CServerPage *>(m_tcp) : m_udp;
        const ServerIds &ids = m_window.tcp ? kTcpIds : kUdpIds;
        const bool listening = m_window.tcp ? m_tcp->IsListening() : m_udp->IsListening();
        if (!listening) {
            if (now < m_window.nextAction)
                return;
            if (++m_window.listenTries > 25) {
                m_ctx->Finding(QStringLiteral("the %1 page did not listen again after 25 clicks on Listen")
                                   .arg(m_window.tcp ? "TCP" : "UDP"));
                m_userStopped = true;
                return;
            }
            ShowTab(m_window.tcp ? kTcpTab : kUdpTab);
            Click(qobject_cast<QAbstractButton *>(page->GetDlgItem(ids.listen)));
            Count("listen (restore)");
            m_window.nextAction = now + 200ms;
            return;
        }
        if (m_window.tcp) {
            m_ctx->tcpPhase = static_cast<int>(Phase::Reconnect);
            m_window.step = Window::WaitReconnected;
            m_window.since = now;
            return;
        }
        [[fallthrough]];
    }
    case Window::WaitReconnected: {
        if (m_window.tcp && !ReconnectedToTcpPage() && now - m_window.since < waitLimit)
            return;
        if (m_window.tcp && !ReconnectedToTcpPage())
            m_ctx->Finding(QStringLiteral("the TCP good peers were not all back on the page within %1 s")
                               .arg(30 * m_ctx->slowdown));
        CServerPage *page = m_window.tcp ? static_cast<CServerPage *>(m_tcp) : m_udp;
        const ServerIds &ids = m_window.tcp ? kTcpIds : kUdpIds;
        auto *autoReply = qobject_cast<QCheckBox *>(page->GetDlgItem(ids.autoReply));
        auto *echo = qobject_cast<QRadioButton *>(page->GetDlgItem(ids.replyEcho));
        ShowTab(m_window.tcp ? kTcpTab : kUdpTab);
        if (!autoReply->isChecked())
            Click(autoReply);
        if (!echo->isChecked())
            Click(echo);
        if ((!autoReply->isChecked() || !echo->isChecked()) && now - m_window.since < waitLimit)
            return;  // not enabled yet: the next tick tries again
        if (!autoReply->isChecked() || !echo->isChecked())
            m_ctx->Finding(QStringLiteral("the %1 page's echo could not be switched on again").arg(m_window.tcp ? "TCP" : "UDP"));
        (m_window.tcp ? m_ctx->tcpPhase : m_ctx->udpPhase) = static_cast<int>(Phase::Running);
        m_window.step = Window::Idle;
        m_nextWindow = now + std::chrono::milliseconds(m_options.windowEveryMs / 2);
        return;
    }
    }
}

void Runner::WindowAction(bool tcp)
{
    CServerPage *page = tcp ? static_cast<CServerPage *>(m_tcp) : m_udp;
    const ServerIds &ids = tcp ? kTcpIds : kUdpIds;
    ShowTab(tcp ? kTcpTab : kUdpTab);
    auto item = [&](int id) { return qobject_cast<QAbstractButton *>(page->GetDlgItem(id)); };
    switch (m_random.Below(7)) {
    case 0:
    case 1:
        Click(item(ids.stop));
        Count(tcp ? "tcp stop" : "udp stop");
        break;
    case 2:
        Click(item(ids.listen));
        Count(tcp ? "tcp listen" : "udp listen");
        break;
    case 3:
    case 4:
        Click(item(ids.autoReply));
        Count(tcp ? "tcp auto reply" : "udp auto reply");
        break;
    case 5:
        Click(item(ids.replyData));
        Count(tcp ? "tcp data reply" : "udp data reply");
        break;
    case 6:
        Click(item(ids.replyEcho));
        Count(tcp ? "tcp echo reply" : "udp echo reply");
        break;
    }
}

void Runner::UserAction()
{
    const int pick = m_random.Below(100);
    if (pick < 32)
        TcpAction();
    else if (pick < 60)
        UdpAction();
    else if (pick < 92)
        ClientAction();
    else if (pick < 97) {
        ShowTab(kLogTab);
        Type(qobject_cast<QLineEdit *>(m_dlg->LogPage()->GetDlgItem(CLogPage::kFilterId)),
             kFilters[m_random.Below(kFilters.size())]);
        Count("log filter");
    } else {
        ShowTab(kWebTab);
    }
}

// What both server pages offer at any time; pick chooses.
void Runner::ServerCommonAction(CDialogPage *page, const ServerIds &ids, int pick)
{
    auto button = [&](int id) { return qobject_cast<QAbstractButton *>(page->GetDlgItem(id)); };
    auto edit = [&](int id) { return qobject_cast<QLineEdit *>(page->GetDlgItem(id)); };
    const bool tcp = page == m_tcp;
    switch (pick) {
    case 0: Click(button(ids.hexDisplay)); Count(tcp ? "tcp hex display" : "udp hex display"); break;
    case 1: Click(button(ids.hexSend)); Count(tcp ? "tcp hex send" : "udp hex send"); break;
    case 2: Type(edit(ids.sendBox), kSendTexts[m_random.Below(kSendTexts.size())]); Count(tcp ? "tcp type send box" : "udp type send box"); break;
    case 3: Click(button(ids.send)); Count(tcp ? "tcp send" : "udp send"); break;
    case 4:
        if (!button(ids.timedSend)->isChecked())
            Type(edit(ids.interval), kIntervals[m_random.Below(kIntervals.size())]);
        Click(button(ids.timedSend));
        Count(tcp ? "tcp timed sending" : "udp timed sending");
        break;
    case 5: Click(button(ids.clearData)); Count(tcp ? "tcp clear data" : "udp clear data"); break;
    case 6: Click(button(ids.clearCounters)); Count(tcp ? "tcp clear counters" : "udp clear counters"); break;
    case 7: ChooseItem(qobject_cast<QComboBox *>(page->GetDlgItem(ids.encoding))); Count(tcp ? "tcp encoding" : "udp encoding"); break;
    case 8: Type(edit(ids.filter), kFilters[m_random.Below(kFilters.size())]); Count(tcp ? "tcp filter" : "udp filter"); break;
    case 9:
        if (QLineEdit *box = edit(ids.sendBox)) {
            box->setFocus();
            QTest::keyClick(box, Qt::Key_Return);  // Enter presses Send
            Count(tcp ? "tcp enter in send box" : "udp enter in send box");
        }
        break;
    }
}

void Runner::TcpAction()
{
    ShowTab(kTcpTab);
    // Weights: the common controls, then selecting a client, disconnecting it, send to all.
    static constexpr std::array<int, 13> kWeights{12, 6, 10, 6, 5, 2, 3, 3, 3, 2, 12, 6, 4};
    int pick = m_random.Below(74);
    int action = 0;
    while (pick >= kWeights[action])
        pick -= kWeights[action++];
    LineListBox *clients = m_tcp->ClientList();
    if (action < 10) {
        ServerCommonAction(m_tcp, kTcpIds, action);
    } else if (action == 10) {
        if (clients->GetCount() > 0) {
            ClickRow(clients, m_random.Below(clients->GetCount()));
            Count("tcp select client");
        }
    } else if (action == 11) {
        // The user never disconnects a good peer: its echoes are checked.
        const int selected = clients->GetCurSel();
        const QByteArray line = clients->GetText(selected);
        const int port = line.mid(line.indexOf(':') + 1).split('-').value(0).toInt();
        if (selected < 0 || m_ctx->ports.GoodPeerOfPort(false, port) < 0) {
            Click(TcpItem<QPushButton>(kTcpIds.peerButton));
            Count("tcp disconnect client");
        }
    } else if (clients->GetCount() <= 64) {
        // One send to every client, "是否群发" ticked for it alone: a refused payload or the
        // clients gone meanwhile bring a box per client (as designed), so the user sends to
        // all of a few dozen, not of the hundreds a churn burst lists, and a tick left on
        // would make every later Send such a series.
        auto *sendAll = TcpItem<QCheckBox>(kTcpSendAll);
        if (!sendAll->isChecked())
            Click(sendAll);
        Click(TcpItem<QPushButton>(kTcpIds.send));
        if (sendAll->isChecked())
            Click(sendAll);
        Count("tcp send to all");
    }
}

void Runner::UdpAction()
{
    ShowTab(kUdpTab);
    static constexpr std::array<int, 12> kWeights{12, 6, 10, 6, 5, 2, 3, 3, 3, 2, 10, 4};
    int pick = m_random.Below(66);
    int action = 0;
    while (pick >= kWeights[action])
        pick -= kWeights[action++];
    LineListBox *peers = m_udp->PeerList();
    if (action < 10) {
        ServerCommonAction(m_udp, kUdpIds, action);
    } else if (action == 10) {
        if (peers->GetCount() > 0) {
            ClickRow(peers, m_random.Below(peers->GetCount()));
            Count("udp select peer");
        }
    } else {
        Click(UdpItem<QPushButton>(kUdpIds.peerButton));
        Count("udp delete peer");
    }
}

void Runner::ClientAction()
{
    ShowTab(kClientTab);
    const bool open = m_client->IsConnected();
    const bool connecting = m_client->IsConnecting();
    auto button = [&](int id) { return ClientItem<QAbstractButton>(id); };
    const int pick = m_random.Below(100);
    if (!open && !connecting && pick < 45) {
        // Connect to one of the pages, to a driver's server, or where nobody listens.
        struct Target { int port; const char *protocol; };
        const PortPlan &ports = m_ctx->ports;
        const Target targets[] = {
            {ports.tcpPage, "TCP"}, {ports.tcpPage, "TCP"}, {ports.udpPage, "UDP"}, {ports.driverTcp, "TCP"},
            {ports.driverTcp, "TCP"}, {ports.driverUdp, "UDP"}, {ports.deadTcp, "TCP"}, {ports.udpPage, "TCP"},
        };
        const Target &target = targets[m_random.Below(static_cast<int>(std::size(targets)))];
        ClientItem<Ipv4AddressEdit>(ClientId::kHost)->SetAddressText(QStringLiteral("127.0.0.1"));
        Type(ClientItem<QLineEdit>(ClientId::kPort), QString::number(target.port));
        ClientItem<QComboBox>(ClientId::kProtocol)->setCurrentText(QString::fromLatin1(target.protocol));
        Click(button(ClientId::kConnect));
        ++m_clientConnects;
        Count("client connect");
        return;
    }
    if ((open && pick < 12) || (connecting && pick < 30)) {
        Click(button(ClientId::kDisconnect));
        Count("client disconnect");
        return;
    }
    switch (m_random.Below(9)) {
    case 0: Click(button(ClientId::kHexDisplay)); Count("client hex display"); break;
    case 1: Click(button(ClientId::kHexSend)); Count("client hex send"); break;
    case 2: Type(ClientItem<QLineEdit>(ClientId::kSendBox), kSendTexts[m_random.Below(kSendTexts.size())]); Count("client type send box"); break;
    case 3:
    case 4: Click(button(ClientId::kSend)); Count("client send"); break;
    case 5:
        if (!button(ClientId::kTimedSend)->isChecked())
            Type(ClientItem<QLineEdit>(ClientId::kInterval), kIntervals[m_random.Below(kIntervals.size())]);
        Click(button(ClientId::kTimedSend));
        Count("client timed sending");
        break;
    case 6: Click(button(ClientId::kClearCounters)); Count("client clear counters"); break;
    case 7: ChooseItem(ClientItem<QComboBox>(ClientId::kEncoding)); Count("client encoding"); break;
    case 8: Type(ClientItem<QLineEdit>(ClientId::kFilter), kFilters[m_random.Below(kFilters.size())]); Count("client filter"); break;
    }
}

// ---- the good peers' lines ----

void Runner::OnTcpLines(int first, int last)
{
    const LineListModel *lines = m_tcp->DataList()->Lines();
    for (int row = first; row <= last; ++row) {
        const QByteArray &line = lines->Line(row);
        // The port first: most lines are the bad peers'.
        qsizetype space = 0;
        const int peer = m_ctx->ports.GoodPeerOfPort(false, PortOfLine(line, space));
        if (peer < 0 || peer >= static_cast<int>(m_tcpWatch.size()))
            continue;
        const QByteArray shown = ShownBytes(line, space);
        TcpWatch &watch = m_tcpWatch[static_cast<size_t>(peer)];
        ++watch.lines;
        ++m_goodLinesTcp;
        if (watch.broken)
            continue;
        for (const char byte : shown) {
            if (watch.block.isEmpty())
                watch.block = Stamp::TcpBlock(peer, watch.number);
            if (byte != watch.block[watch.offset]) {
                watch.broken = true;
                m_ctx->Finding(QStringLiteral("TCP page display: good peer %1's line \"%2\" is not the next bytes of"
                                              " its stream (block %3, byte %4 expected '%5')")
                                   .arg(peer).arg(QString::fromLatin1(line.left(60))).arg(watch.number)
                                   .arg(watch.offset).arg(QChar::fromLatin1(watch.block[watch.offset])));
                break;
            }
            if (++watch.offset == watch.block.size()) {
                ++watch.number;
                watch.offset = 0;
                watch.block.clear();
            }
        }
    }
}

void Runner::OnUdpLines(int first, int last)
{
    const LineListModel *lines = m_udp->DataList()->Lines();
    for (int row = first; row <= last; ++row) {
        const QByteArray &line = lines->Line(row);
        qsizetype space = 0;
        const int peer = m_ctx->ports.GoodPeerOfPort(true, PortOfLine(line, space));
        if (peer < 0 || peer >= static_cast<int>(m_udpWatch.size()))
            continue;
        const QByteArray shown = ShownBytes(line, space);
        UdpWatch &watch = m_udpWatch[static_cast<size_t>(peer)];
        ++watch.lines;
        ++m_goodLinesUdp;
        if (watch.broken)
            continue;
        const long number = Stamp::UdpNumberOf(peer, shown);
        if (number == watch.last) {
            ++watch.repeated;
        } else if (number == watch.last + 1 && number >= 0) {
            watch.last = number;
        } else {
            watch.broken = true;
            m_ctx->Finding(QStringLiteral("UDP page display: good peer %1's line \"%2\" is not datagram %3 nor %4")
                               .arg(peer).arg(QString::fromLatin1(line.left(60))).arg(watch.last).arg(watch.last + 1));
        }
    }
}

// ---- the end ----

void Runner::ForgetWebConnections()
{
    for (QNetworkAccessManager *manager : m_dlg->findChildren<QNetworkAccessManager *>())
        manager->clearConnectionCache();
    QApplication::processEvents();
}

void Runner::FinalUserSteps()
{
    // Timed sending off, both servers stopped, the client disconnected; each after the
    // boxes of the one before are answered.
    auto noBox = [] { return WaitUntil([] { return !QApplication::activeModalWidget(); }, 10000); };
    auto untick = [&](QAbstractButton *box) {
        noBox();
        if (box && box->isChecked())
            Click(box);
    };
    ShowTab(kTcpTab);
    untick(TcpItem<QCheckBox>(kTcpIds.timedSend));
    noBox();
    Click(TcpItem<QPushButton>(kTcpIds.stop));
    ShowTab(kUdpTab);
    untick(UdpItem<QCheckBox>(kUdpIds.timedSend));
    noBox();
    Click(UdpItem<QPushButton>(kUdpIds.stop));
    ShowTab(kClientTab);
    untick(ClientItem<QCheckBox>(ClientId::kTimedSend));
    noBox();
    Click(ClientItem<QPushButton>(ClientId::kDisconnect));
    noBox();
    RunEventsFor(300);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

void Runner::CheckGoodPeers(Result &result)
{
    QStringList tcpProblems;
    long tcpBlocks = 0;
    for (size_t i = 0; i < m_goodTcp.size(); ++i) {
        const GoodPeer &peer = *m_goodTcp[i];
        const TcpWatch &watch = m_tcpWatch[i];
        tcpBlocks += peer.echoed;
        if (peer.failed)
            tcpProblems << QStringLiteral("peer %1 failed").arg(i);
        if (peer.echoed != peer.sent)
            tcpProblems << QStringLiteral("peer %1 sent %2 blocks, got %3 echoes").arg(i).arg(peer.sent).arg(peer.echoed);
        if (watch.broken || watch.number != peer.sent || watch.offset != 0)
            tcpProblems << QStringLiteral("peer %1: display shows %2 blocks and %3 bytes of %4 sent%5")
                               .arg(i).arg(watch.number).arg(watch.offset).arg(peer.sent)
                               .arg(watch.broken ? QStringLiteral(", out of order") : QString());
        if (peer.echoed < 10)
            tcpProblems << QStringLiteral("peer %1 got only %2 blocks through").arg(i).arg(peer.echoed);
    }
    result.checks.push_back({QStringLiteral("TCP good peers"), tcpProblems.isEmpty(),
                             tcpProblems.isEmpty()
                                 ? QStringLiteral("%1 peers, %2 blocks echoed whole and in order, each shown in the"
                                                  " display (%3 lines)").arg(m_goodTcp.size()).arg(tcpBlocks).arg(m_goodLinesTcp)
                                 : tcpProblems.join(QStringLiteral("; "))});

    QStringList udpProblems;
    long udpDatagrams = 0;
    long retransmits = 0;
    long repeated = 0;
    for (size_t i = 0; i < m_goodUdp.size(); ++i) {
        const GoodPeer &peer = *m_goodUdp[i];
        const UdpWatch &watch = m_udpWatch[i];
        udpDatagrams += peer.echoed;
        retransmits += peer.retransmits;
        repeated += watch.repeated;
        if (peer.failed)
            udpProblems << QStringLiteral("peer %1 failed").arg(i);
        if (peer.echoed != peer.sent)
            udpProblems << QStringLiteral("peer %1 sent %2 datagrams, got %3 echoes").arg(i).arg(peer.sent).arg(peer.echoed);
        if (watch.broken || watch.last + 1 != peer.sent)
            udpProblems << QStringLiteral("peer %1: display shows up to datagram %2 of %3%4")
                               .arg(i).arg(watch.last).arg(peer.sent)
                               .arg(watch.broken ? QStringLiteral(", out of order") : QString());
        if (peer.echoed < 10)
            udpProblems << QStringLiteral("peer %1 got only %2 datagrams through").arg(i).arg(peer.echoed);
    }
    result.checks.push_back(
        {QStringLiteral("UDP good peers"), udpProblems.isEmpty(),
         udpProblems.isEmpty()
             ? QStringLiteral("%1 peers, %2 datagrams echoed whole and in order, each shown in the display (%3 lines,"
                              " %4 shown twice after %5 sent again)")
                   .arg(m_goodUdp.size()).arg(udpDatagrams).arg(m_goodLinesUdp).arg(repeated).arg(retransmits)
             : udpProblems.join(QStringLiteral("; "))});
}

Result Runner::Execute()
{
    Result result;
    result.seed = m_options.seed;
    const QString previousDir = QDir::currentPath();
    HostEntry *previousHost = g_pHostEntry;
    const QNetworkProxy previousProxy = QNetworkProxy::applicationProxy();
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    HostEntry host{QStringLiteral("chaos"), {QStringLiteral("127.0.0.1")}};
    g_pHostEntry = &host;
    g_bTcpTrafficLog = g_bUdpTrafficLog = g_bClientTrafficLog = g_bSystemLogFile = 0;

    auto restore = [&] {
        CloseWindow();
        m_lateCheck.stop();
        m_boxes.reset();
        g_pHostEntry = previousHost;
        g_bTcpTrafficLog = g_bUdpTrafficLog = g_bClientTrafficLog = g_bSystemLogFile = 0;
        QNetworkProxy::setApplicationProxy(previousProxy);
        QDir::setCurrent(previousDir);
    };

    int descriptorsBefore = 0;
    if (!SetUp(result, descriptorsBefore)) {
        restore();
        return result;
    }

    // A hang is seen from outside the GUI thread too: silent for long, the run ends loudly
    // with its seed rather than waiting for the test's time-out.
    std::atomic<bool> watching{true};
    m_guiThread = ::gettid();
    m_lateClock.start();
    m_lastRunDelayNs = RunDelayNs(m_guiThread);
    m_lateCheck.start();
    const qint64 busyTicksBefore = MachineBusyTicks();
    const qint64 ownTicksBefore = ProcessTicks();
    const qint64 hangMs = 20000LL * m_ctx->slowdown;
    // With VELVANE_CHAOS_TRACE the watchdog also takes the GUI thread's stack once in every
    // stall of over 150 ms (a signal to it), and prints it: where the window was held.
    const bool sampleStalls = qEnvironmentVariableIsSet("VELVANE_CHAOS_TRACE");
    if (sampleStalls)
        StallSampler::Install();
    const pthread_t guiThread = ::pthread_self();
    std::thread watchdog([&] {
        bool sampled = false;
        while (watching) {
            std::this_thread::sleep_for(sampleStalls ? 20ms : 100ms);
            const qint64 silent = m_lateClock.elapsed() - heartbeat;
            if (sampleStalls && silent > 150 && !sampled) {
                sampled = true;
                StallSampler::Sample(guiThread, silent);
            } else if (silent <= 150) {
                sampled = false;
            }
            if (watching && silent > hangMs) {
                std::fprintf(stderr, "chaos: the GUI thread did not run a timer for %lld s: a hang (seed %llu)\n",
                             static_cast<long long>(hangMs / 1000), static_cast<unsigned long long>(m_options.seed));
                std::abort();
            }
        }
    });

    m_start = Clock::now();
    m_end = m_start + std::chrono::seconds(m_options.seconds);
    m_ctx->deadline = m_end;
    m_ctx->hardDeadline = m_end + std::chrono::seconds(120 * m_ctx->slowdown);
    m_nextUserAction = m_start;
    m_nextWindow = m_start + std::chrono::milliseconds(m_options.windowEveryMs / 2);
    // The start is the end of a TCP window: the good peers connect, then the page echoes.
    m_window.step = Window::WaitReconnected;
    m_window.tcp = true;
    m_window.since = m_start;
    if (qEnvironmentVariableIsSet("VELVANE_CHAOS_TRACE"))
        m_tracer = std::make_unique<EventGapTracer>();
    StartThreads();
    m_tick.start();
    WaitUntil(
        [this] {
            const auto now = Clock::now();
            if (!m_midTaken && now - m_start >= (m_end - m_start) / 2) {
                m_midTaken = true;
                m_rssMid = ResidentBytes();
                m_heapMid = HeapInUse();
                m_listBytesMid = ListBytes(m_tcp->DataList()) + ListBytes(m_udp->DataList())
                                 + ListBytes(m_client->DataList()) + ListBytes(g_pSystemLogList);
                m_listLinesMid = m_tcp->DataList()->GetCount() + m_udp->DataList()->GetCount()
                                 + m_client->DataList()->GetCount() + g_pSystemLogList->GetCount();
            }
            return now >= m_end;
        },
        m_options.seconds * 1000 + 5000);
    m_userStopped = true;
    const bool goodEnded = EndGoodPeers();
    const auto trafficEnd = Clock::now();
    const long rssEnd = ResidentBytes();
    const qint64 heapEnd = HeapInUse();
    const qint64 listBytesEnd = ListBytes(m_tcp->DataList()) + ListBytes(m_udp->DataList())
                                + ListBytes(m_client->DataList()) + ListBytes(g_pSystemLogList);
    const int linesEnd = m_tcp->DataList()->GetCount() + m_udp->DataList()->GetCount() + m_client->DataList()->GetCount()
                         + g_pSystemLogList->GetCount();
    const int udpPeersListed = m_udp->PeerList()->GetCount();
    // What the pages counted themselves, clearing aside ("计数清零" leaves the totals).
    QStringList pageCounts;
    for (const auto &[name, page] : {std::pair<const char *, QObject *>{"TCP", m_tcp}, {"UDP", m_udp}, {"client", m_client}}) {
        if (const auto *boxes = page->findChild<CounterBoxes *>(); const TrafficCounters *counters = boxes ? &boxes->Counters() : nullptr)
            pageCounts << QStringLiteral("%1 page RX %2, TX %3").arg(QLatin1String(name))
                              .arg(Mb(counters->RxTotal())).arg(Mb(counters->TxTotal()));
    }
    CheckGoodPeers(result);

    // The end comes one of two ways, chosen by the seed: the user stops both servers and
    // disconnects, the descriptors are counted with the window still there; or the window
    // is closed while the pages listen and the misbehaving peers go on, and then its sockets
    // must all be gone. Either way the misbehaving peers keep at it for a second more.
    const bool closeWhileListening = m_random.Chance(0.5);
    if (closeWhileListening) {
        ForgetWebConnections();
        CloseWindow();
    } else {
        FinalUserSteps();
    }
    RunEventsFor(1000);
    const bool threadsEnded = EndThreads() && goodEnded;
    int descriptorsAfter = -1;
    QStringList descriptorTargetsAfter;
    if (m_dlg) {
        ForgetWebConnections();
        descriptorsAfter = OpenDescriptorsSettled();
        descriptorTargetsAfter = DescriptorTargets();
    }
    CloseWindow();
    RunEventsFor(200);
    const int socketsAfter = OpenSockets();
    const double runSeconds = Ms(Clock::now() - m_start) / 1000.0;
    const qint64 othersTicks = (MachineBusyTicks() - busyTicksBefore) - (ProcessTicks() - ownTicksBefore);
    const double othersShare = othersTicks / double(::sysconf(_SC_CLK_TCK)) / (runSeconds * std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN)));
    m_lateCheck.stop();
    watching = false;
    watchdog.join();

    // ---- figures ----
    const Tally &t = m_ctx->tally;
    QStringList &f = result.figures;
    f << QStringLiteral("seed:                     %1 (VELVANE_CHAOS_SEED=%1 repeats its choices)").arg(m_options.seed);
    const ThreadEnd *lastThread = nullptr;
    for (const ThreadEnd &end : m_threadEnds)
        if (!lastThread || end.endedMs > lastThread->endedMs)
            lastThread = &end;
    f << QStringLiteral("traffic time:             %1 s of %2 s asked (%3 s to end the threads, the last %4)")
             .arg(Ms(trafficEnd - m_start) / 1000.0, 0, 'f', 1).arg(m_options.seconds)
             .arg(Ms(trafficEnd - m_end) / 1000.0, 0, 'f', 1)
             .arg(lastThread ? lastThread->name : QStringLiteral("none"));
    long tcpPeers = 0;
    QStringList kinds;
    for (int k = 0; k < Tally::kTcpKinds; ++k) {
        tcpPeers += t.tcpPlayed[k];
        kinds << QStringLiteral("%1 %2").arg(t.tcpPlayed[k].load()).arg(QString::fromLatin1(Tally::kTcpKindNames[k]));
    }
    f << QStringLiteral("bad TCP peers played:     %1: %2").arg(tcpPeers).arg(kinds.join(QStringLiteral(", ")));
    f << QStringLiteral("bad UDP peers played:     %1 source ports, %2 datagrams (%3 empty, %4 over 128 bytes: failed reads)")
             .arg(t.udpPorts.load()).arg(t.udpDatagrams.load()).arg(t.udpEmpty.load()).arg(t.udpOversized.load());
    QStringList serverKinds;
    long serverConnections = 0;
    for (int k = 0; k < Tally::kServerKinds; ++k) {
        serverConnections += t.serverPlayed[k];
        serverKinds << QStringLiteral("%1 %2").arg(t.serverPlayed[k].load()).arg(QString::fromLatin1(Tally::kServerKindNames[k]));
    }
    f << QStringLiteral("client page:              %1 connects clicked; driver's TCP server took %2 (%3); its UDP"
                        " server got %4 datagrams, sent %5")
             .arg(m_clientConnects).arg(serverConnections).arg(serverKinds.join(QStringLiteral(", ")))
             .arg(t.serverDatagramsIn.load()).arg(t.serverDatagramsOut.load());
    long goodTcpConnections = 0;
    long injected = 0;
    for (const auto &peer : m_goodTcp) {
        goodTcpConnections += peer->connections;
        injected += peer->injectedBytes;
    }
    for (const auto &peer : m_goodUdp)
        injected += peer->injectedBytes;
    f << QStringLiteral("connections:              %1 TCP connects by the driver (%2 refused while a page was"
                        " stopped), %3 of them by the good peers")
             .arg(t.tcpConnections.load()).arg(t.tcpRefused.load()).arg(goodTcpConnections);
    f << QStringLiteral("datagrams:                %1 by the bad UDP peers, %2 by the driver's UDP server")
             .arg(t.udpDatagrams.load()).arg(t.serverDatagramsOut.load());
    f << QStringLiteral("bytes moved:              %1 sent and %2 received by the driver's sockets; %3")
             .arg(Mb(t.bytesOut)).arg(Mb(t.bytesIn)).arg(pageCounts.join(QStringLiteral(", ")));
    long userActions = 0;
    QStringList actionTexts;
    for (const auto &[name, count] : m_userActions) {
        userActions += count;
        actionTexts << QStringLiteral("%1 %2").arg(count).arg(name);
    }
    f << QStringLiteral("faults injected:          %1 resets, %2 oversized and %3 empty datagrams, %4 never-reading"
                        " peers, %5 windows (Stop/Listen, reply toggles), %6 log files deleted while recording")
             .arg(t.tcpResets.load()).arg(t.udpOversized.load()).arg(t.udpEmpty.load())
             .arg(t.tcpPlayed[Tally::NeverRead].load()).arg(m_windows).arg(t.logFilesDeleted.load());
    f << QStringLiteral("user actions:             %1: %2").arg(userActions).arg(actionTexts.join(QStringLiteral(", ")));
    QStringList boxTexts;
    for (const auto &[text, count] : m_boxes->ByText())
        boxTexts << QStringLiteral("%1 \"%2\"").arg(count).arg(text);
    f << QStringLiteral("boxes answered:           %1 (%2); log question %3 Yes, %4 No; %5 left open up to 0.8 s;"
                        " at most %6 open at once, %7 of one text")
             .arg(m_boxes->answerer.Count()).arg(boxTexts.join(QStringLiteral(", "))).arg(m_boxes->logYes)
             .arg(m_boxes->logNo).arg(m_boxes->heldLong).arg(m_boxes->MaxOpen()).arg(m_boxes->MaxOpenOfOneText());
    long goodBlocks = 0;
    long goodDatagrams = 0;
    for (const auto &peer : m_goodTcp)
        goodBlocks += peer->echoed;
    for (const auto &peer : m_goodUdp)
        goodDatagrams += peer->echoed;
    f << QStringLiteral("good peers:               %1 TCP blocks and %2 UDP datagrams echoed; %3 bytes the pages sent"
                        " of their own (timed sending, Send) told apart from the echoes")
             .arg(goodBlocks).arg(goodDatagrams).arg(injected);
    f << QStringLiteral("late GUI timer ticks:     %1 over 100 ms while the window was open%2").arg(m_lateTickCount)
             .arg(LateTicksText());
    f << QStringLiteral("end:                      %1").arg(closeWhileListening ? QStringLiteral("the window closed while listening, the misbehaving peers going on") : QStringLiteral("Stop, Stop, Disconnect, then the window closed"));
    f << QStringLiteral("lists at the end:         %1 lines, %2 of line text; %3 UDP peers listed")
             .arg(linesEnd).arg(Mb(listBytesEnd)).arg(udpPeersListed);

    // ---- checks ----
    const QStringList findings = m_ctx->Findings();
    result.findings = findings;
    result.checks.insert(result.checks.begin(),
                         {QStringLiteral("no crash"), true, QStringLiteral("the run came to its end")});
    // A 10 ms timer of the GUI thread, checked from the start of the traffic until the window
    // is gone. Its lateness counts less the time the thread waited, runnable, for a CPU held by
    // others (the kernel's schedstat): other programs on the machine, or the good peers (the
    // flooding peers run at SCHED_IDLE and take next to nothing from it).
    result.checks.push_back({QStringLiteral("no hang"), m_worstOwnLateMs <= m_options.latenessBoundMs,
                             QStringLiteral("worst GUI timer lateness %1 ms of the program's own (bound %2 ms%3); worst"
                                            " on the clock %4 ms, of it %5 ms waiting for a CPU; other programs used"
                                            " %6 % of the machine meanwhile")
                                 .arg(m_worstOwnLateMs, 0, 'f', 1).arg(m_options.latenessBoundMs)
                                 .arg(SanitizerBuild() ? QStringLiteral(", relaxed for the sanitizer build") : QString())
                                 .arg(m_worstWallLateMs, 0, 'f', 1).arg(m_worstWallWaitedMs, 0, 'f', 1)
                                 .arg(othersShare * 100, 0, 'f', 0)});
    result.checks.push_back({QStringLiteral("threads ended"), threadsEnded,
                             QStringLiteral("every driver thread ended within %1 s of the end").arg(30 * m_ctx->slowdown)});
    if (closeWhileListening)
        result.checks.push_back({QStringLiteral("descriptors"), socketsAfter == m_socketsBefore,
                                 QStringLiteral("window closed while listening: %1 sockets before the pages listened,"
                                                " %2 once the window was gone and the peers had ended")
                                     .arg(m_socketsBefore).arg(socketsAfter)});
    else
        result.checks.push_back({QStringLiteral("descriptors"), descriptorsAfter == descriptorsBefore && socketsAfter == m_socketsBefore,
                                 QStringLiteral("%1 before the pages listened, %2 after Stop and Disconnect%3; %4 sockets"
                                                " before, %5 once the window was gone")
                                     .arg(descriptorsBefore).arg(descriptorsAfter)
                                     .arg(descriptorsAfter == descriptorsBefore
                                              ? QString()
                                              : DescriptorDifference(m_descriptorsBefore, descriptorTargetsAfter))
                                     .arg(m_socketsBefore).arg(socketsAfter)});

    // The memory bound. Every list keeps its newest 100,000 lines. The longest line a TCP
    // page shows is a 256-byte read in hex, "127.0.0.1:65535 " + 3 x 256 + CR LF = 786
    // bytes (the client page's too); the UDP page's, a 128-byte datagram in hex, 402; the
    // system log's stay under 100. A line costs under 128 bytes besides its text (its
    // allocation, the list's slot, its measured width, a filter key). So four full lists hold
    // at most 100,000 x (786 + 786 + 402 + 100 + 4 x 128) = 259 MB. Add the queues to the
    // never-reading peers (1 MiB and a block each, three per bad player), the UDP page's peer
    // list (at most 65,536 ports at 128 bytes), and 64 MB for the allocator and Qt's caches.
    const qint64 listCeiling = 100000LL * (786 + 786 + 402 + 100 + 4 * 128);
    const qint64 queueCeiling = 3LL * m_options.badTcpPlayers * (1024 * 1024 + 256);
    const qint64 ceiling = m_rssBase + listCeiling + queueCeiling + 65536LL * 128 + 64LL * 1024 * 1024;
    // Between the midpoint and the end, the heap in use (what the allocator handed out and
    // did not get back: what a leak grows) grows by the lists' new lines at most (their text
    // and 128 bytes each), plus 32 MB. The resident size keeps the heap's high-water mark and
    // its fragments too: it may grow by that and 64 MB (under the sanitizer another 256 MB
    // for its quarantine of freed memory, and no absolute ceiling).
    const qint64 listGrowth = std::max<qint64>(0, listBytesEnd - m_listBytesMid)
                              + std::max<qint64>(0, linesEnd - m_listLinesMid) * 128;
    const qint64 heapAllowance = listGrowth + 32LL * 1024 * 1024;
    const qint64 rssAllowance = listGrowth + 64LL * 1024 * 1024 + (SanitizerBuild() ? 256LL * 1024 * 1024 : 0);
    const bool sanitized = SanitizerBuild();
    const bool memoryOk = (sanitized || rssEnd <= ceiling) && heapEnd - m_heapMid <= heapAllowance
                          && rssEnd - m_rssMid <= rssAllowance;
    result.checks.push_back({QStringLiteral("memory"), memoryOk,
                             QStringLiteral("resident %1 at the start, %2 at the midpoint, %3 at the end (ceiling %4%5;"
                                            " growth after the midpoint %6, allowed %7); heap in use %8 at the midpoint,"
                                            " %9 at the end (growth allowed %10 for %11 of new list lines)")
                                 .arg(Mb(m_rssBase)).arg(Mb(m_rssMid)).arg(Mb(rssEnd)).arg(Mb(ceiling))
                                 .arg(sanitized ? QStringLiteral(", not applied under the sanitizer") : QString())
                                 .arg(Mb(rssEnd - m_rssMid)).arg(Mb(rssAllowance)).arg(Mb(m_heapMid)).arg(Mb(heapEnd))
                                 .arg(Mb(heapAllowance)).arg(Mb(listGrowth))});
    // Each source of boxes (a page's receive path, its Send, its timed sending, Connect,
    // Listen) shows one at a time: a pile is more boxes at once than there are sources, or
    // two "接收数据失败！" at once, whose source is the UDP page's receive path alone.
    QStringList twice;
    for (const auto &[text, most] : m_boxes->answerer.Tallied().maxOpenByText)
        if (most > 1)
            twice << QStringLiteral("\"%1\" %2").arg(text).arg(most);
    const int failedReadBoxes = m_boxes->MaxOpenOf(QStringLiteral("接收数据失败！"));
    result.checks.push_back({QStringLiteral("boxes"), failedReadBoxes <= 1 && m_boxes->MaxOpen() <= 8 && m_boxes->otherModals == 0,
                             QStringLiteral("at most %1 \"接收数据失败！\" open at once (bound 1), %2 boxes in all (bound 8)%3")
                                 .arg(failedReadBoxes).arg(m_boxes->MaxOpen())
                                 .arg(twice.isEmpty() ? QString() : QStringLiteral("; of one text at once: ") + twice.join(QStringLiteral(", ")))});
    result.checks.push_back({QStringLiteral("findings"), findings.isEmpty(),
                             findings.isEmpty() ? QStringLiteral("none") : QStringLiteral("%1 (listed below)").arg(findings.size())});

    restore();
    return result;
}

} // namespace

bool SanitizerBuild()
{
#if defined(CHAOS_ASAN)
    return true;
#else
    return false;
#endif
}

Options Options::ForSeconds(int seconds)
{
    Options options;
    options.seconds = seconds;
    const QByteArray seed = qgetenv("VELVANE_CHAOS_SEED");
    options.seed = seed.isEmpty() ? std::random_device{}() * 0x100000000ull + std::random_device{}() : seed.toULongLong();
    // Short runs get their windows sooner, so that each page sees at least two.
    options.windowEveryMs = std::clamp(seconds * 1000 / 5, 3000, 12000);
    // A short run deletes the logs sooner, so that it meets a log that goes while recording.
    if (seconds < 120)
        options.logFilesCap = 4LL * 1024 * 1024;
    if (SanitizerBuild()) {
        options.slowdown = 3;
        options.latenessBoundMs = 1000;
    }
    return options;
}

bool Result::Ok() const
{
    return std::all_of(checks.begin(), checks.end(), [](const Check &check) { return check.ok; });
}

Result Run(const Options &options)
{
    Runner runner(options);
    return runner.Execute();
}

void Print(const Result &result)
{
    for (const QString &line : result.figures)
        std::printf("%s\n", qPrintable(line));
    for (const Check &check : result.checks)
        std::printf("%-26s%s: %s\n", qPrintable(check.name + QLatin1Char(':')), check.ok ? "OK" : "FAIL",
                    qPrintable(check.detail));
    for (const QString &finding : result.findings)
        std::printf("  finding: %s\n", qPrintable(finding));
    std::printf("verdict:                  %s (seed %llu)\n", result.Ok() ? "OK" : "FAIL",
                static_cast<unsigned long long>(result.seed));
    std::fflush(stdout);
}

} // namespace Chaos
