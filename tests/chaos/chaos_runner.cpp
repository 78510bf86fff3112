#include "chaos_runner.h"

#include <QApplication>
#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include "chaos_peers.h"
#include "chaos_probes.h"
#include "pages/client/client_page.h"
#include "pages/log/log_page.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "pages/traffic_area/counter_boxes.h"
#include "pages/udp_server/udp_server_page.h"
#include "platform/host_addresses.h"
#include "platform/network_startup.h"
#include "shell/main_dlg.h"
#include "support/event_wait.h"
#include "support/loopback_sockets.h"
#include "support/process_counts.h"
#include "traffic/clock_text.h"
#include "traffic/system_log.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/display_list/line_list_box.h"

namespace Chaos {

namespace {

GoodPeers MakeGoodPeers(int count, bool udp)
{
    GoodPeers peers;
    for (int i = 0; i < std::min(count, PortPlan::kMaxGoodPeers); ++i) {
        peers.push_back(std::make_unique<GoodPeer>());
        peers.back()->index = i;
        peers.back()->udp = udp;
    }
    return peers;
}

void ClearLogFlags()
{
    g_bTcpTrafficLog = g_bUdpTrafficLog = g_bClientTrafficLog = g_bSystemLogFile = 0;
}

// The process as a run finds it, back when the run ends: its current directory (the run has
// a temporary one), the host entry (127.0.0.1 only), the network proxy and no log files.
class RunEnvironment
{
public:
    RunEnvironment()
        : m_previousDir(QDir::currentPath())
        , m_previousHost(g_pHostEntry)
        , m_previousProxy(QNetworkProxy::applicationProxy())
        , m_host{QStringLiteral("chaos"), {QStringLiteral("127.0.0.1")}, {}}
    {
        QDir::setCurrent(m_dir.path());
        g_pHostEntry = &m_host;
        ClearLogFlags();
    }
    ~RunEnvironment()
    {
        g_pHostEntry = m_previousHost;
        ClearLogFlags();
        QNetworkProxy::setApplicationProxy(m_previousProxy);
        QDir::setCurrent(m_previousDir);
    }
    RunEnvironment(const RunEnvironment &) = delete;
    RunEnvironment &operator=(const RunEnvironment &) = delete;

private:
    QString m_previousDir;
    HostEntry *m_previousHost;
    QNetworkProxy m_previousProxy;
    QTemporaryDir m_dir;
    HostEntry m_host;
};

}  // namespace

Runner::Runner(const Options &options)
    : m_options(options)
    , m_ctx(std::make_unique<Context>())
    , m_random(options.seed, 1)
    , m_goodTcp(MakeGoodPeers(options.goodTcpPeers, false))
    , m_goodUdp(MakeGoodPeers(options.goodUdpPeers, true))
    , m_display(*m_ctx, m_goodTcp, m_goodUdp)
    , m_lateness([this] { return Situation(); })
{
    m_ctx->seed = options.seed;
    m_ctx->slowdown = std::max(1, options.slowdown);
}

Runner::~Runner() = default;

Result Runner::Execute()
{
    Result result;
    result.seed = m_options.seed;
    const RunEnvironment environment;
    if (SetUp(result)) {
        // A hang is seen from outside the GUI thread too (see LatenessWatch).
        m_lateness.Start(20000LL * m_ctx->slowdown, m_options.seed);
        m_measures.busyTicksBefore = MachineBusyTicks();
        m_measures.ownTicksBefore = ProcessTicks();
        RunTraffic();
        m_user->StopActing();
        const bool goodEnded = EndGoodPeers();
        MeasureTrafficEnd();
        m_display.AddChecks(result);
        EndRun(goodEnded);
        m_lateness.Stop();
        AddFigures(result);
        AddChecks(result);
    }
    CloseWindow();
    m_lateness.StopTimer();
    m_boxes.reset();
    return result;
}

bool Runner::SetUp(Result &result)
{
    StartNetwork();
    RaiseDescriptorLimit();
    if (!m_ctx->ports.Choose()) {
        result.checks.push_back({QStringLiteral("set-up"), false, QStringLiteral("no free ports for the run")});
        return false;
    }
    // Whatever the program fetches from elsewhere (the maker's page) goes to a loopback port
    // nobody listens on: the run talks to 127.0.0.1 only.
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"),
                                                     static_cast<quint16>(m_ctx->ports.deadTcp)));

    m_boxes = std::make_unique<ChaosBoxes>(m_options.seed, *m_ctx);
    m_dlg = std::make_unique<CMainDlg>();
    m_dlg->Create();
    m_dlg->show();
    m_tcp = m_dlg->TcpServerPage();
    m_udp = m_dlg->UdpServerPage();
    m_client = m_dlg->ClientPage();
    m_user = std::make_unique<RandomUser>(*m_ctx, m_random, *m_dlg, m_goodTcp, m_goodUdp, m_options.windowEveryMs);
    RunEventsFor(500);
    ForgetWebConnections();
    m_measures.descriptorsBefore = OpenDescriptorsSettled();
    m_measures.descriptorTargetsBefore = DescriptorTargets();
    m_measures.socketsBefore = OpenSockets();
    if (qEnvironmentVariableIsSet("VELVANE_CHAOS_TRACE"))
        std::fprintf(stderr, "chaos: descriptors before: %s\n",
                     qPrintable(m_measures.descriptorTargetsBefore.join(QStringLiteral("; "))));
    m_measures.rssBase = ResidentBytes();
    m_display.Watch(m_tcp, m_udp, this);

    if (!m_user->ListenOnBothPages()) {
        result.checks.push_back({QStringLiteral("set-up"), false, QStringLiteral("the server pages did not listen")});
        return false;
    }
    m_driverTcpListener = ListenOn(m_ctx->ports.driverTcp);
    m_driverUdpSocket = UdpSocket(m_ctx->ports.driverUdp);
    return m_driverTcpListener >= 0 && m_driverUdpSocket >= 0;
}

void Runner::StartThread(const QString &name, std::function<void()> body, bool flood)
{
    ++m_threadsRunning;
    ThreadEnd &end = m_threadEnds.emplace_back();
    end.name = name;
    m_threads.emplace_back([this, body = std::move(body), flood, &end] {
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
}

void Runner::StartThreads()
{
    Context &ctx = *m_ctx;
    StartThread(
        QStringLiteral("driver's TCP server"),
        [&ctx, socket = m_driverTcpListener] { RunDriverTcpServer(ctx, socket); }, true);
    StartThread(
        QStringLiteral("driver's UDP server"), [&ctx, socket = m_driverUdpSocket] { RunDriverUdpServer(ctx, socket); },
        true);
    for (auto &peer : m_goodTcp)
        StartThread(
            QStringLiteral("TCP good peer %1").arg(peer->index), [&ctx, p = peer.get()] { RunGoodTcpPeer(ctx, *p); },
            false);
    for (auto &peer : m_goodUdp)
        StartThread(
            QStringLiteral("UDP good peer %1").arg(peer->index), [&ctx, p = peer.get()] { RunGoodUdpPeer(ctx, *p); },
            false);
    for (int i = 0; i < m_options.badTcpPlayers; ++i)
        StartThread(
            QStringLiteral("bad TCP player %1").arg(i), [&ctx, i] { RunBadTcpPlayer(ctx, i); }, true);
    for (int i = 0; i < m_options.badUdpPlayers; ++i)
        StartThread(
            QStringLiteral("bad UDP player %1").arg(i), [&ctx, i] { RunBadUdpPlayer(ctx, i); }, true);
    StartThread(
        QStringLiteral("log janitor"),
        [&ctx, dir = QDir::currentPath(), cap = m_options.logFilesCap] { RunLogJanitor(ctx, dir, cap); }, false);
}

void Runner::RunTraffic()
{
    m_start = Clock::now();
    m_end = m_start + std::chrono::seconds(m_options.seconds);
    m_ctx->deadline = m_end;
    m_ctx->hardDeadline = m_end + std::chrono::seconds(120 * m_ctx->slowdown);
    m_lateness.StartTracing();
    StartThreads();
    m_user->Start(m_start, m_end);
    WaitUntil(
        [this] {
            const auto now = Clock::now();
            if (!m_measures.midTaken && now - m_start >= (m_end - m_start) / 2) {
                m_measures.midTaken = true;
                m_measures.rssMid = ResidentBytes();
                m_measures.heapMid = HeapInUse();
                m_measures.listBytesMid = AllListBytes();
                m_measures.listLinesMid = AllListLines();
            }
            return now >= m_end;
        },
        m_options.seconds * 1000 + 5000);
}

qint64 Runner::AllListBytes() const
{
    return ListBytes(m_tcp->DataList()) + ListBytes(m_udp->DataList()) + ListBytes(m_client->DataList())
           + ListBytes(g_pSystemLogList);
}

int Runner::AllListLines() const
{
    return m_tcp->DataList()->GetCount() + m_udp->DataList()->GetCount() + m_client->DataList()->GetCount()
           + g_pSystemLogList->GetCount();
}

void Runner::MeasureTrafficEnd()
{
    Measures &m = m_measures;
    m.trafficEnd = Clock::now();
    m.rssEnd = ResidentBytes();
    m.heapEnd = HeapInUse();
    m.listBytesEnd = AllListBytes();
    m.linesEnd = AllListLines();
    m.udpPeersListed = m_udp->PeerList()->GetCount();
    // What the pages counted themselves, clearing aside ("计数清零" leaves the totals).
    for (const auto &[name, page] :
         {std::pair<const char *, QObject *>{"TCP", m_tcp}, {"UDP", m_udp}, {"client", m_client}}) {
        if (const auto *boxes = page->findChild<CounterBoxes *>();
            const TrafficCounters *counters = boxes ? &boxes->Counters() : nullptr)
            m.pageCounts << QStringLiteral("%1 page RX %2, TX %3")
                                .arg(QLatin1String(name))
                                .arg(Mb(counters->RxTotal()))
                                .arg(Mb(counters->TxTotal()));
    }
}

// The user stops both servers and disconnects, the descriptors are counted with the window
// still there; or the window is closed while the pages listen and the misbehaving peers go
// on, and then its sockets must all be gone. Either way the misbehaving peers keep at it for
// a second more.
void Runner::EndRun(bool goodEnded)
{
    Measures &m = m_measures;
    m.closeWhileListening = m_random.Chance(0.5);
    if (m.closeWhileListening) {
        ForgetWebConnections();
        CloseWindow();
    } else {
        m_user->FinalSteps();
    }
    RunEventsFor(1000);
    m.threadsEnded = EndThreads() && goodEnded;
    if (m_dlg) {
        ForgetWebConnections();
        m.descriptorsAfter = OpenDescriptorsSettled();
        m.descriptorTargetsAfter = DescriptorTargets();
    }
    CloseWindow();
    RunEventsFor(200);
    m.socketsAfter = OpenSockets();
    const double runSeconds = Ms(Clock::now() - m_start) / 1000.0;
    const qint64 othersTicks = (MachineBusyTicks() - m.busyTicksBefore) - (ProcessTicks() - m.ownTicksBefore);
    m.othersShare = othersTicks / double(::sysconf(_SC_CLK_TCK))
                    / (runSeconds * std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN)));
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
                           .arg(m_threadsRunning.load())
                           .arg(30 * m_ctx->slowdown));
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
    if (m_user)
        m_user->StopTicking();
    m_lateness.StopTracing();
    m_tcp = nullptr;
    m_udp = nullptr;
    m_client = nullptr;
    m_dlg.reset();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

void Runner::ForgetWebConnections()
{
    for (QNetworkAccessManager *manager : m_dlg->findChildren<QNetworkAccessManager *>())
        manager->clearConnectionCache();
    QApplication::processEvents();
}

std::optional<QString> Runner::Situation() const
{
    if (!m_tcp)
        return std::nullopt;
    return QStringLiteral("last user action: %1; %2 boxes open; TCP/UDP/client lines %3/%4/%5")
        .arg(QString::fromLatin1(m_user->LastAction()))
        .arg(m_boxes ? m_boxes->answerer.OpenBoxes() : 0)
        .arg(m_tcp->DataList()->GetCount())
        .arg(m_udp->DataList()->GetCount())
        .arg(m_client->DataList()->GetCount());
}

}  // namespace Chaos
