#include "traffic/commands/sequence_runner.h"

#include "traffic/receive_slice.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <utility>

SequenceRunner::SequenceRunner(std::function<bool(const Command &)> send, std::function<bool()> sendGone,
                               QObject *parent)
    : QObject(parent)
    , m_send(std::move(send))
    , m_sendGone(std::move(sendGone))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &SequenceRunner::OnTimer);
}

bool SequenceRunner::Start(const Sequence &sequence, const CommandLookup &lookup)
{
    if (m_running || sequence.steps.isEmpty() || sequence.loops < 0)
        return false;
    m_steps.clear();
    m_steps.reserve(sequence.steps.size());
    m_missing = false;
    for (const SequenceStep &step : sequence.steps) {
        const Command *command = lookup ? lookup(step.commandId) : nullptr;
        if (!command) {
            m_missing = true;
            m_steps.clear();
            break;
        }
        m_steps.append({*command, std::clamp<qint64>(step.delayMs, 0, Sequence::kMaxDelayMs)});
    }
    m_loops = sequence.loops;
    m_running = true;
    ++m_run;
    m_step = 0;
    m_loop = 0;
    m_shownStep = 0;
    m_shownLoop = 0;
    m_dueMs = 0;
    m_waitForGone = false;
    m_goneWaitSinceNs = -1;
    m_clock.start();
    // Even the first step goes from the event loop: the caller has set itself up for a
    // running sequence before anything is sent or ended.
    m_timer.start(0);
    return true;
}

void SequenceRunner::Stop()
{
    if (m_running)
        Finish(End::Stopped);
}

bool SequenceRunner::IsRunning() const
{
    return m_running;
}

int SequenceRunner::CurrentStep() const
{
    return m_running ? m_shownStep : -1;
}

int SequenceRunner::CurrentLoop() const
{
    return m_running ? m_shownLoop : -1;
}

void SequenceRunner::OnTimer()
{
    if (!m_running)
        return;
    if (m_missing) {
        Finish(End::MissingCommand);
        return;
    }
    // Steps made late by a busy pass all go in this one (up to a bound that keeps the
    // thread responsive): one per pass would fall further behind each pass.
    const quint64 run = m_run;
    for (int sends = 0; sends < kMaxSendsPerPass; ++sends) {
        const qint64 nowNs = m_clock.nsecsElapsed();
        if (nowNs < m_dueMs * 1000000) {
            ArmForDue();
            return;
        }
        if (m_waitForGone && !m_sendGone()) {
            if (m_goneWaitSinceNs < 0)
                m_goneWaitSinceNs = nowNs;
            if (nowNs - m_goneWaitSinceNs < qint64(m_goneWaitLimitMs) * 1000000) {
                ReceiveSlice::SetNextDue(0);  // a wait on the send, not a time to keep
                m_timer.start(std::chrono::milliseconds(kGonePollMs));
                return;
            }
        }
        SendCurrent();
        if (run != m_run)
            return;
    }
    m_timer.start(0);
}

void SequenceRunner::ArmForDue()
{
    const qint64 leftNs = m_dueMs * 1000000 - m_clock.nsecsElapsed();
    ReceiveSlice::SetNextDue(m_clock.msecsSinceReference() + m_dueMs);
    // The timer counts whole milliseconds and may round them either way: it is armed short
    // of the due time, and the last part of a millisecond passes in passes of the event loop.
    m_timer.start(std::chrono::milliseconds(leftNs <= 0 ? 0 : leftNs / 1000000));
}

void SequenceRunner::SendCurrent()
{
    const quint64 run = m_run;
    // A shared copy: a Stop inside the send clears m_steps while the command is still in use.
    const QList<Step> steps = m_steps;
    const Step &step = steps.at(m_step);
    m_shownStep = m_step;
    m_shownLoop = static_cast<int>(std::min<qint64>(m_loop, INT_MAX));
    emit StepStarted(m_shownStep, m_shownLoop);
    if (run != m_run)  // stopped (or started again) by a slot of StepStarted
        return;
    const bool sent = m_send(step.command);
    // The send may have run a modal box, whose event loop could have stopped this run or
    // started another: what comes back belongs to a run that is over.
    if (run != m_run)
        return;
    if (!sent) {
        Finish(End::Refused);
        return;
    }
    const qint64 delayMs = step.delayMs;
    if (++m_step == m_steps.size()) {
        m_step = 0;
        ++m_loop;
        if (m_loops > 0 && m_loop >= m_loops) {
            Finish(End::Done);
            return;
        }
    }
    m_dueMs += delayMs;
    m_waitForGone = delayMs == 0;
    m_goneWaitSinceNs = -1;
}

void SequenceRunner::Finish(End end)
{
    m_timer.stop();
    ReceiveSlice::SetNextDue(0);
    m_running = false;
    m_missing = false;
    ++m_run;
    m_steps.clear();
    emit Ended(end);
}
