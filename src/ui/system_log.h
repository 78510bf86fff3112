#pragma once

#include <QString>

// The one log of the whole program: the log page's list (newest line first) and, when the
// user accepted it at start-up, log.txt in the current directory.
namespace SystemLog {

// Inserts listText at the top of the list and appends fileText to log.txt when that is on.
// Safe from any thread: lines from other threads are handed to the GUI thread in order.
void Append(const QString &listText, const QString &fileText);
void Append(const QString &text);

// Starts log.txt with its header; false (after telling the user) when it cannot be written.
bool EnableLogFile(const QString &startText);

// The path of name in the current directory, the whole directory however long it is.
QString PathInCurrentDirectory(const QString &fileName);

} // namespace SystemLog
