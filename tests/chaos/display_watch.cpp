#include "display_watch.h"

#include <QAbstractItemModel>

#include "pages/tcp_server/tcp_server_page.h"
#include "pages/udp_server/udp_server_page.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/display_list/line_list_box.h"
#include "widgets/display_list/line_list_model.h"

namespace Chaos {

namespace {

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

}  // namespace

DisplayWatch::DisplayWatch(Context &ctx, const GoodPeers &goodTcp, const GoodPeers &goodUdp)
    : m_ctx(ctx)
    , m_goodTcp(goodTcp)
    , m_goodUdp(goodUdp)
    , m_tcpWatch(goodTcp.size())
    , m_udpWatch(goodUdp.size())
{
}

void DisplayWatch::Watch(CTcpServerPage *tcp, CUdpServerPage *udp, QObject *context)
{
    const LineListModel *tcpLines = tcp->DataList()->Lines();
    const LineListModel *udpLines = udp->DataList()->Lines();
    QObject::connect(tcpLines, &QAbstractItemModel::rowsInserted, context,
                     [this, tcpLines](const QModelIndex &, int first, int last) { OnTcpLines(tcpLines, first, last); });
    QObject::connect(udpLines, &QAbstractItemModel::rowsInserted, context,
                     [this, udpLines](const QModelIndex &, int first, int last) { OnUdpLines(udpLines, first, last); });
}

void DisplayWatch::OnTcpLines(const LineListModel *lines, int first, int last)
{
    for (int row = first; row <= last; ++row) {
        const QByteArray &line = lines->Line(row);
        // The port first: most lines are the bad peers'.
        qsizetype space = 0;
        const int peer = m_ctx.ports.GoodPeerOfPort(false, PortOfLine(line, space));
        if (peer < 0 || peer >= static_cast<int>(m_tcpWatch.size()))
            continue;
        TcpWatch &watch = m_tcpWatch[static_cast<size_t>(peer)];
        ++watch.lines;
        ++m_goodLinesTcp;
        if (!watch.broken)
            FollowTcpStream(peer, line, ShownBytes(line, space));
    }
}

void DisplayWatch::FollowTcpStream(int peer, const QByteArray &line, const QByteArray &shown)
{
    TcpWatch &watch = m_tcpWatch[static_cast<size_t>(peer)];
    for (const char byte : shown) {
        if (watch.block.isEmpty())
            watch.block = Stamp::TcpBlock(peer, watch.number);
        if (byte != watch.block[watch.offset]) {
            watch.broken = true;
            m_ctx.Finding(QStringLiteral("TCP page display: good peer %1's line \"%2\" is not the next bytes of"
                                         " its stream (block %3, byte %4 expected '%5')")
                              .arg(peer)
                              .arg(QString::fromLatin1(line.left(60)))
                              .arg(watch.number)
                              .arg(watch.offset)
                              .arg(QChar::fromLatin1(watch.block[watch.offset])));
            return;
        }
        if (++watch.offset == watch.block.size()) {
            ++watch.number;
            watch.offset = 0;
            watch.block.clear();
        }
    }
}

void DisplayWatch::OnUdpLines(const LineListModel *lines, int first, int last)
{
    for (int row = first; row <= last; ++row) {
        const QByteArray &line = lines->Line(row);
        qsizetype space = 0;
        const int peer = m_ctx.ports.GoodPeerOfPort(true, PortOfLine(line, space));
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
            m_ctx.Finding(QStringLiteral("UDP page display: good peer %1's line \"%2\" is not datagram %3 nor %4")
                              .arg(peer)
                              .arg(QString::fromLatin1(line.left(60)))
                              .arg(watch.last)
                              .arg(watch.last + 1));
        }
    }
}

void DisplayWatch::AddChecks(Result &result) const
{
    result.checks.push_back(CheckTcp());
    result.checks.push_back(CheckUdp());
}

Check DisplayWatch::CheckTcp() const
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
            tcpProblems
                << QStringLiteral("peer %1 sent %2 blocks, got %3 echoes").arg(i).arg(peer.sent).arg(peer.echoed);
        if (watch.broken || watch.number != peer.sent || watch.offset != 0)
            tcpProblems << QStringLiteral("peer %1: display shows %2 blocks and %3 bytes of %4 sent%5")
                               .arg(i)
                               .arg(watch.number)
                               .arg(watch.offset)
                               .arg(peer.sent)
                               .arg(watch.broken ? QStringLiteral(", out of order") : QString());
        if (peer.echoed < 10)
            tcpProblems << QStringLiteral("peer %1 got only %2 blocks through").arg(i).arg(peer.echoed);
    }
    return {QStringLiteral("TCP good peers"), tcpProblems.isEmpty(),
            tcpProblems.isEmpty() ? QStringLiteral("%1 peers, %2 blocks echoed whole and in order, each shown in the"
                                                   " display (%3 lines)")
                                        .arg(m_goodTcp.size())
                                        .arg(tcpBlocks)
                                        .arg(m_goodLinesTcp)
                                  : tcpProblems.join(QStringLiteral("; "))};
}

Check DisplayWatch::CheckUdp() const
{
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
            udpProblems
                << QStringLiteral("peer %1 sent %2 datagrams, got %3 echoes").arg(i).arg(peer.sent).arg(peer.echoed);
        if (watch.broken || watch.last + 1 != peer.sent)
            udpProblems << QStringLiteral("peer %1: display shows up to datagram %2 of %3%4")
                               .arg(i)
                               .arg(watch.last)
                               .arg(peer.sent)
                               .arg(watch.broken ? QStringLiteral(", out of order") : QString());
        if (peer.echoed < 10)
            udpProblems << QStringLiteral("peer %1 got only %2 datagrams through").arg(i).arg(peer.echoed);
    }
    return {
        QStringLiteral("UDP good peers"), udpProblems.isEmpty(),
        udpProblems.isEmpty()
            ? QStringLiteral("%1 peers, %2 datagrams echoed whole and in order, each shown in the display (%3 lines,"
                             " %4 shown twice after %5 sent again)")
                  .arg(m_goodUdp.size())
                  .arg(udpDatagrams)
                  .arg(m_goodLinesUdp)
                  .arg(repeated)
                  .arg(retransmits)
            : udpProblems.join(QStringLiteral("; "))};
}

}  // namespace Chaos
