#include "traffic/capture/record_writer.h"

namespace {

// Written out without waiting for the pass to end, so that a long pass does not hold an
// unbounded amount in memory.
constexpr qsizetype kFlushSize = 1 << 20;
// libpcap writes a record in two calls; buffered, they cost a copy each.
constexpr size_t kStreamBufferSize = 64 * 1024;

}  // namespace

RecordWriter::RecordWriter(std::unique_ptr<CaptureSink> sink, std::function<void()> onFailure)
    : m_sink(std::move(sink))
    , m_onFailure(std::move(onFailure))
{
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(0);
    QObject::connect(&m_flushTimer, &QTimer::timeout, &m_flushTimer, [this] {
        m_flushArmed = false;
        Flush();
    });
}

RecordWriter::~RecordWriter()
{
    if (m_stream)
        std::fclose(m_stream);
    Close();
}

FILE *RecordWriter::OpenStream()
{
    cookie_io_functions_t functions{};
    functions.write = &RecordWriter::OnStreamWrite;
    functions.close = &RecordWriter::OnStreamClose;
    m_stream = fopencookie(this, "w", functions);
    if (m_stream && std::setvbuf(m_stream, nullptr, _IOFBF, kStreamBufferSize) != 0) {
        std::fclose(m_stream);
        m_stream = nullptr;
    }
    return m_stream;
}

void RecordWriter::Append(const char *data, qsizetype size)
{
    if (!m_failed && !m_closed)
        m_buffer.append(data, size);
}

void RecordWriter::EndRecord()
{
    if (m_failed || m_closed)
        return;
    if (m_buffer.size() >= kFlushSize)
        Flush();
    else if (!m_flushArmed) {
        m_flushArmed = true;
        m_flushTimer.start();
    }
}

bool RecordWriter::Flush()
{
    if (m_failed || m_closed)
        return !m_failed;
    // The stream's buffer joins the rest; it holds only whole records now.
    if (m_stream && (std::fflush(m_stream) != 0 || std::ferror(m_stream)))
        return Fail();
    if (!m_sink->StillAtPath())
        return Fail();
    if (m_buffer.isEmpty())
        return true;
    if (!m_sink->Write(m_buffer.constData(), m_buffer.size()))
        return Fail();
    m_written += m_buffer.size();
    m_buffer.resize(0);  // Keeps the capacity for the next pass.
    return true;
}

void RecordWriter::Close()
{
    if (m_closed)
        return;
    m_closing = true;
    m_flushTimer.stop();
    Flush();
    if (!m_sink->Close())
        m_failed = true;
    m_closed = true;
}

QString RecordWriter::ErrorText() const
{
    return m_sink->ErrorText();
}

ssize_t RecordWriter::OnStreamWrite(void *cookie, const char *data, size_t size)
{
    static_cast<RecordWriter *>(cookie)->Append(data, qsizetype(size));
    return ssize_t(size);
}

int RecordWriter::OnStreamClose(void *cookie)
{
    static_cast<RecordWriter *>(cookie)->m_stream = nullptr;
    return 0;
}

bool RecordWriter::Fail()
{
    m_failed = true;
    m_flushTimer.stop();
    m_buffer = QByteArray();
    // Best effort: a file that vanished may not take even this.
    m_sink->TruncateTo(m_written);
    if (!m_closing && m_onFailure)
        m_onFailure();
    return false;
}
