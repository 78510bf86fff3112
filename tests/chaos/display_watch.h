#pragma once

// What the GUI thread checks of the good peers: each display line of a server page that
// comes from a good peer's port must be the next bytes of its stream (TCP) or its next
// datagram (UDP), and at the end every peer must have had every echo and every line shown.

#include <QByteArray>
#include <QObject>

#include <memory>
#include <vector>

#include "chaos_context.h"
#include "chaos_run.h"

class CTcpServerPage;
class CUdpServerPage;
class LineListModel;

namespace Chaos {

using GoodPeers = std::vector<std::unique_ptr<GoodPeer>>;

class DisplayWatch
{
public:
    DisplayWatch(Context &ctx, const GoodPeers &goodTcp, const GoodPeers &goodUdp);

    // Follows the lines the two pages insert from now on.
    void Watch(CTcpServerPage *tcp, CUdpServerPage *udp, QObject *context);
    // The checks "TCP good peers" and "UDP good peers".
    void AddChecks(Result &result) const;

private:
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

    void OnTcpLines(const LineListModel *lines, int first, int last);
    void FollowTcpStream(int peer, const QByteArray &line, const QByteArray &shown);
    void OnUdpLines(const LineListModel *lines, int first, int last);
    Check CheckTcp() const;
    Check CheckUdp() const;

    Context &m_ctx;
    const GoodPeers &m_goodTcp;
    const GoodPeers &m_goodUdp;
    std::vector<TcpWatch> m_tcpWatch;
    std::vector<UdpWatch> m_udpWatch;
    long m_goodLinesTcp = 0;
    long m_goodLinesUdp = 0;
};

}  // namespace Chaos
