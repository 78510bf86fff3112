#include "chaos_run.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "chaos_runner.h"

namespace Chaos {

Options Options::ForSeconds(int seconds)
{
    Options options;
    options.seconds = seconds;
    const QByteArray seed = qgetenv("VELVANE_CHAOS_SEED");
    options.seed = seed.isEmpty() ? std::random_device{}() * 0x100000000ull + std::random_device{}()
                                  : seed.toULongLong();
    // Short runs get their windows sooner, so that each page sees at least two.
    options.windowEveryMs = std::clamp(seconds * 1000 / 5, 3000, 12000);
    // A short run deletes the logs sooner, so that it meets a log that goes while recording.
    if (seconds < 120)
        options.logFilesCap = 4LL * 1024 * 1024;
    if (SanitizerBuild()) {
        options.slowdown = 3;
        options.latenessBoundMs = 1000;
    }
    return options;
}

bool Result::Ok() const
{
    return std::all_of(checks.begin(), checks.end(), [](const Check &check) { return check.ok; });
}

Result Run(const Options &options)
{
    Runner runner(options);
    return runner.Execute();
}

void Print(const Result &result)
{
    for (const QString &line : result.figures)
        std::printf("%s\n", qPrintable(line));
    for (const Check &check : result.checks)
        std::printf("%-26s%s: %s\n", qPrintable(check.name + QLatin1Char(':')), check.ok ? "OK" : "FAIL",
                    qPrintable(check.detail));
    for (const QString &finding : result.findings)
        std::printf("  finding: %s\n", qPrintable(finding));
    std::printf("verdict:                  %s (seed %llu)\n", result.Ok() ? "OK" : "FAIL",
                static_cast<unsigned long long>(result.seed));
    std::fflush(stdout);
}

}  // namespace Chaos
