// The sequence runner against a fake send: order over steps and loops, the wait for a send
// to go after a 0 ms delay, each way a run ends, and the times kept from the start.
#include <QtTest>

#include <QElapsedTimer>
#include <QThread>

#include <map>
#include <vector>

#include "support/event_wait.h"
#include "traffic/commands/sequence_runner.h"
#include "traffic/receive_slice.h"

namespace {

struct Sent
{
    QString name;
    qint64 atNs;
};

// The commands, the page's send and its queue as the runner sees them.
struct FakePage
{
    std::map<quint64, Command> commands;
    std::vector<Sent> sent;
    std::vector<std::pair<int, int>> started;  // (step, loop)
    std::vector<SequenceRunner::End> ends;
    bool gone = true;
    bool queueOnSend = false;  // each send leaves bytes waiting until the test lets them go
    int refuseAt = -1;         // the send with this index (from 0) is refused
    std::function<void()> inSend;
    QElapsedTimer clock;
    SequenceRunner runner{[this](const Command &command) { return Send(command); }, [this] { return gone; }};

    FakePage()
    {
        QObject::connect(&runner, &SequenceRunner::StepStarted,
                         [this](int step, int loop) { started.emplace_back(step, loop); });
        QObject::connect(&runner, &SequenceRunner::Ended, [this](SequenceRunner::End end) { ends.push_back(end); });
        for (quint64 id = 1; id <= 4; ++id) {
            Command &command = commands[id];
            command.id = id;
            command.name = QStringLiteral("c%1").arg(id);
            command.text = QStringLiteral("text %1").arg(id);
        }
    }

    bool Send(const Command &command)
    {
        const int index = int(sent.size());
        sent.push_back({command.name, clock.nsecsElapsed()});
        if (queueOnSend)
            gone = false;
        if (inSend)
            inSend();
        return index != refuseAt;
    }

    bool Start(const Sequence &sequence)
    {
        clock.start();
        return runner.Start(sequence, [this](quint64 id) -> const Command * {
            const auto found = commands.find(id);
            return found == commands.end() ? nullptr : &found->second;
        });
    }

    QStringList Names() const
    {
        QStringList names;
        for (const Sent &one : sent)
            names << one.name;
        return names;
    }
};

Sequence MakeSequence(const std::vector<std::pair<quint64, qint64>> &steps, int loops)
{
    Sequence sequence;
    sequence.name = QStringLiteral("seq");
    sequence.loops = loops;
    for (const auto &[id, delay] : steps)
        sequence.steps.append({id, delay});
    return sequence;
}

}  // namespace

class TestSequenceRunner : public QObject
{
    Q_OBJECT

private slots:
    void loopsInOrder();
    void zeroDelayWaitsForTheSendToGo();
    void endings();
    void stopInsideTheSend();
    void endlessUntilStopped();
    void timesKeptFromTheStart();
    void aFloodsSliceEndsBeforeTheNextStep();
};

void TestSequenceRunner::loopsInOrder()
{
    FakePage page;
    QVERIFY(page.Start(MakeSequence({{1, 3}, {2, 2}, {3, 4}}, 3)));
    QVERIFY(page.runner.IsRunning());
    QVERIFY(!page.runner.Start(MakeSequence({{1, 1}}, 1), [](quint64) { return nullptr; }));
    QVERIFY(page.sent.empty());  // nothing goes inside Start
    QCOMPARE(page.runner.CurrentStep(), 0);
    QCOMPARE(page.runner.CurrentLoop(), 0);
    QVERIFY(WaitUntil([&] { return !page.ends.empty(); }));
    const QStringList once{QStringLiteral("c1"), QStringLiteral("c2"), QStringLiteral("c3")};
    QCOMPARE(page.Names(), once + once + once);
    std::vector<std::pair<int, int>> expected;
    for (int loop = 0; loop < 3; ++loop)
        for (int step = 0; step < 3; ++step)
            expected.emplace_back(step, loop);
    QVERIFY(page.started == expected);
    QCOMPARE(page.ends, std::vector{SequenceRunner::End::Done});
    QVERIFY(!page.runner.IsRunning());
    QCOMPARE(page.runner.CurrentStep(), -1);
    QCOMPARE(page.runner.CurrentLoop(), -1);
    // The last step's delay is not waited: an hour's delay would outlast the patience.
    FakePage hour;
    QVERIFY(hour.Start(MakeSequence({{1, Sequence::kMaxDelayMs}}, 1)));
    QVERIFY(WaitUntil([&] { return !hour.ends.empty(); }));
    QCOMPARE(hour.ends, std::vector{SequenceRunner::End::Done});
    QVERIFY(!page.runner.Start(MakeSequence({}, 1), [](quint64) { return nullptr; }));
    QVERIFY(!page.Start(MakeSequence({{1, 0}}, -1)));

    // A library edit after Start does not reach the run.
    FakePage edited;
    QVERIFY(edited.Start(MakeSequence({{1, 5}, {2, 0}}, 1)));
    edited.commands[2].name = QStringLiteral("changed");
    edited.commands.erase(1);
    QVERIFY(WaitUntil([&] { return !edited.ends.empty(); }));
    QCOMPARE(edited.Names(), (QStringList{QStringLiteral("c1"), QStringLiteral("c2")}));
    QCOMPARE(edited.ends, std::vector{SequenceRunner::End::Done});
}

void TestSequenceRunner::zeroDelayWaitsForTheSendToGo()
{
    FakePage page;
    page.queueOnSend = true;
    // The last step's 0 ms delay holds the next loop's first step as well.
    QVERIFY(page.Start(MakeSequence({{1, 0}, {2, 1}, {3, 0}}, 2)));
    QVERIFY(WaitUntil([&] { return page.sent.size() == 1; }));
    RunEventsFor(50);
    QCOMPARE(page.sent.size(), size_t(1));
    QCOMPARE(page.runner.CurrentStep(), 0);
    page.gone = true;
    // c2 goes at once; its 1 ms delay sends c3 without waiting for c2 to go.
    QVERIFY(WaitUntil([&] { return page.sent.size() == 3; }));
    RunEventsFor(50);
    QCOMPARE(page.sent.size(), size_t(3));
    QCOMPARE(page.runner.CurrentStep(), 2);
    page.gone = true;
    QVERIFY(WaitUntil([&] { return page.sent.size() == 4; }));
    QCOMPARE(page.started.back(), std::make_pair(0, 1));

    // A send that never goes holds the next step only up to the limit, then it is sent.
    page.runner.Stop();
    page.sent.clear();
    page.runner.SetGoneWaitLimitMs(100);
    QVERIFY(page.Start(MakeSequence({{1, 0}, {2, 0}}, 1)));
    QVERIFY(WaitUntil([&] { return !page.ends.empty() && page.ends.back() == SequenceRunner::End::Done; }));
    QCOMPARE(page.Names(), (QStringList{QStringLiteral("c1"), QStringLiteral("c2")}));
    QVERIFY(!page.gone);
    QVERIFY(page.sent[1].atNs - page.sent[0].atNs >= 100 * 1000000LL);
}

void TestSequenceRunner::endings()
{
    // Refused at the second step: nothing more goes.
    FakePage refused;
    refused.refuseAt = 1;
    QVERIFY(refused.Start(MakeSequence({{1, 1}, {2, 1}, {3, 1}}, 3)));
    QVERIFY(WaitUntil([&] { return !refused.ends.empty(); }));
    RunEventsFor(30);
    QCOMPARE(refused.Names(), (QStringList{QStringLiteral("c1"), QStringLiteral("c2")}));
    QCOMPARE(refused.ends, std::vector{SequenceRunner::End::Refused});
    QVERIFY(!refused.runner.IsRunning());

    // A step naming a command that is not there: nothing is sent at all, and the end is told
    // from the event loop, after Start returned.
    FakePage missing;
    QVERIFY(missing.Start(MakeSequence({{1, 1}, {2, 1}, {99, 1}}, 1)));
    QVERIFY(missing.ends.empty());
    QVERIFY(missing.runner.IsRunning());
    QVERIFY(WaitUntil([&] { return !missing.ends.empty(); }));
    RunEventsFor(30);
    QVERIFY(missing.sent.empty());
    QCOMPARE(missing.ends, std::vector{SequenceRunner::End::MissingCommand});

    // Stopped mid-run, told before Stop returns; the runner starts again afterwards.
    FakePage stopped;
    QVERIFY(stopped.Start(MakeSequence({{1, 5}, {2, 5}, {3, 5}}, 2)));
    QVERIFY(WaitUntil([&] { return stopped.sent.size() == 2; }));
    stopped.runner.Stop();
    QCOMPARE(stopped.ends, std::vector{SequenceRunner::End::Stopped});
    QCOMPARE(stopped.runner.CurrentStep(), -1);
    RunEventsFor(50);
    QCOMPARE(stopped.sent.size(), size_t(2));
    stopped.runner.Stop();
    QCOMPARE(stopped.ends.size(), size_t(1));
    QVERIFY(stopped.Start(MakeSequence({{3, 0}}, 1)));
    QVERIFY(WaitUntil([&] { return stopped.ends.size() == 2; }));
    QCOMPARE(stopped.sent.back().name, QStringLiteral("c3"));
    QCOMPARE(stopped.ends.back(), SequenceRunner::End::Done);
}

void TestSequenceRunner::stopInsideTheSend()
{
    // The page's refusal box runs an event loop inside the send, where the user may stop the
    // run, or stop it and start another: the refusal that comes back belongs to neither.
    FakePage page;
    page.refuseAt = 0;
    page.inSend = [&] {
        page.inSend = nullptr;
        page.runner.Stop();
    };
    QVERIFY(page.Start(MakeSequence({{1, 1}, {2, 1}}, 1)));
    QVERIFY(WaitUntil([&] { return !page.ends.empty(); }));
    RunEventsFor(30);
    QCOMPARE(page.ends, std::vector{SequenceRunner::End::Stopped});
    QCOMPARE(page.sent.size(), size_t(1));

    FakePage restarted;
    restarted.refuseAt = 0;
    restarted.inSend = [&] {
        restarted.inSend = nullptr;
        restarted.runner.Stop();
        QVERIFY(restarted.Start(MakeSequence({{3, 1}, {4, 1}}, 1)));
    };
    QVERIFY(restarted.Start(MakeSequence({{1, 1}, {2, 1}}, 1)));
    QVERIFY(WaitUntil([&] { return restarted.ends.size() == 2; }));
    RunEventsFor(30);
    QCOMPARE(restarted.Names(), (QStringList{QStringLiteral("c1"), QStringLiteral("c3"), QStringLiteral("c4")}));
    QCOMPARE(restarted.ends, (std::vector{SequenceRunner::End::Stopped, SequenceRunner::End::Done}));

    // Stopped by a slot of StepStarted: that step is not sent.
    FakePage early;
    QObject::connect(&early.runner, &SequenceRunner::StepStarted, [&](int step, int) {
        if (step == 1)
            early.runner.Stop();
    });
    QVERIFY(early.Start(MakeSequence({{1, 1}, {2, 1}}, 1)));
    QVERIFY(WaitUntil([&] { return !early.ends.empty(); }));
    QCOMPARE(early.Names(), QStringList{QStringLiteral("c1")});
    QCOMPARE(early.ends, std::vector{SequenceRunner::End::Stopped});
}

void TestSequenceRunner::endlessUntilStopped()
{
    FakePage page;
    QVERIFY(page.Start(MakeSequence({{1, 1}, {2, 0}}, 0)));
    QVERIFY(WaitUntil([&] { return page.sent.size() >= 25; }));
    QVERIFY(page.runner.IsRunning());
    QVERIFY(page.runner.CurrentLoop() >= 12);
    page.runner.Stop();
    QCOMPARE(page.ends, std::vector{SequenceRunner::End::Stopped});
    for (size_t i = 0; i < page.sent.size(); ++i) {
        QCOMPARE(page.sent[i].name, i % 2 ? QStringLiteral("c2") : QStringLiteral("c1"));
        QCOMPARE(page.started[i], std::make_pair(int(i % 2), int(i / 2)));
    }
}

void TestSequenceRunner::timesKeptFromTheStart()
{
    // Each send no earlier than the sum of the delays before it, across loops.
    FakePage page;
    const std::vector<std::pair<quint64, qint64>> steps{{1, 30}, {2, 7}, {3, 0}, {4, 13}};
    QVERIFY(page.Start(MakeSequence(steps, 3)));
    QVERIFY(WaitUntil([&] { return !page.ends.empty(); }));
    QCOMPARE(page.sent.size(), size_t(12));
    qint64 dueMs = 0;
    for (size_t i = 0; i < page.sent.size(); ++i) {
        QVERIFY2(page.sent[i].atNs >= dueMs * 1000000, qPrintable(QStringLiteral("send %1").arg(i)));
        dueMs += steps[i % steps.size()].second;
    }

    // A busy thread makes steps late: they go as soon as it is free, and the later steps keep
    // their times instead of moving by the delay.
    FakePage late;
    late.inSend = [&] {
        late.inSend = nullptr;
        QThread::msleep(2200);
    };
    QVERIFY(late.Start(MakeSequence({{1, 500}}, 6)));
    QVERIFY(WaitUntil([&] { return !late.ends.empty(); }));
    QCOMPARE(late.sent.size(), size_t(6));
    for (size_t i = 1; i <= 4; ++i)
        QVERIFY(late.sent[i].atNs >= 2200 * 1000000LL);
    QVERIFY(late.sent[5].atNs >= 2500 * 1000000LL);
    // Wide: a run that moved the schedule would send the fifth step no sooner than 3,200 ms.
    QVERIFY2(late.sent[4].atNs < 2500 * 1000000LL, qPrintable(QStringLiteral("%1 ns").arg(late.sent[4].atNs)));
}

void TestSequenceRunner::aFloodsSliceEndsBeforeTheNextStep()
{
    // A slice ends at once when a kept time has come, not only after its own length.
    QElapsedTimer clock;
    clock.start();
    ReceiveSlice idle;
    ReceiveSlice::SetNextDue(0);
    idle.Begin();
    QVERIFY(!idle.IsOver());
    ReceiveSlice due;
    ReceiveSlice::SetNextDue(clock.msecsSinceReference() + clock.elapsed());
    due.Begin();
    QVERIFY(due.IsOver());

    // A run keeps its next step's time there while it waits, and takes it away at its end.
    Command command;
    command.id = 1;
    Sequence sequence;
    sequence.steps = {{1, 500}, {1, 0}};
    SequenceRunner runner([](const Command &) { return true; }, [] { return true; });
    QVERIFY(runner.Start(sequence, [&](quint64) { return &command; }));
    QVERIFY(WaitUntil([&] { return runner.CurrentStep() == 0; }));
    RunEventsFor(20);
    QVERIFY(ReceiveSlice::NextDue() >= clock.msecsSinceReference() + 400);
    runner.Stop();
    QCOMPARE(ReceiveSlice::NextDue(), 0);
}

QTEST_GUILESS_MAIN(TestSequenceRunner)
#include "test_sequence_runner.moc"
