#pragma once

#include <QByteArrayView>
#include <QFile>
#include <QObject>
#include <QTimer>

#include <memory>

#include "traffic/file_end.h"

class CliTraffic;
class StdinReader;
struct CliOptions;
struct Payload;

// Where a client's sends go: its TCP connection or its UDP socket toward the server. A send
// the system refuses is the channel's to report.
class ClientChannel
{
public:
    virtual ~ClientChannel() = default;
    virtual void SendPayload(const Payload &payload) = 0;
    virtual void SendBytes(QByteArrayView bytes) = 0;
    // Its end comes back through ClientSends::OnFileEnded; false when it cannot start.
    virtual bool SendFile(std::unique_ptr<QFile> file) = 0;
    // Standard input waits while this holds.
    virtual bool IsBackedUp() const = 0;
    // Bytes handed over that the system has not taken yet.
    virtual bool HasUnsent() const = 0;
};

// A client's sends from its one source: --send once or every --interval up to --count,
// standard input as it arrives, or --send-file. Says when the last of them is out of the
// program's hands (the system has taken every byte), which is where --wait starts.
class ClientSends : public QObject
{
    Q_OBJECT

public:
    ClientSends(const CliOptions &options, CliTraffic &traffic, ClientChannel &channel, QObject *parent = nullptr);
    ~ClientSends() override;

    // Opens --send-file before anything connects; the failure's message, empty on success.
    QString OpenFile();
    // The connection is open: the source starts. With no source, AllSent comes at once.
    void Start();
    void Stop();
    // The channel took some of what waited: standard input goes on, or the last send is out.
    void OnChannelDrained();
    void OnFileEnded(FileEnd end);

signals:
    void AllSent();
    // The source failed (a file that cannot be read): the run ends with exitCode.
    void Failed(const QString &message, int exitCode);

private:
    void OnIntervalTick();
    void OnStdinChunk(const QByteArray &bytes);
    void Finish();

    const CliOptions &m_options;
    CliTraffic &m_traffic;
    ClientChannel &m_channel;
    std::unique_ptr<QFile> m_file;
    std::unique_ptr<StdinReader> m_stdin;
    QTimer m_interval;
    qint64 m_ticks = 0;
    bool m_stdinEnded = false;
    bool m_lastSendMade = false;  // AllSent once the channel has taken it
    bool m_done = false;
};
