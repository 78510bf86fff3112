// The chaos run (tests/chaos/chaos_run.h) for 20 seconds: the main window's traffic pages under
// misbehaving peers and a random user, checked for hangs, descriptors, memory, piled-up
// boxes and the well-behaved peers' echoes and display lines. How late the window's timer
// came is printed, and fails only past a hang's bound: bench_chaos judges the lateness. The
// seed is printed first; VELVANE_CHAOS_SEED=<seed> repeats a failing run's choices.
#include <QtTest>

#include <cstdio>

#include "chaos_run.h"

class TestChaos : public QObject
{
    Q_OBJECT

private slots:
    void twentySecondsOfChaos();
};

namespace {

QtMessageHandler s_testHandler = nullptr;

// The offscreen platform says this for every box shown, and the font code for scripts it
// meets: no findings, and a hundred boxes would bury the run's own lines.
void QuietNotes(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("propagateSizeHints"))
        || message.contains(QLatin1String("OpenType support missing")))
        return;
    s_testHandler(type, context, message);
}

}  // namespace

void TestChaos::twentySecondsOfChaos()
{
    s_testHandler = qInstallMessageHandler(QuietNotes);
    Chaos::Options options = Chaos::Options::ForSeconds(20);
    // A test asserts no speed: the worst lateness is printed as a figure, and only a GUI
    // thread that stood still for seconds of its own time (a hang, a runaway loop) fails.
    // bench_chaos keeps the tight bound as its verdict.
    options.latenessBoundMs = 5000.0 * options.slowdown;
    std::printf("chaos run: 20 s, seed %llu%s\n", static_cast<unsigned long long>(options.seed),
                Chaos::SanitizerBuild() ? " (sanitizer build)" : "");
    std::fflush(stdout);
    const Chaos::Result result = Chaos::Run(options);
    Chaos::Print(result);
    qInstallMessageHandler(s_testHandler);
    for (const Chaos::Check &check : result.checks)
        QVERIFY2(check.ok,
                 qPrintable(QStringLiteral("%1: %2 (seed %3)").arg(check.name, check.detail).arg(result.seed)));
}

QTEST_MAIN(TestChaos)
#include "test_chaos.moc"
