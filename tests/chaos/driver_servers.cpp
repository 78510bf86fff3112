// The servers the client page connects to at random, and the user deleting the traffic logs
// from outside.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "chaos_peers.h"
#include "peer_sockets.h"
#include "support/loopback_sockets.h"

namespace Chaos {

namespace {

using namespace std::chrono_literals;

// Plays a misbehaviour chosen at random on each connection it accepts, at most eight at once.
class DriverTcpServer
{
public:
    DriverTcpServer(Context &ctx, int listener)
        : m_ctx(ctx)
        , m_tally(ctx.tally)
        , m_random(ctx.seed, 300)
        , m_listener(listener)
    {
    }

    void Run()
    {
        SetBlocking(m_listener, false);
        for (long round = 0; round < kMaxRounds && !m_ctx.Over(); ++round) {
            std::vector<pollfd> waiting{{m_listener, POLLIN, 0}};
            for (const Connection &connection : m_connections)
                waiting.push_back({connection.socket, POLLIN, 0});
            ::poll(waiting.data(), waiting.size(), 10);
            if (waiting[0].revents & POLLIN)
                Accept();
            const auto now = Clock::now();
            for (size_t i = m_connections.size(); i-- > 0;)
                if (const Outcome outcome = Serve(m_connections[i], now); outcome != Outcome::Keep)
                    End(i, outcome == Outcome::Reset);
        }
        for (const Connection &connection : m_connections)
            ::close(connection.socket);
    }

private:
    struct Connection
    {
        int socket;
        Tally::ServerKind kind;
        long budget;  // bytes still to flood
        Clock::time_point next;
    };
    enum class Outcome { Keep, Close, Reset };

    void Accept()
    {
        const int socket = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (socket < 0)
            return;
        const auto kind = static_cast<Tally::ServerKind>(m_random.Below(Tally::kServerKinds));
        ++m_tally.serverPlayed[kind];
        if (kind == Tally::CloseAtOnce) {
            ::close(socket);
        } else if (kind == Tally::ResetAtOnce) {
            CloseWithReset(socket);
        } else {
            m_connections.push_back({socket, kind, m_random.Between(16, 2048) * 1024L, Clock::now()});
            if (m_connections.size() > 8)
                End(0, false);
        }
    }

    void End(size_t i, bool reset)
    {
        if (reset)
            CloseWithReset(m_connections[i].socket);
        else
            ::close(m_connections[i].socket);
        m_connections.erase(m_connections.begin() + static_cast<std::ptrdiff_t>(i));
    }

    Outcome Serve(Connection &c, Clock::time_point now)
    {
        if (c.kind != Tally::Silent && !Read(c))
            return Outcome::Close;
        if (c.kind == Tally::Flood && now >= c.next)
            return Flood(c);
        if (c.kind == Tally::Garbage && now >= c.next) {
            const size_t size = static_cast<size_t>(m_random.Between(0, 512));
            m_random.Fill(m_buffer.data(), size);
            const ssize_t sent = ::send(c.socket, m_buffer.data(), size, MSG_NOSIGNAL | MSG_DONTWAIT);
            m_tally.bytesOut += std::max<ssize_t>(sent, 0);
            c.next = now + std::chrono::milliseconds(m_random.Between(10, 100));
        } else if (c.kind == Tally::HalfCloseServer && now >= c.next + 100ms) {
            ::shutdown(c.socket, SHUT_WR);
            c.next = Clock::time_point::max() - 1h;
        }
        return Outcome::Keep;
    }

    // What came, echoed on an echo connection; false once the client ended.
    bool Read(const Connection &c)
    {
        const ssize_t got = ::recv(c.socket, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
            return false;
        if (got > 0) {
            m_tally.bytesIn += got;
            if (c.kind == Tally::Echo) {
                const ssize_t sent = ::send(c.socket, m_buffer.data(), static_cast<size_t>(got),
                                            MSG_NOSIGNAL | MSG_DONTWAIT);
                m_tally.bytesOut += std::max<ssize_t>(sent, 0);
            }
        }
        return true;
    }

    // Printable and random bytes by turns, 16 KiB a step, then the end.
    Outcome Flood(Connection &c)
    {
        const size_t size = std::min<size_t>(m_buffer.size(), static_cast<size_t>(c.budget));
        if (m_random.Chance(0.5))
            m_random.Fill(m_buffer.data(), size);
        else
            std::fill_n(m_buffer.data(), size, 'A' + m_random.Below(26));
        const ssize_t sent = ::send(c.socket, m_buffer.data(), size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            m_tally.bytesOut += sent;
            c.budget -= sent;
        }
        if (c.budget > 0)
            return Outcome::Keep;
        return m_random.Chance(0.3) ? Outcome::Reset : Outcome::Close;
    }

    Context &m_ctx;
    Tally &m_tally;
    Random m_random;
    int m_listener;
    std::vector<Connection> m_connections;
    std::vector<char> m_buffer = std::vector<char>(16384);
};

}  // namespace

void RunDriverTcpServer(Context &ctx, int listener)
{
    DriverTcpServer(ctx, listener).Run();
}

void RunDriverUdpServer(Context &ctx, int socket)
{
    Random random(ctx.seed, 400);
    Tally &tally = ctx.tally;
    std::vector<char> buffer(65536);
    for (long round = 0; round < kMaxRounds && !ctx.Over(); ++round) {
        pollfd waiting{socket, POLLIN, 0};
        if (::poll(&waiting, 1, 10) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t got = ::recvfrom(socket, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr *>(&from), &length);
        if (got < 0)
            continue;
        ++tally.serverDatagramsIn;
        tally.bytesIn += got;
        auto reply = [&](const char *data, size_t size) {
            if (::sendto(socket, data, size, MSG_DONTWAIT, reinterpret_cast<const sockaddr *>(&from), sizeof from)
                == static_cast<ssize_t>(size)) {
                ++tally.serverDatagramsOut;
                tally.bytesOut += static_cast<long>(size);
            }
        };
        const int kind = random.Below(10);
        if (kind < 6) {
            reply(buffer.data(), static_cast<size_t>(got));
        } else if (kind < 8) {
            // A burst: empty, short, and longer than the client page reads.
            const int count = random.Between(1, 100);
            for (int i = 0; i < count; ++i) {
                const size_t size = static_cast<size_t>(random.Between(0, 400));
                random.Fill(buffer.data(), size);
                reply(buffer.data(), size);
            }
        }
    }
}

void RunLogJanitor(Context &ctx, const QString &directory, qint64 cap)
{
    const QDir dir(directory);
    for (long round = 0; round < kMaxRounds && !ctx.Over(); ++round) {
        Nap(500ms);
        qint64 total = 0;
        const QFileInfoList files = dir.entryInfoList({QStringLiteral("*.txt")}, QDir::Files);
        for (const QFileInfo &file : files)
            total += file.size();
        if (total <= cap)
            continue;
        for (const QFileInfo &file : files)
            ctx.tally.logFilesDeleted += QFile::remove(file.absoluteFilePath());
    }
}

}  // namespace Chaos
