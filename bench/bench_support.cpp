#include "bench_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "pages/control_ids.h"
#include "pages/log/log_page.h"
#include "platform/host_addresses.h"
#include "platform/network_startup.h"
#include "traffic/clock_text.h"
#include "widgets/display_list/line_list_box.h"

namespace BenchSupport {

void AnswerAsUser(BoxAnswerer &boxes)
{
    boxes.SetDefaultAnswer(QMessageBox::NoButton);
    boxes.AnswerText(kLogQuestion, QMessageBox::No);
}

std::map<QByteArray, long> NetCounters(const QString &file, const QByteArray &prefix)
{
    std::map<QByteArray, long> counters;
    QFile table(file);
    if (!table.open(QIODevice::ReadOnly))
        return counters;
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (!lines[i].startsWith(prefix) || !lines[i + 1].startsWith(prefix))
            continue;
        const QList<QByteArray> names = lines[i].simplified().split(' ');
        const QList<QByteArray> values = lines[i + 1].simplified().split(' ');
        for (int k = 1; k < names.size() && k < values.size(); ++k)
            counters[names[k]] = values[k].toLong();
        break;
    }
    return counters;
}

bool WaitFor(const std::atomic<bool> &flag, int milliseconds)
{
    for (int i = 0; i < milliseconds && !flag; ++i)
        ::usleep(1000);
    return flag;
}

void SendBlocks(int socket, long blocks, long resetAfter, const std::atomic<bool> &stop, std::atomic<long> &sentBytes)
{
    const timeval limit{10, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    char block[kBlockSize];
    for (int i = 0; i < kBlockSize; ++i)
        block[i] = static_cast<char>('a' + i % 26);
    for (long n = 0; n < blocks && !stop; ++n) {
        if (resetAfter >= 0 && n == resetAfter) {
            ResetOnClose(socket);
            break;
        }
        StampNumber(block, n);
        int offset = 0;
        while (offset < kBlockSize) {
            const ssize_t sent = ::send(socket, block + offset, kBlockSize - offset, MSG_NOSIGNAL);
            if (sent <= 0)
                break;
            offset += static_cast<int>(sent);
        }
        sentBytes += offset;
        if (offset < kBlockSize)
            break;
    }
}

void StreamBlocks(int port, long blocks, long resetAfter, const std::atomic<bool> &go, const std::atomic<bool> &stop,
                  std::atomic<long> &sentBytes, std::atomic<bool> &finished)
{
    const int socket = ConnectClient(port, true);
    if (socket >= 0 && WaitFor(go, 10000))
        SendBlocks(socket, blocks, resetAfter, stop, sentBytes);
    if (socket >= 0)
        ::close(socket);
    finished = true;
}

void BlastDatagrams(int socket, int size, Clock::duration length, const std::atomic<bool> &stop,
                    std::atomic<long> &sent)
{
    SetTimeouts(socket, 1000);
    std::vector<char> datagram(static_cast<size_t>(std::max(size, 11)));
    for (size_t i = 0; i < datagram.size(); ++i)
        datagram[i] = static_cast<char>('a' + i % 26);
    const auto end = Clock::now() + length;
    for (long n = 0; n < 1000000000 && !stop; ++n) {
        if (n % 64 == 0 && Clock::now() >= end)
            break;
        StampNumber(datagram.data(), n);
        if (::send(socket, datagram.data(), datagram.size(), 0) == static_cast<ssize_t>(datagram.size()))
            ++sent;
    }
}

qint64 RunUntilDrained(const std::function<qint64()> &rx, const std::atomic<bool> &finished, int milliseconds)
{
    QElapsedTimer clock;
    qint64 lastRx = rx();
    qint64 lastGrowthNs = 0;
    clock.start();
    WaitUntil(
        [&] {
            const qint64 now = rx();
            if (now != lastRx) {
                lastRx = now;
                lastGrowthNs = clock.nsecsElapsed();
            }
            return finished && clock.nsecsElapsed() - lastGrowthNs >= 300000000;
        },
        milliseconds);
    return lastGrowthNs;
}

TimerLateness::TimerLateness(int intervalMs)
    : m_intervalMs(intervalMs)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        const qint64 now = m_clock.nsecsElapsed();
        m_worstNs = std::max(m_worstNs, now - m_lastTickNs - m_intervalMs * qint64(1000000));
        m_lastTickNs = now;
    });
}

void TimerLateness::Start()
{
    m_clock.start();
    m_lastTickNs = 0;
    m_worstNs = 0;
    m_timer.start(m_intervalMs);
}

void StampNumber(char *message, long number)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%010ld ", number);
    std::memcpy(message, digits, 11);
}

void TimeRoundTrips(long trips, long window, PingPongResult &result, const std::function<bool(long)> &roundTrip)
{
    using namespace std::chrono_literals;
    const auto start = Clock::now();
    auto lateStart = start;
    auto windowStart = start;
    for (long n = 0; n < trips; ++n) {
        if (n == trips - window)
            lateStart = Clock::now();
        if (!roundTrip(n))
            break;
        result.done = n + 1;
        if (result.done % window == 0) {
            const auto now = Clock::now();
            const double seconds = Seconds(now - windowStart);
            if (result.done == window)
                result.firstSeconds = seconds;
            result.slowestSeconds = std::max(result.slowestSeconds, seconds);
            windowStart = now;
        }
        if (Clock::now() - start >= 60s) {
            result.end = "60 s passed";
            break;
        }
    }
    const auto end = Clock::now();
    result.totalSeconds = Seconds(end - start);
    if (result.done == trips)
        result.lateSeconds = Seconds(end - lateStart);
}

void ReportPingPong(const PingPongResult &page, const PingPongResult &limit, long trips, long window, bool checked,
                    const QString &pageNotes, const QString &limitNotes)
{
    auto rate = [](long count, double seconds) { return seconds > 0 ? count / seconds : 0.0; };
    const double first = rate(std::min(page.done, window), page.firstSeconds);
    const double late = rate(window, page.lateSeconds);
    const double overall = rate(page.done, page.totalSeconds);
    const bool complete = checked && page.done == trips && page.echoesExact;
    const bool ok = complete && overall >= 20000 && late >= 0.8 * first;
    const QString lateText = page.done == trips ? QStringLiteral("%1/s (late/first %2)")
                                                      .arg(late, 0, 'f', 0)
                                                      .arg(first > 0 ? late / first : 0.0, 0, 'f', 2)
                                                : QStringLiteral("not reached");
    std::printf("ping-pong:     %s: %ld of %ld round trips in %.2f s (%s%s%s): first %ld at %.0f/s,"
                " last %ld (after %ld) at %s, overall %.0f/s (target >= 20,000/s, late within 20 %% of first); slowest "
                "%ld at %.0f/s\n",
                Verdict(ok), page.done, trips, page.totalSeconds, page.end,
                page.echoesExact ? "" : "; an echo differed", qPrintable(pageNotes), window, first, window,
                trips - window, qPrintable(lateText), overall, window, rate(window, page.slowestSeconds));
    std::printf("  the limit, a plain blocking echo thread: %ld round trips in %.2f s (%s%s): first %ld at %.0f/s,"
                " last %ld at %.0f/s, overall %.0f/s\n",
                limit.done, limit.totalSeconds, limit.end, qPrintable(limitNotes), window,
                rate(std::min(limit.done, window), limit.firstSeconds), window, rate(window, limit.lateSeconds),
                rate(limit.done, limit.totalSeconds));
    std::fflush(stdout);
}

const char *Verdict(bool ok)
{
    return ok ? "OK" : "FAIL";
}

double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(fraction * (values.size() - 1) + 0.5));
    return values[index];
}

void QuietOffscreenNotes(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("propagateSizeHints"))
        || message.contains(QLatin1String("OpenType support missing")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

BenchProcess::BenchProcess(int &argc, char **argv)
    : m_descriptorLimit(RaiseDescriptorLimit())
    , m_host{QStringLiteral("bench"), {QStringLiteral("127.0.0.1")}, {}}
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietOffscreenNotes);
    m_application = std::make_unique<QApplication>(argc, argv);
    g_pHostEntry = &m_host;
    m_systemLog = std::make_unique<LineListBox>();
    m_systemLog->SetMaxLines(LineListBox::kKeptLines);
    SetSystemLogList(m_systemLog.get());
    g_strDateTime = QStringLiteral("2024-5-17 10:30:15");
    m_wall.start();
}

void BenchProcess::ReportDescriptorLimit() const
{
    std::printf("descriptor limit:         %ld\n", m_descriptorLimit);
}

void BenchProcess::ReportWallTime() const
{
    std::printf("wall time:                %.2f s\n", m_wall.nsecsElapsed() / 1e9);
}

BenchProcess::~BenchProcess()
{
    SetSystemLogList(nullptr);
    g_pHostEntry = nullptr;
}

std::optional<SectionChoice> ChooseSection(int argc, char **argv, const char *program,
                                           const QList<QByteArray> &sections)
{
    SectionChoice choice;
    choice.section = argc > 1 ? QByteArray(argv[1]) : QByteArray("all");
    if (choice.section != "all" && !sections.contains(choice.section)) {
        std::printf("usage: %s [%s|all] [size]\n", program, sections.join('|').constData());
        return std::nullopt;
    }
    if (choice.section != "all" && argc > 2)
        choice.size = std::atol(argv[2]);
    return choice;
}

int RunSections(int &argc, char **argv, const char *program, const QList<QByteArray> &sections,
                const std::function<int(const SectionChoice &, BoxAnswerer &)> &run)
{
    BenchProcess process(argc, argv);
    const std::optional<SectionChoice> choice = ChooseSection(argc, argv, program, sections);
    if (!choice)
        return 2;
    process.ReportDescriptorLimit();
    int code = 0;
    {
        BoxAnswerer boxes;
        AnswerAsUser(boxes);
        code = run(*choice, boxes);
    }
    process.ReportWallTime();
    return code;
}

DrivenPageBench::DrivenPageBench(const char *before, const char *after)
    : m_before(before)
    , m_after(after)
{
}

void DrivenPageBench::ShowPage(CDialogPage *page)
{
    m_dialog = page;
    page->OnInitDialog();
    page->show();
    QApplication::processEvents();
}

int DrivenPageBench::CountBefore()
{
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
    m_descriptorsBefore = OpenDescriptorsSettled();
    return m_descriptorsBefore;
}

int DrivenPageBench::CountAfter()
{
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
    m_balances.push_back({m_section, m_descriptorsBefore, OpenDescriptorsSettled()});
    return m_balances.back().after;
}

void DrivenPageBench::ReportDescriptors() const
{
    const QByteArray head = QByteArray("descriptors ") + m_after + ":";
    std::printf("%-26s%s (equal to the count %s in every section)\n", head.constData(), Verdict(DescriptorsBalanced()),
                m_before);
}

bool DrivenPageBench::DescriptorsBalanced() const
{
    bool all = true;
    for (const Balance &balance : m_balances) {
        std::printf("  descriptors %-26s %s %d, %s %d\n", balance.section.constData(), m_before, balance.before,
                    m_after, balance.after);
        all = all && balance.before == balance.after;
    }
    return all;
}

ListeningPageBench::ListeningPageBench(Controls controls)
    : DrivenPageBench("before Listen", "after Stop")
    , m_controls(controls)
{
}

bool ListeningPageBench::Listen()
{
    CountBefore();
    m_port = FreePort();
    Item<QLineEdit>(m_controls.port)->setText(QString::number(m_port));
    Item<QPushButton>(m_controls.listen)->click();
    return PageListening();
}

void ListeningPageBench::Stop(const std::function<void()> &afterClick)
{
    Item<QPushButton>(m_controls.stop)->click();
    if (afterClick)
        afterClick();
    CountAfter();
}

void ListeningPageBench::ClearLists()
{
    Item<QPushButton>(m_controls.clearData)->click();
    Item<QPushButton>(m_controls.clearCounters)->click();
    g_pSystemLogList->ResetContent();
}

bool ListeningPageBench::EchoReply()
{
    auto *autoReply = Item<QCheckBox>(m_controls.autoReply);
    auto *echo = Item<QRadioButton>(m_controls.replyEcho);
    if (!autoReply->isChecked())
        autoReply->click();
    echo->click();
    return autoReply->isChecked() && echo->isChecked();
}

void ListeningPageBench::DataReply()
{
    Item<QRadioButton>(m_controls.replyData)->click();
}

void ListeningPageBench::AutoReplyOff()
{
    auto *autoReply = Item<QCheckBox>(m_controls.autoReply);
    if (autoReply->isChecked())
        autoReply->click();
}

bool ListeningPageBench::BeginSection(const QByteArray &section, const char *label)
{
    m_section = section;
    ClearLists();
    if (Listen())
        return true;
    std::printf("%sFAIL (Listen refused)\n", label);
    return false;
}

PageBench::PageBench()
    : ListeningPageBench({TcpServerIds::kPort, TcpServerIds::kListen, TcpServerIds::kStop, TcpServerIds::kClearData,
                          TcpServerIds::kClearCounters, TcpServerIds::kAutoReply, TcpServerIds::kReplyData,
                          TcpServerIds::kReplyEcho})
    , m_page(std::make_unique<CTcpServerPage>())
{
    ShowPage(m_page.get());
}

}  // namespace BenchSupport
