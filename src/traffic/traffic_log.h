#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The traffic log file of one page (logtcp.txt, logudp.txt or logclient.txt) in the current
// directory: a header per recording period, then one line per block sent or received.
// Every line is appended with an open, write, close, so other programs can read the file.
class TrafficLog
{
public:
    enum class Header {
        Server,     // date-time line and the plain separator
        TcpClient,  // date-time line and the TCP CLIENT banner
        UdpClient,  // the same with the UDP CLIENT banner and never the five empty lines
    };

    static const QByteArray kReceivedTag;  // "CLIENT->SERVER  " seen from a server
    static const QByteArray kSentTag;      // "SERVER->CLIENT  "

    // flag is the page's process-wide switch (g_bTcpTrafficLog and its siblings).
    TrafficLog(const QString &fileName, int &flag);

    // Writes the header and switches recording on; false, with recording off, when the
    // header cannot be written. The page asks the user first.
    bool StartLog(Header header = Header::Server);
    // Appends line when recording is on. A file that cannot be written is reported once in
    // the system log; the page carries on.
    void WriteLine(const QByteArray &line);
    void StopLog();

    bool IsOn() const { return m_flag != 0; }
    QString Path() const { return m_logPath; }
    QString FileName() const { return m_fileName; }

private:
    bool WriteHeader(Header header);

    QString m_fileName;
    int &m_flag;
    QString m_logPath;
    QFile m_logFile;
    bool m_failureReported = false;
};
