#pragma once

// What the threads of a chaos run (chaos_run.h) share with its GUI thread: the seed's random
// numbers, the good peers' stamped blocks, the ports, the windows' phases, each good peer's
// state and the tally of what the peers did, as atomics, and a findings list under a mutex.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <random>

namespace Chaos {

using Clock = std::chrono::steady_clock;

// The run's random numbers: one generator per thread, each seeded from the run's seed and
// the thread's own number, so that a seed replays the same choices (not the same timing).
class Random
{
public:
    explicit Random(quint64 seed, quint64 stream = 0);
    quint64 Next() { return m_engine(); }
    // [0, n)
    int Below(int n) { return n <= 1 ? 0 : static_cast<int>(m_engine() % static_cast<quint64>(n)); }
    // [low, high]
    int Between(int low, int high) { return low + Below(high - low + 1); }
    bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(m_engine) < p; }
    void Fill(char *data, size_t size);

private:
    std::mt19937_64 m_engine;
};

// What the good peers send: stamped blocks whose bytes are all "good bytes" (a-z, 0-9, '-',
// ':'), a pure function of the peer and the block's number, so that the GUI thread can check
// each display line against the block it must come from without keeping what was sent.
// Nothing the pages send on their own (send box texts, data replies) holds a good byte, so a
// good peer tells an echo from a page's own send byte by byte.
namespace Stamp {

inline bool IsGoodByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == ':';
}
// A TCP good peer's block: "g<peer>-<number>:" and filler, 16 to 600 bytes.
QByteArray TcpBlock(int peer, long number);
// A UDP good peer's datagram: "u<peer>-<number>:" and filler, 24 to 128 bytes (what the UDP
// page reads whole).
QByteArray UdpDatagram(int peer, long number);
// The number of the UDP good peer's datagram that data is exactly, -1 when none.
long UdpNumberOf(int peer, QByteArrayView data);

}  // namespace Stamp

// The ports of the run. Good peers bind to ports of their own below the system's ephemeral
// range, so that no other socket ever shows under their address in a page's lists; the pages
// and the driver's servers listen there too, so no ephemeral client can take their port
// while a page is stopped (nor connect to itself there).
struct PortPlan
{
    int tcpPage = 0;
    int udpPage = 0;
    int driverTcp = 0;
    int driverUdp = 0;
    int deadTcp = 0;  // nothing listens there
    int goodBase = 0;
    static constexpr int kPortsPerGoodPeer = 400;
    static constexpr int kMaxGoodPeers = 8;
    // Good peer `peer` of the TCP (udp false) or UDP page: its ports' first and how many.
    int GoodFirst(bool udp, int peer) const
    {
        return goodBase + (udp ? kMaxGoodPeers * kPortsPerGoodPeer : 0) + peer * kPortsPerGoodPeer;
    }
    // The good peer a source port belongs to, -1 when none.
    int GoodPeerOfPort(bool udp, int port) const;

    // Picks free ports; false when the reserved area is not free.
    bool Choose();
};

// A server page's window for the user's Stop/Listen and automatic-reply toggles. The GUI
// thread moves it Running -> Pausing (good peers finish their block, then stand still: TCP
// ones close) -> [the user acts] -> Reconnect (TCP good peers connect, then wait) -> Running.
enum class Phase : int { Running, Pausing, Reconnect };

// What a good peer tells the GUI thread.
enum class PeerState : int { Starting, Running, Paused, Connected, Finished };

struct GoodPeer
{
    int index = 0;
    bool udp = false;
    std::atomic<int> state{static_cast<int>(PeerState::Starting)};
    std::atomic<long> sent{0};    // blocks sent (the next block's number)
    std::atomic<long> echoed{0};  // blocks whose echo came back whole
    std::atomic<int> port{0};     // the source port of its connection now
    std::atomic<long> connections{0};
    std::atomic<long> injectedBytes{0};   // bytes a page sent of its own (timed sending, Send)
    std::atomic<long> retransmits{0};     // UDP: sent again after 250 ms (times the slowdown) without echo
    std::atomic<long> lateDuplicates{0};  // UDP: an echo of an earlier datagram sent twice
    std::atomic<bool> failed{false};

    PeerState State() const { return static_cast<PeerState>(state.load()); }
};

// Everything the threads count, for the figures.
struct Tally
{
    enum TcpKind { Vanish, ResetMidBlock, RandomBytes, NeverRead, Churn, HalfClose, SlowDrip, kTcpKinds };
    static constexpr std::array<const char *, kTcpKinds> kTcpKindNames{
        "connect and vanish", "reset mid-block", "random bytes", "never read (echo on)",
        "churn bursts",       "half close",      "slow drip"};
    enum ServerKind { Echo, Flood, CloseAtOnce, ResetAtOnce, Silent, Garbage, HalfCloseServer, kServerKinds };
    static constexpr std::array<const char *, kServerKinds> kServerKindNames{
        "echo", "flood", "close at once", "reset at once", "silent", "garbage", "half close"};

    std::array<std::atomic<long>, kTcpKinds> tcpPlayed{};
    std::atomic<long> tcpConnections{0};  // connections the driver's TCP clients made
    std::atomic<long> tcpRefused{0};      // connects refused (a page stopped in a window)
    std::atomic<long> tcpResets{0};       // connections ended with SO_LINGER 0
    std::atomic<long> udpPorts{0};        // sockets (source ports) of the bad UDP peers
    std::atomic<long> udpDatagrams{0};
    std::atomic<long> udpOversized{0};  // longer than the UDP page reads: failed reads
    std::atomic<long> udpEmpty{0};
    std::array<std::atomic<long>, kServerKinds> serverPlayed{};  // the driver's TCP server
    std::atomic<long> serverDatagramsIn{0};                      // the driver's UDP server
    std::atomic<long> serverDatagramsOut{0};
    std::atomic<long> bytesOut{0};         // every byte the driver's sockets sent
    std::atomic<long> bytesIn{0};          // and received
    std::atomic<long> logFilesDeleted{0};  // traffic logs deleted while recording
};

// What all threads of a run share.
struct Context
{
    quint64 seed = 0;
    PortPlan ports;
    Clock::time_point deadline;         // the good peers end here at the latest
    Clock::time_point hardDeadline;     // and everybody here, whatever the GUI thread says
    std::atomic<bool> goodStop{false};  // set by the GUI thread when the run's time is up
    std::atomic<bool> stop{false};      // set once the window is stopped or gone
    // Scales every wait of a peer for a page (echo, reconnect) for a slower build.
    int slowdown = 1;
    std::atomic<int> tcpPhase{static_cast<int>(Phase::Reconnect)};
    std::atomic<int> udpPhase{static_cast<int>(Phase::Running)};
    Tally tally;

    // The misbehaving peers and the servers go on a little after the good peers end, while
    // the window is stopped or closed under them.
    bool Over() const { return stop || Clock::now() >= hardDeadline; }
    bool GoodOver() const { return goodStop || stop || Clock::now() >= deadline; }
    Phase TcpPhase() const { return static_cast<Phase>(tcpPhase.load()); }
    Phase UdpPhase() const { return static_cast<Phase>(udpPhase.load()); }

    void Finding(const QString &text);
    QStringList Findings() const;

private:
    mutable std::mutex m_findingsMutex;
    QStringList m_findings;
};

}  // namespace Chaos
