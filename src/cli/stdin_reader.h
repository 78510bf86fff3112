#pragma once

#include <QByteArray>
#include <QObject>

#include <memory>

class QSocketNotifier;

// Standard input as the send source of a client, read as it arrives, from the event loop.
// In chunks as read (a TCP stream) or in lines (UDP: one datagram per line, its line feed
// kept, so the datagrams put together are the input byte for byte; a line longer than
// lineLimit goes as pieces of that size). What the last line holds without a line feed goes
// out at the end of the input.
class StdinReader : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype kReadBytes = 64 * 1024;

    // lineLimit 0: chunks as read.
    explicit StdinReader(qsizetype lineLimit, QObject *parent = nullptr);
    ~StdinReader() override;

    void Start();
    // While paused nothing is read: the pipe fills and its writer waits.
    void SetPaused(bool paused);
    bool IsAtEnd() const { return m_atEnd; }

signals:
    void Chunk(const QByteArray &bytes);
    // The end of the input (or a read failure); no Chunk follows.
    void Ended();

private:
    void OnReadable();
    void Deliver(const QByteArray &bytes);
    void End();

    qsizetype m_lineLimit;
    QByteArray m_line;  // a line's start, waiting for its line feed
    QByteArray m_buffer;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_paused = false;
    bool m_atEnd = false;
};
