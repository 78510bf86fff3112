#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

#include "traffic/commands/command_library.h"

// Runs a sequence: each step's command is sent, then the step's delay passes before the
// next. Times are kept from the sequence's start (step n is due at the sum of the delays
// before it), with a precise timer, so a long run does not drift. A step after a 0 ms delay
// waits until the previous send has gone out.
class SequenceRunner : public QObject
{
    Q_OBJECT

public:
    enum class End { Done, Stopped, Refused, MissingCommand };

    // send: sends the command through the page's path; false when it was refused (the page
    // has shown its box). sendGone: true once everything sent so far has gone to the system.
    SequenceRunner(std::function<bool(const Command &)> send, std::function<bool()> sendGone,
                   QObject *parent = nullptr);

    // Starts the sequence with the library's commands; false when one runs already or it has
    // no steps.
    bool Start(const Sequence &sequence, const CommandLibrary &library);
    void Stop();
    bool IsRunning() const;
    // The step being sent or waited after, and the loop (from 0).
    int CurrentStep() const;
    int CurrentLoop() const;

signals:
    void StepStarted(int step, int loop);
    void Ended(SequenceRunner::End end);
};
