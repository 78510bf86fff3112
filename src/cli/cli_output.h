#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include "text/text_encoding.h"

// Everything velvane-cli writes to stdout: one line per event, as text or as one JSON object.
// On a terminal each line goes out at once and a peer's control characters are escaped; into
// a pipe or a file lines are gathered and written when the event loop has handled what
// arrived (the input pauses), when a lot has gathered, and at the end. A stdout nobody reads
// any more (EPIPE) is told once through StdoutClosed; nothing is written after it.
class CliOutput : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype kFlushBytes = 64 * 1024;

    CliOutput(bool json, bool quiet, QObject *parent = nullptr);
    ~CliOutput() override;

    // Tests and pipes: the terminal rules by hand.
    void SetTerminal(bool terminal) { m_terminal = terminal; }

    bool IsJson() const { return m_json; }
    // A display line (GBK, ending in CR LF, perhaps after its time) decoded from encoding.
    void DisplayLine(const QByteArray &line, TextEncoding encoding);
    // An event line of the program's own.
    void Line(const QString &text);
    // One JSON object on its line.
    void Event(QJsonObject event);
    // A failure: its line on stderr at once and, with --json, an error event in its place among
    // the others.
    void Error(const QString &message);

    void Flush();
    bool IsClosed() const { return m_closed; }

    // A peer's characters that would steer a terminal (C0, DEL, C1) as \xHH.
    static QString EscapeControls(const QString &text);

signals:
    void StdoutClosed();

private:
    void Append(const QString &text);
    // A line already in UTF-8, without its end.
    void AppendBytes(QByteArrayView utf8);

    bool m_json;
    bool m_quiet;
    bool m_terminal;
    bool m_closed = false;
    QByteArray m_buffer;
};

// An event as --json writes it: its kind and the given fields.
QJsonObject CliEvent(const char *kind);
