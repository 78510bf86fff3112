#include "cli/cli_output.h"

#include <QAbstractEventDispatcher>
#include <QJsonDocument>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <poll.h>
#include <unistd.h>

CliOutput::CliOutput(bool json, bool quiet, QObject *parent)
    : QObject(parent)
    , m_json(json)
    , m_quiet(quiet)
    , m_terminal(::isatty(STDOUT_FILENO) == 1)
{
    // What gathered goes out when the loop is about to wait: the input has paused. A flood is
    // written in large pieces, a trickle line by line, with no wake-up of the loop of its own.
    if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
            if (!m_buffer.isEmpty())
                Flush();
        });
}

CliOutput::~CliOutput()
{
    Flush();
}

QString CliOutput::EscapeControls(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0))
            escaped += QStringLiteral("\\x") + QString::number(u, 16).rightJustified(2, QLatin1Char('0')).toUpper();
        else
            escaped += c;
    }
    return escaped;
}

void CliOutput::DisplayLine(const QByteArray &line, TextEncoding encoding)
{
    if (m_json || m_quiet)
        return;
    const QByteArrayView bytes = line.endsWith("\r\n") ? QByteArrayView(line).chopped(2) : QByteArrayView(line);
    // ASCII reads the same in every encoding offered and in UTF-8: into a pipe or a file (a
    // flood's usual case) it goes as it is, without the way through UTF-16.
    if (!m_terminal && std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; })) {
        AppendBytes(bytes);
        return;
    }
    QString text = DecodeText(bytes, encoding);
    if (m_terminal)
        text = EscapeControls(text);
    Append(text);
}

void CliOutput::Line(const QString &text)
{
    if (m_json || m_quiet)
        return;
    Append(text);
}

void CliOutput::Event(QJsonObject event)
{
    if (!m_json)
        return;
    // JSON escapes every control character itself.
    Append(QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact)));
}

void CliOutput::Error(const QString &message)
{
    std::fprintf(stderr, "velvane-cli: %s\n", message.toUtf8().constData());
    QJsonObject event = CliEvent("error");
    event.insert(QStringLiteral("message"), message);
    Event(event);
}

void CliOutput::Append(const QString &text)
{
    AppendBytes(text.toUtf8());
}

void CliOutput::AppendBytes(QByteArrayView utf8)
{
    if (m_closed)
        return;
    m_buffer += utf8;
    m_buffer += '\n';
    if (m_terminal || m_buffer.size() >= kFlushBytes)
        Flush();
}

void CliOutput::Flush()
{
    qsizetype written = 0;
    while (!m_closed && written < m_buffer.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, m_buffer.constData() + written, size_t(m_buffer.size() - written));
        if (n > 0) {
            written += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A non-blocking stdout (the parent's choice) that is full: wait for its reader as
            // a blocking one would; TCP holds the peers back meanwhile.
            pollfd out{STDOUT_FILENO, POLLOUT, 0};
            ::poll(&out, 1, -1);
        } else {
            // EPIPE (SIGPIPE is ignored) or any other end of stdout: the reader has gone.
            m_closed = true;
            emit StdoutClosed();
        }
    }
    m_buffer.clear();
}

QJsonObject CliEvent(const char *kind)
{
    return QJsonObject{{QStringLiteral("event"), QLatin1String(kind)}};
}
