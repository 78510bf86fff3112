// The TCP server page's view options and capture under a flood of 256-byte blocks from one
// client: blocks/s with nothing on, with 时间戳, with a pcap capture and with 暂停, taken in
// turn for some rounds so the machine's drift falls on all alike; resident memory once the
// display list holds its bound and at the end; then the same flood with a 放大 window open,
// and how late a 10 ms GUI timer fires meanwhile.
//
//   QT_QPA_PLATFORM=offscreen ./build/bench/bench_view_and_capture [blocks] [rounds]
//
// blocks per run (default 1,000,000), rounds (default 1). Everything stays on 127.0.0.1; the
// capture goes to a temporary folder.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_support.h"

#include "pages/file_dialogs.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "widgets/display_list/extent_list_box.h"

namespace {

using namespace BenchSupport;

enum class Option { Nothing, Timestamps, Capture, Pause, LargeView };

const char *NameOf(Option option)
{
    switch (option) {
    case Option::Nothing:
        return "nothing on";
    case Option::Timestamps:
        return "时间戳";
    case Option::Capture:
        return "pcap capture";
    case Option::Pause:
        return "暂停";
    case Option::LargeView:
        return "放大 window open";
    }
    return "";
}

struct RunResult
{
    double blocksPerSecond = 0;
    long residentAtBoundMb = 0;  // once the display list is full
    long residentAtEndMb = 0;
    double timerLateMs = 0;
    qint64 captureBytes = 0;
    bool complete = false;
};

class Bench : public PageBench
{
public:
    RunResult Run(Option option, long blocks);

private:
    template <typename Control>
    Control *Named(const char *name) const
    {
        return m_page->findChild<Control *>(QString::fromLatin1(name));
    }
};

RunResult Bench::Run(Option option, long blocks)
{
    RunResult result;
    m_section = NameOf(option);
    QTemporaryDir temporary;
    const QString capturePath = temporary.filePath(QStringLiteral("flood.pcap"));
    ClearLists();
    if (!Listen())
        return result;
    BlockStream stream;
    stream.Start(m_port, blocks);
    if (!WaitUntil([this] { return Listed() == 1; }, 5000))
        return result;

    auto *timestamps = Named<QCheckBox>("timestamps");
    auto *pause = Named<QCheckBox>("pause");
    QWidget *largeView = nullptr;
    if (option == Option::Timestamps)
        timestamps->setChecked(true);
    if (option == Option::Pause)
        pause->setChecked(true);
    if (option == Option::Capture) {
        FileDialogs::g_answerSaveFile = [&](const FileDialogs::SaveRequest &) {
            return FileDialogs::Answer{capturePath, QStringLiteral("抓包文件 (*.pcap)")};
        };
        Named<QPushButton>("capture")->click();
        FileDialogs::g_answerSaveFile = nullptr;
    }
    if (option == Option::LargeView) {
        Named<QPushButton>("largeView")->click();
        largeView = Named<QWidget>("largeViewWindow");
    }

    TimerLateness lateness;
    const qint64 total = qint64(blocks) * kBlockSize;
    const qint64 bound = qint64(m_page->DataList()->MaxLines()) * kBlockSize;
    QElapsedTimer clock;
    stream.go = true;
    clock.start();
    lateness.Start();
    result.complete = WaitUntil(
        [&] {
            const qint64 rx = m_page->RxCount();
            if (result.residentAtBoundMb == 0 && rx >= 2 * bound)
                result.residentAtBoundMb = ResidentBytes() >> 20;
            return rx >= total || (stream.finished && rx >= stream.sent);
        },
        static_cast<int>(std::max<long>(30000, blocks / 10)));
    const qint64 elapsedNs = clock.nsecsElapsed();
    lateness.Stop();
    result.residentAtEndMb = ResidentBytes() >> 20;
    result.blocksPerSecond = double(m_page->RxCount()) / kBlockSize / (elapsedNs / 1e9);
    result.timerLateMs = lateness.WorstMs();
    stream.stop = true;
    Stop([&] { stream.client.thread.join(); });
    result.captureBytes = QFileInfo(capturePath).size();
    timestamps->setChecked(false);
    pause->setChecked(false);
    delete largeView;
    QApplication::processEvents();
    return result;
}

void Report(Option option, const std::vector<RunResult> &runs, double baseline)
{
    std::vector<double> rates;
    for (const RunResult &run : runs)
        rates.push_back(run.blocksPerSecond);
    const double rate = Percentile(rates, 0.5);
    const RunResult &last = runs.back();
    std::printf("%-18s median %8.0f blocks/s (%.2f x nothing on); resident %ld MB after 2x the list's bound,"
                " %ld MB at the end; GUI timer late at most %.1f ms",
                NameOf(option), rate, baseline > 0 ? rate / baseline : 0.0, last.residentAtBoundMb,
                last.residentAtEndMb, last.timerLateMs);
    if (option == Option::Capture)
        std::printf("; capture %lld bytes (target >= 0.8 x: %s)", static_cast<long long>(last.captureBytes),
                    Verdict(rate >= 0.8 * baseline));
    if (option == Option::LargeView)
        std::printf(" (target <= 50 ms: %s)", Verdict(last.timerLateMs <= 50));
    for (const RunResult &run : runs)
        if (!run.complete)
            std::printf(" INCOMPLETE run");
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char *argv[])
{
    BenchProcess process(argc, argv);
    const long blocks = argc > 1 ? std::clamp(std::atol(argv[1]), 10000L, 5000000L) : 1000000L;
    const int rounds = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 20) : 1;
    BoxAnswerer boxes;
    AnswerAsUser(boxes);
    {
        Bench bench;
        const std::vector<Option> options{Option::Nothing, Option::Timestamps, Option::Capture, Option::Pause,
                                          Option::LargeView};
        std::vector<std::vector<RunResult>> runs(options.size());
        std::printf("%ld blocks of %d bytes per run, %d round(s)\n", blocks, kBlockSize, rounds);
        for (int round = 0; round < rounds; ++round)
            for (size_t i = 0; i < options.size(); ++i)
                runs[i].push_back(bench.Run(options[i], blocks));
        std::vector<double> baseline;
        for (const RunResult &run : runs[0])
            baseline.push_back(run.blocksPerSecond);
        for (size_t i = 0; i < options.size(); ++i)
            Report(options[i], runs[i], Percentile(baseline, 0.5));
        bench.ReportDescriptors();
    }
    process.ReportWallTime();
    return 0;
}
