#include "bench_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/globals.h"
#include "common/line_list_box.h"

namespace BenchSupport {

namespace {

const QString kLogQuestion = QStringLiteral("是否需要系统记录收发数据？");

} // namespace

BoxClicker::BoxClicker()
{
    m_poll.setInterval(1);
    connect(&m_poll, &QTimer::timeout, this, [this] { Poll(); });
    m_poll.start();
}

void BoxClicker::HoldFirstBox(int milliseconds)
{
    m_holdMs = milliseconds;
    m_held = nullptr;
    m_holdDone = false;
    m_otherBoxes = 0;
    m_whileHeld = 0;
    m_maxOpen = 0;
    m_lastText.clear();
}

void BoxClicker::Poll()
{
    int open = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox *>(widget) && widget->isVisible())
            ++open;
    m_maxOpen = std::max(m_maxOpen, open);

    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    if (box->text() == kLogQuestion) {
        if (QAbstractButton *answer = box->button(m_logAnswer))
            answer->click();
        return;
    }
    if (!m_seen.contains(box)) {
        m_seen.removeAll(nullptr);
        m_seen.append(box);
        ++m_otherBoxes;
        if (m_holdMs > 0 && !m_holdDone && (!m_held || m_held->isVisible()))
            ++m_whileHeld;
        m_lastText = box->text();
    }
    if (m_holdMs > 0 && !m_holdDone) {
        if (!m_held) {
            m_held = box;
            m_holdTimer.start();
        }
        if (m_held == box && m_holdTimer.elapsed() < m_holdMs)
            return;
        if (m_held == box)
            m_holdDone = true;
    }
    QAbstractButton *button = box->defaultButton() ? box->defaultButton() : box->buttons().value(0);
    if (button)
        button->click();
}

int CountDescriptors()
{
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent *entry = ::readdir(dir))
        if (entry->d_name[0] != '.')
            ++count;
    ::closedir(dir);
    return count - 1;  // the directory's own descriptor
}

rlim_t RaiseDescriptorLimitToHard()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ::getrlimit(RLIMIT_NOFILE, &limit);
    return limit.rlim_cur;
}

long ResidentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLong() * ::sysconf(_SC_PAGESIZE);
}

int FreePort()
{
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(probe, reinterpret_cast<sockaddr *>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(probe, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(probe);
    return ntohs(address.sin_port);
}

int ConnectClient(int port, bool blocking)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
    if (socket < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<quint16>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
        ::close(socket);
        return -1;
    }
    return socket;
}

void ResetOnClose(int socket)
{
    const linger abort{1, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

void SetTimeouts(int socket, int milliseconds)
{
    const timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
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

bool RunUntil(const std::function<bool()> &done, int milliseconds)
{
    // A short timer keeps the loop from sleeping past the bound.
    QTimer tick;
    tick.start(5);
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

bool WaitFor(const std::atomic<bool> &flag, int milliseconds)
{
    for (int i = 0; i < milliseconds && !flag; ++i)
        ::usleep(1000);
    return flag;
}

void StreamBlocks(int port, long blocks, long resetAfter, const std::atomic<bool> &go, const std::atomic<bool> &stop,
                  std::atomic<long> &sentBytes, std::atomic<bool> &finished)
{
    const int socket = ConnectClient(port, true);
    if (socket >= 0 && WaitFor(go, 10000)) {
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
            std::snprintf(block, 12, "%010ld", n);
            block[10] = ' ';
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
    if (socket >= 0)
        ::close(socket);
    finished = true;
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
    if (message.contains(QLatin1String("propagateSizeHints")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

ListeningPageBench::ListeningPageBench(Controls controls)
    : m_controls(controls)
{
}

void ListeningPageBench::ShowPage(CDialogPage *page)
{
    m_dialog = page;
    page->OnInitDialog();
    page->show();
    QApplication::processEvents();
}

bool ListeningPageBench::Listen()
{
    // Let notifiers and boxes of the last section go before counting.
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
    m_descriptorsBeforeListen = CountDescriptors();
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
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
    m_balances.push_back({m_section, m_descriptorsBeforeListen, CountDescriptors()});
}

void ListeningPageBench::ClearLists()
{
    Item<QPushButton>(m_controls.clearData)->click();
    Item<QPushButton>(m_controls.clearCounters)->click();
    g_pSystemLogList->ResetContent();
}

bool ListeningPageBench::DescriptorsBalanced() const
{
    bool all = true;
    for (const Balance &balance : m_balances) {
        std::printf("  descriptors %-26s before Listen %d, after Stop %d\n", balance.section.constData(), balance.before,
                    balance.after);
        all = all && balance.before == balance.after;
    }
    return all;
}

PageBench::PageBench()
    : ListeningPageBench({1006, 1004, 1005, 1054, 1013})
    , m_page(std::make_unique<CTcpServerPage>())
{
    ShowPage(m_page.get());
}

} // namespace BenchSupport
