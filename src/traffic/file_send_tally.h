#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <map>

#include "traffic/file_end.h"

class TcpSendPath;
class UdpFileSender;

// One file a page sends to one or more targets at once (every client with 是否群发): what
// has gone of all of them together, how fast, and how the whole send ended.
class FileSendTally : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // A new send of the file at path, size bytes to each target.
    void Begin(const QString &path, qint64 size);
    void AddTarget(int target);
    void Progress(int target, qint64 sent);
    void End(int target, FileEnd end);

    bool IsRunning() const { return !m_running.empty(); }
    const QString &Path() const { return m_path; }
    qint64 Sent() const;
    qint64 Total() const { return m_size * m_targets; }
    double BytesPerSecond() const;
    // "发送文件 a.bin: 12.3 MB / 64 MB (19%), 5.2 MB/s"
    QString ProgressText() const;

signals:
    void Changed();
    // Every target ended: the worst of their ends (a failure before a cancel before done).
    void Ended(FileEnd end);

private:
    QString m_path;
    qint64 m_size = 0;
    int m_targets = 0;
    std::map<int, qint64> m_running;  // target: bytes sent
    qint64 m_sentByEnded = 0;
    FileEnd m_worst = FileEnd::Done;
    QElapsedTimer m_clock;
};

// The files a page's TCP connections stream, each told to tally as its socket.
void FollowFileSends(TcpSendPath &path, FileSendTally &tally);
// A page's datagram file sender, told to tally as target 0.
void FollowFileSends(UdpFileSender &sender, FileSendTally &tally);
