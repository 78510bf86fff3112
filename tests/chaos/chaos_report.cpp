// The chaos run's report: its figures, as printed, and its checks.
#include <QStringList>

#include <algorithm>

#include "chaos_probes.h"
#include "chaos_runner.h"

namespace Chaos {

void Runner::AddFigures(Result &result) const
{
    const Measures &m = m_measures;
    QStringList &f = result.figures;
    f << QStringLiteral("seed:                     %1 (VELVANE_CHAOS_SEED=%1 repeats its choices)").arg(m_options.seed);
    const ThreadEnd *lastThread = nullptr;
    for (const ThreadEnd &end : m_threadEnds)
        if (!lastThread || end.endedMs > lastThread->endedMs)
            lastThread = &end;
    f << QStringLiteral("traffic time:             %1 s of %2 s asked (%3 s to end the threads, the last %4)")
             .arg(Ms(m.trafficEnd - m_start) / 1000.0, 0, 'f', 1)
             .arg(m_options.seconds)
             .arg(Ms(m.trafficEnd - m_end) / 1000.0, 0, 'f', 1)
             .arg(lastThread ? lastThread->name : QStringLiteral("none"));
    AddPeerFigures(f);
    AddUserFigures(f);
    f << QStringLiteral("late GUI timer ticks:     %1 over 100 ms while the window was open%2")
             .arg(m_lateness.LateTickCount())
             .arg(m_lateness.LateTicksText());
    f << QStringLiteral("end:                      %1")
             .arg(m.closeWhileListening
                      ? QStringLiteral("the window closed while listening, the misbehaving peers going on")
                      : QStringLiteral("Stop, Stop, Disconnect, then the window closed"));
    f << QStringLiteral("lists at the end:         %1 lines, %2 of line text; %3 UDP peers listed")
             .arg(m.linesEnd)
             .arg(Mb(m.listBytesEnd))
             .arg(m.udpPeersListed);
}

// What the peers and the driver's servers did.
void Runner::AddPeerFigures(QStringList &f) const
{
    const Measures &m = m_measures;
    const Tally &t = m_ctx->tally;
    long tcpPeers = 0;
    QStringList kinds;
    for (int k = 0; k < Tally::kTcpKinds; ++k) {
        tcpPeers += t.tcpPlayed[k];
        kinds << QStringLiteral("%1 %2").arg(t.tcpPlayed[k].load()).arg(QString::fromLatin1(Tally::kTcpKindNames[k]));
    }
    f << QStringLiteral("bad TCP peers played:     %1: %2").arg(tcpPeers).arg(kinds.join(QStringLiteral(", ")));
    f << QStringLiteral(
             "bad UDP peers played:     %1 source ports, %2 datagrams (%3 empty, %4 over 128 bytes: failed reads)")
             .arg(t.udpPorts.load())
             .arg(t.udpDatagrams.load())
             .arg(t.udpEmpty.load())
             .arg(t.udpOversized.load());
    QStringList serverKinds;
    long serverConnections = 0;
    for (int k = 0; k < Tally::kServerKinds; ++k) {
        serverConnections += t.serverPlayed[k];
        serverKinds << QStringLiteral("%1 %2")
                           .arg(t.serverPlayed[k].load())
                           .arg(QString::fromLatin1(Tally::kServerKindNames[k]));
    }
    f << QStringLiteral("client page:              %1 connects clicked; driver's TCP server took %2 (%3); its UDP"
                        " server got %4 datagrams, sent %5")
             .arg(m_user->ClientConnects())
             .arg(serverConnections)
             .arg(serverKinds.join(QStringLiteral(", ")))
             .arg(t.serverDatagramsIn.load())
             .arg(t.serverDatagramsOut.load());
    long goodTcpConnections = 0;
    for (const auto &peer : m_goodTcp)
        goodTcpConnections += peer->connections;
    f << QStringLiteral("connections:              %1 TCP connects by the driver (%2 refused while a page was"
                        " stopped), %3 of them by the good peers")
             .arg(t.tcpConnections.load())
             .arg(t.tcpRefused.load())
             .arg(goodTcpConnections);
    f << QStringLiteral("datagrams:                %1 by the bad UDP peers, %2 by the driver's UDP server")
             .arg(t.udpDatagrams.load())
             .arg(t.serverDatagramsOut.load());
    f << QStringLiteral("bytes moved:              %1 sent and %2 received by the driver's sockets; %3")
             .arg(Mb(t.bytesOut))
             .arg(Mb(t.bytesIn))
             .arg(m.pageCounts.join(QStringLiteral(", ")));
}

// What the user did, the boxes it answered and what the good peers got through.
void Runner::AddUserFigures(QStringList &f) const
{
    const Tally &t = m_ctx->tally;
    long userActions = 0;
    QStringList actionTexts;
    for (const auto &[name, count] : m_user->Actions()) {
        userActions += count;
        actionTexts << QStringLiteral("%1 %2").arg(count).arg(name);
    }
    f << QStringLiteral("faults injected:          %1 resets, %2 oversized and %3 empty datagrams, %4 never-reading"
                        " peers, %5 windows (Stop/Listen, reply toggles), %6 log files deleted while recording")
             .arg(t.tcpResets.load())
             .arg(t.udpOversized.load())
             .arg(t.udpEmpty.load())
             .arg(t.tcpPlayed[Tally::NeverRead].load())
             .arg(m_user->Windows())
             .arg(t.logFilesDeleted.load());
    f << QStringLiteral("user actions:             %1: %2")
             .arg(userActions)
             .arg(actionTexts.join(QStringLiteral(", ")));
    QStringList boxTexts;
    for (const auto &[text, count] : m_boxes->ByText())
        boxTexts << QStringLiteral("%1 \"%2\"").arg(count).arg(text);
    f << QStringLiteral("boxes answered:           %1 (%2); log question %3 Yes, %4 No; %5 left open up to 0.8 s;"
                        " at most %6 open at once, %7 of one text")
             .arg(m_boxes->answerer.Count())
             .arg(boxTexts.join(QStringLiteral(", ")))
             .arg(m_boxes->logYes)
             .arg(m_boxes->logNo)
             .arg(m_boxes->heldLong)
             .arg(m_boxes->MaxOpen())
             .arg(m_boxes->MaxOpenOfOneText());
    long goodBlocks = 0;
    long goodDatagrams = 0;
    long injected = 0;
    for (const auto &peer : m_goodTcp) {
        goodBlocks += peer->echoed;
        injected += peer->injectedBytes;
    }
    for (const auto &peer : m_goodUdp) {
        goodDatagrams += peer->echoed;
        injected += peer->injectedBytes;
    }
    f << QStringLiteral("good peers:               %1 TCP blocks and %2 UDP datagrams echoed; %3 bytes the pages sent"
                        " of their own (timed sending, Send) told apart from the echoes")
             .arg(goodBlocks)
             .arg(goodDatagrams)
             .arg(injected);
}

void Runner::AddChecks(Result &result) const
{
    const Measures &m = m_measures;
    const QStringList findings = m_ctx->Findings();
    result.findings = findings;
    result.checks.insert(result.checks.begin(),
                         {QStringLiteral("no crash"), true, QStringLiteral("the run came to its end")});
    result.checks.push_back(HangCheck());
    result.checks.push_back(
        {QStringLiteral("threads ended"), m.threadsEnded,
         QStringLiteral("every driver thread ended within %1 s of the end").arg(30 * m_ctx->slowdown)});
    result.checks.push_back(DescriptorCheck());
    result.checks.push_back(MemoryCheck());
    result.checks.push_back(BoxesCheck());
    result.checks.push_back(
        {QStringLiteral("findings"), findings.isEmpty(),
         findings.isEmpty() ? QStringLiteral("none") : QStringLiteral("%1 (listed below)").arg(findings.size())});
}

Check Runner::HangCheck() const
{
    const Measures &m = m_measures;
    // A 10 ms timer of the GUI thread, checked from the start of the traffic until the window
    // is gone. Its lateness counts less the time the thread waited, runnable, for a CPU held by
    // others (the kernel's schedstat): other programs on the machine, or the good peers (the
    // flooding peers run at SCHED_IDLE and take next to nothing from it).
    return {QStringLiteral("no hang"), m_lateness.WorstOwnLateMs() <= m_options.latenessBoundMs,
            QStringLiteral("worst GUI timer lateness %1 ms of the program's own (bound %2 ms%3); worst"
                           " on the clock %4 ms, of it %5 ms waiting for a CPU; other programs used"
                           " %6 % of the machine meanwhile")
                .arg(m_lateness.WorstOwnLateMs(), 0, 'f', 1)
                .arg(m_options.latenessBoundMs)
                .arg(SanitizerBuild() ? QStringLiteral(", relaxed for the sanitizer build") : QString())
                .arg(m_lateness.WorstWallLateMs(), 0, 'f', 1)
                .arg(m_lateness.WorstWallWaitedMs(), 0, 'f', 1)
                .arg(m.othersShare * 100, 0, 'f', 0)};
}

Check Runner::DescriptorCheck() const
{
    const Measures &m = m_measures;
    if (m.closeWhileListening)
        return {QStringLiteral("descriptors"), m.socketsAfter == m.socketsBefore,
                QStringLiteral("window closed while listening: %1 sockets before the pages listened,"
                               " %2 once the window was gone and the peers had ended")
                    .arg(m.socketsBefore)
                    .arg(m.socketsAfter)};
    return {QStringLiteral("descriptors"),
            m.descriptorsAfter == m.descriptorsBefore && m.socketsAfter == m.socketsBefore,
            QStringLiteral("%1 before the pages listened, %2 after Stop and Disconnect%3; %4 sockets"
                           " before, %5 once the window was gone")
                .arg(m.descriptorsBefore)
                .arg(m.descriptorsAfter)
                .arg(m.descriptorsAfter == m.descriptorsBefore
                         ? QString()
                         : DescriptorDifference(m.descriptorTargetsBefore, m.descriptorTargetsAfter))
                .arg(m.socketsBefore)
                .arg(m.socketsAfter)};
}

Check Runner::MemoryCheck() const
{
    const Measures &m = m_measures;
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
    const qint64 ceiling = m.rssBase + listCeiling + queueCeiling + 65536LL * 128 + 64LL * 1024 * 1024;
    // Between the midpoint and the end, the heap in use (what the allocator handed out and
    // did not get back: what a leak grows) grows by the lists' new lines at most (their text
    // and 128 bytes each), plus 32 MB. The resident size keeps the heap's high-water mark and
    // its fragments too: it may grow by that and 64 MB (under the sanitizer another 256 MB
    // for its quarantine of freed memory, and no absolute ceiling).
    const qint64 listGrowth = std::max<qint64>(0, m.listBytesEnd - m.listBytesMid)
                              + std::max<qint64>(0, m.linesEnd - m.listLinesMid) * 128;
    const qint64 heapAllowance = listGrowth + 32LL * 1024 * 1024;
    const qint64 rssAllowance = listGrowth + 64LL * 1024 * 1024 + (SanitizerBuild() ? 256LL * 1024 * 1024 : 0);
    const bool sanitized = SanitizerBuild();
    const bool memoryOk = (sanitized || m.rssEnd <= ceiling) && m.heapEnd - m.heapMid <= heapAllowance
                          && m.rssEnd - m.rssMid <= rssAllowance;
    return {QStringLiteral("memory"), memoryOk,
            QStringLiteral("resident %1 at the start, %2 at the midpoint, %3 at the end (ceiling %4%5;"
                           " growth after the midpoint %6, allowed %7); heap in use %8 at the midpoint,"
                           " %9 at the end (growth allowed %10 for %11 of new list lines)")
                .arg(Mb(m.rssBase))
                .arg(Mb(m.rssMid))
                .arg(Mb(m.rssEnd))
                .arg(Mb(ceiling))
                .arg(sanitized ? QStringLiteral(", not applied under the sanitizer") : QString())
                .arg(Mb(m.rssEnd - m.rssMid))
                .arg(Mb(rssAllowance))
                .arg(Mb(m.heapMid))
                .arg(Mb(m.heapEnd))
                .arg(Mb(heapAllowance))
                .arg(Mb(listGrowth))};
}

Check Runner::BoxesCheck() const
{
    // Each source of boxes (a page's receive path, its Send, its timed sending, Connect,
    // Listen) shows one at a time: a pile is more boxes at once than there are sources, or
    // two "接收数据失败！" at once, whose source is the UDP page's receive path alone.
    QStringList twice;
    for (const auto &[text, most] : m_boxes->answerer.Tallied().maxOpenByText)
        if (most > 1)
            twice << QStringLiteral("\"%1\" %2").arg(text).arg(most);
    const int failedReadBoxes = m_boxes->MaxOpenOf(QStringLiteral("接收数据失败！"));
    return {QStringLiteral("boxes"), failedReadBoxes <= 1 && m_boxes->MaxOpen() <= 8 && m_boxes->otherModals == 0,
            QStringLiteral("at most %1 \"接收数据失败！\" open at once (bound 1), %2 boxes in all (bound 8)%3")
                .arg(failedReadBoxes)
                .arg(m_boxes->MaxOpen())
                .arg(twice.isEmpty() ? QString()
                                     : QStringLiteral("; of one text at once: ") + twice.join(QStringLiteral(", ")))};
}

}  // namespace Chaos
