#pragma once

// The socket steps the chaos run's peer threads share: bounded connects that tell a refusal
// from a failure, sends and reads that count their bytes in the tally.

#include <chrono>
#include <cstddef>
#include <thread>

#include "chaos_context.h"

namespace Chaos {

// Upper bounds of every loop, far above what a run reaches in its time.
constexpr long kMaxRounds = 100000000;

inline void Nap(std::chrono::microseconds length)
{
    std::this_thread::sleep_for(length);
}

enum class ConnectResult { Connected, Refused, Failed };

// A blocking TCP socket connected to 127.0.0.1:port from localPort (0: any), the connect
// bounded by timeoutMs; -1 with the reason in result otherwise.
int ConnectTcp(int localPort, int port, int timeoutMs, ConnectResult &result);
// Sends everything (blocking, within the socket's send timeout); the bytes sent.
size_t SendCounted(int socket, const char *data, size_t size, Tally &tally);
// Reads whatever waits without blocking; the bytes read, -1 once the peer ended.
long Drain(int socket, Tally &tally);
// A connection to the TCP page, counted as made or refused.
int ConnectCounted(Context &ctx, ConnectResult &result);

}  // namespace Chaos
