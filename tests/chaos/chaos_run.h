#pragma once

// The chaos run: the whole main window (TCP server, UDP server and client pages on their
// tabs) in this process, listening and connected on 127.0.0.1, while threads play many
// misbehaving peers and a few well-behaved ones for a fixed time and the GUI thread plays a
// user who clicks and types at random. Used by bench/bench_chaos (minutes, figures) and by
// tests/test_chaos (20 s in CI). Needs a QApplication; runs in a temporary current directory.
//
// At the end it checks: no hang (a GUI-thread timer never late by more than the bound), the
// descriptors back to the count before, resident memory bounded (midpoint against end and an
// absolute ceiling from the lists' bound), no pile of boxes, and that every good peer got
// every echo back whole and in order while the page's display showed each of its blocks.

#include <QString>
#include <QStringList>

#include <vector>

namespace Chaos {

// True when built with AddressSanitizer (a compile definition of the compiler's own).
bool SanitizerBuild();

struct Options
{
    int seconds = 600;
    quint64 seed = 0;
    int goodTcpPeers = 4;
    int goodUdpPeers = 2;
    int badTcpPlayers = 3;
    int badUdpPlayers = 2;
    // A window (Stop/Listen, automatic reply) on one server page, the two in turn.
    int windowEveryMs = 12000;
    // A GUI-thread timer may come at most this late (of the program's own time): the
    // benchmark's verdict on how quickly the window answers. The test sets a hang's bound
    // instead, since it must pass on any machine.
    double latenessBoundMs = 250;
    // Scales the peers' waits for a page and the run's end and hang bounds (sanitizer builds).
    int slowdown = 1;
    // The traffic log files (answered Yes now and then) are deleted, as a user would, once
    // they hold this much together.
    qint64 logFilesCap = 256LL * 1024 * 1024;

    // The defaults for a run of the given seconds; the seed from VELVANE_CHAOS_SEED when set,
    // else a fresh one. A sanitizer build relaxes the lateness bound only and slows the waits.
    static Options ForSeconds(int seconds);
};

struct Check
{
    QString name;
    bool ok = false;
    QString detail;
};

struct Result
{
    quint64 seed = 0;
    QStringList figures;  // printed as they are
    std::vector<Check> checks;
    QStringList findings;

    bool Ok() const;
};

Result Run(const Options &options);
void Print(const Result &result);

}  // namespace Chaos
