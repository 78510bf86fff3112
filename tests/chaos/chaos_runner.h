#pragma once

// One chaos run (chaos_run.h): sets the window up, starts the peer threads and the user,
// measures along the way, ends it one of two ways and reports its figures and checks
// (chaos_report.cpp).

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "chaos_boxes.h"
#include "chaos_context.h"
#include "chaos_run.h"
#include "display_watch.h"
#include "lateness_watch.h"
#include "random_user.h"

class CClientPage;
class CMainDlg;
class CTcpServerPage;
class CUdpServerPage;

namespace Chaos {

class Runner : public QObject
{
public:
    explicit Runner(const Options &options);
    ~Runner() override;

    Result Execute();

private:
    // What the run measured at its points in time, for the figures and the checks.
    struct Measures
    {
        // Before the pages listened.
        int descriptorsBefore = 0;
        QStringList descriptorTargetsBefore;
        int socketsBefore = 0;
        long rssBase = 0;
        qint64 busyTicksBefore = 0;
        qint64 ownTicksBefore = 0;
        // Halfway.
        bool midTaken = false;
        long rssMid = 0;
        qint64 heapMid = 0;
        qint64 listBytesMid = 0;
        qint64 listLinesMid = 0;
        // When the good peers had ended.
        Clock::time_point trafficEnd;
        long rssEnd = 0;
        qint64 heapEnd = 0;
        qint64 listBytesEnd = 0;
        int linesEnd = 0;
        int udpPeersListed = 0;
        QStringList pageCounts;
        // Once the threads had ended.
        bool closeWhileListening = false;
        bool threadsEnded = false;
        int descriptorsAfter = -1;
        QStringList descriptorTargetsAfter;
        int socketsAfter = 0;
        double othersShare = 0;
    };
    // The threads' names and when each ended, for the figures.
    struct ThreadEnd
    {
        QString name;
        std::atomic<qint64> endedMs{-1};
    };

    // Shows the window; the descriptors and memory are taken before the pages listen.
    bool SetUp(Result &result);
    void StartThreads();
    void StartThread(const QString &name, std::function<void()> body, bool flood);
    // The traffic until the run's time is up, with the midpoint's measures.
    void RunTraffic();
    qint64 AllListBytes() const;
    int AllListLines() const;
    void MeasureTrafficEnd();
    // The end comes one of two ways, chosen by the seed (see the .cpp).
    void EndRun(bool goodEnded);
    // The good peers end first (their last echoes need the pages), then everything else.
    bool EndGoodPeers();
    bool EndThreads();
    // The window goes (as at the end of the program), its pages listening or not.
    void CloseWindow();
    // The web page's fetch leaves a socket in its network manager's connection cache, which
    // the manager closes two minutes later: closed before each count, it does not count.
    void ForgetWebConnections();
    // What the window was doing, for a late tick; nothing once it is gone.
    std::optional<QString> Situation() const;

    // The report (chaos_report.cpp).
    void AddFigures(Result &result) const;
    void AddPeerFigures(QStringList &f) const;
    void AddUserFigures(QStringList &f) const;
    void AddChecks(Result &result) const;
    Check HangCheck() const;
    Check DescriptorCheck() const;
    Check MemoryCheck() const;
    Check BoxesCheck() const;

    Options m_options;
    std::unique_ptr<Context> m_ctx;
    Random m_random;
    GoodPeers m_goodTcp;
    GoodPeers m_goodUdp;
    DisplayWatch m_display;
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
    std::unique_ptr<RandomUser> m_user;
    LatenessWatch m_lateness;

    Clock::time_point m_start;
    Clock::time_point m_end;
    Measures m_measures;
};

}  // namespace Chaos
