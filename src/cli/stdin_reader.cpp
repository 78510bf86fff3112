#include "cli/stdin_reader.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <unistd.h>

StdinReader::StdinReader(qsizetype lineLimit, QObject *parent)
    : QObject(parent)
    , m_lineLimit(lineLimit)
    , m_buffer(kReadBytes, Qt::Uninitialized)
{
}

StdinReader::~StdinReader() = default;

void StdinReader::Start()
{
    // A regular file or /dev/null is always readable: poll says so, and read tells the end.
    m_notifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &StdinReader::OnReadable);
    m_notifier->setEnabled(!m_paused);
}

void StdinReader::SetPaused(bool paused)
{
    m_paused = paused;
    if (m_notifier && !m_atEnd)
        m_notifier->setEnabled(!paused);
}

void StdinReader::OnReadable()
{
    // One read per wake-up: the sends it makes are handled before the next.
    const ssize_t n = ::read(STDIN_FILENO, m_buffer.data(), size_t(m_buffer.size()));
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n < 0)
        std::fprintf(stderr, "velvane-cli: 读取标准输入失败: %s\n", std::strerror(errno));
    if (n <= 0) {
        End();
        return;
    }
    Deliver(QByteArray(m_buffer.constData(), n));
}

void StdinReader::Deliver(const QByteArray &bytes)
{
    if (m_lineLimit == 0) {
        emit Chunk(bytes);
        return;
    }
    m_line += bytes;
    qsizetype start = 0;
    while (start < m_line.size()) {
        const qsizetype feed = m_line.indexOf('\n', start);
        qsizetype size = feed < 0 ? m_line.size() - start : feed + 1 - start;
        if (size > m_lineLimit)
            size = m_lineLimit;
        else if (feed < 0)
            break;  // the rest of the line is still to come
        emit Chunk(m_line.mid(start, size));
        start += size;
    }
    m_line.remove(0, start);
}

void StdinReader::End()
{
    if (m_atEnd)
        return;
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier.release()->deleteLater();  // it may be the one being delivered
    }
    if (!m_line.isEmpty())
        emit Chunk(std::exchange(m_line, QByteArray()));
    m_atEnd = true;
    emit Ended();
}
