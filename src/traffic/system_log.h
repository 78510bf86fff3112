#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <functional>

// log.txt: on once the user accepted it at start-up; the file is open only during one write.
extern int g_bSystemLogFile;
extern QString g_strSystemLogPath;
extern QFile g_systemLogFile;

// The one log of the whole program: the lines shown in the sink the log page installs
// (newest first) and, when the user accepted it at start-up, log.txt in the current directory.
namespace SystemLog {

// Takes each line, GBK, on the GUI thread; an empty sink shows the lines nowhere.
using Sink = std::function<void(const QByteArray &line)>;
void SetSink(Sink sink);

// Shows listText and appends fileText to log.txt when that is on.
// Safe from any thread: lines from other threads are handed to the GUI thread in order.
void Append(const QString &listText, const QString &fileText);
void Append(const QString &text);

// Starts log.txt with its header; false when it cannot be written (the caller tells the user).
bool EnableLogFile(const QString &startText);

// The path of name in the current directory, the whole directory however long it is.
QString PathInCurrentDirectory(const QString &fileName);

}  // namespace SystemLog
