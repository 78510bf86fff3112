// The chaos run (chaos_run.h) for as long as asked: the main window with its three traffic
// pages under misbehaving peers and a random user, with well-behaved peers checked beside
// them. Prints the figures and a verdict per check; exits 0 when every check holds.
//
//   QT_QPA_PLATFORM=offscreen ./build/bench/bench_chaos [seconds]     (default 600)
//
// The seed is printed first; VELVANE_CHAOS_SEED=<seed> repeats a run's random choices.
#include <cstdio>
#include <cstdlib>

#include "bench_support.h"
#include "chaos_run.h"

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 600;
    if (seconds <= 0) {
        std::printf("usage: bench_chaos [seconds]\n");
        return 2;
    }
    BenchSupport::BenchProcess process(argc, argv);
    process.ReportDescriptorLimit();
    const Chaos::Options options = Chaos::Options::ForSeconds(seconds);
    std::printf("chaos run:                %d s, seed %llu%s\n", seconds, static_cast<unsigned long long>(options.seed),
                Chaos::SanitizerBuild() ? " (sanitizer build)" : "");
    std::fflush(stdout);
    const Chaos::Result result = Chaos::Run(options);
    Chaos::Print(result);
    process.ReportWallTime();
    return result.Ok() ? 0 : 1;
}
