#pragma once

// The network side of the chaos run (chaos_run.h): the misbehaving and the well-behaved peers
// of the two server pages and the servers the client page talks to, each on a thread of its
// own with blocking or polled sockets, every loop bounded in count and in time. They meet the
// GUI thread only in the Context.

#include <QString>

#include "chaos_context.h"

namespace Chaos {

// The threads' bodies. Each returns when ctx.Over(), a good peer when ctx.GoodOver() once it
// has its block's echo.
void RunGoodTcpPeer(Context &ctx, GoodPeer &peer);
void RunGoodUdpPeer(Context &ctx, GoodPeer &peer);
void RunBadTcpPlayer(Context &ctx, int index);
void RunBadUdpPlayer(Context &ctx, int index);
// The servers the client page connects to at random: a TCP one that plays a different
// misbehaviour on each connection, and a UDP one that echoes, bursts or keeps silent.
void RunDriverTcpServer(Context &ctx, int listener);
void RunDriverUdpServer(Context &ctx, int socket);

// The user, in another program, deleting the traffic logs that a Yes started once they hold
// more than cap bytes together (the pages then report the failed writes once).
void RunLogJanitor(Context &ctx, const QString &directory, qint64 cap);

}  // namespace Chaos
