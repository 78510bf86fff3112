#pragma once

#include <QByteArray>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>

#include "traffic/capture/capture_sink.h"

// Writes a capture's records to its sink: held in memory and written at the end of each pass
// of the event loop (or sooner, once a good amount waits), whole records only, since a flush
// comes only between records. When the sink fails, the writer takes nothing more, cuts the
// file back to the end of the last whole record it wrote, so that what is there stays
// readable, and says so once.
class RecordWriter
{
public:
    // onFailure: called once when a write fails, from inside Append/EndRecord or from the
    // deferred flush; never from Close.
    RecordWriter(std::unique_ptr<CaptureSink> sink, std::function<void()> onFailure);
    ~RecordWriter();
    RecordWriter(const RecordWriter &) = delete;
    RecordWriter &operator=(const RecordWriter &) = delete;

    // A stream whose writes are appended as Append does, for a library that writes to a FILE
    // (libpcap); a flush takes what its buffer holds first. Whoever takes it closes it with
    // fclose, after Close. Null when it cannot be made.
    FILE *OpenStream();
    // The stream while it is open.
    FILE *Stream() const { return m_stream; }

    void Append(const char *data, qsizetype size);
    // A record is complete: a flush may follow.
    void EndRecord();
    // Writes the records that wait; called between records only. False once the writer has
    // failed.
    bool Flush();
    // Flushes and closes the sink; a failure here is told only by HasFailed().
    void Close();

    bool HasFailed() const { return m_failed; }
    bool IsClosed() const { return m_closed; }
    QString ErrorText() const;

private:
    static ssize_t OnStreamWrite(void *cookie, const char *data, size_t size);
    static int OnStreamClose(void *cookie);
    bool Fail();

    std::unique_ptr<CaptureSink> m_sink;
    std::function<void()> m_onFailure;
    QByteArray m_buffer;
    qint64 m_written = 0;
    FILE *m_stream = nullptr;
    QTimer m_flushTimer;
    bool m_flushArmed = false;
    bool m_failed = false;
    bool m_closing = false;
    bool m_closed = false;
};
