#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>

#include "traffic/commands/command_library.h"

// Runs a sequence: each step's command is sent, then the step's delay passes before the
// next. Times are kept from the sequence's start (step n is due at the sum of the delays
// before it, across loops), with a precise timer, so a long run does not drift: a step sent
// late (the thread was busy) goes as soon as it can, and the steps after it keep their times.
// A step after a 0 ms delay waits until the previous send has gone out, at most
// GoneWaitLimitMs(); then it is sent anyway, so a peer that stopped reading cannot stall the
// run without a trace (its bytes wait in the send path's queue).
//
// The commands are copied at Start: editing the library during a run changes nothing in it.
// Everything that ends a run but Stop is told from the event loop, never inside Start.
class SequenceRunner : public QObject
{
    Q_OBJECT

public:
    enum class End { Done, Stopped, Refused, MissingCommand };

    using CommandLookup = std::function<const Command *(quint64 id)>;

    static constexpr int kGoneWaitLimitMs = 60000;
    static constexpr int kGonePollMs = 1;
    // Late steps sent in one pass of the event loop at most.
    static constexpr int kMaxSendsPerPass = 64;

    // send: sends the command through the page's path; false when it was refused (the page
    // has shown its box). sendGone: true once everything sent so far has gone to the system.
    SequenceRunner(std::function<bool(const Command &)> send, std::function<bool()> sendGone,
                   QObject *parent = nullptr);

    // Starts the sequence with the library's commands; false when one runs already, it has
    // no steps or its loops are negative. A step naming a command that is not there ends the
    // run with MissingCommand before anything is sent.
    bool Start(const Sequence &sequence, const CommandLibrary &library)
    {
        return Start(sequence, [&library](quint64 id) { return library.Find(id); });
    }
    // The same with the commands found by lookup (null: no such command); it is only called
    // within Start.
    bool Start(const Sequence &sequence, const CommandLookup &lookup);
    // Ends the run with Stopped, told before this returns; nothing when none runs.
    void Stop();
    bool IsRunning() const;
    // The step being sent or waited after, and the loop (from 0); -1 when idle.
    int CurrentStep() const;
    int CurrentLoop() const;

    // How long a step after a 0 ms delay waits for the previous send to go (for tests).
    void SetGoneWaitLimitMs(int milliseconds) { m_goneWaitLimitMs = milliseconds; }
    int GoneWaitLimitMs() const { return m_goneWaitLimitMs; }

signals:
    void StepStarted(int step, int loop);
    void Ended(SequenceRunner::End end);

private:
    struct Step
    {
        Command command;
        qint64 delayMs = 0;
    };

    void OnTimer();
    // Arms the timer for the next step's due time (at once when it is past).
    void ArmForDue();
    // Sends the current step and moves on; ends the run after the last one. The caller arms
    // the timer for the next.
    void SendCurrent();
    void Finish(End end);

    std::function<bool(const Command &)> m_send;
    std::function<bool()> m_sendGone;
    QTimer m_timer;
    QElapsedTimer m_clock;

    QList<Step> m_steps;
    int m_loops = 1;
    bool m_running = false;
    bool m_missing = false;
    quint64 m_run = 0;    // which run this is: a send that comes back after a Stop must not go on
    int m_step = 0;       // the next to send
    qint64 m_loop = 0;    // endless runs may pass INT_MAX loops; told saturated
    int m_shownStep = 0;  // the last one started (before the first send: the first)
    int m_shownLoop = 0;
    qint64 m_dueMs = 0;  // of the current step, from the start
    bool m_waitForGone = false;
    qint64 m_goneWaitSinceNs = -1;  // -1: not waiting yet
    int m_goneWaitLimitMs = kGoneWaitLimitMs;
};
